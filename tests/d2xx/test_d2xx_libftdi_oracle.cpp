// Our FT232R images against libftdi1, an independent implementation of the
// same layout: it decodes the images we build exactly as we do, and we decode
// the images it builds as it meant them. Only well-formed images we built are
// handed to libftdi1's decoder, which is not safe on malformed ones.
#include "d2xx/ft232r_image.h"
#include "records.h"

#include <ftdi.h>

#include <QTest>

using namespace kestrova::d2xx;

namespace {

// A libftdi1 context that believes an FT232R is attached, without a device.
// Its defaults need a non-null USB handle: a placeholder that libftdi1 never
// uses, reset to null before the context is freed.
class Libftdi {
public:
    Libftdi(const char *manufacturer = "", const char *product = "", const char *serial = "")
        : ftdi(ftdi_new())
    {
        if (!ftdi)
            qFatal("libftdi1 could not start");
        ftdi_set_usbdev(ftdi, reinterpret_cast<libusb_device_handle *>(&placeholder));
        ftdi->type = TYPE_R;
        std::string names[] = {manufacturer, product, serial};
        if (ftdi_eeprom_initdefaults(ftdi, names[0].data(), names[1].data(), names[2].data()) != 0)
            qFatal("libftdi1 has no FT232R defaults");
    }
    ~Libftdi()
    {
        ftdi_set_usbdev(ftdi, nullptr);
        ftdi_free(ftdi);
    }
    Libftdi(const Libftdi &) = delete;
    Libftdi &operator=(const Libftdi &) = delete;

    int decode(const Image &image)
    {
        ftdi_set_eeprom_buf(ftdi, image.data(), int(image.size()));
        return ftdi_eeprom_decode(ftdi, 0);
    }

    void set(ftdi_eeprom_value name, int value)
    {
        if (ftdi_set_eeprom_value(ftdi, name, value) != 0)
            qFatal("libftdi1 refuses value %d", int(name));
    }

    Image build()
    {
        if (ftdi_eeprom_build(ftdi) < 0)
            qFatal("libftdi1 could not build the image");
        Image image(kImageSize);
        ftdi_get_eeprom_buf(ftdi, image.data(), int(image.size()));
        return image;
    }

    int value(ftdi_eeprom_value name)
    {
        int value = -1;
        if (ftdi_get_eeprom_value(ftdi, name, &value) != 0)
            qFatal("libftdi1 has no value %d", int(name));
        return value;
    }

    // Manufacturer, product description and serial number, uncut.
    QList<QByteArray> strings()
    {
        char texts[3][kImageSize] = {};
        ftdi_eeprom_get_strings(ftdi, texts[0], kImageSize, texts[1], kImageSize, texts[2],
                                kImageSize);
        return {texts[0], texts[1], texts[2]};
    }

private:
    int placeholder = 0;
    ftdi_context *ftdi;
};

QList<int> inversionsOf(const FT_PROGRAM_DATA &data)
{
    return {data.InvertTXD, data.InvertRXD, data.InvertRTS, data.InvertCTS,
            data.InvertDTR, data.InvertDSR, data.InvertDCD, data.InvertRI};
}

QList<int> cbusOf(const FT_PROGRAM_DATA &data)
{
    return {data.Cbus0, data.Cbus1, data.Cbus2, data.Cbus3, data.Cbus4};
}

QList<int> bitsOf(int byte)
{
    QList<int> bits;
    for (int bit = 0; bit < 8; ++bit)
        bits << ((byte >> bit) & 1);
    return bits;
}

// libftdi1's settings for a record, as ftdi_eeprom_value pairs.
using Settings = QList<QPair<int, int>>;

} // namespace

Q_DECLARE_METATYPE(Settings)

class TestLibftdiOracle : public QObject
{
    Q_OBJECT

private slots:
    void libftdiDecodesOurImagesAsWeDo_data() { addRecordRows(); }
    void libftdiDecodesOurImagesAsWeDo()
    {
        QFETCH(ProgramRecord, record);
        Image image(kImageSize, 0);
        QCOMPARE(encodeImage(record.record(), image), FT_STATUS(FT_OK));
        const DecodedImage ours(image);
        QCOMPARE(ours.status, FT_STATUS(FT_OK));
        const FT_PROGRAM_DATA &we = ours.data;

        Libftdi libftdi;
        QCOMPARE(libftdi.decode(image), 0); // 0: the checksum matched
        QCOMPARE(libftdi.value(VENDOR_ID), int(we.VendorId));
        QCOMPARE(libftdi.value(PRODUCT_ID), int(we.ProductId));
        QCOMPARE(libftdi.value(RELEASE_NUMBER), 0x0600);
        QCOMPARE(libftdi.value(SELF_POWERED), int(we.SelfPowered));
        QCOMPARE(libftdi.value(REMOTE_WAKEUP), int(we.RemoteWakeup));
        QCOMPARE(libftdi.value(MAX_POWER), int(we.MaxPower));
        QCOMPARE(libftdi.value(SUSPEND_PULL_DOWNS), int(we.PullDownEnableR));
        QCOMPARE(libftdi.value(USE_SERIAL), int(we.SerNumEnableR));
        QCOMPARE(libftdi.value(USB_VERSION), int(we.USBVersion));
        QCOMPARE(libftdi.value(CHANNEL_A_DRIVER), int(!we.RIsD2XX)); // libftdi1: 1 for VCP
        QCOMPARE(libftdi.value(HIGH_CURRENT), int(we.HighDriveIOs));
        QCOMPARE(libftdi.value(EXTERNAL_OSCILLATOR), int(we.UseExtOsc));
        QCOMPARE(bitsOf(libftdi.value(INVERT)), inversionsOf(we));
        const QList<int> libftdiCbus = {libftdi.value(CBUS_FUNCTION_0), libftdi.value(CBUS_FUNCTION_1),
                                        libftdi.value(CBUS_FUNCTION_2), libftdi.value(CBUS_FUNCTION_3),
                                        libftdi.value(CBUS_FUNCTION_4)};
        QCOMPARE(libftdiCbus, cbusOf(we));
        const QList<QByteArray> sent = {bytesOf(record.manufacturer), bytesOf(record.description),
                                        bytesOf(record.serial)};
        QCOMPARE(libftdi.strings(), sent);
        QCOMPARE(bytesOf(serialOf(image)), sent[2]);
    }

    void weDecodeLibftdiImagesAsItMeantThem_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<int>("pnp");
        QTest::newRow("libftdi1's FT232R defaults") << Settings() << 1;
        QTest::newRow("every option set")
            << Settings{{VENDOR_ID, 0x1234}, {PRODUCT_ID, 0xABCD}, {SELF_POWERED, 1},
                        {REMOTE_WAKEUP, 1}, {MAX_POWER, 500}, {SUSPEND_PULL_DOWNS, 1},
                        {HIGH_CURRENT, 1}, {EXTERNAL_OSCILLATOR, 1}, {CHANNEL_A_DRIVER, 1},
                        {INVERT, 0xA5}, {IS_NOT_PNP, 1}, {CBUS_FUNCTION_0, 12},
                        {CBUS_FUNCTION_1, 11}, {CBUS_FUNCTION_2, 10}, {CBUS_FUNCTION_3, 6},
                        {CBUS_FUNCTION_4, 9}}
            << 0;
        QTest::newRow("serial number off, odd power")
            << Settings{{USE_SERIAL, 0}, {MAX_POWER, 101}, {INVERT, 0x5A}} << 1;
    }
    void weDecodeLibftdiImagesAsItMeantThem()
    {
        QFETCH(Settings, settings);
        QFETCH(int, pnp);
        Libftdi libftdi("Acme", "Widget Bridge", "AC123456");
        for (const auto &[name, value] : settings)
            libftdi.set(ftdi_eeprom_value(name), value);
        const Image image = libftdi.build();

        const DecodedImage ours(image);
        QCOMPARE(ours.status, FT_STATUS(FT_OK));
        const FT_PROGRAM_DATA &we = ours.data;
        QCOMPARE(int(we.VendorId), libftdi.value(VENDOR_ID));
        QCOMPARE(int(we.ProductId), libftdi.value(PRODUCT_ID));
        QCOMPARE(int(we.SelfPowered), libftdi.value(SELF_POWERED));
        QCOMPARE(int(we.RemoteWakeup), libftdi.value(REMOTE_WAKEUP));
        QCOMPARE(int(we.MaxPower), libftdi.value(MAX_POWER) / 2 * 2);
        QCOMPARE(int(we.PullDownEnableR), libftdi.value(SUSPEND_PULL_DOWNS));
        QCOMPARE(int(we.SerNumEnableR), libftdi.value(USE_SERIAL));
        QCOMPARE(int(we.USBVersion), libftdi.value(USB_VERSION));
        QCOMPARE(int(we.RIsD2XX), int(!libftdi.value(CHANNEL_A_DRIVER)));
        QCOMPARE(int(we.HighDriveIOs), libftdi.value(HIGH_CURRENT));
        QCOMPARE(int(we.UseExtOsc), libftdi.value(EXTERNAL_OSCILLATOR));
        QCOMPARE(inversionsOf(we), bitsOf(libftdi.value(INVERT)));
        const QList<int> libftdiCbus = {libftdi.value(CBUS_FUNCTION_0), libftdi.value(CBUS_FUNCTION_1),
                                        libftdi.value(CBUS_FUNCTION_2), libftdi.value(CBUS_FUNCTION_3),
                                        libftdi.value(CBUS_FUNCTION_4)};
        QCOMPARE(cbusOf(we), libftdiCbus);
        // libftdi1 writes the PnP flag but does not read it back: the row knows it.
        QCOMPARE(int(we.PnP), pnp);
        QCOMPARE(QList<QByteArray>({ours.manufacturer, ours.description, ours.serialNumber}),
                 QList<QByteArray>({"Acme", "Widget Bridge", "AC123456"}));
    }
};

QTEST_APPLESS_MAIN(TestLibftdiOracle)
#include "test_d2xx_libftdi_oracle.moc"
