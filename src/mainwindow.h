#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "ftd2xx.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <optional>

namespace Ui {
class MainWindow;
}
class AboutWidget;
class FTDIDevThread;
class QComboBox;
class QMessageBox;
class QSettings;

// Writes `str` into the `len`-byte buffer `chr` as a zero-terminated Latin-1
// string: at most len - 1 characters, a character outside Latin-1 (or U+0000,
// which cannot stand inside such a string) as '?'.
void QString2CharArray(QString str, char *chr, int len);

// The one main window: owns the form, the device watcher and all state of
// reading, programming, configuration files and the production run.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr, int pollIntervalMs = 1000);
    virtual ~MainWindow();

protected:
    // An open flash prompt lapses with the window (see lapseFlashPrompt).
    void closeEvent(QCloseEvent *event) override;

private:
    void logMsg(QString MSG);
    int readFTDIEE();
    QString generateID();

private slots:
    void autoID(bool b);
    void ftdiDevChange(QStringList DevIDs);
    void saveConfFile();
    void openConfFile();
    void writeFTDIEE();
    void update();

private:
    // A configuration file key (with its group, if any) and the widget it stores.
    struct ConfigKey {
        QString key;
        QWidget *widget;
    };

    void fillCbusLists();
    QList<QComboBox *> cbusBoxes() const;
    QList<ConfigKey> configKeys() const;
    // Runs `useDevice` under the device lock when exactly one device is
    // attached (and, with `onlySerial`, lists that serial number); otherwise
    // logs why nothing can be done.
    void withSingleDevice(const std::function<void()> &useDevice,
                          const std::optional<QString> &onlySerial = std::nullopt);
    bool singleDeviceLists(const QString &serial);
    void showReadRecord();
    bool refuseUnprogrammableForm();
    // Programs the form into the single attached device (writeFTDIEE); with
    // `onlySerial`, only if that device lists it.
    void programDevice(const std::optional<QString> &onlySerial);
    FT_PROGRAM_DATA programRecordFromForm() const;
    void recordProgrammedSerial();
    int askToFlash(const QString &serial);
    void lapseFlashPrompt();

    Ui::MainWindow *ui;
    FT_HANDLE ftHandle;
    FT_STATUS ftStatus;
    FT_PROGRAM_DATA *ftData;
    FTDIDevThread *devThread;
    char ManufacturerBuf[FT_MANUFACTURER_BUFFER_SIZE];
    char ManufacturerIdBuf[FT_MANUFACTURER_ID_BUFFER_SIZE];
    char DescriptionBuf[FT_DESCRIPTION_BUFFER_SIZE];
    char SerialNumberBuf[FT_SERIAL_NUMBER_BUFFER_SIZE];
    QSettings *settings;
    QString filename;
    QString activeID;
    QStringList FlashedIDs;
    AboutWidget *about;

    // The flash prompt while it is open; a new device list makes it lapse.
    QPointer<QMessageBox> flashPrompt;
    std::optional<QStringList> lapsedPromptList;
    // Source of the random UUIDs behind generated serial numbers.
    std::function<QUuid()> newUuid = &QUuid::createUuid;

    friend struct MainWindowTestAccess;
};

#endif // MAINWINDOW_H
