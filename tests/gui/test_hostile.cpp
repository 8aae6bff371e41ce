// Hostile inputs through the real window: configuration files that are not
// what a careful program wrote, device lists at their limits, and devices
// whose EEPROM holds anything at all. Each gives a defined result: the form
// as the file or device says, and the log lines of the operation that follows.
#include "bench.h"
#include "d2xx/ft232r_image.h"
#include "guitest.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <random>

using guitest::child;
using kestrova::d2xx::Call;
using kestrova::d2xx::freshImage;
using kestrova::d2xx::Image;
using kestrova::d2xx::SimBench;
using Access = MainWindowTestAccess;

namespace {

const QByteArray goodFile = "[General]\nManufacturer=Kestrova\nDescription=Sensor Bridge\n"
                            "SerialNumber=KH000001\nManufacturerId=KH\nMaxPower=100\nPnP=true\n"
                            "[CBUS]\nCBus0=TXLED#\nCBus1=RXLED#\nCBus2=TXDEN\nCBus3=PWREN#\n"
                            "CBus4=SLEEP#\n";

// goodFile with the line of `key` replaced by `lines`.
QByteArray withLines(const QByteArray &key, const QByteArray &lines)
{
    QByteArrayList kept;
    for (const QByteArray &line : goodFile.split('\n'))
        kept << (line.startsWith(key + "=") ? lines : line);
    return kept.join('\n');
}

// goodFile cut just after `text`, with no line end.
QByteArray cutAfter(const QByteArray &text)
{
    return goodFile.left(goodFile.indexOf(text) + text.size());
}

QByteArray garbage(int size)
{
    std::mt19937 random(6);
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = char(random() & 0xFF);
    return bytes;
}

// The form's fields that the tables look at, as the form shows them.
QVariantMap form(const MainWindow &w)
{
    QVariantMap values;
    for (const char *name : {"manufacturerle", "des", "serialle", "manidle"})
        values[name] = child<QLineEdit>(&w, name)->text();
    values["maxpowersb"] = child<QSpinBox>(&w, "maxpowersb")->value();
    values["pnpchb"] = child<QCheckBox>(&w, "pnpchb")->isChecked();
    for (const char *name : {"cbus0cb", "cbus1cb", "cbus4cb"})
        values[name] = child<QComboBox>(&w, name)->currentIndex();
    return values;
}

// The form after opening goodFile, with `changes`.
QVariantMap goodForm(const QVariantMap &changes = {})
{
    QVariantMap values = {{"manufacturerle", "Kestrova"}, {"des", "Sensor Bridge"},
                          {"serialle", "KH000001"},       {"manidle", "KH"},
                          {"maxpowersb", 100},            {"pnpchb", true},
                          {"cbus0cb", 3},                 {"cbus1cb", 2},
                          {"cbus4cb", 5}};
    values.insert(changes);
    return values;
}

// The form after opening a file without any of the keys.
const QVariantMap emptyForm = {{"manufacturerle", ""}, {"des", ""},       {"serialle", ""},
                               {"manidle", ""},        {"maxpowersb", 0}, {"pnpchb", false},
                               {"cbus0cb", -1},        {"cbus1cb", -1},   {"cbus4cb", -1}};

// The strings and power of a device's EEPROM image, as another program would decode them.
QVariantMap eeprom(const Image &image)
{
    char manufacturer[64] = {}, manufacturerId[64] = {}, description[64] = {}, serial[64] = {};
    FT_PROGRAM_DATA data{};
    data.Manufacturer = manufacturer;
    data.ManufacturerId = manufacturerId;
    data.Description = description;
    data.SerialNumber = serial;
    if (kestrova::d2xx::decodeImage(image, data) != FT_OK)
        return {{"decodes", false}};
    return {{"manufacturer", QByteArray(manufacturer)},
            {"description", QByteArray(description)},
            {"serial", QByteArray(serial)},
            {"maxPower", int(data.MaxPower)}};
}

// An image that decodes, with the given strings.
Image imageWith(std::string manufacturer, std::string description, std::string serial)
{
    FT_PROGRAM_DATA data{};
    data.Signature2 = 0xFFFFFFFF;
    data.Version = 2;
    data.VendorId = 0x0403;
    data.ProductId = 0x6001;
    data.Manufacturer = manufacturer.data();
    data.Description = description.data();
    data.SerialNumber = serial.data();
    Image image(kestrova::d2xx::kImageSize, 0);
    if (kestrova::d2xx::encodeImage(data, image) != FT_OK)
        qFatal("the strings do not fit an image");
    return image;
}

// "S000", "S001", ... : `count` serial numbers in ascending order.
QStringList numbered(int count)
{
    QStringList serials;
    for (int n = 0; n < count; ++n)
        serials << QString("S%1").arg(n, 3, 10, QChar('0'));
    return serials;
}

// A bench that lists the given serial numbers for its devices, whatever
// their EEPROMs hold: serial numbers no FT232R image can carry.
class ListingBench : public SimBench
{
public:
    std::vector<std::string> serials;
    FT_STATUS serialNumber(DWORD index, std::string &serial) override
    {
        const FT_STATUS status = SimBench::serialNumber(index, serial);
        if (status == FT_OK && index < serials.size())
            serial = serials[index];
        return status;
    }
};

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

    // The bench is installed before the window and removed after it.
    struct Installed {
        explicit Installed(std::shared_ptr<SimBench> bench) { kestrova::d2xx::installBus(bench); }
        ~Installed() { kestrova::d2xx::installBus(nullptr); }
    };
    struct Rig {
        std::shared_ptr<ListingBench> bench = std::make_shared<ListingBench>();
        Installed installed{bench};
        MainWindow w{nullptr, 10};
        Rig() { w.show(); }

        QStringList logLines() const { return guitest::logLines(&w); }
        QStringList listed() const { return guitest::listedDevices(&w); }
        int calls(Call kind) const { return callsOf(*bench, kind); }
        void press(const char *button)
        {
            QTest::mouseClick(child<QPushButton>(&w, button), Qt::LeftButton);
        }
        // The watcher has enumerated a few more times, and its lists are handled.
        void settle()
        {
            const int start = calls(Call::Count);
            QTRY_VERIFY(calls(Call::Count) >= start + 3);
            QCoreApplication::processEvents();
        }
    };

    QTemporaryDir dir;
    int fileCount = 0;

    // Opens `text` as a configuration file through the Open dialog (a path
    // of its own each time: QSettings caches files by path).
    void openFile(Rig &rig, const QByteArray &text)
    {
        const QString path = dir.filePath(QString("hostile%1.FTDIconf").arg(++fileCount));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(text), text.size());
        file.close();
        guitest::answerNextModal(
            [path](QWidget *dialog) { guitest::typeFileNameAndAccept(dialog, path); });
        guitest::trigger(&rig.w, "actionOpen");
        QCOMPARE(Access::filename(rig.w), path);
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void configFiles_data();
    void configFiles();
    void deviceLists_data();
    void deviceLists();
    void deviceImages_data();
    void deviceImages();
};

void TestHostile::configFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QVariantMap>("expectedForm");
    // What "Write EEProm" then logs last for a fresh device listing "DEV1",
    // and what the device holds afterwards (nothing new when refused).
    QTest::addColumn<QString>("writeLogs");
    QTest::addColumn<QVariantMap>("programmed");

    const QString ok = "DEV1 -> Progam OK";
    const QString noCbus0 = "CBus0 has no function selected! Can not proceed!!";
    const QVariantMap fresh = eeprom(freshImage("DEV1"));
    const auto device = [](QByteArray description, QByteArray serial, int maxPower = 100) {
        return QVariantMap{{"manufacturer", QByteArray("Kestrova")},
                           {"description", description},
                           {"serial", serial},
                           {"maxPower", maxPower}};
    };

    QTest::newRow("binary garbage") << garbage(64 * 1024) << emptyForm << noCbus0 << fresh;
    QTest::newRow("50 MB long")
        << withLines("Description", "Description=" + QByteArray(50 * 1024 * 1024, 'D'))
        << goodForm({{"des", QString(27, 'D')}}) << ok
        << device(QByteArray(27, 'D'), "KH000001");
    QTest::newRow("truncated in a value")
        << cutAfter("SerialNumber=KH00")
        << QVariantMap{{"manufacturerle", "Kestrova"}, {"des", "Sensor Bridge"},
                       {"serialle", "KH00"},           {"manidle", ""},
                       {"maxpowersb", 0},              {"pnpchb", false},
                       {"cbus0cb", -1},                {"cbus1cb", -1},
                       {"cbus4cb", -1}}
        << noCbus0 << fresh;
    QTest::newRow("truncated in a section name")
        << cutAfter("[CB")
        << goodForm({{"cbus0cb", -1}, {"cbus1cb", -1}, {"cbus4cb", -1}}) << noCbus0 << fresh;
    QTest::newRow("truncated in a key")
        << cutAfter("CBus4=SLEEP#\n") + "CBus1" << goodForm() << ok
        << device("Sensor Bridge", "KH000001");
    // The last of duplicated keys and sections counts.
    QTest::newRow("duplicated keys and sections")
        << withLines("MaxPower", "MaxPower=150\nMaxPower=200")
               + "[General]\nSerialNumber=KH000002\n[CBUS]\nCBus0=CLK6\n"
        << goodForm({{"maxpowersb", 200}, {"serialle", "KH000002"}, {"cbus0cb", 9}}) << ok
        << device("Sensor Bridge", "KH000002", 200);
    // Control characters stay as they are; U+0000 (an INI escape) is programmed as '?'.
    QTest::newRow("control characters")
        << withLines("SerialNumber", "SerialNumber=K\x01\x02\x7FH")
               .replace("Sensor Bridge", "Sensor\\0Bridge")
        << goodForm({{"serialle", "K\x01\x02\x7FH"},
                     {"des", QString("Sensor") + QChar(0) + "Bridge"}})
        << ok << device("Sensor?Bridge", "K\x01\x02\x7FH");
    // Outside Latin-1: shown as written, programmed as '?' (one per UTF-16 unit).
    QTest::newRow("non-Latin-1 characters")
        << withLines("SerialNumber", "SerialNumber=KH\xCE\xA9\xE2\x82\xAC" "01")
               .replace("Sensor Bridge", "Sensor \xF0\x9F\x98\x80")
        << goodForm({{"serialle", "KH\u03A9\u20AC01"}, {"des", "Sensor \U0001F600"}}) << ok
        << device("Sensor ??", "KH??01");
    // Whole numbers beyond the spin box's range are held to its nearer end.
    const QList<QPair<QByteArray, int>> powers = {{"4294967297", 500},
                                                  {"2147483648", 500},
                                                  {"99999999999999999999", 500},
                                                  {"-2147483649", 0},
                                                  {"-99999999999999999999", 0},
                                                  {"1e10", 0}};
    for (const auto &[text, shown] : powers) {
        QTest::addRow("MaxPower %s", text.constData())
            << withLines("MaxPower", "MaxPower=" + text) << goodForm({{"maxpowersb", shown}})
            << ok << device("Sensor Bridge", "KH000001", shown);
    }
    // A value in QSettings' serialized form, claiming billions of list entries.
    QTest::newRow("serialized list of 2^31 entries")
        << withLines("SerialNumber", "SerialNumber=@Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xfe)")
        << goodForm({{"serialle", ""}}) << ok << device("Sensor Bridge", "");
}

void TestHostile::configFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(QVariantMap, expectedForm);
    QFETCH(QString, writeLogs);
    QFETCH(QVariantMap, programmed);
    Rig rig;
    rig.bench->attach("dev1", freshImage("DEV1"));
    QTRY_COMPARE(rig.listed(), QStringList{"DEV1"}); // no prompt: no file in use yet

    QElapsedTimer clock;
    clock.start();
    openFile(rig, file);
    if (file.size() > 1024 * 1024)
        qInfo("a %lld MB file opened in %lld ms", file.size() >> 20, clock.elapsed());
    COMPARE_MAPS(form(rig.w), expectedForm);
    QCOMPARE(Access::flashedIDs(rig.w), QStringList{expectedForm["serialle"].toString()});
    QCOMPARE(rig.logLines(), QStringList());

    rig.press("programBUT");
    QCOMPARE(rig.logLines().constLast(), writeLogs);
    COMPARE_MAPS(eeprom(rig.bench->image("dev1")), programmed);
    QCOMPARE(rig.bench->openDevices(), 0);
}

void TestHostile::deviceLists_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<QByteArray>("image");       // of a single device
    QTest::addColumn<QByteArray>("busSerial");   // listed instead of the image's, if any
    QTest::addColumn<QStringList>("shown");      // in the device list pane
    QTest::addColumn<QStringList>("promptLogs"); // after the prompt is answered with Ok

    const QByteArray fresh = QByteArray(reinterpret_cast<const char *>(freshImage("X").data()),
                                        int(kestrova::d2xx::kImageSize));
    const QByteArray erased(int(kestrova::d2xx::kImageSize), '\xFF');
    const QString s63 = QString(63, 'L');

    QTest::newRow("127 devices") << 127 << QByteArray() << QByteArray() << numbered(127)
                                 << QStringList();
    QTest::newRow("empty serial number (erased EEPROM)")
        << 1 << erased << QByteArray() << QStringList{""}
        << QStringList{"Open Device: ", " -> Progam OK"};
    QTest::newRow("63-character serial number")
        << 1 << fresh << QByteArray(63, 'L') << QStringList{s63}
        << QStringList{"Open Device: " + s63, s63 + " -> Progam OK"};
    QTest::newRow("100-character serial number, listed as its first 63")
        << 1 << fresh << QByteArray(100, 'L') << QStringList{s63}
        << QStringList{"Open Device: " + s63, s63 + " -> Progam OK"};
}

void TestHostile::deviceLists()
{
    QFETCH(int, devices);
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, busSerial);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, promptLogs);
    Rig rig;
    openFile(rig, goodFile);
    QStringList prompts;
    guitest::ModalWatcher answer([&](QWidget *modal) {
        prompts << qobject_cast<QMessageBox *>(modal)->text();
        QTest::keyClick(modal, Qt::Key_Return);
    });

    if (!busSerial.isEmpty())
        rig.bench->serials = {busSerial.toStdString()};
    if (devices == 1)
        rig.bench->attach("dev000", Image(image.begin(), image.end()));
    // Bench order (by name) the opposite of serial-number order, so the list is sorted.
    const QStringList serials = numbered(devices);
    for (int n = 0; n < devices && devices > 1; ++n)
        rig.bench->attach(QString("dev%1").arg(devices - n, 3, 10, QChar('0')).toStdString(),
                          freshImage(serials[n].toStdString()));
    QTRY_COMPARE(rig.listed(), shown);
    rig.settle();

    if (promptLogs.isEmpty()) {
        QCOMPARE(prompts, QStringList());
        rig.press("updateBUT");
        rig.press("programBUT");
        QCOMPARE(rig.logLines(), QStringList(2, "More than one Device found!!! Can not proceed!!"));
        QCOMPARE(rig.calls(Call::Open), 0);
        return;
    }
    QCOMPARE(prompts, QStringList{QString("New device (Serial No. %1) found.").arg(shown[0])});
    QCOMPARE(Access::activeID(rig.w), shown[0]);
    QCOMPARE(rig.logLines(), promptLogs);
    QCOMPARE(eeprom(rig.bench->image("dev000")).value("serial"), QByteArray("KH000001"));
}

void TestHostile::deviceImages_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QString>("readLogs");  // the last of "Read EEProm"'s two lines
    QTest::addColumn<QVariantMap>("shown"); // the form afterwards

    const auto bytes = [](const Image &image) {
        return QByteArray(reinterpret_cast<const char *>(image.data()), int(image.size()));
    };
    const QString failed = "FT_GetDeviceType FAILED!";
    Image badChecksum = freshImage("DEV1");
    badChecksum[0x09] ^= 1;

    QTest::newRow("all 0xFF") << QByteArray(128, '\xFF') << failed << goodForm();
    QTest::newRow("all 0x00") << QByteArray(128, '\0') << failed << goodForm();
    QTest::newRow("no bytes") << QByteArray() << failed << goodForm();
    QTest::newRow("64 bytes") << bytes(freshImage("DEV1")).left(64) << failed << goodForm();
    QTest::newRow("256 bytes") << bytes(freshImage("DEV1")).repeated(2) << failed << goodForm();
    QTest::newRow("wrong checksum") << bytes(badChecksum) << failed << goodForm();
    // Another program's strings, longer than the form's buffers: cut to the fields.
    QTest::newRow("strings longer than the form's fields")
        << bytes(imageWith(std::string(20, 'M'), "D", std::string(25, 'S'))) << "Read Deviceinfo"
        << goodForm({{"manufacturerle", QString(11, 'M')},
                     {"des", "D"},
                     {"serialle", QString(15, 'S')},
                     {"manidle", QString(15, 'S')},
                     {"maxpowersb", 0},
                     {"pnpchb", false},
                     {"cbus0cb", 0},
                     {"cbus1cb", 0},
                     {"cbus4cb", 0}});
}

// Reading a device whose EEPROM holds anything leaves the form as it was (or
// shows what fits), and programming the form over it makes it a sound image.
void TestHostile::deviceImages()
{
    QFETCH(QByteArray, image);
    QFETCH(QString, readLogs);
    QFETCH(QVariantMap, shown);
    Rig rig;
    rig.bench->attach("dev1", Image(image.begin(), image.end()));
    QTRY_COMPARE(rig.listed().size(), 1); // seen before the file arms the prompt
    openFile(rig, goodFile);

    rig.press("updateBUT");
    QCOMPARE(rig.logLines(), QStringList({"Open Device", readLogs}));
    COMPARE_MAPS(form(rig.w), shown);
    QCOMPARE(rig.bench->openDevices(), 0);

    rig.press("programBUT");
    QVERIFY2(rig.logLines().constLast().endsWith(" -> Progam OK"),
             qPrintable(rig.logLines().join('|')));
    const QVariantMap programmed = eeprom(rig.bench->image("dev1"));
    QCOMPARE(programmed.value("serial").toByteArray(), shown["serialle"].toString().toLatin1());
    QCOMPARE(programmed.value("description").toByteArray(), shown["des"].toString().toLatin1());
}

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
