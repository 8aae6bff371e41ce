// The production bench end to end: a configuration file opened through the
// real dialog, devices plugged into the simulated bench and found by the real
// watcher thread, and the flash prompts answered as an operator would.
#include "bench.h"
#include "d2xx/ft232r_image.h"
#include "ftdidevthread.h"
#include "guitest.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <deque>

using guitest::child;
using kestrova::d2xx::Call;
using kestrova::d2xx::freshImage;
using kestrova::d2xx::Image;
using Access = MainWindowTestAccess;

namespace {

// A bench file whose settings differ from a factory-fresh device in every
// group, so that programming it shows in the image.
const QByteArray benchFile = R"([General]
VendorID=0x0403
ProduktID=0x6001
Manufacturer=Bench Maker
Description=Sensor Bridge
SerialNumber=BM3F09A1
ManufacturerId=BM
MaxPower=150
PnP=false
PullDownEnable=true
SelfPowered=true
RemoteWakeUp=false
HighCurrent=true
ExtOsc=false
D2XXDriver=true

[IO-Inversion]
RXD=false
TXD=true
RTS=false
CTS=false
DTR=true
DSR=false
DCD=false
RI=true

[CBUS]
CBus0=CLK12
CBus1=RXLED#
CBus2=TXDEN
CBus3=BIT_RD
CBus4=SLEEP#
)";
const QString fileSerial = "BM3F09A1";

// The EEPROM contents of an image, decoded, as named values.
QVariantMap eeprom(const Image &image)
{
    char manufacturer[FT_MANUFACTURER_BUFFER_SIZE] = {};
    char manufacturerId[FT_MANUFACTURER_ID_BUFFER_SIZE] = {};
    char description[FT_DESCRIPTION_BUFFER_SIZE] = {};
    char serial[FT_SERIAL_NUMBER_BUFFER_SIZE] = {};
    FT_PROGRAM_DATA d{};
    d.Manufacturer = manufacturer;
    d.ManufacturerId = manufacturerId;
    d.Description = description;
    d.SerialNumber = serial;
    const FT_STATUS status = kestrova::d2xx::decodeImage(image, d);
    if (status != FT_OK)
        return {{"decode status", status}};
    return {
        {"VendorId", int(d.VendorId)},
        {"ProductId", int(d.ProductId)},
        {"Manufacturer", QString::fromLatin1(manufacturer)},
        {"Description", QString::fromLatin1(description)},
        {"SerialNumber", QString::fromLatin1(serial)},
        {"MaxPower", int(d.MaxPower)},
        {"PnP", d.PnP != 0},
        {"PullDownEnable", d.PullDownEnableR != 0},
        {"SelfPowered", d.SelfPowered != 0},
        {"RemoteWakeup", d.RemoteWakeup != 0},
        {"HighDriveIOs", d.HighDriveIOs != 0},
        {"UseExtOsc", d.UseExtOsc != 0},
        {"RIsD2XX", d.RIsD2XX != 0},
        {"Inversions",
         QVariantList{d.InvertRXD != 0, d.InvertTXD != 0, d.InvertRTS != 0, d.InvertCTS != 0,
                      d.InvertDTR != 0, d.InvertDSR != 0, d.InvertDCD != 0, d.InvertRI != 0}},
        {"Cbus", QVariantList{int(d.Cbus0), int(d.Cbus1), int(d.Cbus2), int(d.Cbus3),
                              int(d.Cbus4)}},
    };
}

// What a device holds once programmed from benchFile with this serial number.
QVariantMap programmedFromFile(const QString &serial)
{
    return {
        {"VendorId", 0x0403},
        {"ProductId", 0x6001},
        {"Manufacturer", "Bench Maker"},
        {"Description", "Sensor Bridge"},
        {"SerialNumber", serial},
        {"MaxPower", 150},
        {"PnP", false},
        {"PullDownEnable", true},
        {"SelfPowered", true},
        {"RemoteWakeup", false},
        {"HighDriveIOs", true},
        {"UseExtOsc", false},
        {"RIsD2XX", true},
        {"Inversions", QVariantList{false, true, false, false, true, false, false, true}},
        {"Cbus", QVariantList{8, 2, 0, 12, 5}},
    };
}

// Answers the flash prompts as they appear, each with the next queued step,
// and records what each showed. A prompt with no step queued is unexpected:
// it is recorded and answered with Abort, so a stray prompt fails the test
// instead of hanging it.
class PromptDesk
{
public:
    using Step = std::function<void(QMessageBox *)>;
    struct Seen {
        QString text;
        QString informative;
        bool informativeIsRich = false;
        bool okIsDefault = false;
        bool onlyOkAndAbort = false;
        bool expected = false;
    };

    void expect(Step step) { steps.push_back(std::move(step)); }
    int count() const { return seen.size(); }
    int unexpected() const
    {
        return std::count_if(seen.cbegin(), seen.cend(), [](const Seen &s) { return !s.expected; });
    }
    const Seen &last() const { return seen.constLast(); }
    // Prompts that had to be closed because the window left them open.
    int stuck = 0;

    // Steps an operator takes.
    static void enter(QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); }
    static void abort(QMessageBox *box) { guitest::press(box, QMessageBox::Abort); }
    static void escape(QMessageBox *box) { guitest::escape(box); }
    // Does `happen` without answering; the window is to let the prompt lapse.
    // A prompt still open after five seconds is counted as stuck and closed.
    Step leaveOpenWhile(std::function<void()> happen)
    {
        return [this, happen](QMessageBox *box) {
            happen();
            QTimer::singleShot(5000, box, [this, box] {
                ++stuck;
                box->button(QMessageBox::Abort)->click();
            });
        };
    }

private:
    void onModal(QWidget *modal)
    {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box || !box->text().startsWith("New device"))
            return; // a file dialog
        auto *informative = box->findChild<QLabel *>("qt_msgbox_informativelabel");
        Seen s;
        s.text = box->text();
        s.informative = box->informativeText();
        s.informativeIsRich = informative && informative->textFormat() != Qt::PlainText;
        s.okIsDefault = box->defaultButton() == box->button(QMessageBox::Ok)
                        && box->defaultButton() != nullptr;
        s.onlyOkAndAbort = box->standardButtons() == (QMessageBox::Ok | QMessageBox::Abort);
        s.expected = !steps.empty();
        seen.append(s);
        if (steps.empty()) {
            abort(box);
            return;
        }
        const Step step = std::move(steps.front());
        steps.pop_front();
        step(box);
    }

    std::deque<Step> steps;
    QList<Seen> seen;
    guitest::ModalWatcher watcher{[this](QWidget *modal) { onModal(modal); }};
};

QString promptText(const QString &serial)
{
    return QString("New device (Serial No. %1) found.").arg(serial);
}

} // namespace

class TestProduction : public QObject
{
    Q_OBJECT

    // The bench is created before the window and destroyed after it. The
    // window's watcher polls every 20 ms.
    struct Rig {
        InstalledBench bench;
        MainWindow w{nullptr, 20};
        PromptDesk prompts;
        Rig() { w.show(); }

        QStringList listed() const { return guitest::listedDevices(&w); }
        QStringList programmedDevices() const
        {
            QStringList names;
            for (const auto &c : bench->calls()) {
                if (c.call == Call::Program)
                    names << QString::fromStdString(c.device);
            }
            return names;
        }
        QString log() const { return child<QPlainTextEdit>(&w, "logPTE")->toPlainText(); }
        QLineEdit *serialField() const { return child<QLineEdit>(&w, "serialle"); }
        QString activeID() { return Access::activeID(w); }
        QStringList flashedIDs() { return Access::flashedIDs(w); }
        // Plugs a device in or out at once with respect to the watcher, which
        // enumerates under the device lock.
        void atomically(const std::function<void()> &change)
        {
            Access::devThread(w)->TakeMutex();
            change();
            Access::devThread(w)->FreeMutex();
        }
        void replug(const std::string &name)
        {
            const Image image = bench->image(name);
            atomically([&] {
                bench->detach(name);
                bench->attach(name, image);
            });
        }
    };

    QTemporaryDir dir;
    int fileCount = 0;

    // Opens the bench file through "Open Config" (a file of its own per case:
    // QSettings caches files by path).
    void openBenchFile(Rig &rig)
    {
        const QString path = dir.filePath(QString("bench%1.FTDIconf").arg(++fileCount));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(benchFile);
        file.close();
        guitest::answerNextModal(
            [path](QWidget *dialog) { guitest::typeFileNameAndAccept(dialog, path); });
        guitest::trigger(&rig.w, "actionOpen");
        QCOMPARE(Access::filename(rig.w), path);
        QCOMPARE(rig.serialField()->text(), fileSerial);
    }

    // Waits until the watcher has enumerated the bench `polls` more times and
    // the lists it sent have been handled; a prompt that was going to come
    // has come by then.
    static void settle(Rig &rig, int polls = 3)
    {
        const int start = callsOf(*rig.bench.bench, Call::Count);
        QTRY_VERIFY(callsOf(*rig.bench.bench, Call::Count) >= start + polls);
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void okProgramsTheDeviceFromTheFileOnce();
    void declinedDeviceIsNotProgrammedNorOfferedAgainWhileAttached_data();
    void declinedDeviceIsNotProgrammedNorOfferedAgainWhileAttached();
    void deviceAttachedBeforeTheFileIsOfferedOnlyAfterReplug();
    void twoDevicesRaiseNoPromptAndAreListedSorted();
    void unplugDuringThePromptLetsItLapse();
    void deviceReplacedDuringThePromptGetsItsOwnPrompt();
    void secondDeviceDuringThePromptDefersItUntilAloneAgain();
    void generatedSerialsGiveEachDeviceItsOwnNumber();
};

void TestProduction::okProgramsTheDeviceFromTheFileOnce()
{
    Rig rig;
    openBenchFile(rig);
    QCOMPARE(rig.flashedIDs(), QStringList{fileSerial});

    rig.prompts.expect(PromptDesk::enter); // Ok is preselected, so Enter programs
    rig.bench->attach("dev1", freshImage("FT0001AA"));

    QTRY_COMPARE(rig.programmedDevices(), QStringList{"dev1"});
    QCOMPARE(rig.prompts.count(), 1);
    const PromptDesk::Seen &prompt = rig.prompts.last();
    QCOMPARE(prompt.text, promptText("FT0001AA"));
    QCOMPARE(prompt.informative, "Do you want to <b>flash</b> this device?");
    QVERIFY(prompt.informativeIsRich);
    QVERIFY(prompt.okIsDefault);
    QVERIFY(prompt.onlyOkAndAbort);
    COMPARE_MAPS(eeprom(rig.bench->image("dev1")), programmedFromFile(fileSerial));
    QCOMPARE(rig.flashedIDs(), QStringList{fileSerial});
    QCOMPARE(rig.activeID(), "FT0001AA");
    QVERIFY(rig.log().endsWith("FT0001AA -> Progam OK"));

    // Still attached: not offered again.
    settle(rig);
    QCOMPARE(rig.prompts.count(), 1);

    // Plugged in anew it lists the programmed number, which is taken.
    rig.replug("dev1");
    QTRY_COMPARE(rig.listed(), QStringList{fileSerial});
    QCOMPARE(rig.activeID(), fileSerial);
    settle(rig);
    QCOMPARE(rig.prompts.count(), 1);
    QCOMPARE(rig.programmedDevices(), QStringList{"dev1"});
}

void TestProduction::declinedDeviceIsNotProgrammedNorOfferedAgainWhileAttached_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("Abort button") << false;
    QTest::newRow("Escape key") << true;
}

void TestProduction::declinedDeviceIsNotProgrammedNorOfferedAgainWhileAttached()
{
    QFETCH(bool, byEscape);
    const PromptDesk::Step decline = byEscape ? PromptDesk::escape : PromptDesk::abort;
    Rig rig;
    openBenchFile(rig);
    // The file's own number in small letters: a different device, so offered.
    const Image fresh = freshImage("bm3f09a1");

    rig.prompts.expect(decline);
    rig.bench->attach("dev1", fresh);
    QTRY_COMPARE(rig.prompts.count(), 1);
    QCOMPARE(rig.prompts.last().text, promptText("bm3f09a1"));
    settle(rig);

    QCOMPARE(rig.prompts.count(), 1);
    QCOMPARE(rig.programmedDevices(), QStringList());
    QVERIFY(rig.bench->image("dev1") == fresh);
    QCOMPARE(rig.flashedIDs(), QStringList{fileSerial});
    QCOMPARE(rig.log(), QString());

    // Declining records nothing: plugged in anew, it is offered again.
    rig.prompts.expect(decline);
    rig.bench->detach("dev1");
    QTRY_COMPARE(rig.listed(), QStringList());
    rig.bench->attach("dev1", fresh);
    QTRY_COMPARE(rig.prompts.count(), 2);
    QCOMPARE(rig.prompts.last().text, promptText("bm3f09a1"));
    QCOMPARE(rig.prompts.unexpected(), 0);
}

void TestProduction::deviceAttachedBeforeTheFileIsOfferedOnlyAfterReplug()
{
    Rig rig;
    const Image fresh = freshImage("FT0003CC");
    rig.bench->attach("dev1", fresh);

    // No file in use: the device becomes the active one, nothing is asked.
    QTRY_COMPARE(rig.activeID(), "FT0003CC");
    QCOMPARE(rig.listed(), QStringList{"FT0003CC"});
    openBenchFile(rig);
    settle(rig);
    QCOMPARE(rig.prompts.count(), 0);

    rig.prompts.expect(PromptDesk::enter);
    rig.bench->detach("dev1");
    QTRY_COMPARE(rig.listed(), QStringList());
    QCOMPARE(rig.activeID(), "FT0003CC"); // an empty list leaves it
    rig.bench->attach("dev1", fresh);

    QTRY_COMPARE(rig.programmedDevices(), QStringList{"dev1"});
    QCOMPARE(rig.prompts.count(), 1);
    QCOMPARE(rig.prompts.last().text, promptText("FT0003CC"));
    COMPARE_MAPS(eeprom(rig.bench->image("dev1")), programmedFromFile(fileSerial));
}

void TestProduction::twoDevicesRaiseNoPromptAndAreListedSorted()
{
    Rig rig;
    openBenchFile(rig);

    // Bench order (by name) is the reverse of serial-number order.
    rig.atomically([&] {
        rig.bench->attach("a-dev", freshImage("ZZ000002"));
        rig.bench->attach("b-dev", freshImage("AA000001"));
    });
    QTRY_COMPARE(rig.listed(), QStringList({"AA000001", "ZZ000002"}));
    settle(rig);
    QCOMPARE(rig.prompts.count(), 0);
    QCOMPARE(rig.activeID(), QString());

    // Once one is unplugged the other is alone, and offered.
    rig.prompts.expect(PromptDesk::abort);
    rig.bench->detach("b-dev");
    QTRY_COMPARE(rig.prompts.count(), 1);
    QCOMPARE(rig.prompts.last().text, promptText("ZZ000002"));
    QCOMPARE(rig.activeID(), "ZZ000002");
    QCOMPARE(rig.programmedDevices(), QStringList());
}

void TestProduction::unplugDuringThePromptLetsItLapse()
{
    Rig rig;
    openBenchFile(rig);

    rig.prompts.expect(rig.prompts.leaveOpenWhile([&] { rig.bench->detach("dev1"); }));
    rig.bench->attach("dev1", freshImage("FT0004DD"));
    QTRY_COMPARE(rig.prompts.count(), 1);
    QTRY_COMPARE(rig.listed(), QStringList());
    settle(rig);

    QCOMPARE(rig.prompts.stuck, 0);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(rig.prompts.count(), 1);
    QCOMPARE(callsOf(*rig.bench.bench, Call::Open), 0); // nothing programmed, nothing even tried
    QCOMPARE(rig.log(), QString());
    QCOMPARE(rig.flashedIDs(), QStringList{fileSerial});
    QCOMPARE(rig.activeID(), "FT0004DD");
}

void TestProduction::deviceReplacedDuringThePromptGetsItsOwnPrompt()
{
    Rig rig;
    openBenchFile(rig);

    // The watcher sees the second device in the first one's place at once.
    rig.prompts.expect(rig.prompts.leaveOpenWhile([&] {
        rig.atomically([&] {
            rig.bench->detach("dev1");
            rig.bench->attach("dev2", freshImage("FT0006FF"));
        });
    }));
    rig.prompts.expect(PromptDesk::enter);
    rig.bench->attach("dev1", freshImage("FT0005EE"));

    QTRY_COMPARE(rig.programmedDevices(), QStringList{"dev2"});
    QCOMPARE(rig.prompts.stuck, 0);
    QCOMPARE(rig.prompts.count(), 2);
    QCOMPARE(rig.prompts.unexpected(), 0);
    QCOMPARE(rig.prompts.last().text, promptText("FT0006FF"));
    COMPARE_MAPS(eeprom(rig.bench->image("dev2")), programmedFromFile(fileSerial));
    QCOMPARE(rig.activeID(), "FT0006FF");
    settle(rig);
    QCOMPARE(rig.prompts.count(), 2);
}

void TestProduction::secondDeviceDuringThePromptDefersItUntilAloneAgain()
{
    Rig rig;
    openBenchFile(rig);
    const Image second = freshImage("FT0008BB");

    rig.prompts.expect(
        rig.prompts.leaveOpenWhile([&] { rig.bench->attach("dev2", second); }));
    rig.bench->attach("dev1", freshImage("FT0007AA"));
    QTRY_COMPARE(rig.listed(), QStringList({"FT0007AA", "FT0008BB"}));
    settle(rig);
    QCOMPARE(rig.prompts.stuck, 0);
    QCOMPARE(rig.prompts.count(), 1);
    QCOMPARE(rig.programmedDevices(), QStringList());

    // Alone again and still unprogrammed: offered at once.
    rig.prompts.expect(PromptDesk::enter);
    rig.bench->detach("dev2");
    QTRY_COMPARE(rig.programmedDevices(), QStringList{"dev1"});
    QCOMPARE(rig.prompts.count(), 2);
    QCOMPARE(rig.prompts.last().text, promptText("FT0007AA"));
    COMPARE_MAPS(eeprom(rig.bench->image("dev1")), programmedFromFile(fileSerial));
}

void TestProduction::generatedSerialsGiveEachDeviceItsOwnNumber()
{
    Rig rig;
    openBenchFile(rig);
    QTest::mouseClick(child<QCheckBox>(&rig.w, "genserialchb"), Qt::LeftButton);
    QVERIFY(!rig.serialField()->isEnabled());

    QStringList given;
    for (int n = 1; n <= 3; ++n) {
        const std::string name = "dev" + std::to_string(n);
        const QString listed = QString("FT00%1000").arg(n);
        QString offered; // the number in the form while the prompt is shown
        rig.prompts.expect([&](QMessageBox *box) {
            offered = rig.serialField()->text();
            PromptDesk::enter(box);
        });
        rig.bench->attach(name, freshImage(listed.toStdString()));
        QTRY_COMPARE(rig.programmedDevices().size(), n);
        QCOMPARE(rig.prompts.last().text, promptText(listed));

        QVERIFY2(QRegularExpression("^BM[0-9A-F]{6}$").match(offered).hasMatch(),
                 qPrintable(offered));
        COMPARE_MAPS(eeprom(rig.bench->image(name)), programmedFromFile(offered));
        QVERIFY(rig.serialField()->text() != offered); // the next one is ready
        given << offered;
        QCOMPARE(rig.flashedIDs(), QStringList{fileSerial} + given);

        // Plugged in anew, it lists its new number, which is taken.
        rig.replug(name);
        QTRY_COMPARE(rig.listed(), QStringList{offered});
        settle(rig);
        QCOMPARE(rig.prompts.count(), n);
        rig.bench->detach(name);
        QTRY_COMPARE(rig.listed(), QStringList());
    }
    QStringList distinct = given;
    distinct.removeDuplicates();
    QCOMPARE(distinct.size(), 3);
    QVERIFY(!given.contains(fileSerial));
    QCOMPARE(rig.prompts.unexpected(), 0);
}

QTEST_MAIN(TestProduction)
#include "test_production.moc"
