// The FT232R's 128-byte EEPROM image: encoding an FT_PROGRAM_DATA record into
// it and decoding it back, with validation and the checksum.
//
// Layout (the one libftdi1 reads and writes for FT232R):
//   0x00  bit 1 external oscillator, bit 2 high-current I/O, bit 3 D2XX driver
//   0x01  0x40 (endpoint size 64)
//   0x02  vendor ID, 0x04 product ID, 0x06 release 0x0600 (16 bits, low byte first)
//   0x08  bit 7 always set, bit 6 self powered, bit 5 remote wakeup
//   0x09  max power in 2 mA units
//   0x0A  bit 2 pull-downs in suspend, bit 3 serial number enabled
//   0x0B  inversion bits 0-7: TXD, RXD, RTS, CTS, DTR, DSR, DCD, RI
//   0x0C  USB version
//   0x0E/0x0F, 0x10/0x11, 0x12/0x13  offset | 0x80 and length of the
//         manufacturer, description and serial string descriptors
//   0x14-0x16  CBUS0/CBUS1, CBUS2/CBUS3, CBUS4 function codes as nibbles (low first)
//   0x18  the string descriptors, then the PnP trailer 0x02 0x03 is-not-PnP
//   0x7E  checksum word
#pragma once

#include "bus.h"

namespace kestrova::d2xx {

constexpr std::size_t kImageSize = 128;
// The manufacturer, description and serial number strings share the image's
// string area: together they hold at most this many characters.
constexpr std::size_t kMaxStringCharacters = 46;

// Decodes a whole image into `data`. The four string pointers of `data` must
// point at buffers of FT_MANUFACTURER_BUFFER_SIZE, FT_MANUFACTURER_ID_BUFFER_SIZE,
// FT_DESCRIPTION_BUFFER_SIZE and FT_SERIAL_NUMBER_BUFFER_SIZE bytes (a null
// pointer skips that string); longer strings are cut to fit. ManufacturerId is
// the serial number without its last six characters. A UTF-16 character
// outside Latin-1 (a surrogate pair counts as one, and so does U+0000) reads
// as '?'. USBVersionEnable reads as 1 with the image's USB version; the fields
// an FT232R does not have read as 0.
//
// A malformed image gives a non-OK status and leaves `data` and its buffers
// untouched:
//   FT_EEPROM_NOT_PRESENT  every byte is 0xFF (an erased or absent EEPROM);
//   FT_EEPROM_READ_FAILED  wrong size, bad checksum, or a string descriptor
//                          that is not a whole even-length type-0x03
//                          descriptor inside 0x18..0x7D, or that overlaps another.
FT_STATUS decodeImage(const Image &image, FT_PROGRAM_DATA &data);

// Just the serial number string of an image; empty when the image is malformed.
std::string serialOf(const Image &image);

// True when the record carries the header Signature1 0, Signature2 0xFFFFFFFF, Version 2.
bool hasValidHeader(const FT_PROGRAM_DATA &data);

// Checks that `data` can be encoded, without encoding it. FT_INVALID_PARAMETER
// for: a wrong header; a null Manufacturer, Description or SerialNumber
// (ManufacturerId has no place in the image and is ignored); strings whose
// descriptors and the PnP trailer do not fit before the checksum (46
// characters in all); a CBUS0-3 code above 13 or a CBUS4 code above 9;
// MaxPower above 500 mA, the most USB allows.
FT_STATUS validateRecord(const FT_PROGRAM_DATA &data);

// Validates `data` and writes it over `image`, which keeps the bytes the
// layout leaves undefined (0x17 and the string area after the PnP trailer);
// reserved bits of the defined bytes are written as 0. An image of the wrong
// size is replaced by a blank (all zero) one. MaxPower is stored in 2 mA units
// (an odd value rounds down). The USB version is USBVersion when
// USBVersionEnable is set, else 0x0200. EndpointSize is fixed at 64 and not
// taken from the record. A record that does not pass validateRecord gives
// FT_INVALID_PARAMETER and leaves `image` unchanged.
FT_STATUS encodeImage(const FT_PROGRAM_DATA &data, Image &image);

// The settings of a factory-fresh FT232R, its strings aside (null pointers):
// 90 mA bus powered, PnP, serial number enabled, USB 2.0, CBUS0-4 TXLED#,
// RXLED#, TXDEN, PWREN#, SLEEP#.
FT_PROGRAM_DATA factoryRecord();

// An image decoded into a record whose strings live in buffers of its own,
// of the sizes FT_EE_Read fills.
struct DecodedImage {
    explicit DecodedImage(const Image &image);
    DecodedImage(const DecodedImage &) = delete;
    DecodedImage &operator=(const DecodedImage &) = delete;

    FT_PROGRAM_DATA data{};
    char manufacturer[FT_MANUFACTURER_BUFFER_SIZE]{};
    char manufacturerId[FT_MANUFACTURER_ID_BUFFER_SIZE]{};
    char description[FT_DESCRIPTION_BUFFER_SIZE]{};
    char serialNumber[FT_SERIAL_NUMBER_BUFFER_SIZE]{};
    FT_STATUS status;
};

// The checksum of the words before 0x7E, the value the image must carry at 0x7E.
std::uint16_t imageChecksum(const Image &image);

} // namespace kestrova::d2xx
