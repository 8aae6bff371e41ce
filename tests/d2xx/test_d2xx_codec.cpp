// The FT232R image codec: records survive a round trip, bad records are
// refused without touching the image, and hostile images are refused without
// a byte written outside the caller's buffers.
#include "d2xx/ft232r_image.h"
#include "records.h"

#include <QTest>

using namespace kestrova::d2xx;

namespace {

constexpr std::size_t kChecksumAt = 0x7E;

QByteArray toBytes(const Image &image)
{
    return QByteArray(reinterpret_cast<const char *>(image.data()), int(image.size()));
}

Image toImage(const QByteArray &bytes)
{
    return Image(bytes.begin(), bytes.end());
}

Image encoded(ProgramRecord record)
{
    Image image(kImageSize, 0);
    if (encodeImage(record.record(), image) != FT_OK)
        qFatal("a test record does not encode");
    return image;
}

void setChecksum(Image &image)
{
    const std::uint16_t checksum = imageChecksum(image);
    image[kChecksumAt] = static_cast<std::uint8_t>(checksum);
    image[kChecksumAt + 1] = static_cast<std::uint8_t>(checksum >> 8);
}

// `image` with some bytes replaced and a checksum that matches again.
Image patched(Image image, std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes)
{
    for (const auto &[at, value] : bytes)
        image[at] = value;
    setChecksum(image);
    return image;
}

} // namespace

class TestCodec : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data() { addRecordRows(); }
    void roundTrip()
    {
        QFETCH(ProgramRecord, record);
        Image image(kImageSize, 0);
        QCOMPARE(encodeImage(record.record(), image), FT_STATUS(FT_OK));

        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        QCOMPARE(decodeImage(image, read), FT_STATUS(FT_OK));
        compareReadBack(record, read, buffers);
        QCOMPARE(bytesOf(serialOf(image)), bytesOf(record.serial));
    }

    void manufacturerIdIsTheSerialWithoutItsLastSix_data()
    {
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QByteArray>("manufacturerId");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("six characters") << QByteArray("A1B2C3") << QByteArray();
        QTest::newRow("seven characters") << QByteArray("KA1B2C3") << QByteArray("K");
        QTest::newRow("generated") << QByteArray("KST-00AF31") << QByteArray("KST-");
        QTest::newRow("longer than the buffer") << QByteArray("ABCDEFGHIJKLMNOPQRST123456")
                                                << QByteArray("ABCDEFGHIJKLMNO");
    }
    void manufacturerIdIsTheSerialWithoutItsLastSix()
    {
        QFETCH(QByteArray, serial);
        QFETCH(QByteArray, manufacturerId);
        ProgramRecord record;
        record.serial = serial.toStdString();
        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        QCOMPARE(decodeImage(encoded(record), read), FT_STATUS(FT_OK));
        QCOMPARE(bytesOf(buffers.text(ReadBuffers::ManufacturerId)), manufacturerId);
        QVERIFY(buffers.fencesIntact());
    }

    void charactersOutsideLatin1ReadAsQuestionMarks()
    {
        ProgramRecord record;
        record.manufacturer = "1234567"; // seven UTF-16 units to overwrite
        Image image = encoded(record);
        const std::uint16_t units[] = {u'A', u'\xE9', u'\x20AC', 0xD83D, 0xDE00, 0x0000, 0xDC00};
        const std::size_t firstUnitAt = 0x18 + 2;
        for (std::size_t index = 0; index < std::size(units); ++index) {
            image[firstUnitAt + 2 * index] = static_cast<std::uint8_t>(units[index]);
            image[firstUnitAt + 2 * index + 1] = static_cast<std::uint8_t>(units[index] >> 8);
        }
        setChecksum(image);

        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        QCOMPARE(decodeImage(image, read), FT_STATUS(FT_OK));
        // The euro sign, the surrogate pair, U+0000 and the lone surrogate: one '?' each.
        QCOMPARE(bytesOf(buffers.text(ReadBuffers::Manufacturer)), QByteArray("A\xE9????"));
    }

    void encodingKeepsTheBytesTheLayoutLeavesUndefined()
    {
        Image image(kImageSize, 0x5A);
        ProgramRecord record; // strings "Bench", "FT232R USB UART", "BN000001"
        QCOMPARE(encodeImage(record.record(), image), FT_STATUS(FT_OK));
        const std::size_t trailerEnd = 0x18 + (2 + 2 * 5) + (2 + 2 * 15) + (2 + 2 * 8) + 3;
        QCOMPARE(image[0x17], std::uint8_t(0x5A));
        for (std::size_t at = trailerEnd; at < kChecksumAt; ++at)
            QCOMPARE(image[at], std::uint8_t(0x5A));
        QCOMPARE(image[trailerEnd - 3], std::uint8_t(0x02)); // the PnP trailer ends the strings
        QCOMPARE(image[trailerEnd - 1], std::uint8_t(0x00)); // PnP on

        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        QCOMPARE(decodeImage(image, read), FT_STATUS(FT_OK));
        compareReadBack(record, read, buffers);
    }

    void encodingOverAWrongSizedImageStartsBlank()
    {
        Image image(10, 0x5A);
        QCOMPARE(encodeImage(ProgramRecord().record(), image), FT_STATUS(FT_OK));
        QCOMPARE(image.size(), kImageSize);
        QCOMPARE(image[0x17], std::uint8_t(0));
        QCOMPARE(bytesOf(serialOf(image)), QByteArray("BN000001"));
    }

    void refusedRecordLeavesTheImageAlone_data()
    {
        QTest::addColumn<ProgramRecord>("record");
        const auto row = [](const char *name, auto change) {
            ProgramRecord record;
            change(record);
            QTest::newRow(name) << record;
        };
        row("Signature1 not 0", [](ProgramRecord &r) { r.data.Signature1 = 1; });
        row("Signature2 not 0xFFFFFFFF", [](ProgramRecord &r) { r.data.Signature2 = 0; });
        row("Version 1", [](ProgramRecord &r) { r.data.Version = 1; });
        row("Version 3", [](ProgramRecord &r) { r.data.Version = 3; });
        row("47 characters", [](ProgramRecord &r) {
            r.manufacturer = std::string(16, 'M');
            r.description = std::string(16, 'D');
            r.serial = std::string(15, 'S');
        });
        row("a string longer than any image", [](ProgramRecord &r) {
            r.serial = std::string(300, 'S');
        });
        row("CBUS0 code 14", [](ProgramRecord &r) { r.data.Cbus0 = 14; });
        row("CBUS1 code 255", [](ProgramRecord &r) { r.data.Cbus1 = 255; });
        row("CBUS3 code 14", [](ProgramRecord &r) { r.data.Cbus3 = 14; });
        row("CBUS4 code 10", [](ProgramRecord &r) { r.data.Cbus4 = 10; });
        row("MaxPower 501", [](ProgramRecord &r) { r.data.MaxPower = 501; });
        row("MaxPower 0xFFFF", [](ProgramRecord &r) { r.data.MaxPower = 0xFFFF; });
    }
    void refusedRecordLeavesTheImageAlone()
    {
        QFETCH(ProgramRecord, record);
        const Image before = encoded(ProgramRecord());
        Image image = before;
        QCOMPARE(validateRecord(record.record()), FT_STATUS(FT_INVALID_PARAMETER));
        QCOMPARE(encodeImage(record.record(), image), FT_STATUS(FT_INVALID_PARAMETER));
        QCOMPARE(toBytes(image), toBytes(before));
    }

    void nullStringIsRefused()
    {
        for (char *FT_PROGRAM_DATA::*field :
             {&FT_PROGRAM_DATA::Manufacturer, &FT_PROGRAM_DATA::Description,
              &FT_PROGRAM_DATA::SerialNumber}) {
            ProgramRecord record;
            FT_PROGRAM_DATA data = record.record();
            data.*field = nullptr;
            Image image = encoded(ProgramRecord());
            const Image before = image;
            QCOMPARE(encodeImage(data, image), FT_STATUS(FT_INVALID_PARAMETER));
            QCOMPARE(toBytes(image), toBytes(before));
        }
        // ManufacturerId has no place in the image, so it is not needed.
        ProgramRecord record;
        FT_PROGRAM_DATA data = record.record();
        data.ManufacturerId = nullptr;
        QCOMPARE(validateRecord(data), FT_STATUS(FT_OK));
    }

    void hostileImageIsRefusedWithinBounds_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<FT_STATUS>("status");
        // Descriptors of `valid`: manufacturer "Bench" at 0x18 (12 bytes),
        // description at 0x24 (32 bytes), serial at 0x44 (18 bytes).
        const Image valid = encoded(ProgramRecord());
        const auto row = [](const char *name, const Image &image, FT_STATUS status) {
            QTest::newRow(name) << toBytes(image) << status;
        };
        Image longer = valid;
        longer.push_back(0);
        Image doubled = valid;
        doubled.insert(doubled.end(), valid.begin(), valid.end());
        Image badChecksum = valid;
        badChecksum[0x09] ^= 1;

        row("empty", Image(), FT_EEPROM_READ_FAILED);
        row("127 bytes", Image(valid.begin(), valid.end() - 1), FT_EEPROM_READ_FAILED);
        row("129 bytes", longer, FT_EEPROM_READ_FAILED);
        row("256 bytes", doubled, FT_EEPROM_READ_FAILED);
        row("bad checksum", badChecksum, FT_EEPROM_READ_FAILED);
        row("all 0x00", Image(kImageSize, 0x00), FT_EEPROM_READ_FAILED);
        row("all 0xFF (erased)", Image(kImageSize, 0xFF), FT_EEPROM_NOT_PRESENT);
        row("string length 0", patched(valid, {{0x0F, 0}}), FT_EEPROM_READ_FAILED);
        row("string length 1", patched(valid, {{0x0F, 1}}), FT_EEPROM_READ_FAILED);
        row("odd string length", patched(valid, {{0x11, 31}, {0x24, 31}}), FT_EEPROM_READ_FAILED);
        row("huge string length", patched(valid, {{0x13, 0xFE}, {0x44, 0xFE}}),
            FT_EEPROM_READ_FAILED);
        row("descriptor running into the checksum",
            patched(valid, {{0x12, 0x80 | 0x7A}, {0x13, 6}, {0x7A, 6}, {0x7B, 0x03}}),
            FT_EEPROM_READ_FAILED);
        row("descriptor in the header", patched(valid, {{0x0E, 0x80 | 0x08}}),
            FT_EEPROM_READ_FAILED);
        row("the same descriptor twice", patched(valid, {{0x10, 0x80 | 0x18}, {0x11, 12}}),
            FT_EEPROM_READ_FAILED);
        row("descriptor inside another",
            patched(valid, {{0x10, 0x80 | 0x1C}, {0x11, 4}, {0x1C, 4}, {0x1D, 0x03}}),
            FT_EEPROM_READ_FAILED);
        row("wrong descriptor type", patched(valid, {{0x19, 0x04}}), FT_EEPROM_READ_FAILED);
        row("descriptor length disagreeing with its pointer", patched(valid, {{0x18, 10}}),
            FT_EEPROM_READ_FAILED);
    }
    void hostileImageIsRefusedWithinBounds()
    {
        QFETCH(QByteArray, image);
        QFETCH(FT_STATUS, status);
        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        std::array<unsigned char, sizeof read> recordBefore;
        std::memcpy(recordBefore.data(), &read, sizeof read);

        QCOMPARE(decodeImage(toImage(image), read), status);
        QVERIFY(buffers.fencesIntact());
        QVERIFY(buffers.untouched());
        QVERIFY(std::memcmp(recordBefore.data(), &read, sizeof read) == 0);
        QCOMPARE(bytesOf(serialOf(toImage(image))), QByteArray());
    }
};

QTEST_APPLESS_MAIN(TestCodec)
#include "test_d2xx_codec.moc"
