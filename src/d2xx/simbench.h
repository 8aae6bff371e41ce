// A simulated bench of FT232R devices, each holding an EEPROM image.
//
// In memory (for tests): attach and detach devices, inject failures, inspect
// the calls made. Over a directory (KESTROVA_BENCH): every regular file named
// *.eeprom is an attached device whose bytes are its EEPROM image.
//
// As on a real USB bus, a device's listed serial number is taken from its
// image when it appears and stays until it is removed, even if programming
// changes the image. Devices are listed in name order. Thread-safe.
#pragma once

#include "bus.h"

#include <map>
#include <mutex>

namespace kestrova::d2xx {

enum class Call { Count, SerialByIndex, Open, Read, Program, Close };

struct CallRecord {
    Call call;
    std::string device; // device name; empty for Count and for a failed Open
    bool operator==(const CallRecord &other) const
    {
        return call == other.call && device == other.device;
    }
};

class SimBench : public Bus {
public:
    SimBench();                                  // in memory
    explicit SimBench(std::string directory);    // over a directory
    ~SimBench() override;

    // In-memory devices. A device that is not an FT232R lists and opens but
    // refuses EEPROM access with FT_NOT_SUPPORTED.
    void attach(const std::string &name, Image image, bool ft232r = true);
    void detach(const std::string &name);
    Image image(const std::string &name) const;   // current image (either mode)
    std::vector<std::string> listedSerials() const;

    // The next `count` calls of kind `call` fail with `status` before doing anything.
    void failNext(Call call, int count, FT_STATUS status);
    // While on, the named device stores every write with its last byte flipped,
    // so the read-back after programming differs.
    void corruptWrites(const std::string &name, bool on);

    std::vector<CallRecord> calls() const;
    void clearCalls();
    // Number of Opens not yet matched by a Close.
    int openDevices() const;

    FT_STATUS countDevices(DWORD &count) override;
    FT_STATUS serialNumber(DWORD index, std::string &serial) override;
    FT_STATUS open(DWORD index, std::unique_ptr<Device> &device) override;
    void close(std::unique_ptr<Device> device) override;

private:
    struct State;
    std::unique_ptr<State> state;
};

// A factory-fresh FT232R image with the given serial number.
Image freshImage(const std::string &serial);

} // namespace kestrova::d2xx
