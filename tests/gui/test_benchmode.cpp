// The status bar tells when the devices are simulated and where they live
// (KESTROVA_BENCH), and stays blank in normal use.
#include "bench.h"
#include "guitest.h"
#include "mainwindow.h"

#include <QDir>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Everything the status bar shows: its message and its visible labels.
QString statusText(const MainWindow &window)
{
    QStatusBar *bar = window.statusBar();
    QStringList texts;
    if (!bar->currentMessage().isEmpty())
        texts << bar->currentMessage();
    for (const QLabel *label : bar->findChildren<QLabel *>())
        if (label->isVisible() && !label->text().isEmpty())
            texts << label->text();
    return texts.join(" | ");
}

} // namespace

class TestBenchMode : public QObject
{
    Q_OBJECT

private slots:
    void init() { bench = std::make_unique<InstalledBench>(); }
    void cleanup()
    {
        qunsetenv("KESTROVA_BENCH");
        bench.reset();
    }

    void benchModeNamesTheFolder_data()
    {
        QTest::addColumn<QString>("benchDir");
        QTest::addColumn<QString>("shown");
        const QString absolute = QDir::temp().filePath("kestrova-bench");
        QTest::newRow("absolute") << absolute << absolute;
        QTest::newRow("relative") << "demo/bench" << QDir::current().absoluteFilePath("demo/bench");
    }
    void benchModeNamesTheFolder()
    {
        QFETCH(QString, benchDir);
        QFETCH(QString, shown);
        qputenv("KESTROVA_BENCH", QFile::encodeName(benchDir));
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString expected = "Simulated devices: " + QDir::toNativeSeparators(shown);
        QCOMPARE(statusText(window), expected);

        // A status tip (hovering a tool button) does not hide it.
        window.statusBar()->showMessage("Open a configuration file");
        QCOMPARE(statusText(window), "Open a configuration file | " + expected);
    }

    void normalUseLeavesTheStatusBarBlank()
    {
        qunsetenv("KESTROVA_BENCH");
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(statusText(window), QString());
    }

private:
    std::unique_ptr<InstalledBench> bench;
};

QTEST_MAIN(TestBenchMode)
#include "test_benchmode.moc"
