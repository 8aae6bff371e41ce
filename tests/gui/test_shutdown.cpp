// Closing the main window ends the program cleanly, whatever is under way:
// the watcher enumerating, a device operation holding the lock, the flash
// prompt or the Open dialog open. Each case runs the program as a process of
// its own (this test binary started again with --run-program, doing what
// main() does) on a simulated bench, so that the exit code, the end of the
// watcher thread and everything that runs after the event loop are what a
// user's run would see.
#include "d2xx/simbench.h"
#include "guitest.h"
#include "mainwindow.h"

#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextStream>

#include <atomic>
#include <chrono>
#include <thread>

using guitest::child;
using kestrova::d2xx::Call;
using kestrova::d2xx::Device;
using kestrova::d2xx::Image;
using kestrova::d2xx::SimBench;

namespace {

const int pollMs = 20;
// How long the slow steps of the bench take: long enough for the close to
// arrive in the middle of them.
const auto slowStep = std::chrono::milliseconds(300);

const QByteArray configFile = "[General]\nSerialNumber=KS000001\nManufacturerId=KS\n"
                              "[CBUS]\nCBus0=TXLED#\nCBus1=RXLED#\nCBus2=TXDEN\n"
                              "CBus3=PWREN#\nCBus4=SLEEP#\n";

// A simulated bench whose enumerations or EEPROM writes take their time, as
// behind a slow hub; it says when one is under way.
class SlowBench : public SimBench
{
public:
    std::atomic<bool> slowCounts{false};
    std::atomic<int> countsStarted{0};
    std::atomic<int> countsFinished{0};
    // Runs in the middle of every EEPROM write, before it takes its time.
    std::function<void()> duringWrite = [] {};

    FT_STATUS countDevices(DWORD &count) override
    {
        ++countsStarted;
        if (slowCounts)
            std::this_thread::sleep_for(slowStep);
        const FT_STATUS status = SimBench::countDevices(count);
        ++countsFinished;
        return status;
    }

    FT_STATUS open(DWORD index, std::unique_ptr<Device> &device) override
    {
        std::unique_ptr<Device> opened;
        const FT_STATUS status = SimBench::open(index, opened);
        if (status == FT_OK)
            device = std::make_unique<SlowWrites>(std::move(opened), *this);
        return status;
    }

    void close(std::unique_ptr<Device> device) override
    {
        SimBench::close(std::move(static_cast<SlowWrites &>(*device).opened));
    }

private:
    class SlowWrites : public Device
    {
    public:
        SlowWrites(std::unique_ptr<Device> opened, SlowBench &bench)
            : opened(std::move(opened)), bench(bench)
        {
        }
        bool isFT232R() const override { return opened->isFT232R(); }
        FT_STATUS readImage(Image &image) override { return opened->readImage(image); }
        FT_STATUS writeImage(const Image &image) override
        {
            bench.duringWrite();
            std::this_thread::sleep_for(slowStep);
            return opened->writeImage(image);
        }
        FT_STATUS close() override { return opened->close(); }

        std::unique_ptr<Device> opened;

    private:
        SlowBench &bench;
    };
};

int callsOf(const SimBench &bench, Call kind)
{
    const auto calls = bench.calls();
    return int(std::count_if(calls.cbegin(), calls.cend(),
                             [kind](const auto &record) { return record.call == kind; }));
}

// Checks `condition` every millisecond and, once it holds, closes the window.
void closeWhen(MainWindow &window, std::function<bool()> condition, QString *closedWhile,
               const QString &what)
{
    auto *timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [=, &window] {
        if (!condition())
            return;
        timer->stop();
        *closedWhile = what;
        window.close();
    });
    timer->start(1);
}

// ---- The program under test: what main() does, with the close arranged ----

void arrange(const QString &scenario, const QString &configPath, SlowBench &bench,
             MainWindow &window, QString *closedWhile)
{
    bench.attach("dev1", kestrova::d2xx::freshImage("SER1"));
    auto *list = child<QListWidget>(&window, "listWidget");
    if (scenario == "enumerating") {
        bench.slowCounts = true;
        closeWhen(window, [&bench] { return bench.countsStarted > bench.countsFinished; },
                  closedWhile, "enumerating");
    } else if (scenario == "programming") {
        // The close request waits in the queue while the write holds the lock.
        bench.duringWrite = [&window, closedWhile] {
            *closedWhile = "programming";
            QMetaObject::invokeMethod(&window, "close", Qt::QueuedConnection);
        };
        auto *button = child<QPushButton>(&window, "programBUT");
        auto *timer = new QTimer(&window);
        QObject::connect(timer, &QTimer::timeout, &window, [=] {
            if (list->count() == 1) {
                timer->stop();
                QTest::mouseClick(button, Qt::LeftButton);
            }
        });
        timer->start(1);
    } else if (scenario == "dialog") {
        QTimer::singleShot(0, &window, [&window] { guitest::trigger(&window, "actionOpen"); });
        closeWhen(window, [] {
            return guitest::isReadyForInput(QApplication::activeModalWidget());
        }, closedWhile, "dialog");
    } else if (scenario == "prompt") {
        bench.detach("dev1"); // plugged in once the file is open
        QTimer::singleShot(0, &window, [&window, &bench, configPath] {
            guitest::answerNextModal([configPath](QWidget *dialog) {
                guitest::typeFileNameAndAccept(dialog, configPath);
            });
            guitest::trigger(&window, "actionOpen");
            bench.attach("dev1", kestrova::d2xx::freshImage("SER1"));
        });
        closeWhen(window, [] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            return guitest::isReadyForInput(box) && box->text().contains("SER1");
        }, closedWhile, "prompt");
    }
}

// Runs the program and prints what a test cannot see from outside, one
// "name=value" per line.
int runProgram(int argc, char *argv[], const QString &scenario, const QString &configPath)
{
    auto bench = std::make_shared<SlowBench>();
    kestrova::d2xx::installBus(bench);
    QString closedWhile = "never";
    QString lastLogLine;
    int exitCode = 0;
    {
        QApplication app(argc, argv);
        MainWindow window(nullptr, pollMs);
        window.show();
        arrange(scenario, configPath, *bench, window, &closedWhile);
        exitCode = app.exec();
        lastLogLine = child<QPlainTextEdit>(&window, "logPTE")->document()->lastBlock().text();
    }
    // The window is gone, and its watcher with it: no call comes any more.
    const int callsAtExit = int(bench->calls().size());
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * pollMs));
    QTextStream out(stdout);
    out << "closedWhile=" << closedWhile << "\n"
        << "enumerationsUnfinished=" << bench->countsStarted - bench->countsFinished << "\n"
        << "callsAfterExit=" << int(bench->calls().size()) - callsAtExit << "\n"
        << "programCalls=" << callsOf(*bench, Call::Program) << "\n"
        << "devicesOpen=" << bench->openDevices() << "\n"
        << "lastLogLine=" << lastLogLine << "\n";
    kestrova::d2xx::installBus(nullptr);
    return exitCode;
}

} // namespace

class TestShutdown : public QObject
{
    Q_OBJECT

private slots:
    void closingEndsTheProgramCleanly_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QVariantMap>("expected");
        QTest::newRow("while the watcher enumerates")
            << "enumerating" << QVariantMap{{"programCalls", "0"}, {"lastLogLine", ""}};
        QTest::newRow("while programming holds the device lock")
            << "programming"
            << QVariantMap{{"programCalls", "1"}, {"lastLogLine", "SER1 -> Progam OK"}};
        QTest::newRow("while the Open dialog is open")
            << "dialog" << QVariantMap{{"programCalls", "0"}, {"lastLogLine", ""}};
        // The prompt has no parent; it lapses with the window and programs nothing.
        QTest::newRow("while the flash prompt is open")
            << "prompt" << QVariantMap{{"programCalls", "0"}, {"lastLogLine", ""}};
    }

    void closingEndsTheProgramCleanly()
    {
        QFETCH(QString, scenario);
        QFETCH(QVariantMap, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString configPath = dir.filePath("bench.FTDIconf");
        QFile file(configPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(configFile);
        file.close();

        QProcess program;
        program.start(QCoreApplication::applicationFilePath(),
                      {"--run-program", scenario, configPath});
        const bool ended = program.waitForFinished(60000);
        if (!ended) {
            program.kill();
            program.waitForFinished();
        }
        const QString output = QString::fromUtf8(program.readAllStandardOutput());
        const QString errors = QString::fromUtf8(program.readAllStandardError());
        const QString context = output + errors;
        QVERIFY2(ended, qPrintable("the program did not end after the close:\n" + context));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(program.exitCode() == 0, qPrintable(context));

        QVariantMap facts;
        for (const QString &line : output.split('\n', Qt::SkipEmptyParts))
            facts[line.section('=', 0, 0)] = line.section('=', 1);
        expected["closedWhile"] = scenario;
        expected["enumerationsUnfinished"] = "0";
        expected["callsAfterExit"] = "0";
        expected["devicesOpen"] = "0";
        COMPARE_MAPS(facts, expected);
    }
};

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--run-program") == 0)
        return runProgram(argc, argv, argv[2], argv[3]);
    QApplication app(argc, argv);
    TestShutdown test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_shutdown.moc"
