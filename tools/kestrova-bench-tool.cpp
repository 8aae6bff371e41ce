// Companion of the simulated bench: makes factory-fresh FT232R device files
// and decodes a device file's EEPROM image for the user.
//
//   kestrova-bench-tool new FILE SERIAL   write a factory-fresh image
//   kestrova-bench-tool show FILE         print the image's settings
//   kestrova-bench-tool serial FILE       print the image's serial number
#include "d2xx/benchdir.h"
#include "d2xx/ft232r_image.h"
#include "d2xx/simbench.h"

#include <cstdio>
#include <iterator>
#include <string>

namespace {

using namespace kestrova::d2xx;

// The CBUS pin functions by code, as the main window's lists name them.
const char *const cbusFunctions[] = {
    "TXDEN",  "PWREN#",  "RXLED#", "TXLED#",  "TX_RX_LED#", "SLEEP#", "CLK48",
    "CLK24",  "CLK12",   "CLK6",   "IO_MODE", "BIT_WR",     "BIT_RD", "RXF/TXE/RD/WR",
};

int usage()
{
    std::fprintf(stderr, "usage: kestrova-bench-tool new FILE SERIAL\n"
                         "       kestrova-bench-tool show FILE\n"
                         "       kestrova-bench-tool serial FILE\n");
    return 2;
}

bool readImage(const char *path, Image &image)
{
    if (benchdir::readFile(path, image))
        return true;
    std::fprintf(stderr, "kestrova-bench-tool: cannot read %s\n", path);
    return false;
}

int writeFresh(const char *path, const std::string &serial)
{
    if (serial.empty() || serial.size() >= FT_SERIAL_NUMBER_BUFFER_SIZE) {
        std::fprintf(stderr, "kestrova-bench-tool: a serial number has 1 to %d characters\n",
                     FT_SERIAL_NUMBER_BUFFER_SIZE - 1);
        return 1;
    }
    if (!benchdir::replaceFile(path, freshImage(serial))) {
        std::fprintf(stderr, "kestrova-bench-tool: cannot write %s\n", path);
        return 1;
    }
    return 0;
}

int printSerial(const char *path)
{
    Image image;
    if (!readImage(path, image))
        return 1;
    std::printf("%s\n", serialOf(image).c_str());
    return 0;
}

const char *yesNo(unsigned value)
{
    return value ? "yes" : "no";
}

std::string cbusName(unsigned code)
{
    if (code < std::size(cbusFunctions))
        return cbusFunctions[code];
    return "unknown code " + std::to_string(code);
}

std::string invertedLines(const FT_PROGRAM_DATA &d)
{
    const struct {
        UCHAR inverted;
        const char *name;
    } lines[] = {{d.InvertTXD, "TXD"}, {d.InvertRXD, "RXD"}, {d.InvertRTS, "RTS"},
                 {d.InvertCTS, "CTS"}, {d.InvertDTR, "DTR"}, {d.InvertDSR, "DSR"},
                 {d.InvertDCD, "DCD"}, {d.InvertRI, "RI"}};
    std::string names;
    for (const auto &line : lines)
        if (line.inverted)
            names += (names.empty() ? "" : " ") + std::string(line.name);
    return names.empty() ? "none" : names;
}

void printRecord(const DecodedImage &image)
{
    const FT_PROGRAM_DATA &d = image.data;
    std::printf("Vendor ID          0x%04x\n", d.VendorId);
    std::printf("Product ID         0x%04x\n", d.ProductId);
    std::printf("Manufacturer       %s\n", image.manufacturer);
    std::printf("Manufacturer ID    %s\n", image.manufacturerId);
    std::printf("Description        %s\n", image.description);
    std::printf("Serial number      %s\n", image.serialNumber);
    std::printf("Max power          %u mA\n", d.MaxPower);
    std::printf("Self powered       %s\n", yesNo(d.SelfPowered));
    std::printf("Remote wakeup      %s\n", yesNo(d.RemoteWakeup));
    std::printf("PnP                %s\n", yesNo(d.PnP));
    std::printf("Pull down I/O      %s\n", yesNo(d.PullDownEnableR));
    std::printf("Serial enabled     %s\n", yesNo(d.SerNumEnableR));
    std::printf("USB version        0x%04x\n", d.USBVersion);
    std::printf("External osc.      %s\n", yesNo(d.UseExtOsc));
    std::printf("High current I/O   %s\n", yesNo(d.HighDriveIOs));
    std::printf("Driver             %s\n", d.RIsD2XX ? "D2XX" : "virtual COM port");
    std::printf("Inverted lines     %s\n", invertedLines(d).c_str());
    const UCHAR cbus[] = {d.Cbus0, d.Cbus1, d.Cbus2, d.Cbus3, d.Cbus4};
    for (unsigned pin = 0; pin < std::size(cbus); ++pin)
        std::printf("CBUS%u              %s\n", pin, cbusName(cbus[pin]).c_str());
}

int show(const char *path)
{
    Image bytes;
    if (!readImage(path, bytes))
        return 1;
    const DecodedImage image(bytes);
    if (image.status != FT_OK) {
        std::printf("%s: not a valid FT232R EEPROM image (%zu bytes, status %u)\n", path,
                    bytes.size(), image.status);
        return 1;
    }
    printRecord(image);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "new" && argc == 4)
        return writeFresh(argv[2], argv[3]);
    if (command == "show" && argc == 3)
        return show(argv[2]);
    if (command == "serial" && argc == 3)
        return printSerial(argv[2]);
    return usage();
}
