#include "d2xx/ft232r_image.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kestrova::d2xx {
namespace {

constexpr std::size_t kChipConfigAt = 0x00;
constexpr std::size_t kEndpointAt = 0x01;
constexpr std::size_t kVendorIdAt = 0x02;
constexpr std::size_t kProductIdAt = 0x04;
constexpr std::size_t kReleaseAt = 0x06;
constexpr std::size_t kPowerConfigAt = 0x08;
constexpr std::size_t kMaxPowerAt = 0x09;
constexpr std::size_t kOptionsAt = 0x0A;
constexpr std::size_t kInvertAt = 0x0B;
constexpr std::size_t kUsbVersionAt = 0x0C;
constexpr std::size_t kStringPointersAt = 0x0E;
constexpr std::size_t kCbusAt = 0x14;
constexpr std::size_t kStringAreaAt = 0x18;
constexpr std::size_t kChecksumAt = 0x7E;

constexpr std::uint8_t kExternalOscillator = 0x02;
constexpr std::uint8_t kHighDriveIOs = 0x04;
constexpr std::uint8_t kD2xxDriver = 0x08;
constexpr std::uint8_t kEndpointSize = 0x40;
constexpr std::uint16_t kRelease = 0x0600;
constexpr std::uint16_t kUsb2 = 0x0200;
constexpr std::uint8_t kPowerConfigAlways = 0x80;
constexpr std::uint8_t kSelfPowered = 0x40;
constexpr std::uint8_t kRemoteWakeup = 0x20;
constexpr std::uint8_t kPullDowns = 0x04;
constexpr std::uint8_t kSerialEnabled = 0x08;
constexpr std::uint8_t kStringPointerFlag = 0x80;
constexpr std::uint8_t kStringDescriptorType = 0x03;
constexpr std::uint8_t kBlankByte = 0xFF;

constexpr unsigned kMaxPowerMilliamps = 500;
constexpr unsigned kMilliampsPerUnit = 2;
constexpr UCHAR kLastCbusCode = 13;
constexpr UCHAR kLastCbus4Code = 9;

// The PnP trailer after the last string: two fixed bytes, then is-not-PnP.
constexpr std::array<std::uint8_t, 2> kPnpMarker = {0x02, 0x03};
constexpr std::size_t kTrailerSize = kPnpMarker.size() + 1;

// The three strings in image order.
enum StringIndex { Manufacturer, Description, Serial, StringCount };
constexpr std::size_t kDescriptorHeaderSize = 2;
constexpr std::size_t kStringSpace = kChecksumAt - kStringAreaAt
                                     - StringCount * kDescriptorHeaderSize - kTrailerSize;
static_assert(kMaxStringCharacters == kStringSpace / 2, "two bytes per character");

// Inversion bits 0-7 and CBUS pins 0-4 as record fields.
constexpr std::array<UCHAR FT_PROGRAM_DATA::*, 8> kInversions = {
    &FT_PROGRAM_DATA::InvertTXD, &FT_PROGRAM_DATA::InvertRXD, &FT_PROGRAM_DATA::InvertRTS,
    &FT_PROGRAM_DATA::InvertCTS, &FT_PROGRAM_DATA::InvertDTR, &FT_PROGRAM_DATA::InvertDSR,
    &FT_PROGRAM_DATA::InvertDCD, &FT_PROGRAM_DATA::InvertRI};
constexpr std::array<UCHAR FT_PROGRAM_DATA::*, 5> kCbus = {
    &FT_PROGRAM_DATA::Cbus0, &FT_PROGRAM_DATA::Cbus1, &FT_PROGRAM_DATA::Cbus2,
    &FT_PROGRAM_DATA::Cbus3, &FT_PROGRAM_DATA::Cbus4};

std::uint16_t wordAt(const Image &image, std::size_t at)
{
    return static_cast<std::uint16_t>(image[at] | image[at + 1] << 8);
}

void putWord(Image &image, std::size_t at, std::uint16_t value)
{
    image[at] = static_cast<std::uint8_t>(value);
    image[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint8_t bitIf(unsigned flag, std::uint8_t bit)
{
    return flag ? bit : 0;
}

bool hasBit(std::uint8_t byte, std::uint8_t bit)
{
    return (byte & bit) != 0;
}

// ---- Decoding ----

// Where a string descriptor lies in the image: [begin, end).
struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool overlaps(const Span &other) const { return begin < other.end && other.begin < end; }
};

// The descriptor of string `which`, if it is a whole, well-formed descriptor
// inside the string area.
bool locateDescriptor(const Image &image, int which, Span &span)
{
    const std::size_t pointerAt = kStringPointersAt + 2 * which;
    const std::size_t begin = image[pointerAt] & ~kStringPointerFlag;
    const std::size_t length = image[pointerAt + 1];
    if (length < kDescriptorHeaderSize || length % 2 != 0)
        return false;
    if (begin < kStringAreaAt || begin + length > kChecksumAt)
        return false;
    if (image[begin] != length || image[begin + 1] != kStringDescriptorType)
        return false;
    span = {begin, begin + length};
    return true;
}

bool isHighSurrogate(unsigned unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(unsigned unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The descriptor's UTF-16LE text in Latin-1, '?' for every other character.
std::string latin1Text(const Image &image, const Span &span)
{
    std::string text;
    bool afterHighSurrogate = false;
    for (std::size_t at = span.begin + kDescriptorHeaderSize; at < span.end; at += 2) {
        const unsigned unit = wordAt(image, at);
        const bool secondHalfOfPair = afterHighSurrogate && isLowSurrogate(unit);
        afterHighSurrogate = isHighSurrogate(unit);
        if (secondHalfOfPair)
            continue;
        text += (unit != 0 && unit <= 0xFF) ? static_cast<char>(unit) : '?';
    }
    return text;
}

bool isBlank(const Image &image)
{
    return std::all_of(image.begin(), image.end(),
                       [](std::uint8_t byte) { return byte == kBlankByte; });
}

// The image's strings and PnP flag, once the whole image has been checked.
struct Parsed {
    std::array<std::string, StringCount> strings;
    bool pnp = false;
};

// PnP is on when the trailer after the last descriptor says so; an image
// without the trailer has no PnP setting and reads as off.
bool pnpAfter(const Image &image, std::size_t lastEnd)
{
    if (lastEnd + kTrailerSize > kChecksumAt)
        return false;
    const bool marked = std::equal(kPnpMarker.begin(), kPnpMarker.end(), image.begin() + lastEnd);
    return marked && image[lastEnd + kPnpMarker.size()] == 0;
}

FT_STATUS parseImage(const Image &image, Parsed &parsed)
{
    if (image.size() != kImageSize)
        return FT_EEPROM_READ_FAILED;
    if (isBlank(image))
        return FT_EEPROM_NOT_PRESENT;
    if (wordAt(image, kChecksumAt) != imageChecksum(image))
        return FT_EEPROM_READ_FAILED;

    std::array<Span, StringCount> spans;
    for (int which = 0; which < StringCount; ++which) {
        if (!locateDescriptor(image, which, spans[which]))
            return FT_EEPROM_READ_FAILED;
        for (int earlier = 0; earlier < which; ++earlier) {
            if (spans[which].overlaps(spans[earlier]))
                return FT_EEPROM_READ_FAILED;
        }
    }

    std::size_t lastEnd = 0;
    for (int which = 0; which < StringCount; ++which) {
        parsed.strings[which] = latin1Text(image, spans[which]);
        lastEnd = std::max(lastEnd, spans[which].end);
    }
    parsed.pnp = pnpAfter(image, lastEnd);
    return FT_OK;
}

// Copies `text` into a caller's buffer of `size` bytes, cut to fit with its terminator.
void copyCut(const std::string &text, char *buffer, std::size_t size)
{
    if (!buffer)
        return;
    const std::size_t length = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

// The serial generator's prefix: the serial number without its last six characters.
std::string manufacturerIdOf(const std::string &serial)
{
    constexpr std::size_t kGeneratedDigits = 6;
    return serial.size() > kGeneratedDigits ? serial.substr(0, serial.size() - kGeneratedDigits)
                                            : std::string();
}

// The fields of the record that FT232R devices do not have.
void clearOtherFamilies(FT_PROGRAM_DATA &data)
{
    data.PullDownEnable = data.SerNumEnable = 0;
    data.USBVersionEnable5 = data.PullDownEnable5 = data.SerNumEnable5 = 0;
    data.USBVersion5 = 0;
    data.PullDownEnable7 = data.SerNumEnable7 = 0;
    data.PullDownEnable8 = data.SerNumEnable8 = 0;
}

void fillRecord(const Image &image, const Parsed &parsed, FT_PROGRAM_DATA &data)
{
    const std::uint8_t chip = image[kChipConfigAt];
    const std::uint8_t power = image[kPowerConfigAt];
    const std::uint8_t options = image[kOptionsAt];

    data.VendorId = wordAt(image, kVendorIdAt);
    data.ProductId = wordAt(image, kProductIdAt);
    data.MaxPower = static_cast<WORD>(image[kMaxPowerAt] * kMilliampsPerUnit);
    data.PnP = parsed.pnp;
    data.SelfPowered = hasBit(power, kSelfPowered);
    data.RemoteWakeup = hasBit(power, kRemoteWakeup);
    data.USBVersionEnable = 1;
    data.USBVersion = wordAt(image, kUsbVersionAt);
    data.UseExtOsc = hasBit(chip, kExternalOscillator);
    data.HighDriveIOs = hasBit(chip, kHighDriveIOs);
    data.RIsD2XX = hasBit(chip, kD2xxDriver);
    data.EndpointSize = image[kEndpointAt];
    data.PullDownEnableR = hasBit(options, kPullDowns);
    data.SerNumEnableR = hasBit(options, kSerialEnabled);
    for (std::size_t bit = 0; bit < kInversions.size(); ++bit)
        data.*kInversions[bit] = (image[kInvertAt] >> bit) & 1;
    for (std::size_t pin = 0; pin < kCbus.size(); ++pin)
        data.*kCbus[pin] = (image[kCbusAt + pin / 2] >> (4 * (pin % 2))) & 0x0F;
    clearOtherFamilies(data);

    const std::string &serial = parsed.strings[Serial];
    copyCut(parsed.strings[Manufacturer], data.Manufacturer, FT_MANUFACTURER_BUFFER_SIZE);
    copyCut(manufacturerIdOf(serial), data.ManufacturerId, FT_MANUFACTURER_ID_BUFFER_SIZE);
    copyCut(parsed.strings[Description], data.Description, FT_DESCRIPTION_BUFFER_SIZE);
    copyCut(serial, data.SerialNumber, FT_SERIAL_NUMBER_BUFFER_SIZE);
}

// ---- Encoding ----

// The record's three strings in image order.
std::array<const char *, StringCount> stringsOf(const FT_PROGRAM_DATA &data)
{
    return {data.Manufacturer, data.Description, data.SerialNumber};
}

// The length of a zero-terminated string, or kImageSize when it is longer
// than any image could hold (so that an unterminated buffer is not run through).
std::size_t boundedLength(const char *text)
{
    return strnlen(text, kImageSize);
}

bool stringsFit(const FT_PROGRAM_DATA &data)
{
    std::size_t characters = 0;
    for (const char *text : stringsOf(data)) {
        if (!text)
            return false;
        characters += boundedLength(text);
    }
    return characters <= kMaxStringCharacters;
}

bool cbusCodesValid(const FT_PROGRAM_DATA &data)
{
    const UCHAR lastCode[] = {kLastCbusCode, kLastCbusCode, kLastCbusCode, kLastCbusCode,
                              kLastCbus4Code};
    for (std::size_t pin = 0; pin < kCbus.size(); ++pin) {
        if (data.*kCbus[pin] > lastCode[pin])
            return false;
    }
    return true;
}

void writeConfiguration(const FT_PROGRAM_DATA &data, Image &image)
{
    image[kChipConfigAt] = bitIf(data.UseExtOsc, kExternalOscillator)
                           | bitIf(data.HighDriveIOs, kHighDriveIOs)
                           | bitIf(data.RIsD2XX, kD2xxDriver);
    image[kEndpointAt] = kEndpointSize;
    putWord(image, kVendorIdAt, data.VendorId);
    putWord(image, kProductIdAt, data.ProductId);
    putWord(image, kReleaseAt, kRelease);
    image[kPowerConfigAt] = kPowerConfigAlways | bitIf(data.SelfPowered, kSelfPowered)
                            | bitIf(data.RemoteWakeup, kRemoteWakeup);
    image[kMaxPowerAt] = static_cast<std::uint8_t>(data.MaxPower / kMilliampsPerUnit);
    image[kOptionsAt] = bitIf(data.PullDownEnableR, kPullDowns)
                        | bitIf(data.SerNumEnableR, kSerialEnabled);
    std::uint8_t inversions = 0;
    for (std::size_t bit = 0; bit < kInversions.size(); ++bit)
        inversions |= bitIf(data.*kInversions[bit], static_cast<std::uint8_t>(1u << bit));
    image[kInvertAt] = inversions;
    putWord(image, kUsbVersionAt, data.USBVersionEnable ? data.USBVersion : kUsb2);
    image[kCbusAt] = static_cast<std::uint8_t>(data.Cbus0 | data.Cbus1 << 4);
    image[kCbusAt + 1] = static_cast<std::uint8_t>(data.Cbus2 | data.Cbus3 << 4);
    image[kCbusAt + 2] = data.Cbus4;
}

// Writes the three string descriptors from 0x18 on, then the PnP trailer.
void writeStrings(const FT_PROGRAM_DATA &data, Image &image)
{
    std::size_t at = kStringAreaAt;
    const auto strings = stringsOf(data);
    for (int which = 0; which < StringCount; ++which) {
        const std::size_t characters = boundedLength(strings[which]);
        const auto length = static_cast<std::uint8_t>(kDescriptorHeaderSize + 2 * characters);
        image[kStringPointersAt + 2 * which] = static_cast<std::uint8_t>(at | kStringPointerFlag);
        image[kStringPointersAt + 2 * which + 1] = length;
        image[at++] = length;
        image[at++] = kStringDescriptorType;
        for (std::size_t index = 0; index < characters; ++index) {
            putWord(image, at, static_cast<unsigned char>(strings[which][index]));
            at += 2;
        }
    }
    std::copy(kPnpMarker.begin(), kPnpMarker.end(), image.begin() + at);
    image[at + kPnpMarker.size()] = data.PnP ? 0 : 1;
}

} // namespace

std::uint16_t imageChecksum(const Image &image)
{
    std::uint16_t checksum = 0xAAAA;
    for (std::size_t at = 0; at < kChecksumAt && at + 1 < image.size(); at += 2) {
        checksum ^= wordAt(image, at);
        checksum = static_cast<std::uint16_t>(checksum << 1 | checksum >> 15);
    }
    return checksum;
}

FT_STATUS decodeImage(const Image &image, FT_PROGRAM_DATA &data)
{
    Parsed parsed;
    const FT_STATUS status = parseImage(image, parsed);
    if (status == FT_OK)
        fillRecord(image, parsed, data);
    return status;
}

std::string serialOf(const Image &image)
{
    Parsed parsed;
    return parseImage(image, parsed) == FT_OK ? parsed.strings[Serial] : std::string();
}

bool hasValidHeader(const FT_PROGRAM_DATA &data)
{
    return data.Signature1 == 0 && data.Signature2 == 0xFFFFFFFF && data.Version == 2;
}

FT_STATUS validateRecord(const FT_PROGRAM_DATA &data)
{
    const bool valid = hasValidHeader(data) && stringsFit(data) && cbusCodesValid(data)
                       && data.MaxPower <= kMaxPowerMilliamps;
    return valid ? FT_OK : FT_INVALID_PARAMETER;
}

FT_STATUS encodeImage(const FT_PROGRAM_DATA &data, Image &image)
{
    const FT_STATUS status = validateRecord(data);
    if (status != FT_OK)
        return status;
    Image built = image.size() == kImageSize ? image : Image(kImageSize, 0);
    writeConfiguration(data, built);
    writeStrings(data, built);
    putWord(built, kChecksumAt, imageChecksum(built));
    image = std::move(built);
    return FT_OK;
}

FT_PROGRAM_DATA factoryRecord()
{
    enum CbusFunction : UCHAR { TxDen = 0, PwrEn = 1, RxLed = 2, TxLed = 3, Sleep = 5 };
    FT_PROGRAM_DATA data{};
    data.Signature2 = 0xFFFFFFFF;
    data.Version = 2;
    data.VendorId = 0x0403;
    data.ProductId = 0x6001;
    data.MaxPower = 90;
    data.PnP = 1;
    data.USBVersionEnable = 1;
    data.USBVersion = 0x0200;
    data.EndpointSize = 64;
    data.SerNumEnableR = 1;
    data.Cbus0 = TxLed;
    data.Cbus1 = RxLed;
    data.Cbus2 = TxDen;
    data.Cbus3 = PwrEn;
    data.Cbus4 = Sleep;
    return data;
}

DecodedImage::DecodedImage(const Image &image)
{
    data.Signature2 = 0xFFFFFFFF;
    data.Version = 2;
    data.Manufacturer = manufacturer;
    data.ManufacturerId = manufacturerId;
    data.Description = description;
    data.SerialNumber = serialNumber;
    status = decodeImage(image, data);
}

} // namespace kestrova::d2xx
