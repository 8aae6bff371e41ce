// File access for the simulated bench's directory mode.
#pragma once

#include "bus.h"

namespace kestrova::d2xx::benchdir {

// Names of the regular files in `directory` whose names end in ".eeprom",
// sorted; none when the directory cannot be read.
std::vector<std::string> deviceFiles(const std::string &directory);

// Reads a whole file; false when it cannot be read.
bool readFile(const std::string &path, Image &bytes);

// Replaces the file's contents atomically: writes a temporary file in the same
// directory and renames it over `path`, so a reader sees the old or the new
// bytes, never a mix. False when that fails (the temporary file is removed).
bool replaceFile(const std::string &path, const Image &bytes);

} // namespace kestrova::d2xx::benchdir
