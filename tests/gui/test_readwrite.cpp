// Reading the EEPROM into the form and programming the form into the device,
// driven through the real buttons of the main window over the simulated bench.
#include "bench.h"
#include "d2xx/ft232r_image.h"
#include "ftdidevthread.h"
#include "guitest.h"
#include "mainwindowtestaccess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QThread>

#include <array>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

using namespace kestrova::d2xx;
using guitest::child;
using Access = MainWindowTestAccess;

namespace {

const int pollMs = 20;
// Generous bound for the watcher to catch up; only a broken lock runs into it.
const int watcherTimeoutMs = 10000;

const QString noDevice = "No Device found!!! Can not proceed!!";
const QString moreThanOne = "More than one Device found!!! Can not proceed!!";

// The bench as the device layer sees it, plus control over the GUI thread's
// device count: the watcher counts from its own thread, so it can neither use
// up a count failure meant for an EEPROM operation nor blur the tally.
class GuiCountBus : public Bus
{
public:
    explicit GuiCountBus(std::shared_ptr<SimBench> bench) : bench(std::move(bench)) {}

    // The GUI thread's next count fails with `status`.
    void failNextGuiCount(FT_STATUS status) { pendingFailure = status; }
    // Device counts made by the GUI thread so far.
    int guiCounts() const { return counts; }

    FT_STATUS countDevices(DWORD &count) override
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            ++counts;
            if (pendingFailure != FT_OK) {
                const FT_STATUS status = pendingFailure;
                pendingFailure = FT_OK;
                return status;
            }
        }
        return bench->countDevices(count);
    }
    FT_STATUS serialNumber(DWORD index, std::string &serial) override
    {
        return bench->serialNumber(index, serial);
    }
    FT_STATUS open(DWORD index, std::unique_ptr<Device> &device) override
    {
        return bench->open(index, device);
    }
    void close(std::unique_ptr<Device> device) override { bench->close(std::move(device)); }

private:
    std::shared_ptr<SimBench> bench;
    // Touched by the GUI thread only.
    FT_STATUS pendingFailure = FT_OK;
    int counts = 0;
};

struct BusInstallation {
    explicit BusInstallation(std::shared_ptr<Bus> bus) { installBus(std::move(bus)); }
    ~BusInstallation() { installBus(nullptr); }
};

// The bench installed first and removed last; the shown window with a fast
// watcher in between.
struct Rig {
    std::shared_ptr<SimBench> bench = std::make_shared<SimBench>();
    std::shared_ptr<GuiCountBus> bus = std::make_shared<GuiCountBus>(bench);
    BusInstallation installation{bus};
    MainWindow window{nullptr, pollMs};

    Rig()
    {
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qFatal("main window not exposed");
    }
    template <class T>
    T *widget(const QString &name)
    {
        return child<T>(&window, name);
    }
    QLineEdit *edit(const QString &name) { return widget<QLineEdit>(name); }
    QCheckBox *check(const QString &name) { return widget<QCheckBox>(name); }
    QComboBox *cbus(int pin) { return widget<QComboBox>(QString("cbus%1cb").arg(pin)); }

    void attach(const std::string &name, const Image &image, bool ft232r = true)
    {
        bench->attach(name, image, ft232r);
        attached.insert(name);
    }
    void detach(const std::string &name)
    {
        bench->detach(name);
        attached.erase(name);
    }
    std::set<std::string> attached;

    QStringList log() const { return guitest::logLines(&window); }
    QStringList listed() const { return guitest::listedDevices(&window); }
    // Waits until the watcher has shown exactly these serial numbers.
    bool waitForListed(const QStringList &serials)
    {
        return QTest::qWaitFor([&] { return listed() == serials; }, watcherTimeoutMs);
    }
    // The device calls made since the last clearCalls(), as "Open A", "Read A",
    // "Close A" ("Open" alone for a failed open); the watcher's listing calls
    // are left out, and without `reads` so are the library's own read-backs
    // around a programming.
    QStringList deviceCalls(bool reads = true) const
    {
        static const char *const names[] = {"Count", "SerialByIndex", "Open",
                                            "Read",  "Program",       "Close"};
        QStringList made;
        for (const CallRecord &record : bench->calls()) {
            if (record.call == Call::Count || record.call == Call::SerialByIndex
                || (!reads && record.call == Call::Read))
                continue;
            QString entry = names[static_cast<int>(record.call)];
            if (!record.device.empty())
                entry += ' ' + QString::fromStdString(record.device);
            made << entry;
        }
        return made;
    }
    void clickRead() { QTest::mouseClick(widget<QPushButton>("updateBUT"), Qt::LeftButton); }
    void clickWrite() { QTest::mouseClick(widget<QPushButton>("programBUT"), Qt::LeftButton); }
};

// An EEPROM configuration as the form shows it.
struct Config {
    QString manufacturer;
    QString description;
    QString serial;
    int maxPower;
    // PnP, pull-down, self powered, remote wakeup, high current, external oscillator, D2XX.
    std::array<bool, 7> options;
    // TXD, RXD, RTS, CTS, DTR, DSR, DCD, RI.
    std::array<bool, 8> inversions;
    std::array<int, 5> cbus;
};

const char *const optionBoxes[] = {"pnpchb",           "pulldownenablechb", "selfpoweredchb",
                                   "remotewkaeupchb",  "highcurrentiochb",  "extoscchb",
                                   "driverchb"};
const char *const inversionBoxes[] = {"TXDchb", "RXDchb", "RTSchb", "CTSchb",
                                      "DTRchb", "DSRchb", "DCDchb", "RIchb"};

// Every field set, flags and CBUS functions mixed so that two swapped fields differ.
const Config mixed = {"Kestrova Co", "FT232R bridge", "KV-700A1B2", 250,
                      {true, true, false, true, false, true, false},
                      {true, false, true, true, false, false, true, false},
                      {13, 5, 11, 8, 9}};
// The opposite of `mixed` in every field, with Latin-1 letters and a lower-case serial.
const Config opposite = {"M\u00fcller", "B\u00fcroger\u00e4t \u00b15V", "mxq0f1e2d", 100,
                         {false, false, true, false, true, false, true},
                         {false, true, false, false, true, true, false, true},
                         {0, 12, 3, 10, 2}};
// The longest strings the chip holds together (46 characters), two at their field's limit.
const Config longest = {"ABCDEFGHIJK", "Twenty character des", "SERIAL-NO-12345", 500,
                        {true, true, true, true, true, true, true},
                        {true, true, true, true, true, true, true, true},
                        {0, 1, 2, 3, 4}};

// The serial number generator's prefix of a serial number, as a read shows it.
QString prefixOf(const QString &serial)
{
    return serial.size() > 6 ? serial.left(serial.size() - 6) : QString();
}

using Decoded = DecodedImage;

#define KV_NUMBER_FIELDS(X)                                                                       \
    X(VendorId) X(ProductId) X(MaxPower) X(PnP) X(SelfPowered) X(RemoteWakeup)                    \
    X(PullDownEnable) X(SerNumEnable) X(USBVersionEnable) X(USBVersion) X(PullDownEnable5)        \
    X(SerNumEnable5) X(USBVersionEnable5) X(USBVersion5) X(PullDownEnable7) X(SerNumEnable7)      \
    X(PullDownEnable8) X(SerNumEnable8) X(UseExtOsc) X(HighDriveIOs) X(EndpointSize)              \
    X(PullDownEnableR) X(SerNumEnableR) X(InvertTXD) X(InvertRXD) X(InvertRTS) X(InvertCTS)       \
    X(InvertDTR) X(InvertDSR) X(InvertDCD) X(InvertRI) X(Cbus0) X(Cbus1) X(Cbus2) X(Cbus3)        \
    X(Cbus4) X(RIsD2XX)

// Every field in which two decoded images differ, named.
QStringList differences(const Decoded &a, const Decoded &b)
{
    QStringList found;
    if (a.status != FT_OK || b.status != FT_OK)
        found << QString("decode status %1 / %2").arg(a.status).arg(b.status);
#define KV_COMPARE(field)                                                                         \
    if (a.data.field != b.data.field)                                                             \
        found << QString(#field " %1 / %2").arg(a.data.field).arg(b.data.field);
    KV_NUMBER_FIELDS(KV_COMPARE)
#undef KV_COMPARE
    const std::pair<const char *, std::pair<const char *, const char *>> strings[] = {
        {"Manufacturer", {a.manufacturer, b.manufacturer}},
        {"ManufacturerId", {a.manufacturerId, b.manufacturerId}},
        {"Description", {a.description, b.description}},
        {"SerialNumber", {a.serialNumber, b.serialNumber}}};
    for (const auto &[name, texts] : strings) {
        if (std::strcmp(texts.first, texts.second) != 0)
            found << QString("%1 '%2' / '%3'").arg(name, texts.first, texts.second);
    }
    return found;
}

// An image of an FT232R carrying `config`, with the given IDs.
Image imageOf(const Config &config, WORD vendorId = 0x0403, WORD productId = 0x6001)
{
    QByteArray manufacturer = config.manufacturer.toLatin1();
    QByteArray description = config.description.toLatin1();
    QByteArray serial = config.serial.toLatin1();
    FT_PROGRAM_DATA data{};
    data.Signature2 = 0xFFFFFFFF;
    data.Version = 2;
    data.VendorId = vendorId;
    data.ProductId = productId;
    data.Manufacturer = manufacturer.data();
    data.Description = description.data();
    data.SerialNumber = serial.data();
    data.MaxPower = static_cast<WORD>(config.maxPower);
    data.PnP = config.options[0];
    data.PullDownEnableR = config.options[1];
    data.SelfPowered = config.options[2];
    data.RemoteWakeup = config.options[3];
    data.HighDriveIOs = config.options[4];
    data.UseExtOsc = config.options[5];
    data.RIsD2XX = config.options[6];
    UCHAR FT_PROGRAM_DATA::*const inversions[] = {
        &FT_PROGRAM_DATA::InvertTXD, &FT_PROGRAM_DATA::InvertRXD, &FT_PROGRAM_DATA::InvertRTS,
        &FT_PROGRAM_DATA::InvertCTS, &FT_PROGRAM_DATA::InvertDTR, &FT_PROGRAM_DATA::InvertDSR,
        &FT_PROGRAM_DATA::InvertDCD, &FT_PROGRAM_DATA::InvertRI};
    for (int bit = 0; bit < 8; ++bit)
        data.*inversions[bit] = config.inversions[bit];
    data.Cbus0 = static_cast<UCHAR>(config.cbus[0]);
    data.Cbus1 = static_cast<UCHAR>(config.cbus[1]);
    data.Cbus2 = static_cast<UCHAR>(config.cbus[2]);
    data.Cbus3 = static_cast<UCHAR>(config.cbus[3]);
    data.Cbus4 = static_cast<UCHAR>(config.cbus[4]);
    data.SerNumEnableR = 1;
    data.USBVersionEnable = 1;
    data.USBVersion = 0x0200;
    Image image;
    if (encodeImage(data, image) != FT_OK)
        qFatal("test configuration does not fit an FT232R image");
    return image;
}

// Makes an image edited by hand valid again.
void renewChecksum(Image &image)
{
    const std::uint16_t checksum = imageChecksum(image);
    image[0x7E] = static_cast<std::uint8_t>(checksum);
    image[0x7F] = static_cast<std::uint8_t>(checksum >> 8);
}

// `image` with one CBUS pin's function code set to any nibble, even one that
// a record cannot be encoded with.
Image withCbusCode(Image image, int pin, int code)
{
    std::uint8_t &byte = image[0x14 + pin / 2];
    const int shift = 4 * (pin % 2);
    byte = static_cast<std::uint8_t>((byte & ~(0x0F << shift)) | code << shift);
    renewChecksum(image);
    return image;
}

// Puts `config` into the form as a user would see it.
void fillForm(Rig &rig, const Config &config)
{
    rig.edit("manufacturerle")->setText(config.manufacturer);
    rig.edit("des")->setText(config.description);
    rig.edit("serialle")->setText(config.serial);
    rig.edit("manidle")->setText(prefixOf(config.serial));
    rig.widget<QSpinBox>("maxpowersb")->setValue(config.maxPower);
    for (int i = 0; i < 7; ++i)
        rig.check(optionBoxes[i])->setChecked(config.options[i]);
    for (int i = 0; i < 8; ++i)
        rig.check(inversionBoxes[i])->setChecked(config.inversions[i]);
    for (int pin = 0; pin < 5; ++pin)
        rig.cbus(pin)->setCurrentIndex(config.cbus[pin]);
}

// Every form field that does not show `config` (with these ID texts), named.
QStringList formMismatches(Rig &rig, const Config &config, const QString &vendorText,
                           const QString &productText)
{
    QList<std::tuple<QString, QVariant, QVariant>> fields = {
        {"vendoridle", vendorText, rig.edit("vendoridle")->text()},
        {"produktidle", productText, rig.edit("produktidle")->text()},
        {"manufacturerle", config.manufacturer, rig.edit("manufacturerle")->text()},
        {"des", config.description, rig.edit("des")->text()},
        {"serialle", config.serial, rig.edit("serialle")->text()},
        {"manidle", prefixOf(config.serial), rig.edit("manidle")->text()},
        {"maxpowersb", config.maxPower, rig.widget<QSpinBox>("maxpowersb")->value()},
    };
    for (int i = 0; i < 7; ++i)
        fields.append({optionBoxes[i], config.options[i], rig.check(optionBoxes[i])->isChecked()});
    for (int i = 0; i < 8; ++i)
        fields.append(
            {inversionBoxes[i], config.inversions[i], rig.check(inversionBoxes[i])->isChecked()});
    for (int pin = 0; pin < 5; ++pin)
        fields.append({QString("cbus%1cb").arg(pin), config.cbus[pin], rig.cbus(pin)->currentIndex()});
    QStringList found;
    for (const auto &[name, expected, actual] : fields) {
        if (expected != actual)
            found << QString("%1: expected %2, shows %3")
                         .arg(name, expected.toString(), actual.toString());
    }
    return found;
}

// Everything the form shows, by widget name.
QVariantMap formState(Rig &rig)
{
    QVariantMap state;
    for (QLineEdit *edit : rig.window.findChildren<QLineEdit *>()) {
        if (!edit->objectName().startsWith("qt_"))
            state[edit->objectName()] = QVariantList{edit->text(), edit->isEnabled()};
    }
    for (QSpinBox *spin : rig.window.findChildren<QSpinBox *>())
        state[spin->objectName()] = spin->value();
    for (QCheckBox *box : rig.window.findChildren<QCheckBox *>())
        state[box->objectName()] = box->isChecked();
    for (QComboBox *box : rig.window.findChildren<QComboBox *>())
        state[box->objectName()] = box->currentIndex();
    return state;
}

// The device lock is free after an operation: the watcher lists a device
// attached now, and a following read of a single device goes through.
void verifyLockReleased(Rig &rig)
{
    rig.attach("after", freshImage("AFTER-1"));
    const bool listed = QTest::qWaitFor([&] { return rig.listed().contains("AFTER-1"); },
                                        watcherTimeoutMs);
    if (!listed) {
        // Most likely this thread kept the lock; free it so that the window
        // can join its watcher when the test ends.
        Access::devThread(rig.window)->FreeMutex();
    }
    QVERIFY2(listed, "the watcher did not enumerate after the operation");

    for (const std::string &name : std::set<std::string>(rig.attached)) {
        if (name != "after")
            rig.detach(name);
    }
    const int before = rig.log().size();
    rig.clickRead();
    QCOMPARE(rig.log().mid(before), QStringList({"Open Device", "Read Deviceinfo"}));
    QCOMPARE(rig.bench->openDevices(), 0);
}

// The `failing` column of the outcome tables names the kind of call that
// fails once (-1: none); this value stands for the GUI thread's device count.
const int guiCount = static_cast<int>(Call::Count);

} // namespace

class TestReadWrite : public QObject
{
    Q_OBJECT

private slots:
    void readOutcomes_data();
    void readOutcomes();
    void programOutcomes_data();
    void programOutcomes();
    void readThenWriteCopiesConfiguration_data();
    void readThenWriteCopiesConfiguration();
    void readShowsIdsAndProgramFixesThem();
    void unprogrammableCbusFromDevice_data();
    void unprogrammableCbusFromDevice();
    void cbusRefusals_data();
    void cbusRefusals();
    void overlongStringsRefused_data();
    void overlongStringsRefused();
    void flashedIdsGrowOnlyBySuccess();
    void stringToBuffer_data();
    void stringToBuffer();
};

// Every outcome of "Read EEProm": device "A" carries `mixed`; the form shows
// `opposite` (after an earlier read of A, so the read record holds A) when
// the button is clicked.
void TestReadWrite::readOutcomes_data()
{
    QTest::addColumn<QStringList>("attached");
    QTest::addColumn<int>("failing");
    QTest::addColumn<uint>("status");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("read");

    const QStringList none;
    QTest::newRow("count fails") << QStringList{"A"} << guiCount << uint(FT_IO_ERROR) << none
                                 << none << false;
    QTest::newRow("no device") << none << -1 << uint(FT_OK) << QStringList{noDevice} << none
                               << false;
    QTest::newRow("two devices") << QStringList{"A", "B"} << -1 << uint(FT_OK)
                                 << QStringList{moreThanOne} << none << false;
    QTest::newRow("open fails") << QStringList{"A"} << int(Call::Open)
                                << uint(FT_DEVICE_NOT_OPENED)
                                << QStringList{"Open Device", "Open FAILED!"}
                                << QStringList{"Open"} << false;
    QTest::newRow("read fails") << QStringList{"A"} << int(Call::Read)
                                << uint(FT_EEPROM_READ_FAILED)
                                << QStringList{"Open Device", "FT_GetDeviceType FAILED!"}
                                << QStringList{"Open A", "Read A", "Close A"} << false;
    QTest::newRow("not an FT232R") << QStringList{"N"} << -1 << uint(FT_NOT_SUPPORTED)
                                   << QStringList{"Open Device", "FT_GetDeviceType FAILED!"}
                                   << QStringList{"Open N", "Close N"} << false;
    QTest::newRow("success") << QStringList{"A"} << -1 << uint(FT_OK)
                             << QStringList{"Open Device", "Read Deviceinfo"}
                             << QStringList{"Open A", "Read A", "Close A"} << true;
}

void TestReadWrite::readOutcomes()
{
    QFETCH(QStringList, attached);
    QFETCH(int, failing);
    QFETCH(uint, status);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, calls);
    QFETCH(bool, read);

    Rig rig;
    rig.attach("A", imageOf(mixed));
    QVERIFY(rig.waitForListed({"KV-700A1B2"}));
    rig.clickRead();
    QCOMPARE(formMismatches(rig, mixed, "0x0403", "0x6001"), QStringList());
    const QVariantMap afterRead = formState(rig);

    fillForm(rig, opposite);
    const QVariantMap before = formState(rig);
    Access::flashedIDs(rig.window) = {"EARLIER"};
    Access::filename(rig.window).clear();

    if (!attached.contains("A"))
        rig.detach("A");
    if (attached.contains("B"))
        rig.attach("B", freshImage("B-SERIAL"));
    if (attached.contains("N"))
        rig.attach("N", freshImage("N-SERIAL"), false);
    QStringList serials;
    for (const std::string &serial : rig.bench->listedSerials())
        serials << QString::fromStdString(serial);
    serials.sort();
    QVERIFY(rig.waitForListed(serials));
    const QString activeBefore = Access::activeID(rig.window);
    rig.bench->clearCalls();
    const int logBefore = rig.log().size();

    if (failing == guiCount)
        rig.bus->failNextGuiCount(status);
    else if (failing >= 0)
        rig.bench->failNext(static_cast<Call>(failing), 1, status);
    rig.clickRead();

    QCOMPARE(rig.log().mid(logBefore), lines);
    QCOMPARE(rig.deviceCalls(), calls);
    QCOMPARE(rig.bench->openDevices(), 0);
    QCOMPARE(Access::ftStatus(rig.window), FT_STATUS(status));
    QCOMPARE(formState(rig), read ? afterRead : before);
    // Reading leaves the production state alone.
    QCOMPARE(Access::flashedIDs(rig.window), QStringList{"EARLIER"});
    QCOMPARE(Access::activeID(rig.window), activeBefore);
    QVERIFY(Access::filename(rig.window).isEmpty());

    verifyLockReleased(rig);
}

// Every outcome of "Write EEProm" with the form showing `mixed`; the log names
// the device the watcher listed alone (`activeID`), not the form's serial number.
void TestReadWrite::programOutcomes_data()
{
    QTest::addColumn<QStringList>("attached");
    QTest::addColumn<QString>("activeID");
    QTest::addColumn<int>("failing");
    QTest::addColumn<uint>("status");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("programmed");

    const QStringList none;
    const QStringList a{"A"};
    QTest::newRow("count fails") << a << "A-LISTED" << guiCount << uint(FT_IO_ERROR) << none
                                 << none << false;
    QTest::newRow("no device") << none << "A-LISTED" << -1 << uint(FT_OK) << QStringList{noDevice}
                               << none << false;
    QTest::newRow("two devices") << QStringList{"A", "B"} << "A-LISTED" << -1 << uint(FT_OK)
                                 << QStringList{moreThanOne} << none << false;
    QTest::newRow("open fails, status 3")
        << a << "A-LISTED" << int(Call::Open) << uint(FT_DEVICE_NOT_OPENED)
        << QStringList{"Open Device: A-LISTED", "Open FAILED!ERROR 3"} << QStringList{"Open"}
        << false;
    QTest::newRow("open fails, status 16 in decimal")
        << a << "A-LISTED" << int(Call::Open) << uint(FT_INVALID_ARGS)
        << QStringList{"Open Device: A-LISTED", "Open FAILED!ERROR 16"} << QStringList{"Open"}
        << false;
    QTest::newRow("programming fails")
        << a << "A-LISTED" << int(Call::Program) << uint(FT_EEPROM_WRITE_FAILED)
        << QStringList{"Open Device: A-LISTED", "Prgram FAILED!"}
        << QStringList{"Open A", "Program A", "Close A"} << false;
    QTest::newRow("not an FT232R")
        << QStringList{"N"} << "A-LISTED" << -1 << uint(FT_NOT_SUPPORTED)
        << QStringList{"Open Device: A-LISTED", "Prgram FAILED!"}
        << QStringList{"Open N", "Close N"} << false;
    QTest::newRow("success") << a << "A-LISTED" << -1 << uint(FT_OK)
                             << QStringList{"Open Device: A-LISTED", "A-LISTED -> Progam OK"}
                             << QStringList{"Open A", "Program A", "Close A"} << true;
    QTest::newRow("success, no device listed alone yet")
        << a << "" << -1 << uint(FT_OK) << QStringList{"Open Device: ", " -> Progam OK"}
        << QStringList{"Open A", "Program A", "Close A"} << true;
}

void TestReadWrite::programOutcomes()
{
    QFETCH(QStringList, attached);
    QFETCH(QString, activeID);
    QFETCH(int, failing);
    QFETCH(uint, status);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, calls);
    QFETCH(bool, programmed);

    Rig rig;
    const std::map<std::string, std::pair<const char *, bool>> devices = {
        {"A", {"A-SERIAL", true}}, {"B", {"B-SERIAL", true}}, {"N", {"N-SERIAL", false}}};
    QStringList serials;
    for (const QString &name : attached) {
        const auto &[serial, ft232r] = devices.at(name.toStdString());
        rig.attach(name.toStdString(), freshImage(serial), ft232r);
        serials << serial;
    }
    QVERIFY(rig.waitForListed(serials));
    Access::activeID(rig.window) = activeID;
    Access::flashedIDs(rig.window) = {"EARLIER"};

    fillForm(rig, mixed);
    const QVariantMap before = formState(rig);
    std::map<std::string, Image> imagesBefore;
    for (const QString &name : attached)
        imagesBefore[name.toStdString()] = rig.bench->image(name.toStdString());
    rig.bench->clearCalls();
    const int logBefore = rig.log().size();

    if (failing == guiCount)
        rig.bus->failNextGuiCount(status);
    else if (failing >= 0)
        rig.bench->failNext(static_cast<Call>(failing), 1, status);
    rig.clickWrite();

    QCOMPARE(rig.log().mid(logBefore), lines);
    QCOMPARE(rig.deviceCalls(false), calls);
    QCOMPARE(rig.bench->openDevices(), 0);
    QCOMPARE(Access::ftStatus(rig.window), FT_STATUS(status));
    QCOMPARE(formState(rig), before);
    if (programmed) {
        const Decoded written(rig.bench->image("A"));
        const Decoded expected(imageOf(mixed));
        QCOMPARE(differences(written, expected), QStringList());
        QCOMPARE(Access::flashedIDs(rig.window), QStringList({"EARLIER", mixed.serial}));
    } else {
        for (const auto &[name, image] : imagesBefore)
            QVERIFY2(rig.bench->image(name) == image, name.c_str());
        QCOMPARE(Access::flashedIDs(rig.window), QStringList{"EARLIER"});
    }

    verifyLockReleased(rig);
}

// "Read EEProm" fills every field of the form from the device, and "Write
// EEProm" then gives a second, blank device the same configuration.
void TestReadWrite::readThenWriteCopiesConfiguration_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("mixed") << 0;
    QTest::newRow("opposite, Latin-1 strings") << 1;
    QTest::newRow("longest strings") << 2;
}

void TestReadWrite::readThenWriteCopiesConfiguration()
{
    QFETCH(int, which);
    const Config *const configs[] = {&mixed, &opposite, &longest};
    const Config &config = *configs[which];

    Rig rig;
    rig.attach("A", imageOf(config));
    QVERIFY(rig.waitForListed({config.serial}));
    rig.clickRead();
    QCOMPARE(rig.log(), QStringList({"Open Device", "Read Deviceinfo"}));
    QCOMPARE(formMismatches(rig, config, "0x0403", "0x6001"), QStringList());
    const Decoded source(rig.bench->image("A"));

    rig.detach("A");
    rig.attach("B", freshImage("BLANK-B"));
    QVERIFY(rig.waitForListed({"BLANK-B"}));
    rig.clickWrite();
    QCOMPARE(rig.log().mid(2), QStringList({"Open Device: BLANK-B", "BLANK-B -> Progam OK"}));

    const Decoded copy(rig.bench->image("B"));
    QCOMPARE(differences(copy, source), QStringList());
}

// The IDs a device carries show as "0x" and four upper-case hex digits; the
// programmed image carries 0x0403/0x6001, the serial number enabled and USB
// 2.0, whatever the device had and whatever the ID fields show.
void TestReadWrite::readShowsIdsAndProgramFixesThem()
{
    Rig rig;
    Image odd = imageOf(mixed, 0xABCD, 0x00EF);
    odd[0x0A] &= ~0x08; // serial number disabled
    odd[0x0C] = 0x10;   // USB 1.1
    odd[0x0D] = 0x01;
    renewChecksum(odd);
    {
        const Decoded check(odd);
        QCOMPARE(check.status, FT_STATUS(FT_OK));
        QCOMPARE(check.data.SerNumEnableR, UCHAR(0));
        QCOMPARE(check.data.USBVersion, WORD(0x0110));
    }
    rig.attach("A", odd);
    QVERIFY(rig.waitForListed({mixed.serial}));
    rig.clickRead();
    QCOMPARE(formMismatches(rig, mixed, "0xABCD", "0x00EF"), QStringList());

    rig.detach("A");
    rig.attach("B", freshImage("BLANK-B"));
    QVERIFY(rig.waitForListed({"BLANK-B"}));
    rig.edit("vendoridle")->setText("0x1234");
    rig.clickWrite();
    QCOMPARE(rig.log().last(), "BLANK-B -> Progam OK");

    const Decoded written(rig.bench->image("B"));
    QCOMPARE(written.status, FT_STATUS(FT_OK));
    QCOMPARE(written.data.VendorId, WORD(0x0403));
    QCOMPARE(written.data.ProductId, WORD(0x6001));
    QCOMPARE(written.data.SerNumEnableR, UCHAR(1));
    QCOMPARE(written.data.USBVersion, WORD(0x0200));
}

// A device whose CBUS codes the form cannot program back: a code without an
// entry leaves the box empty, and writing such a form is refused.
void TestReadWrite::unprogrammableCbusFromDevice_data()
{
    QTest::addColumn<QList<int>>("codes");   // pin, code pairs written into the image
    QTest::addColumn<QList<int>>("shown");   // the five current indices after the read
    QTest::addColumn<QString>("refusal");

    QTest::newRow("code 14 on CBus3") << QList<int>{3, 14} << QList<int>{13, 5, 11, -1, 9}
                                      << "CBus3 has no function selected! Can not proceed!!";
    QTest::newRow("codes 15 on CBus0, 14 on CBus4")
        << QList<int>{0, 15, 4, 14} << QList<int>{-1, 5, 11, 8, -1}
        << "CBus0 has no function selected! Can not proceed!!";
    QTest::newRow("I/O mode on CBus4") << QList<int>{4, 10} << QList<int>{13, 5, 11, 8, 10}
                                       << "CBus4 does not support IO_MODE! Can not proceed!!";
}

void TestReadWrite::unprogrammableCbusFromDevice()
{
    QFETCH(QList<int>, codes);
    QFETCH(QList<int>, shown);
    QFETCH(QString, refusal);

    Rig rig;
    Image image = imageOf(mixed);
    for (int i = 0; i < codes.size(); i += 2)
        image = withCbusCode(image, codes[i], codes[i + 1]);
    rig.attach("A", image);
    QVERIFY(rig.waitForListed({mixed.serial}));
    rig.clickRead();
    QCOMPARE(rig.log(), QStringList({"Open Device", "Read Deviceinfo"}));
    QList<int> indices;
    for (int pin = 0; pin < 5; ++pin)
        indices << rig.cbus(pin)->currentIndex();
    QCOMPARE(indices, shown);

    rig.bench->clearCalls();
    const int countsBefore = rig.bus->guiCounts();
    rig.clickWrite();
    QCOMPARE(rig.log().mid(2), QStringList{refusal});
    QCOMPARE(rig.bus->guiCounts(), countsBefore);
    QCOMPARE(rig.deviceCalls(), QStringList());
    QVERIFY(rig.bench->image("A") == image);
    QCOMPARE(Access::flashedIDs(rig.window), QStringList());
}

// The two CBUS refusals come before the lock and the device count, and leave
// the device, FlashedIDs and the form (with "Gen.." on) as they were.
void TestReadWrite::cbusRefusals_data()
{
    QTest::addColumn<QList<int>>("indices");
    QTest::addColumn<QString>("refusal"); // empty: the form is programmed

    const QString none = "CBus%1 has no function selected! Can not proceed!!";
    const QString cbus4 = "CBus4 does not support %1! Can not proceed!!";
    QTest::newRow("CBus0 empty") << QList<int>{-1, 1, 2, 3, 4} << none.arg(0);
    QTest::newRow("CBus1 empty") << QList<int>{0, -1, 2, 3, 4} << none.arg(1);
    QTest::newRow("CBus2 empty") << QList<int>{0, 1, -1, 3, 4} << none.arg(2);
    QTest::newRow("CBus3 empty") << QList<int>{0, 1, 2, -1, 4} << none.arg(3);
    QTest::newRow("CBus4 empty") << QList<int>{0, 1, 2, 3, -1} << none.arg(4);
    QTest::newRow("first empty box named") << QList<int>{0, -1, 2, -1, 4} << none.arg(1);
    QTest::newRow("CBus4 IO_MODE") << QList<int>{0, 1, 2, 3, 10} << cbus4.arg("IO_MODE");
    QTest::newRow("CBus4 BIT_WR") << QList<int>{0, 1, 2, 3, 11} << cbus4.arg("BIT_WR");
    QTest::newRow("CBus4 BIT_RD") << QList<int>{0, 1, 2, 3, 12} << cbus4.arg("BIT_RD");
    QTest::newRow("CBus4 RXF/TXE/RD/WR") << QList<int>{0, 1, 2, 3, 13}
                                         << cbus4.arg("RXF/TXE/RD/WR");
    QTest::newRow("highest functions each pin has") << QList<int>{13, 12, 11, 10, 9} << QString();
}

void TestReadWrite::cbusRefusals()
{
    QFETCH(QList<int>, indices);
    QFETCH(QString, refusal);

    Rig rig;
    rig.attach("A", freshImage("A-SERIAL"));
    QVERIFY(rig.waitForListed({"A-SERIAL"}));
    fillForm(rig, mixed);
    Access::setUuidSource(rig.window, [] { return QUuid("{12345678-1111-4111-8111-111111111111}"); });
    QTest::mouseClick(rig.check("genserialchb"), Qt::LeftButton);
    QVERIFY(rig.check("genserialchb")->isChecked());
    for (int pin = 0; pin < 5; ++pin)
        rig.cbus(pin)->setCurrentIndex(indices[pin]);
    Access::flashedIDs(rig.window) = {"EARLIER"};
    const QVariantMap before = formState(rig);
    const QString serial = rig.edit("serialle")->text();
    const Image imageBefore = rig.bench->image("A");
    rig.bench->clearCalls();
    const int countsBefore = rig.bus->guiCounts();
    const int logBefore = rig.log().size();

    rig.clickWrite();

    if (refusal.isEmpty()) {
        QCOMPARE(rig.log().mid(logBefore).last(), "A-SERIAL -> Progam OK");
        const Decoded written(rig.bench->image("A"));
        QCOMPARE((QList<int>{written.data.Cbus0, written.data.Cbus1, written.data.Cbus2,
                             written.data.Cbus3, written.data.Cbus4}),
                 indices);
        QCOMPARE(Access::flashedIDs(rig.window), QStringList({"EARLIER", serial}));
        return;
    }
    QCOMPARE(rig.log().mid(logBefore), QStringList{refusal});
    QCOMPARE(rig.bus->guiCounts(), countsBefore);
    QCOMPARE(rig.deviceCalls(), QStringList());
    QVERIFY(rig.bench->image("A") == imageBefore);
    QCOMPARE(Access::flashedIDs(rig.window), QStringList{"EARLIER"});
    QCOMPARE(formState(rig), before);

    // Once every pin has a function it can have, the same form programs.
    for (int pin = 0; pin < 5; ++pin)
        rig.cbus(pin)->setCurrentIndex(pin);
    rig.clickWrite();
    QCOMPARE(rig.log().last(), "A-SERIAL -> Progam OK");
    QCOMPARE(QString::fromStdString(serialOf(rig.bench->image("A"))), serial);
}

// The three USB strings share 46 characters of the chip's string area; a form
// with more is refused with the count before the device is touched.
void TestReadWrite::overlongStringsRefused_data()
{
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("refusal"); // empty: the form is programmed

    const QString tooLong = "Manufacturer, Description and Serial No. have %1 characters, "
                            "the chip holds 46! Can not proceed!!";
    QTest::newRow("46 fit") << QString(11, 'M') << QString(20, 'D') << QString(15, 'S')
                            << QString();
    QTest::newRow("47") << QString(11, 'M') << QString(21, 'D') << QString(15, 'S')
                        << tooLong.arg(47);
    QTest::newRow("every field full") << QString(11, 'M') << QString(27, 'D') << QString(15, 'S')
                                      << tooLong.arg(53);
    QTest::newRow("non-Latin-1 counts once") << QString(11, QChar(0x20AC)) << QString(20, 'D')
                                             << QString(15, 'S') << QString();
}

void TestReadWrite::overlongStringsRefused()
{
    QFETCH(QString, manufacturer);
    QFETCH(QString, description);
    QFETCH(QString, serial);
    QFETCH(QString, refusal);

    Rig rig;
    rig.attach("A", freshImage("A-SERIAL"));
    QVERIFY(rig.waitForListed({"A-SERIAL"}));
    rig.edit("manufacturerle")->setText(manufacturer);
    rig.edit("des")->setText(description);
    rig.edit("serialle")->setText(serial);
    const Image imageBefore = rig.bench->image("A");
    rig.bench->clearCalls();
    const int countsBefore = rig.bus->guiCounts();

    rig.clickWrite();

    if (refusal.isEmpty()) {
        QCOMPARE(rig.log().last(), "A-SERIAL -> Progam OK");
        QCOMPARE(QString::fromStdString(serialOf(rig.bench->image("A"))), serial);
        return;
    }
    QCOMPARE(rig.log(), QStringList{refusal});
    QCOMPARE(rig.bus->guiCounts(), countsBefore);
    QCOMPARE(rig.deviceCalls(), QStringList());
    QVERIFY(rig.bench->image("A") == imageBefore);
    QCOMPARE(Access::flashedIDs(rig.window), QStringList());
}

// FlashedIDs takes the form's serial number after each successful programming
// only, once, as typed (case kept, characters outside Latin-1 included).
void TestReadWrite::flashedIdsGrowOnlyBySuccess()
{
    Rig rig;
    rig.attach("A", freshImage("A-SERIAL"));
    QVERIFY(rig.waitForListed({"A-SERIAL"}));
    fillForm(rig, mixed);
    auto programmedSerial = [&] { return QString::fromStdString(serialOf(rig.bench->image("A"))); };
    auto writeSerial = [&](const QString &serial) {
        rig.edit("serialle")->setText(serial);
        rig.bench->clearCalls();
        rig.clickWrite();
    };

    writeSerial("SN-1");
    QCOMPARE(programmedSerial(), "SN-1");
    QCOMPARE(Access::flashedIDs(rig.window), QStringList{"SN-1"});

    rig.bench->failNext(Call::Program, 1, FT_EEPROM_WRITE_FAILED);
    writeSerial("SN-2");
    QCOMPARE(rig.log().last(), "Prgram FAILED!");
    QCOMPARE(programmedSerial(), "SN-1");
    QCOMPARE(Access::flashedIDs(rig.window), QStringList{"SN-1"});

    writeSerial("SN-1"); // programmed again without complaint, recorded once
    QCOMPARE(rig.deviceCalls(false), QStringList({"Open A", "Program A", "Close A"}));
    QCOMPARE(Access::flashedIDs(rig.window), QStringList{"SN-1"});

    writeSerial("sn-1");
    QCOMPARE(Access::flashedIDs(rig.window), QStringList({"SN-1", "sn-1"}));

    writeSerial("SN-\u03a9");
    QCOMPARE(programmedSerial(), "SN-?");
    QCOMPARE(Access::flashedIDs(rig.window), QStringList({"SN-1", "sn-1", "SN-\u03a9"}));
}

void TestReadWrite::stringToBuffer_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("len");
    QTest::addColumn<QByteArray>("expected"); // the characters before the terminator

    QTest::newRow("empty") << "" << 12 << QByteArray();
    QTest::newRow("exact length") << "Kestrova Co" << 12 << QByteArray("Kestrova Co");
    QTest::newRow("too long") << "Kestrova Company" << 12 << QByteArray("Kestrova Co");
    QTest::newRow("Latin-1 kept") << "M\u00fcller" << 12 << QByteArray("M\xfc" "ller");
    QTest::newRow("outside Latin-1") << "\u03a9mega \u2713" << 16 << QByteArray("?mega ?");
    QTest::newRow("room for the terminator only") << "abc" << 1 << QByteArray();
    QTest::newRow("U+0000 does not end the string")
        << QString("AB") + QChar(0) + "CD" << 16 << QByteArray("AB?CD");
}

void TestReadWrite::stringToBuffer()
{
    QFETCH(QString, text);
    QFETCH(int, len);
    QFETCH(QByteArray, expected);

    const int guard = 8;
    QByteArray buffer(len + guard, '\xAA'); // earlier contents and the bytes past the end
    QString2CharArray(text, buffer.data(), len);

    QByteArray wanted = expected;
    wanted.append(QByteArray(len - expected.size(), '\0')); // the rest cleared
    wanted.append(QByteArray(guard, '\xAA'));               // nothing written past `len`
    QCOMPARE(buffer.toHex(' '), wanted.toHex(' '));
}

QTEST_MAIN(TestReadWrite)
#include "test_readwrite.moc"
