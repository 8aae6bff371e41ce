// Generated serial numbers: the "Gen.." check box, the number it draws, and
// the next number after each programming, over the simulated bench.
#include "bench.h"
#include "d2xx/ft232r_image.h"
#include "guitest.h"
#include "mainwindowtestaccess.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

using namespace kestrova::d2xx;
using guitest::child;
using Access = MainWindowTestAccess;

namespace {

const int pollMs = 20;
const int fifteen = 15; // the serial number field's limit

// A UUID whose text begins with these six hex digits (given in any case).
QUuid uuidStartingWith(const QString &six)
{
    return QUuid(QString("{%1a5-1111-4111-8111-111111111111}").arg(six.toLower()));
}

// Hands the window the given UUIDs in turn and counts the draws. Running out
// means the window drew more often than the test allows for.
struct UuidScript {
    QList<QUuid> uuids;
    int draws = 0;

    explicit UuidScript(const QStringList &sixes)
    {
        for (const QString &six : sixes)
            uuids << uuidStartingWith(six);
    }
    std::function<QUuid()> source()
    {
        return [this] {
            if (draws >= uuids.size())
                qFatal("more UUID draws than the test scripted (%d)", int(uuids.size()));
            return uuids[draws++];
        };
    }
};

// The bench installed first and removed last; the shown window in between,
// with device "A" attached and listed.
struct Rig {
    InstalledBench bench;
    MainWindow window{nullptr, pollMs};

    Rig()
    {
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qFatal("main window not exposed");
        bench->attach("A", freshImage("A-SERIAL"));
        if (!QTest::qWaitFor([&] { return child<QListWidget>(&window, "listWidget")->count() == 1; },
                             10000))
            qFatal("the watcher did not list the device");
    }
    QLineEdit *serial() { return child<QLineEdit>(&window, "serialle"); }
    QLineEdit *prefix() { return child<QLineEdit>(&window, "manidle"); }
    QCheckBox *gen() { return child<QCheckBox>(&window, "genserialchb"); }
    void clickGen() { QTest::mouseClick(gen(), Qt::LeftButton); }
    void clickWrite()
    {
        QTest::mouseClick(child<QPushButton>(&window, "programBUT"), Qt::LeftButton);
    }
    QString lastLog() const
    {
        return child<QPlainTextEdit>(&window, "logPTE")->toPlainText().section('\n', -1);
    }
    QString programmedSerial() const { return QString::fromStdString(serialOf(bench->image("A"))); }
};

} // namespace

class TestSerials : public QObject
{
    Q_OBJECT

private slots:
    void checkAndUncheck();
    void generatedNumber_data();
    void generatedNumber();
    void randomDigits();
    void programming_data();
    void programming();
    void failedProgrammingKeepsNumber_data();
    void failedProgrammingKeepsNumber();
    void redraw_data();
    void redraw();
    void drawsAreCapped_data();
    void drawsAreCapped();
    void nextNumberAvoidsProgrammedOnes();
};

// Checking locks the field and replaces its text with a fresh number, the
// prefix read at that moment; unchecking unlocks it and keeps the number.
void TestSerials::checkAndUncheck()
{
    UuidScript script({"ab12cd", "00ff00"});
    Rig rig;
    Access::setUuidSource(rig.window, script.source());
    rig.prefix()->setText("KV");
    rig.serial()->setText("TYPED-1");

    rig.clickGen();
    QVERIFY(rig.gen()->isChecked());
    QVERIFY(!rig.serial()->isEnabled());
    QCOMPARE(rig.serial()->text(), "KVAB12CD");
    QCOMPARE(script.draws, 1);

    rig.prefix()->setText("XY"); // takes effect at the next number only
    QCOMPARE(rig.serial()->text(), "KVAB12CD");

    rig.clickGen();
    QVERIFY(!rig.gen()->isChecked());
    QVERIFY(rig.serial()->isEnabled());
    QCOMPARE(rig.serial()->text(), "KVAB12CD");
    QCOMPARE(script.draws, 1);

    rig.clickGen();
    QVERIFY(!rig.serial()->isEnabled());
    QCOMPARE(rig.serial()->text(), "XY00FF00");
    QCOMPARE(script.draws, 2);
}

// The prefix as the field holds it, then the UUID's first six hex digits in
// upper case; the serial number field keeps its first 15 characters.
void TestSerials::generatedNumber_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("uuidDigits");
    QTest::addColumn<QString>("number");

    QTest::newRow("no prefix") << "" << "a1b2c3" << "A1B2C3";
    QTest::newRow("two characters") << "K7" << "a1b2c3" << "K7A1B2C3";
    QTest::newRow("ten characters") << "0123456789" << "a1b2c3" << "0123456789A1B2C3";
    QTest::newRow("fifteen characters") << "ABCDEFGHIJKLMNO" << "a1b2c3" << "ABCDEFGHIJKLMNOA1B2C3";
    QTest::newRow("lower case and punctuation kept") << "kv-x_" << "a1b2c3" << "kv-x_A1B2C3";
    QTest::newRow("leading zeros kept") << "" << "000a0b" << "000A0B";
}

void TestSerials::generatedNumber()
{
    QFETCH(QString, prefix);
    QFETCH(QString, uuidDigits);
    QFETCH(QString, number);

    UuidScript script({uuidDigits, uuidDigits});
    Rig rig;
    Access::setUuidSource(rig.window, script.source());
    rig.prefix()->setText(prefix);

    QCOMPARE(Access::generateID(rig.window), number);
    QCOMPARE(rig.prefix()->text(), prefix);
    rig.clickGen();
    QCOMPARE(rig.serial()->text(), number.left(fifteen));
}

// With the window's own UUID source: six upper-case hex digits, new each time.
void TestSerials::randomDigits()
{
    Rig rig;
    rig.prefix()->setText("KV");
    const QRegularExpression shape("^KV[0-9A-F]{6}$");
    QStringList numbers;
    for (int i = 0; i < 3; ++i) {
        numbers << Access::generateID(rig.window);
        QVERIFY2(shape.match(numbers.last()).hasMatch(), qPrintable(numbers.last()));
    }
    numbers.removeDuplicates();
    QVERIFY2(numbers.size() > 1, "every draw gave the same digits");
}

// A successful programming records the programmed number; with "Gen.." on
// the field then shows the next one, with it off the field stays.
void TestSerials::programming_data()
{
    QTest::addColumn<bool>("generated");
    QTest::newRow("Gen.. on") << true;
    QTest::newRow("Gen.. off") << false;
}

void TestSerials::programming()
{
    QFETCH(bool, generated);

    UuidScript script({"aaaaaa", "bbbbbb"});
    Rig rig;
    Access::setUuidSource(rig.window, script.source());
    rig.prefix()->setText("KV");
    if (generated)
        rig.clickGen();
    else
        rig.serial()->setText("KVAAAAAA");
    QCOMPARE(rig.gen()->isChecked(), generated);

    rig.clickWrite();

    QCOMPARE(rig.lastLog(), "A-SERIAL -> Progam OK");
    QCOMPARE(rig.programmedSerial(), "KVAAAAAA");
    QCOMPARE(Access::flashedIDs(rig.window), QStringList{"KVAAAAAA"});
    QCOMPARE(rig.serial()->text(), generated ? "KVBBBBBB" : "KVAAAAAA");
    QCOMPARE(script.draws, generated ? 2 : 0);
    QCOMPARE(rig.serial()->isEnabled(), !generated);
}

// A programming that fails keeps the number for the next try: no draw, nothing recorded.
void TestSerials::failedProgrammingKeepsNumber_data()
{
    QTest::addColumn<int>("failing");
    QTest::addColumn<QString>("line");
    QTest::newRow("programming fails") << int(Call::Program) << "Prgram FAILED!";
    QTest::newRow("open fails") << int(Call::Open) << "Open FAILED!ERROR 3";
    QTest::newRow("no device") << -1 << "No Device found!!! Can not proceed!!";
}

void TestSerials::failedProgrammingKeepsNumber()
{
    QFETCH(int, failing);
    QFETCH(QString, line);

    UuidScript script({"aaaaaa"});
    Rig rig;
    Access::setUuidSource(rig.window, script.source());
    rig.prefix()->setText("KV");
    rig.clickGen();
    Access::flashedIDs(rig.window) = {"EARLIER"};
    if (failing >= 0)
        rig.bench->failNext(static_cast<Call>(failing), 1, FT_DEVICE_NOT_OPENED);
    else
        rig.bench->detach("A");

    rig.clickWrite();

    QCOMPARE(rig.lastLog(), line);
    QCOMPARE(rig.serial()->text(), "KVAAAAAA");
    QCOMPARE(Access::flashedIDs(rig.window), QStringList{"EARLIER"});
    QCOMPARE(script.draws, 1);
}

// A number already in FlashedIDs, as the field would hold it, is drawn again.
void TestSerials::redraw_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QStringList>("flashed");
    QTest::addColumn<QStringList>("uuidDigits");
    QTest::addColumn<QString>("number");
    QTest::addColumn<int>("draws");

    QTest::newRow("free at once") << "KV" << QStringList{"KVBBBBBB"}
                                  << QStringList{"aaaaaa"} << "KVAAAAAA" << 1;
    QTest::newRow("taken twice") << "KV" << QStringList{"KVAAAAAA", "KVBBBBBB"}
                                 << QStringList{"aaaaaa", "bbbbbb", "cccccc"} << "KVCCCCCC" << 3;
    QTest::newRow("case counts") << "kv" << QStringList{"KVAAAAAA"} << QStringList{"aaaaaa"}
                                 << "kvAAAAAA" << 1;
    QTest::newRow("compared as the field cuts it")
        << "0123456789" << QStringList{"0123456789AAAAA"}
        << QStringList{"aaaaaa", "aaaaab", "bbbbbb"} << "0123456789BBBBBB" << 3;
}

void TestSerials::redraw()
{
    QFETCH(QString, prefix);
    QFETCH(QStringList, flashed);
    QFETCH(QStringList, uuidDigits);
    QFETCH(QString, number);
    QFETCH(int, draws);

    UuidScript script(uuidDigits);
    Rig rig;
    Access::setUuidSource(rig.window, script.source());
    rig.prefix()->setText(prefix);
    Access::flashedIDs(rig.window) = flashed;

    QCOMPARE(Access::generateID(rig.window), number);
    QCOMPARE(script.draws, draws);
    QCOMPARE(Access::flashedIDs(rig.window), flashed);
}

// When every draw is taken the generator gives up after 100 draws and hands
// out the last one.
void TestSerials::drawsAreCapped_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QStringList>("flashed");
    QTest::addColumn<bool>("sameDigits"); // every draw the same, or each one new
    QTest::addColumn<QString>("number");

    QTest::newRow("fifteen-character prefix hides the digits")
        << "ABCDEFGHIJKLMNO" << QStringList{"ABCDEFGHIJKLMNO"} << false
        << "ABCDEFGHIJKLMNO000064";
    QTest::newRow("the one number drawn is taken")
        << "KV" << QStringList{"KVAAAAAA"} << true << "KVAAAAAA";
}

void TestSerials::drawsAreCapped()
{
    QFETCH(QString, prefix);
    QFETCH(QStringList, flashed);
    QFETCH(bool, sameDigits);
    QFETCH(QString, number);

    int draws = 0; // outlives the window that draws
    Rig rig;
    // Draw n (from 1) starts with n as six hex digits, unless all are the same.
    Access::setUuidSource(rig.window, [&] {
        if (++draws > 10000)
            qFatal("the generator does not stop drawing");
        return sameDigits ? uuidStartingWith("aaaaaa")
                          : uuidStartingWith(QString("%1").arg(draws, 6, 16, QChar('0')));
    });
    rig.prefix()->setText(prefix);
    Access::flashedIDs(rig.window) = flashed;

    QCOMPARE(Access::generateID(rig.window), number);
    QCOMPARE(draws, 100);
}

// After programming with "Gen.." on, the next number is neither the one just
// programmed nor one taken earlier in the run.
void TestSerials::nextNumberAvoidsProgrammedOnes()
{
    UuidScript script({"aaaaaa", "aaaaaa", "bbbbbb", "cccccc"});
    Rig rig;
    Access::setUuidSource(rig.window, script.source());
    rig.prefix()->setText("KV");
    rig.clickGen();
    Access::flashedIDs(rig.window) = {"KVBBBBBB"};

    rig.clickWrite();

    QCOMPARE(rig.programmedSerial(), "KVAAAAAA");
    QCOMPARE(Access::flashedIDs(rig.window), QStringList({"KVBBBBBB", "KVAAAAAA"}));
    QCOMPARE(rig.serial()->text(), "KVCCCCCC");
    QCOMPARE(script.draws, 4);
}

QTEST_MAIN(TestSerials)
#include "test_serials.moc"
