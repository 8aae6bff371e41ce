// The five D2XX-style calls over the active bus, and the table of open handles.
#include "ftd2xx.h"

#include "d2xx/bus.h"
#include "d2xx/ft232r_image.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

using namespace kestrova::d2xx;

namespace {

// An open handle: the device and the bus it was opened on. Calls on one
// handle take turns; FT_Close empties `device` so that later calls fail.
struct OpenDevice {
    std::shared_ptr<Bus> bus;
    std::mutex mutex;
    std::unique_ptr<Device> device;
};

// Handles are numbers that are never reused, so a stale or made-up handle is
// never taken for an open one, nor dereferenced.
class HandleTable {
public:
    FT_HANDLE add(std::shared_ptr<OpenDevice> device)
    {
        std::lock_guard<std::mutex> lock(mutex);
        const std::uintptr_t handle = nextHandle++;
        open.emplace(handle, std::move(device));
        return reinterpret_cast<FT_HANDLE>(handle);
    }

    std::shared_ptr<OpenDevice> find(FT_HANDLE handle)
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto entry = open.find(reinterpret_cast<std::uintptr_t>(handle));
        return entry != open.end() ? entry->second : nullptr;
    }

    std::shared_ptr<OpenDevice> remove(FT_HANDLE handle)
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto entry = open.find(reinterpret_cast<std::uintptr_t>(handle));
        if (entry == open.end())
            return nullptr;
        std::shared_ptr<OpenDevice> device = std::move(entry->second);
        open.erase(entry);
        return device;
    }

private:
    std::mutex mutex;
    std::map<std::uintptr_t, std::shared_ptr<OpenDevice>> open;
    std::uintptr_t nextHandle = 1;
};

HandleTable &handles()
{
    static HandleTable table;
    return table;
}

// Runs `operation` on the device behind `handle`.
template <class Operation>
FT_STATUS onDevice(FT_HANDLE handle, Operation operation)
{
    const std::shared_ptr<OpenDevice> open = handles().find(handle);
    if (!open)
        return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(open->mutex);
    if (!open->device)
        return FT_INVALID_HANDLE;
    return operation(*open->device);
}

FT_STATUS countDevices(DWORD *count)
{
    if (!count)
        return FT_INVALID_PARAMETER;
    return activeBus()->countDevices(*count);
}

// Fills the caller's FT_SERIAL_BUFFER_SIZE bytes, cutting a longer serial number.
FT_STATUS serialByIndex(DWORD index, char *buffer)
{
    if (!buffer)
        return FT_INVALID_PARAMETER;
    std::string serial;
    const FT_STATUS status = activeBus()->serialNumber(index, serial);
    if (status != FT_OK)
        return status;
    const std::size_t length = std::min<std::size_t>(serial.size(), FT_SERIAL_BUFFER_SIZE - 1);
    std::memcpy(buffer, serial.data(), length);
    buffer[length] = '\0';
    return FT_OK;
}

// Builds the record over the device's current image, writes it and reads it back.
FT_STATUS programVerified(Device &device, const FT_PROGRAM_DATA &data)
{
    Image image;
    FT_STATUS status = device.readImage(image);
    if (status == FT_OK)
        status = encodeImage(data, image);
    if (status == FT_OK)
        status = device.writeImage(image);
    Image readBack;
    if (status == FT_OK)
        status = device.readImage(readBack);
    if (status == FT_OK && readBack != image)
        status = FT_EEPROM_WRITE_FAILED;
    return status;
}

} // namespace

extern "C" {

FT_STATUS FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags)
{
    switch (Flags) {
    case FT_LIST_NUMBER_ONLY:
        return countDevices(static_cast<DWORD *>(pArg1));
    case FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER:
        return serialByIndex(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(pArg1)),
                             static_cast<char *>(pArg2));
    default:
        return FT_INVALID_PARAMETER;
    }
}

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *pHandle)
{
    if (!pHandle)
        return FT_INVALID_PARAMETER;
    if (deviceNumber < 0)
        return FT_DEVICE_NOT_FOUND;
    auto open = std::make_shared<OpenDevice>();
    open->bus = activeBus();
    const FT_STATUS status = open->bus->open(static_cast<DWORD>(deviceNumber), open->device);
    if (status == FT_OK)
        *pHandle = handles().add(std::move(open));
    return status;
}

FT_STATUS FT_EE_Read(FT_HANDLE ftHandle, PFT_PROGRAM_DATA pData)
{
    return onDevice(ftHandle, [pData](Device &device) -> FT_STATUS {
        if (!pData || !hasValidHeader(*pData))
            return FT_INVALID_PARAMETER;
        if (!device.isFT232R())
            return FT_NOT_SUPPORTED;
        Image image;
        const FT_STATUS status = device.readImage(image);
        return status == FT_OK ? decodeImage(image, *pData) : status;
    });
}

FT_STATUS FT_EE_Program(FT_HANDLE ftHandle, PFT_PROGRAM_DATA pData)
{
    return onDevice(ftHandle, [pData](Device &device) -> FT_STATUS {
        if (!pData || !hasValidHeader(*pData))
            return FT_INVALID_PARAMETER;
        if (!device.isFT232R())
            return FT_NOT_SUPPORTED;
        // The whole record is checked before the device is touched.
        const FT_STATUS status = validateRecord(*pData);
        return status == FT_OK ? programVerified(device, *pData) : status;
    });
}

FT_STATUS FT_Close(FT_HANDLE ftHandle)
{
    const std::shared_ptr<OpenDevice> open = handles().remove(ftHandle);
    if (!open)
        return FT_INVALID_HANDLE;
    std::unique_ptr<Device> device;
    {
        // Waits for a call still running on this handle.
        std::lock_guard<std::mutex> lock(open->mutex);
        device = std::move(open->device);
    }
    const FT_STATUS status = device->close();
    open->bus->close(std::move(device));
    return status;
}

} // extern "C"
