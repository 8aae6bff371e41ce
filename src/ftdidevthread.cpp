#include "ftdidevthread.h"

#include <chrono>
#include <cstdint>
#include <cstring>

FTDIDevThread::FTDIDevThread(int pollIntervalMs)
    : QThread(nullptr), pollIntervalMs(pollIntervalMs)
{
}

FTDIDevThread::~FTDIDevThread()
{
    stop();
    wait();
}

void FTDIDevThread::TakeMutex()
{
    mutex.lock();
}

void FTDIDevThread::FreeMutex()
{
    mutex.unlock();
}

void FTDIDevThread::stop()
{
    std::lock_guard<std::mutex> locker(sleepLock);
    stopRequested = true;
    wakeUp.notify_all();
}

void FTDIDevThread::run()
{
    while (sleepUnlessStopped()) {
        enumerate();
        devStrLst.sort(Qt::CaseSensitive);
        if (devStrLst != devStrLst_old) {
            emit devChange(devStrLst);
            devStrLst_old = devStrLst;
        }
    }
}

// Sleeps one poll interval first, so the first enumeration comes one interval
// after the start. Returns false once the loop is to end.
bool FTDIDevThread::sleepUnlessStopped()
{
    std::unique_lock<std::mutex> locker(sleepLock);
    wakeUp.wait_for(locker, std::chrono::milliseconds(pollIntervalMs),
                    [this] { return stopRequested; });
    return !stopRequested;
}

// Lists the serial numbers of the attached devices into devStrLst, under the
// device lock. A position whose serial number cannot be read is left out.
void FTDIDevThread::enumerate()
{
    QMutexLocker locker(&mutex);
    devStrLst.clear();
    ftStatus = FT_ListDevices(&numDevs, nullptr, FT_LIST_NUMBER_ONLY);
    if (ftStatus != FT_OK)
        return;
    for (DWORD index = 0; index < numDevs; ++index) {
        char serial[FT_SERIAL_BUFFER_SIZE] = {};
        if (FT_ListDevices(reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(index)), serial,
                           FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)
            == FT_OK)
            devStrLst.append(QString::fromLatin1(serial, qstrnlen(serial, sizeof serial)));
    }
}
