#include "d2xx/usbbus.h"

#include "d2xx/ft232r_image.h"

#include <ftdi.h>
#include <libusb.h>

namespace kestrova::d2xx {

// The libftdi1 context the bus lists devices with. The USB handles of the
// devices opened from its listings belong to its libusb session, so those
// devices keep it alive.
struct UsbSession {
    explicit UsbSession(ftdi_context *ftdi) : ftdi(ftdi) {}
    ~UsbSession() { ftdi_free(ftdi); }
    UsbSession(const UsbSession &) = delete;
    UsbSession &operator=(const UsbSession &) = delete;

    ftdi_context *const ftdi;
};

namespace {

// Room for the longest USB string descriptor (126 characters) and its terminator.
constexpr int kUsbStringBufferSize = 128;

class UsbDevice : public Device {
public:
    UsbDevice(std::shared_ptr<UsbSession> session, ftdi_context *ftdi)
        : session(std::move(session)), ftdi(ftdi)
    {
    }
    // Also closes the USB handle if close() has not.
    ~UsbDevice() override { ftdi_free(ftdi); }
    UsbDevice(const UsbDevice &) = delete;
    UsbDevice &operator=(const UsbDevice &) = delete;

    bool isFT232R() const override { return ftdi->type == TYPE_R; }

    FT_STATUS readImage(Image &image) override
    {
        if (ftdi_read_eeprom(ftdi) < 0)
            return FT_EEPROM_READ_FAILED;
        image.assign(kImageSize, 0);
        const int copied = ftdi_get_eeprom_buf(ftdi, image.data(), static_cast<int>(image.size()));
        return copied == 0 ? FT_OK : FT_EEPROM_READ_FAILED;
    }

    FT_STATUS writeImage(const Image &image) override
    {
        if (image.size() != kImageSize)
            return FT_INVALID_PARAMETER;
        const bool written =
            prepareEepromWrites()
            && ftdi_set_eeprom_buf(ftdi, image.data(), static_cast<int>(image.size())) == 0
            && ftdi_write_eeprom(ftdi) == 0;
        return written ? FT_OK : FT_EEPROM_WRITE_FAILED;
    }

    // Releasing the interface lets the kernel's serial driver take the device again.
    FT_STATUS close() override { return ftdi_usb_close(ftdi) == 0 ? FT_OK : FT_IO_ERROR; }

private:
    // libftdi1 writes only an EEPROM it has built for the connected chip, which
    // also fixes how many bytes it writes. It builds its defaults once; the
    // raw image replaces them before every write.
    bool prepareEepromWrites()
    {
        if (!preparedForWrites) {
            preparedForWrites = ftdi_eeprom_initdefaults(ftdi, nullptr, nullptr, nullptr) == 0
                                && ftdi_eeprom_build(ftdi) >= 0;
        }
        return preparedForWrites;
    }

    const std::shared_ptr<UsbSession> session;
    ftdi_context *const ftdi;
    bool preparedForWrites = false;
};

} // namespace

UsbBus::UsbBus() = default;

UsbBus::~UsbBus()
{
    ftdi_list_free(&listing);
}

FT_STATUS UsbBus::enumerate()
{
    if (!session) {
        ftdi_context *ftdi = ftdi_new();
        if (!ftdi)
            return FT_IO_ERROR; // libusb could not start
        session = std::make_shared<UsbSession>(ftdi);
    }
    ftdi_list_free(&listing);
    devices.clear();
    // Vendor and product 0 stand for the FTDI IDs that libftdi1 knows.
    const int found = ftdi_usb_find_all(session->ftdi, &listing, 0, 0);
    if (found < 0)
        return found == -3 ? FT_INSUFFICIENT_RESOURCES : FT_IO_ERROR;
    for (const ftdi_device_list *entry = listing; entry; entry = entry->next)
        devices.push_back(entry->dev);
    return FT_OK;
}

FT_STATUS UsbBus::deviceAt(DWORD index, libusb_device *&device)
{
    if (!session) {
        if (const FT_STATUS status = enumerate(); status != FT_OK)
            return status;
    }
    if (index >= devices.size())
        return FT_DEVICE_NOT_FOUND;
    device = devices[index];
    return FT_OK;
}

FT_STATUS UsbBus::countDevices(DWORD &count)
{
    std::lock_guard<std::mutex> lock(mutex);
    const FT_STATUS status = enumerate();
    if (status == FT_OK)
        count = static_cast<DWORD>(devices.size());
    return status;
}

FT_STATUS UsbBus::serialNumber(DWORD index, std::string &serial)
{
    std::lock_guard<std::mutex> lock(mutex);
    libusb_device *device = nullptr;
    if (const FT_STATUS status = deviceAt(index, device); status != FT_OK)
        return status;
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) < 0)
        return FT_IO_ERROR;
    if (descriptor.iSerialNumber == 0) {
        serial.clear(); // a device without a serial number string
        return FT_OK;
    }
    char text[kUsbStringBufferSize] = {};
    const int result = ftdi_usb_get_strings2(session->ftdi, device, nullptr, 0, nullptr, 0, text,
                                             sizeof text);
    if (result < 0)
        return result == -4 ? FT_DEVICE_NOT_OPENED : FT_IO_ERROR;
    serial = text;
    return FT_OK;
}

FT_STATUS UsbBus::open(DWORD index, std::unique_ptr<Device> &device)
{
    std::lock_guard<std::mutex> lock(mutex);
    libusb_device *usbDevice = nullptr;
    if (const FT_STATUS status = deviceAt(index, usbDevice); status != FT_OK)
        return status;
    ftdi_context *ftdi = ftdi_new();
    if (!ftdi)
        return FT_INSUFFICIENT_RESOURCES;
    ftdi->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    if (ftdi_usb_open_dev(ftdi, usbDevice) < 0) {
        ftdi_free(ftdi);
        return FT_DEVICE_NOT_OPENED;
    }
    device = std::make_unique<UsbDevice>(session, ftdi);
    return FT_OK;
}

} // namespace kestrova::d2xx
