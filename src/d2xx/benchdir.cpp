#include "d2xx/benchdir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::d2xx::benchdir {
namespace {

namespace fs = std::filesystem;

const std::string kDeviceSuffix = ".eeprom";
// Temporary files end in this, so they are never taken for devices.
const std::string kTemporarySuffix = ".tmp";

bool isDeviceName(const std::string &name)
{
    return name.size() >= kDeviceSuffix.size()
           && name.compare(name.size() - kDeviceSuffix.size(), kDeviceSuffix.size(), kDeviceSuffix)
                  == 0;
}

bool writeAll(int fd, const Image &bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0)
            return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}

} // namespace

std::vector<std::string> deviceFiles(const std::string &directory)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        std::error_code typeError;
        if (isDeviceName(name) && entry->is_regular_file(typeError))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool readFile(const std::string &path, Image &bytes)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

bool replaceFile(const std::string &path, const Image &bytes)
{
    const fs::path target(path);
    std::string temporary =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX" + kTemporarySuffix))
            .string();
    const int fd = ::mkstemps(temporary.data(), static_cast<int>(kTemporarySuffix.size()));
    if (fd < 0)
        return false;
    const bool written = ::fchmod(fd, 0644) == 0 && writeAll(fd, bytes);
    const bool closed = ::close(fd) == 0;
    if (written && closed && std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    std::remove(temporary.c_str());
    return false;
}

} // namespace kestrova::d2xx::benchdir
