#include "d2xx/simbench.h"

#include "d2xx/benchdir.h"
#include "d2xx/ft232r_image.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>

namespace kestrova::d2xx {

struct SimBench::State {
    // One attached device.
    struct Slot {
        std::uint64_t id = 0; // tells a replugged device from the one opened before
        std::string serial;   // latched when the device appeared
        Image image;          // in memory; over a directory the file holds it
        bool ft232r = true;
        bool corruptWrites = false;
    };
    struct Injection {
        int remaining = 0;
        FT_STATUS status = FT_OK;
    };
    class OpenDevice;

    explicit State(std::optional<std::string> directory) : directory(std::move(directory)) {}

    const std::optional<std::string> directory;
    mutable std::mutex mutex;
    std::map<std::string, Slot> slots;
    std::uint64_t nextId = 1;
    std::map<Call, Injection> injections;
    std::deque<CallRecord> history;
    int openDevices = 0;

    // The members below expect `mutex` to be held.

    void record(Call call, const std::string &device)
    {
        history.push_back({call, device});
        if (history.size() > kCallHistory)
            history.pop_front();
    }

    // True (with the status to fail with) when a failure is pending for `call`.
    bool injected(Call call, FT_STATUS &status)
    {
        Injection &injection = injections[call];
        if (injection.remaining <= 0)
            return false;
        --injection.remaining;
        status = injection.status;
        return true;
    }

    // Records the call; the injected status, or FT_OK to go on.
    FT_STATUS enter(Call call, const std::string &device)
    {
        record(call, device);
        FT_STATUS status = FT_OK;
        injected(call, status);
        return status;
    }

    void plug(const std::string &name, const Image &image, bool ft232r)
    {
        Slot slot;
        slot.id = nextId++;
        slot.serial = serialOf(image);
        slot.ft232r = ft232r;
        if (!directory)
            slot.image = image;
        slots[name] = std::move(slot);
    }

    std::string pathOf(const std::string &name) const { return *directory + "/" + name; }

    // Over a directory: unplugs the devices whose files are gone and plugs in
    // the new files, latching their serial numbers.
    void rescan()
    {
        if (!directory)
            return;
        const std::vector<std::string> files = benchdir::deviceFiles(*directory);
        for (auto slot = slots.begin(); slot != slots.end();) {
            const bool present = std::binary_search(files.begin(), files.end(), slot->first);
            slot = present ? std::next(slot) : slots.erase(slot);
        }
        for (const std::string &name : files) {
            Image image;
            if (!slots.count(name) && benchdir::readFile(pathOf(name), image))
                plug(name, image, true);
        }
    }

    const std::string *nameAt(DWORD index) const
    {
        return index < slots.size() ? &std::next(slots.begin(), index)->first : nullptr;
    }

    // The slot of the device opened as `id`, unless it has been unplugged since.
    Slot *live(const std::string &name, std::uint64_t id)
    {
        auto slot = slots.find(name);
        return slot != slots.end() && slot->second.id == id ? &slot->second : nullptr;
    }

    bool load(const std::string &name, const Slot &slot, Image &image) const
    {
        if (!directory) {
            image = slot.image;
            return true;
        }
        return benchdir::readFile(pathOf(name), image);
    }

    bool store(const std::string &name, Slot &slot, const Image &image)
    {
        if (!directory) {
            slot.image = image;
            return true;
        }
        return benchdir::replaceFile(pathOf(name), image);
    }
};

// A device opened on the bench; it reaches its slot through the bench state.
class SimBench::State::OpenDevice : public Device {
public:
    OpenDevice(State &state, std::string name, std::uint64_t id, bool ft232r)
        : state(state), name(std::move(name)), id(id), ft232r(ft232r)
    {
    }

    bool isFT232R() const override { return ft232r; }

    FT_STATUS readImage(Image &image) override
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.rescan();
        if (const FT_STATUS status = state.enter(Call::Read, name); status != FT_OK)
            return status;
        const Slot *slot = state.live(name, id);
        return slot && state.load(name, *slot, image) ? FT_OK : FT_DEVICE_NOT_FOUND;
    }

    FT_STATUS writeImage(const Image &image) override
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.rescan();
        if (const FT_STATUS status = state.enter(Call::Program, name); status != FT_OK)
            return status;
        Slot *slot = state.live(name, id);
        if (!slot)
            return FT_DEVICE_NOT_FOUND;
        Image stored = image;
        if (slot->corruptWrites && !stored.empty())
            stored.back() = static_cast<std::uint8_t>(~stored.back());
        return state.store(name, *slot, stored) ? FT_OK : FT_IO_ERROR;
    }

    // The Close itself is recorded by SimBench::close, which every close reaches.
    FT_STATUS close() override
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        FT_STATUS status = FT_OK;
        state.injected(Call::Close, status);
        return status;
    }

    const std::string &deviceName() const { return name; }

private:
    State &state;
    const std::string name;
    const std::uint64_t id;
    const bool ft232r;
};

SimBench::SimBench() : state(std::make_unique<State>(std::nullopt)) {}

SimBench::SimBench(std::string directory)
    : state(std::make_unique<State>(std::move(directory)))
{
}

SimBench::~SimBench() = default;

void SimBench::attach(const std::string &name, Image image, bool ft232r)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    if (state->directory && !benchdir::replaceFile(state->pathOf(name), image))
        return;
    state->plug(name, image, ft232r);
}

void SimBench::detach(const std::string &name)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    if (state->directory)
        std::remove(state->pathOf(name).c_str());
    state->slots.erase(name);
}

Image SimBench::image(const std::string &name) const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    Image image;
    if (state->directory) {
        benchdir::readFile(state->pathOf(name), image);
        return image;
    }
    auto slot = state->slots.find(name);
    return slot != state->slots.end() ? slot->second.image : Image();
}

std::vector<std::string> SimBench::listedSerials() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    state->rescan();
    std::vector<std::string> serials;
    for (const auto &slot : state->slots)
        serials.push_back(slot.second.serial);
    return serials;
}

void SimBench::failNext(Call call, int count, FT_STATUS status)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    state->injections[call] = {count, status};
}

void SimBench::corruptWrites(const std::string &name, bool on)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    state->rescan();
    auto slot = state->slots.find(name);
    if (slot != state->slots.end())
        slot->second.corruptWrites = on;
}

std::vector<CallRecord> SimBench::calls() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return {state->history.begin(), state->history.end()};
}

void SimBench::clearCalls()
{
    std::lock_guard<std::mutex> lock(state->mutex);
    state->history.clear();
}

int SimBench::openDevices() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->openDevices;
}

FT_STATUS SimBench::countDevices(DWORD &count)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    if (const FT_STATUS status = state->enter(Call::Count, {}); status != FT_OK)
        return status;
    state->rescan();
    count = static_cast<DWORD>(state->slots.size());
    return FT_OK;
}

// Positions refer to the devices found by the last count, as on a USB bus:
// only the count looks at the directory again.
FT_STATUS SimBench::serialNumber(DWORD index, std::string &serial)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    const std::string *name = state->nameAt(index);
    if (const FT_STATUS status = state->enter(Call::SerialByIndex, name ? *name : std::string());
        status != FT_OK)
        return status;
    if (!name)
        return FT_DEVICE_NOT_FOUND;
    serial = state->slots.at(*name).serial;
    return FT_OK;
}

FT_STATUS SimBench::open(DWORD index, std::unique_ptr<Device> &device)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    FT_STATUS status = FT_OK;
    const std::string *name = state->injected(Call::Open, status) ? nullptr : state->nameAt(index);
    if (status == FT_OK && !name)
        status = FT_DEVICE_NOT_FOUND;
    state->record(Call::Open, name ? *name : std::string());
    if (status != FT_OK)
        return status;
    const State::Slot &slot = state->slots.at(*name);
    device = std::make_unique<State::OpenDevice>(*state, *name, slot.id, slot.ft232r);
    ++state->openDevices;
    return FT_OK;
}

void SimBench::close(std::unique_ptr<Device> device)
{
    const auto *opened = dynamic_cast<const State::OpenDevice *>(device.get());
    std::lock_guard<std::mutex> lock(state->mutex);
    state->record(Call::Close, opened ? opened->deviceName() : std::string());
    --state->openDevices;
}

Image freshImage(const std::string &serial)
{
    std::string manufacturer = "Bench";
    std::string description = "FT232R USB UART";
    std::string serialNumber = serial;
    FT_PROGRAM_DATA data = factoryRecord();
    data.Manufacturer = manufacturer.data();
    data.Description = description.data();
    data.SerialNumber = serialNumber.data();

    Image image(kImageSize, 0);
    return encodeImage(data, image) == FT_OK ? image : Image();
}

} // namespace kestrova::d2xx
