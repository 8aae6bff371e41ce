// Plug-to-prompt latency: the real main window, with its default one-second
// poll, watches a bench folder (KESTROVA_BENCH) after the demo configuration
// has been opened through its Open dialog. A device file is plugged in at a
// random moment of the poll cycle; the time until the flash prompt is shown is
// taken, the prompt is answered with Ok (which programs the device), and the
// device is unplugged again before the next one.
//
//   bench_plugprompt DIR [PLUGS]     (DIR: an empty folder)
#include "d2xx/benchdir.h"
#include "d2xx/simbench.h"
#include "guitest.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

// Notes the moment a flash prompt is shown and answers it with Ok.
class PromptWatcher : public QObject
{
public:
    explicit PromptWatcher(const QElapsedTimer &clock) : clock(clock) {}
    qint64 shownAtNs = -1;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(object);
        if (box && event->type() == QEvent::Show && shownAtNs < 0) {
            shownAtNs = clock.nsecsElapsed();
            QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Ok)->click(); });
        }
        return false;
    }

private:
    const QElapsedTimer &clock;
};

// Opens the demo configuration through the window's Open dialog: the path
// goes into the file name field, without its completion pop-up (which could
// take the keys), and Enter accepts it.
void openSampleConfiguration(MainWindow &window)
{
    guitest::answerNextModal([](QWidget *dialog) {
        auto *fileName = guitest::child<QLineEdit>(dialog, "fileNameEdit");
        fileName->setCompleter(nullptr);
        fileName->setText(KESTROVA_SAMPLE_CONFIG);
        QTest::keyClick(fileName, Qt::Key_Return);
    });
    guitest::trigger(&window, "actionOpen");
}

int listedDevices(const MainWindow &window)
{
    return guitest::child<QListWidget>(&window, "listWidget")->count();
}

// Plugs one device and returns the milliseconds until its prompt, or -1.
double plugAndTime(const QString &dir, int plug, PromptWatcher &watcher,
                   const QElapsedTimer &clock)
{
    const std::string file = QDir(dir).filePath(QString("plug%1.eeprom").arg(plug)).toStdString();
    kestrova::d2xx::benchdir::replaceFile(file,
                                          kestrova::d2xx::freshImage("PLUG" + std::to_string(plug)));
    const qint64 pluggedAtNs = clock.nsecsElapsed();
    watcher.shownAtNs = -1;
    const bool prompted = QTest::qWaitFor([&] { return watcher.shownAtNs >= 0; }, 5000);
    std::remove(file.c_str());
    return prompted ? (watcher.shownAtNs - pluggedAtNs) / 1e6 : -1;
}

void printFigures(std::vector<double> ms, int programmed)
{
    std::sort(ms.begin(), ms.end());
    std::printf("plug-to-prompt over %zu plugs: median %.0f ms   min %.0f ms   max %.0f ms"
                "   (%d programmed)\n",
                ms.size(), ms[ms.size() / 2], ms.front(), ms.back(), programmed);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_plugprompt DIR [PLUGS]\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const int plugs = argc > 2 ? std::atoi(argv[2]) : 20;
    qputenv("KESTROVA_BENCH", QFile::encodeName(dir));
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    openSampleConfiguration(window);

    QElapsedTimer clock;
    clock.start();
    PromptWatcher watcher(clock);
    app.installEventFilter(&watcher);
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> phaseMs(0, 999);
    std::vector<double> latencies;
    for (int plug = 0; plug < plugs; ++plug) {
        QTest::qWait(phaseMs(random));
        const double ms = plugAndTime(dir, plug, watcher, clock);
        if (ms < 0) {
            std::fprintf(stderr, "bench_plugprompt: no prompt for plug %d\n", plug);
            return 1;
        }
        latencies.push_back(ms);
        if (!QTest::qWaitFor([&] { return listedDevices(window) == 0; }, 5000)) {
            std::fprintf(stderr, "bench_plugprompt: plug %d was never seen unplugged\n", plug);
            return 1;
        }
    }
    const QString log = guitest::child<QPlainTextEdit>(&window, "logPTE")->toPlainText();
    printFigures(latencies, static_cast<int>(log.count(" -> Progam OK")));
    return 0;
}
