// The seam through which tests read and set the main window's private state.
#pragma once

#include "aboutwidget.h"
#include "ftdidevthread.h"
#include "mainwindow.h"

struct MainWindowTestAccess {
    static QStringList &flashedIDs(MainWindow &w) { return w.FlashedIDs; }
    static QString &filename(MainWindow &w) { return w.filename; }
    static QString &activeID(MainWindow &w) { return w.activeID; }
    static FT_STATUS ftStatus(MainWindow &w) { return w.ftStatus; }
    static QSettings *settings(MainWindow &w) { return w.settings; }
    static FTDIDevThread *devThread(MainWindow &w) { return w.devThread; }
    static AboutWidget *about(MainWindow &w) { return w.about; }
    static void setUuidSource(MainWindow &w, std::function<QUuid()> source)
    {
        w.newUuid = std::move(source);
    }
    static QString generateID(MainWindow &w) { return w.generateID(); }
    // Takes the device lock if it is free within `timeoutMs`, as the watcher
    // would; false when it stays held (by the GUI thread itself, say).
    static bool tryTakeDeviceLock(MainWindow &w, int timeoutMs)
    {
        return w.devThread->mutex.tryLock(timeoutMs);
    }
    static void freeDeviceLock(MainWindow &w) { w.devThread->mutex.unlock(); }
};
