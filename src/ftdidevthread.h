#ifndef FTDIDEVTHREAD_H
#define FTDIDEVTHREAD_H

#include "ftd2xx.h"

#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

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
    bool sleepUnlessStopped();
    void enumerate();

    QMutex mutex;
    FT_STATUS ftStatus = FT_OK;
    DWORD numDevs = 0;
    QStringList devStrLst;
    QStringList devStrLst_old;

    const int pollIntervalMs;
    QMutex sleepLock;
    QWaitCondition wakeUp;
    bool stopRequested = false;
};

#endif // FTDIDEVTHREAD_H
