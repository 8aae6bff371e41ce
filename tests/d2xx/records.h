// Records to program that own their strings, the window's read buffers fenced
// by canary bytes, and a table of records that exercises every field.
#pragma once

#include "d2xx/ft232r_image.h"
#include "ftd2xx.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

// A record to program, with its own strings.
struct ProgramRecord {
    FT_PROGRAM_DATA data = kestrova::d2xx::factoryRecord();
    std::string manufacturer = "Bench";
    std::string manufacturerId = "ignored";
    std::string description = "FT232R USB UART";
    std::string serial = "BN000001";

    // The record with its string pointers aimed at this object's strings.
    FT_PROGRAM_DATA record()
    {
        FT_PROGRAM_DATA result = data;
        result.Manufacturer = manufacturer.data();
        result.ManufacturerId = manufacturerId.data();
        result.Description = description.data();
        result.SerialNumber = serial.data();
        return result;
    }
};
Q_DECLARE_METATYPE(ProgramRecord)

// The four buffers a caller hands to FT_EE_Read, sized like the window's,
// each fenced by canary bytes and filled with a sentinel.
class ReadBuffers {
public:
    enum Which { Manufacturer, ManufacturerId, Description, Serial };

    ReadBuffers()
    {
        const std::array<std::size_t, 4> sizes = {
            FT_MANUFACTURER_BUFFER_SIZE, FT_MANUFACTURER_ID_BUFFER_SIZE,
            FT_DESCRIPTION_BUFFER_SIZE, FT_SERIAL_NUMBER_BUFFER_SIZE};
        for (std::size_t which = 0; which < sizes.size(); ++which) {
            buffers[which].size = sizes[which];
            buffers[which].bytes.assign(sizes[which] + 2 * kFence, kCanary);
            std::fill_n(buffers[which].bytes.begin() + kFence, sizes[which], kSentinel);
        }
    }

    // A read record: the header set, the strings aimed at the buffers, the rest zero.
    FT_PROGRAM_DATA record()
    {
        FT_PROGRAM_DATA data{};
        data.Signature2 = 0xFFFFFFFF;
        data.Version = 2;
        data.Manufacturer = inside(Manufacturer);
        data.ManufacturerId = inside(ManufacturerId);
        data.Description = inside(Description);
        data.SerialNumber = inside(Serial);
        return data;
    }

    std::string text(Which which) const
    {
        const char *start = buffers[which].bytes.data() + kFence;
        return std::string(start, strnlen(start, buffers[which].size));
    }

    bool fencesIntact() const
    {
        for (const Guarded &buffer : buffers) {
            const auto intact = [](char byte) { return byte == kCanary; };
            if (!std::all_of(buffer.bytes.begin(), buffer.bytes.begin() + kFence, intact)
                || !std::all_of(buffer.bytes.end() - kFence, buffer.bytes.end(), intact))
                return false;
        }
        return true;
    }

    bool untouched() const
    {
        for (const Guarded &buffer : buffers) {
            if (!std::all_of(buffer.bytes.begin() + kFence, buffer.bytes.end() - kFence,
                             [](char byte) { return byte == kSentinel; }))
                return false;
        }
        return true;
    }

private:
    static constexpr std::size_t kFence = 16;
    static constexpr char kCanary = '#';
    static constexpr char kSentinel = '~';

    struct Guarded {
        std::vector<char> bytes;
        std::size_t size = 0;
    };

    char *inside(Which which) { return buffers[which].bytes.data() + kFence; }

    std::array<Guarded, 4> buffers;
};

// `text` as a buffer of `size` bytes would hold it.
inline std::string cutTo(const std::string &text, std::size_t size)
{
    return text.substr(0, size - 1);
}

// Adds a "record" column of records that together set every field, flag,
// inversion bit and CBUS code, with empty, full-length and over-long strings
// and odd MaxPower values.
inline void addRecordRows()
{
    QTest::addColumn<ProgramRecord>("record");

    QTest::newRow("factory defaults") << ProgramRecord();

    ProgramRecord allOn;
    FT_PROGRAM_DATA &on = allOn.data;
    on.MaxPower = 500;
    on.PnP = on.SelfPowered = on.RemoteWakeup = 1;
    on.UseExtOsc = on.HighDriveIOs = on.PullDownEnableR = on.SerNumEnableR = on.RIsD2XX = 1;
    on.InvertTXD = on.InvertRXD = on.InvertRTS = on.InvertCTS = 1;
    on.InvertDTR = on.InvertDSR = on.InvertDCD = on.InvertRI = 1;
    // Fields an FT232R does not have, which a read reports as 0.
    on.PullDownEnable = on.SerNumEnable = on.PullDownEnable5 = on.SerNumEnable5 = 1;
    on.PullDownEnable7 = on.SerNumEnable7 = on.PullDownEnable8 = on.SerNumEnable8 = 1;
    QTest::newRow("every flag on") << allOn;

    ProgramRecord allOff;
    FT_PROGRAM_DATA &off = allOff.data;
    off.MaxPower = 0;
    off.PnP = off.SerNumEnableR = 0;
    off.Cbus0 = off.Cbus1 = off.Cbus2 = off.Cbus3 = off.Cbus4 = 0;
    QTest::newRow("every flag off") << allOff;

    const std::array<UCHAR FT_PROGRAM_DATA::*, 8> inversions = {
        &FT_PROGRAM_DATA::InvertTXD, &FT_PROGRAM_DATA::InvertRXD, &FT_PROGRAM_DATA::InvertRTS,
        &FT_PROGRAM_DATA::InvertCTS, &FT_PROGRAM_DATA::InvertDTR, &FT_PROGRAM_DATA::InvertDSR,
        &FT_PROGRAM_DATA::InvertDCD, &FT_PROGRAM_DATA::InvertRI};
    for (std::size_t bit = 0; bit < inversions.size(); ++bit) {
        ProgramRecord inverted;
        inverted.data.*inversions[bit] = 1;
        QTest::addRow("inversion bit %zu alone", bit) << inverted;
    }

    for (UCHAR code = 0; code <= 13; ++code) {
        ProgramRecord cbus;
        cbus.data.Cbus0 = cbus.data.Cbus1 = cbus.data.Cbus2 = cbus.data.Cbus3 = code;
        cbus.data.Cbus4 = code % 10;
        QTest::addRow("CBUS code %d", code) << cbus;
    }
    ProgramRecord mixedCbus;
    mixedCbus.data.Cbus0 = 13;
    mixedCbus.data.Cbus1 = 0;
    mixedCbus.data.Cbus2 = 7;
    mixedCbus.data.Cbus3 = 12;
    mixedCbus.data.Cbus4 = 9;
    QTest::newRow("a different CBUS code on each pin") << mixedCbus;

    ProgramRecord empty;
    empty.manufacturer = empty.description = empty.serial = "";
    QTest::newRow("empty strings") << empty;

    ProgramRecord full;
    full.manufacturer = "Manufacturer-16c";         // 16 > 11
    full.description = "Description 15c";           // fits 27
    full.serial = "SERIAL-0123456X";                // 15, the serial buffer's limit
    QTest::newRow("46 characters, cut on read") << full;

    ProgramRecord longDescription;
    longDescription.manufacturer = longDescription.serial = "";
    longDescription.description = std::string(46, 'D');
    QTest::newRow("one 46-character string") << longDescription;

    ProgramRecord latin1;
    latin1.manufacturer = "Gr\xFC\xDF";
    latin1.description = "\xA9 \xE9t\xE9 \xFF";
    QTest::newRow("Latin-1 letters above 0x7F") << latin1;

    for (WORD milliamps : {1, 91, 499}) {
        ProgramRecord odd;
        odd.data.MaxPower = milliamps;
        QTest::addRow("odd MaxPower %d", milliamps) << odd;
    }

    ProgramRecord ids;
    ids.data.VendorId = 0xABCD;
    ids.data.ProductId = 0x12EF;
    ids.data.USBVersion = 0x0110;
    QTest::newRow("other IDs and USB version") << ids;
}

inline QByteArray bytesOf(const std::string &text)
{
    return QByteArray::fromStdString(text);
}

// The serial generator's prefix that a read reports as ManufacturerId.
inline std::string manufacturerIdFor(const std::string &serial)
{
    return serial.size() > 6 ? serial.substr(0, serial.size() - 6) : std::string();
}

// Checks a read record and its buffers against the record that was programmed.
inline void compareReadBack(const ProgramRecord &sent, const FT_PROGRAM_DATA &read,
                            const ReadBuffers &buffers)
{
    const FT_PROGRAM_DATA &want = sent.data;
    const auto flag = [](unsigned value) { return value ? 1 : 0; };
    QCOMPARE(read.VendorId, want.VendorId);
    QCOMPARE(read.ProductId, want.ProductId);
    QCOMPARE(int(read.MaxPower), want.MaxPower / 2 * 2);
    QCOMPARE(int(read.PnP), flag(want.PnP));
    QCOMPARE(int(read.SelfPowered), flag(want.SelfPowered));
    QCOMPARE(int(read.RemoteWakeup), flag(want.RemoteWakeup));
    QCOMPARE(int(read.USBVersionEnable), 1);
    QCOMPARE(read.USBVersion, want.USBVersion);
    QCOMPARE(int(read.UseExtOsc), flag(want.UseExtOsc));
    QCOMPARE(int(read.HighDriveIOs), flag(want.HighDriveIOs));
    QCOMPARE(int(read.EndpointSize), 64);
    QCOMPARE(int(read.PullDownEnableR), flag(want.PullDownEnableR));
    QCOMPARE(int(read.SerNumEnableR), flag(want.SerNumEnableR));
    QCOMPARE(int(read.RIsD2XX), flag(want.RIsD2XX));
    const QList<int> inversions = {read.InvertTXD, read.InvertRXD, read.InvertRTS,
                                           read.InvertCTS, read.InvertDTR, read.InvertDSR,
                                           read.InvertDCD, read.InvertRI};
    const QList<int> wantInversions = {
        flag(want.InvertTXD), flag(want.InvertRXD), flag(want.InvertRTS), flag(want.InvertCTS),
        flag(want.InvertDTR), flag(want.InvertDSR), flag(want.InvertDCD), flag(want.InvertRI)};
    QCOMPARE(inversions, wantInversions);
    const QList<int> cbus = {read.Cbus0, read.Cbus1, read.Cbus2, read.Cbus3, read.Cbus4};
    const QList<int> wantCbus = {want.Cbus0, want.Cbus1, want.Cbus2, want.Cbus3,
                                         want.Cbus4};
    QCOMPARE(cbus, wantCbus);
    const QList<int> otherFamilies = {
        read.PullDownEnable,  read.SerNumEnable,  read.USBVersionEnable5, read.USBVersion5,
        read.PullDownEnable5, read.SerNumEnable5, read.PullDownEnable7,   read.SerNumEnable7,
        read.PullDownEnable8, read.SerNumEnable8};
    QCOMPARE(otherFamilies, QList<int>(otherFamilies.size(), 0));

    QCOMPARE(bytesOf(buffers.text(ReadBuffers::Manufacturer)),
             bytesOf(cutTo(sent.manufacturer, FT_MANUFACTURER_BUFFER_SIZE)));
    QCOMPARE(bytesOf(buffers.text(ReadBuffers::ManufacturerId)),
             bytesOf(cutTo(manufacturerIdFor(sent.serial), FT_MANUFACTURER_ID_BUFFER_SIZE)));
    QCOMPARE(bytesOf(buffers.text(ReadBuffers::Description)),
             bytesOf(cutTo(sent.description, FT_DESCRIPTION_BUFFER_SIZE)));
    QCOMPARE(bytesOf(buffers.text(ReadBuffers::Serial)),
             bytesOf(cutTo(sent.serial, FT_SERIAL_NUMBER_BUFFER_SIZE)));
    QVERIFY(buffers.fencesIntact());
}
