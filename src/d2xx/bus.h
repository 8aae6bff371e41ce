// The transport under the five D2XX-style calls: a bus lists devices and
// opens one; an open device reads and writes its raw EEPROM image.
#pragma once

#include "ftd2xx.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrova::d2xx {

using Image = std::vector<std::uint8_t>;

class Device {
public:
    virtual ~Device() = default;
    virtual bool isFT232R() const = 0;
    virtual FT_STATUS readImage(Image &image) = 0;
    virtual FT_STATUS writeImage(const Image &image) = 0;
    // Ends the session with the device. FT_Close calls it once and then hands
    // the device to Bus::close, whatever it returns.
    virtual FT_STATUS close() { return FT_OK; }
};

class Bus {
public:
    virtual ~Bus() = default;
    // Enumerates the attached devices; later calls address them by position.
    virtual FT_STATUS countDevices(DWORD &count) = 0;
    virtual FT_STATUS serialNumber(DWORD index, std::string &serial) = 0;
    virtual FT_STATUS open(DWORD index, std::unique_ptr<Device> &device) = 0;
    // Called once per handle by FT_Close.
    virtual void close(std::unique_ptr<Device> device) { device.reset(); }
};

// The bus the five calls use. By default it is chosen on first use: the
// simulated bench over the directory in KESTROVA_BENCH when that is set,
// otherwise the USB bus. installBus replaces it (nullptr restores the default);
// it must not be called while a device is open.
std::shared_ptr<Bus> activeBus();
void installBus(std::shared_ptr<Bus> bus);

} // namespace kestrova::d2xx
