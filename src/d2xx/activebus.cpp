#include "d2xx/bus.h"
#include "d2xx/simbench.h"
#include "d2xx/usbbus.h"

#include <cstdlib>
#include <mutex>

namespace kestrova::d2xx {
namespace {

std::mutex &busMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The installed bus; null until first use or after installBus(nullptr).
std::shared_ptr<Bus> &installedBus()
{
    static std::shared_ptr<Bus> bus;
    return bus;
}

std::shared_ptr<Bus> defaultBus()
{
    const char *benchDirectory = std::getenv("KESTROVA_BENCH");
    if (benchDirectory && *benchDirectory)
        return std::make_shared<SimBench>(benchDirectory);
    return std::make_shared<UsbBus>();
}

} // namespace

std::shared_ptr<Bus> activeBus()
{
    std::lock_guard<std::mutex> lock(busMutex());
    std::shared_ptr<Bus> &bus = installedBus();
    if (!bus)
        bus = defaultBus();
    return bus;
}

void installBus(std::shared_ptr<Bus> bus)
{
    std::lock_guard<std::mutex> lock(busMutex());
    installedBus() = std::move(bus);
}

} // namespace kestrova::d2xx
