// The cost of the device calls on a bench folder: one programming
// (FT_EE_Program: encode, write the file, read it back, compare) and one
// enumeration as the watcher makes it every second (the count, then the
// serial number of each device), with 1 and with 32 devices.
//
//   bench_device DIR     (DIR: an empty folder on the disk to measure)
#include "d2xx/benchdir.h"
#include "d2xx/ft232r_image.h"
#include "d2xx/simbench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace kestrova::d2xx;
using Clock = std::chrono::steady_clock;

struct Stats {
    double median, p95, max;
};

// Runs `operation` `times` times and returns its duration in microseconds.
Stats measure(int times, const std::function<void(int)> &operation)
{
    std::vector<double> micros;
    for (int i = 0; i < times; ++i) {
        const Clock::time_point start = Clock::now();
        operation(i);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 95 / 100], micros.back()};
}

void print(const char *what, const Stats &stats)
{
    std::printf("%-36s median %8.1f us   p95 %8.1f us   max %8.1f us\n", what, stats.median,
                stats.p95, stats.max);
}

void plugDevices(const std::string &dir, int count)
{
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "dev%02d.eeprom", i);
        benchdir::replaceFile(dir + "/" + name, freshImage("BENCH" + std::to_string(i)));
    }
}

void unplugAll(const std::string &dir)
{
    for (const std::string &name : benchdir::deviceFiles(dir))
        std::filesystem::remove(dir + "/" + name);
}

// The record the main window programs from the demo configuration.
struct ProgramRecord {
    char manufacturer[FT_MANUFACTURER_BUFFER_SIZE] = "Kestrova";
    char manufacturerId[FT_MANUFACTURER_ID_BUFFER_SIZE] = "KV";
    char description[FT_DESCRIPTION_BUFFER_SIZE] = "Kestrova Demo Bridge";
    char serial[FT_SERIAL_NUMBER_BUFFER_SIZE] = "KV000000";
    FT_PROGRAM_DATA data = factoryRecord();

    ProgramRecord()
    {
        data.Manufacturer = manufacturer;
        data.ManufacturerId = manufacturerId;
        data.Description = description;
        data.SerialNumber = serial;
        data.RemoteWakeup = 1;
    }
};

bool benchProgramming(const std::string &dir, int times)
{
    plugDevices(dir, 1);
    FT_HANDLE handle = nullptr;
    if (FT_Open(0, &handle) != FT_OK)
        return false;
    ProgramRecord record;
    int failures = 0;
    // A new serial number each time, so every programming changes the file.
    const Stats stats = measure(times, [&](int i) {
        std::snprintf(record.serial, sizeof record.serial, "KV%06X", i);
        failures += FT_EE_Program(handle, &record.data) != FT_OK;
    });
    FT_Close(handle);
    unplugAll(dir);
    print("one programming (FT_EE_Program)", stats);
    return failures == 0;
}

bool benchEnumeration(const std::string &dir, int devices, int times)
{
    plugDevices(dir, devices);
    int failures = 0;
    const Stats stats = measure(times, [&](int) {
        DWORD count = 0;
        failures += FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK;
        failures += count != static_cast<DWORD>(devices);
        for (DWORD index = 0; index < count; ++index) {
            char serial[FT_SERIAL_BUFFER_SIZE];
            failures += FT_ListDevices(reinterpret_cast<PVOID>(static_cast<uintptr_t>(index)),
                                       serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)
                        != FT_OK;
        }
    });
    unplugAll(dir);
    const std::string what = "one enumeration, " + std::to_string(devices) + " device(s)";
    print(what.c_str(), stats);
    return failures == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_device DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    installBus(std::make_shared<SimBench>(dir));
    const bool ok = benchProgramming(dir, 1000) && benchEnumeration(dir, 1, 500)
                    && benchEnumeration(dir, 32, 200);
    installBus(nullptr);
    if (!ok)
        std::fprintf(stderr, "bench_device: a device call failed; the figures are not valid\n");
    return ok ? 0 : 1;
}
