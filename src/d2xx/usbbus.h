// The bus of real FTDI devices on USB, through libftdi1.
#pragma once

#include "bus.h"

#include <mutex>

struct ftdi_device_list;
struct libusb_device;

namespace kestrova::d2xx {

struct UsbSession;

// Lists the attached devices of the FTDI vendor and product IDs that libftdi1
// knows (0403:6001, 6010, 6011, 6014, 6015). countDevices takes a fresh
// listing; serialNumber and open address the devices of the latest one.
// Opening detaches the kernel's serial driver, and closing attaches it again.
class UsbBus : public Bus {
public:
    UsbBus();
    ~UsbBus() override;

    FT_STATUS countDevices(DWORD &count) override;
    FT_STATUS serialNumber(DWORD index, std::string &serial) override;
    FT_STATUS open(DWORD index, std::unique_ptr<Device> &device) override;

private:
    FT_STATUS enumerate();
    // The device at `index` of the latest listing, taking one if there is none yet.
    FT_STATUS deviceAt(DWORD index, libusb_device *&device);

    std::mutex mutex;
    std::shared_ptr<UsbSession> session; // shared with the devices opened through it
    ftdi_device_list *listing = nullptr;
    std::vector<libusb_device *> devices;
};

} // namespace kestrova::d2xx
