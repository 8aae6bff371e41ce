// The FT232R's 128-byte EEPROM image: encoding an FT_PROGRAM_DATA record into
// it and decoding it back, with validation and the checksum.
#pragma once

#include "bus.h"

namespace kestrova::d2xx {

constexpr std::size_t kImageSize = 128;

// Decodes a whole image into `data`. The four string pointers of `data` must
// point at buffers of FT_MANUFACTURER_BUFFER_SIZE, FT_MANUFACTURER_ID_BUFFER_SIZE,
// FT_DESCRIPTION_BUFFER_SIZE and FT_SERIAL_NUMBER_BUFFER_SIZE bytes (a null
// pointer skips that string); longer strings are cut to fit. ManufacturerId is
// the serial number without its last six characters. A malformed image (size,
// checksum, string descriptors) gives a non-OK status.
FT_STATUS decodeImage(const Image &image, FT_PROGRAM_DATA &data);

// Just the serial number string of an image; empty when the image is malformed.
std::string serialOf(const Image &image);

// Validates `data` and writes it over `image` (which keeps the bytes the
// layout leaves undefined; an image of the wrong size is replaced by a blank
// one). A record that does not fit gives FT_INVALID_PARAMETER and leaves
// `image` unchanged.
FT_STATUS encodeImage(const FT_PROGRAM_DATA &data, Image &image);

// The checksum word the image carries at 0x7E.
std::uint16_t imageChecksum(const Image &image);

} // namespace kestrova::d2xx
