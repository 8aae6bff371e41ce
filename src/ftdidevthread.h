#ifndef FTDIDEVTHREAD_H
#define FTDIDEVTHREAD_H

#include "ftd2xx.h"

#include <QMutex>
#include <QStringList>
#include <QThread>

#include <condition_variable>
#include <mutex>

// Watches the attached devices: enumerates them once per poll interval and
// emits devChange with the sorted serial numbers whenever that list changes.
// Its mutex is the device lock that keeps every device access in sequence.
class FTDIDevThread : public QThread
{
    Q_OBJECT

public:
    explicit FTDIDevThread(int pollIntervalMs = 1000);
    // Stops the polling loop and joins the thread.
    ~FTDIDevThread() override;

    void TakeMutex();
    void FreeMutex();
    // Ends the polling loop at once, interrupting its sleep; wait() joins it.
    void stop();

signals:
    void devChange(QStringList DevIDs);

protected:
    void run() override;

private:
    // The tests' seam tries the device lock without blocking on a lock that leaked.
    friend struct MainWindowTestAccess;

    bool sleepUnlessStopped();
    void enumerate();

    QMutex mutex;
    FT_STATUS ftStatus = FT_OK;
    DWORD numDevs = 0;
    QStringList devStrLst;
    QStringList devStrLst_old;

    const int pollIntervalMs;
    // The sleep's own lock and condition are the standard ones: ThreadSanitizer
    // follows their waits, while it cannot see QWaitCondition release a QMutex
    // inside the (uninstrumented) Qt library and would report a double lock.
    std::mutex sleepLock;
    std::condition_variable wakeUp;
    bool stopRequested = false;
};

#endif // FTDIDEVTHREAD_H
