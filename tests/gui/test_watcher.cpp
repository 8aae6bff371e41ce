// The device watcher on the simulated bench: what it emits, when, and how it
// shares the device lock.
#include "bench.h"
#include "ftdidevthread.h"

#include <QTest>

using kestrova::d2xx::Call;
using kestrova::d2xx::freshImage;

namespace {

const int pollMs = 10;
// Long enough for many polls: a change would have been emitted by then.
const int quietMs = 30 * pollMs;

} // namespace

class TestWatcher : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        bench = std::make_unique<InstalledBench>();
        watcher = std::make_unique<FTDIDevThread>(pollMs);
        emitted.clear();
        // Delivered queued into this thread, as the window receives them.
        connect(watcher.get(), &FTDIDevThread::devChange, this,
                [this](const QStringList &list) { emitted.append(list); });
    }
    void cleanup()
    {
        watcher.reset();
        bench.reset();
    }

    void emptyBenchEmitsNothing()
    {
        watcher->start();
        QTest::qWait(quietMs);
        QCOMPARE(emitted.size(), 0);
        QVERIFY(countCalls() > 1); // it did poll
    }

    void plugAndUnplugEmitSortedLists()
    {
        (*bench)->attach("b", freshImage("SER-B"));
        (*bench)->attach("a", freshImage("SER-Z"));
        watcher->start();
        QTRY_COMPARE(emitted.size(), 1);
        QCOMPARE(emitted.at(0), QStringList({"SER-B", "SER-Z"}));

        (*bench)->detach("a");
        (*bench)->detach("b");
        QTRY_COMPARE(emitted.size(), 2);
        QCOMPARE(emitted.at(1), QStringList());
    }

    void sortIsCaseSensitiveAndKeepsDuplicates()
    {
        (*bench)->attach("1", freshImage("abc"));
        (*bench)->attach("2", freshImage("ABC"));
        (*bench)->attach("3", freshImage("ABC"));
        watcher->start();
        QTRY_COMPARE(emitted.size(), 1);
        QCOMPARE(emitted.at(0), QStringList({"ABC", "ABC", "abc"}));
    }

    void reorderedListingEmitsNothing()
    {
        (*bench)->attach("a", freshImage("X1"));
        (*bench)->attach("b", freshImage("Y2"));
        watcher->start();
        QTRY_COMPARE(emitted.size(), 1);

        // Swap which position lists which serial, atomically for the watcher.
        watcher->TakeMutex();
        (*bench)->detach("a");
        (*bench)->detach("b");
        (*bench)->attach("a", freshImage("Y2"));
        (*bench)->attach("b", freshImage("X1"));
        watcher->FreeMutex();
        QTest::qWait(quietMs);
        QCOMPARE(emitted.size(), 1);
    }

    void failingCountEmitsEmptyListThenRecovers()
    {
        (*bench)->attach("a", freshImage("X1"));
        watcher->start();
        QTRY_COMPARE(emitted.size(), 1);

        (*bench)->failNext(Call::Count, 1, FT_IO_ERROR);
        QTRY_COMPARE(emitted.size(), 3);
        QCOMPARE(emitted.at(1), QStringList());
        QCOMPARE(emitted.at(2), QStringList({"X1"}));
    }

    void failingSerialLeavesThatDeviceOut()
    {
        (*bench)->attach("a", freshImage("X1"));
        (*bench)->attach("b", freshImage("Y2"));
        (*bench)->failNext(Call::SerialByIndex, 1, FT_IO_ERROR);
        watcher->start();
        QTRY_COMPARE(emitted.size(), 2);
        QCOMPARE(emitted.at(0), QStringList({"Y2"}));
        QCOMPARE(emitted.at(1), QStringList({"X1", "Y2"}));
    }

    void heldLockDelaysEnumeration()
    {
        watcher->start();
        QTRY_VERIFY(countCalls() > 0);

        watcher->TakeMutex();
        (*bench)->clearCalls();
        (*bench)->attach("a", freshImage("X1"));
        QTest::qWait(quietMs);
        const int countsWhileHeld = countCalls();
        const int emissionsWhileHeld = emitted.size();
        watcher->FreeMutex();

        QCOMPARE(countsWhileHeld, 0);
        QCOMPARE(emissionsWhileHeld, 0);
        QTRY_COMPARE(emitted.size(), 1);
    }

    void stopInterruptsTheSleep()
    {
        FTDIDevThread sleepy(24 * 60 * 60 * 1000);
        sleepy.start();
        QVERIFY(sleepy.isRunning());
        sleepy.stop();
        // The default deadline is forever; the enum QDeadlineTimer::Forever itself
        // would convert to wait(0 ms) and fail whenever the join takes a moment.
        QVERIFY(sleepy.wait());
        QCOMPARE(countCalls(), 0); // it never got past its first sleep
    }

private:
    int countCalls() const { return callsOf(*bench->bench, Call::Count); }

    std::unique_ptr<InstalledBench> bench;
    std::unique_ptr<FTDIDevThread> watcher;
    QList<QStringList> emitted;
};

QTEST_GUILESS_MAIN(TestWatcher)
#include "test_watcher.moc"
