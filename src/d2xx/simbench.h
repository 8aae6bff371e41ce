// A simulated bench of FT232R devices, each holding an EEPROM image.
//
// In memory (for tests): attach and detach devices, inject failures, inspect
// the calls made. Over a directory (KESTROVA_BENCH): every regular file named
// *.eeprom is an attached device whose bytes are its EEPROM image; each count
// looks at the directory again and later calls address devices by their
// position in that count (reads and writes notice a file removed since the
// device was opened), programming replaces a file
// atomically (temporary file, then rename), and a file of the wrong size reads
// as it is, so FT_EE_Read refuses it while FT_EE_Program writes a whole new
// image over it. A directory that does not exist has no devices.
//
// As on a real USB bus, a device's listed serial number is taken from its
// image when it appears and stays until it is removed, even if programming
// changes the image. Devices are listed in name order. Thread-safe.
//
// An open device that has been detached (or whose file is gone) answers every
// access with FT_DEVICE_NOT_FOUND, also after a device of the same name has
// been attached again. The bench must outlive the devices opened from it (the
// five calls keep the bus of each open handle alive).
#pragma once

#include "bus.h"

#include <map>
#include <mutex>

namespace kestrova::d2xx {

// The kinds of bench calls. Read and Program are the device's image reads and
// writes: FT_EE_Read reads once; FT_EE_Program reads the current image, writes,
// and reads back, so it records Read, Program, Read.
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

    // Plugs in a device (replugs it, when the name is in use). A device that
    // is not an FT232R lists and opens but refuses EEPROM access with
    // FT_NOT_SUPPORTED. Over a directory, the name is a file name: attach
    // writes the file (a name not ending in ".eeprom" is not listed) and
    // detach removes it.
    void attach(const std::string &name, Image image, bool ft232r = true);
    void detach(const std::string &name);
    Image image(const std::string &name) const;   // current image (either mode); empty if unknown
    std::vector<std::string> listedSerials() const;

    // The next `count` calls of kind `call` fail with `status` before doing
    // anything (they are still recorded; a failing Close still releases the device).
    void failNext(Call call, int count, FT_STATUS status);
    // While on, the named device stores every write with its last byte flipped,
    // so the read-back after programming differs.
    void corruptWrites(const std::string &name, bool on);

    // The calls made, oldest first (the most recent kCallHistory of them).
    static constexpr std::size_t kCallHistory = 10000;
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

// A factory-fresh FT232R image with the given serial number: VID 0x0403,
// PID 0x6001, manufacturer "Bench", description "FT232R USB UART", bus
// powered at 90 mA, serial number enabled, PnP on, VCP driver, CBUS0-4
// TXLED#, RXLED#, TXDEN, PWREN#, SLEEP#. Empty when the serial does not fit
// (more than 26 characters).
Image freshImage(const std::string &serial);

} // namespace kestrova::d2xx
