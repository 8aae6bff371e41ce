#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "aboutwidget.h"
#include "ftdidevthread.h"
#include "d2xx/ft232r_image.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// The CBUS pin functions; an entry's position is its function code.
const QStringList cbusFunctions = {
    "TXDEN",   "PWREN#", "RXLED#",  "TXLED#", "TX_RX_LED#", "SLEEP#", "CLK48",
    "CLK24",   "CLK12",  "CLK6",    "IO_MODE", "BIT_WR",    "BIT_RD", "RXF/TXE/RD/WR",
};
// CBUS4 offers only the functions below IO_MODE.
const int firstFunctionMissingOnCbus4 = 10;

const char *const configFilter = "FTDI-Config (*.FTDIconf)";
const char *const configSuffix = "FTDIconf";

// A generated serial number that is already taken is drawn again, this often at most.
const int maxSerialDraws = 100;

template <std::size_t N>
QString latin1Text(const char (&buffer)[N])
{
    return QString::fromLatin1(buffer, qstrnlen(buffer, N));
}

UCHAR flag(const QAbstractButton *box)
{
    return box->isChecked() ? 1 : 0;
}

QVariant widgetValue(const QWidget *widget)
{
    if (auto *edit = qobject_cast<const QLineEdit *>(widget))
        return edit->text();
    if (auto *spin = qobject_cast<const QSpinBox *>(widget))
        return spin->value();
    if (auto *check = qobject_cast<const QCheckBox *>(widget))
        return check->isChecked();
    return qobject_cast<const QComboBox *>(widget)->currentText();
}

// toInt() semantics, except that a whole number beyond int's range is held at
// the nearer end, as the spin box holds its own range, instead of wrapping
// round (toInt() reads 4294967297 as 1 and 2147483648 as -2147483648).
int wholeNumber(const QVariant &value)
{
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (ok)
        return int(std::clamp<qlonglong>(number, std::numeric_limits<int>::min(),
                                         std::numeric_limits<int>::max()));
    static const QRegularExpression digitsOnly("^\\s*[-+]?[0-9]+\\s*$");
    const QString text = value.toString();
    if (!digitsOnly.match(text).hasMatch())
        return 0;
    return text.trimmed().startsWith('-') ? std::numeric_limits<int>::min()
                                          : std::numeric_limits<int>::max();
}

// Puts a stored value into its widget; a missing value (invalid QVariant)
// gives an empty text, 0, unchecked, or no current CBUS entry.
void setWidgetValue(QWidget *widget, const QVariant &value)
{
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        edit->setText(value.toString());
    else if (auto *spin = qobject_cast<QSpinBox *>(widget))
        spin->setValue(wholeNumber(value));
    else if (auto *check = qobject_cast<QCheckBox *>(widget))
        check->setChecked(value.toBool());
    else if (auto *combo = qobject_cast<QComboBox *>(widget))
        combo->setCurrentIndex(
            combo->findText(value.toString(), Qt::MatchExactly | Qt::MatchCaseSensitive));
}

// With KESTROVA_BENCH set, the devices are files in a folder, not USB
// devices: the status bar says so and names the folder. In normal use it
// stays blank. A permanent widget, so that status tips never hide it.
void announceSimulatedDevices(QStatusBar *statusBar)
{
    const QString benchDir = qEnvironmentVariable("KESTROVA_BENCH");
    if (benchDir.isEmpty())
        return;
    auto *label = new QLabel(
        QString("Simulated devices: %1")
            .arg(QDir::toNativeSeparators(QFileInfo(benchDir).absoluteFilePath())));
    label->setObjectName("benchModeLabel");
    statusBar->addPermanentWidget(label, 1);
}

} // namespace

void QString2CharArray(QString str, char *chr, int len)
{
    if (!chr || len <= 0)
        return;
    std::memset(chr, 0, len);
    QByteArray latin1 = str.toLatin1(); // outside Latin-1: '?'
    latin1.replace('\0', '?');         // a zero byte would end the string early
    std::memcpy(chr, latin1.constData(), std::min<qsizetype>(latin1.size(), len - 1));
}

MainWindow::MainWindow(QWidget *parent, int pollIntervalMs)
    : QMainWindow(parent),
      ui(new Ui::MainWindow),
      ftHandle(nullptr),
      ftStatus(FT_OK),
      ftData(new FT_PROGRAM_DATA{}),
      devThread(nullptr),
      ManufacturerBuf{},
      ManufacturerIdBuf{},
      DescriptionBuf{},
      SerialNumberBuf{},
      settings(nullptr),
      about(nullptr)
{
    ui->setupUi(this);
    announceSimulatedDevices(ui->statusBar);
    about = new AboutWidget();

    ui->actionSave->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton, nullptr, this));
    ui->actionOpen->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton, nullptr, this));
    ui->actionAbout->setIcon(
        style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this));
    connect(ui->actionAbout, &QAction::triggered, about, &QWidget::show);

    devThread = new FTDIDevThread(pollIntervalMs);
    connect(devThread, &FTDIDevThread::devChange, this, &MainWindow::ftdiDevChange);
    devThread->start(QThread::InheritPriority);

    fillCbusLists();

    // The window's own update() (the EEPROM read), not the widget repaint.
    connect(ui->updateBUT, &QPushButton::clicked, this, &MainWindow::update);
    connect(ui->programBUT, &QPushButton::clicked, this, &MainWindow::writeFTDIEE);
    connect(ui->actionSave, &QAction::triggered, this, &MainWindow::saveConfFile);
    connect(ui->actionOpen, &QAction::triggered, this, &MainWindow::openConfFile);
    connect(ui->genserialchb, &QCheckBox::toggled, this, &MainWindow::autoID);
}

MainWindow::~MainWindow()
{
    delete devThread; // stops and joins the watcher before anything else goes
    delete ui;
    delete ftData;
    delete settings;
    delete about;
}

void MainWindow::fillCbusLists()
{
    for (QComboBox *box : cbusBoxes())
        box->addItems(cbusFunctions);
}

QList<QComboBox *> MainWindow::cbusBoxes() const
{
    return {ui->cbus0cb, ui->cbus1cb, ui->cbus2cb, ui->cbus3cb, ui->cbus4cb};
}

void MainWindow::logMsg(QString MSG)
{
    ui->logPTE->appendPlainText(MSG);
}

// Device access

void MainWindow::withSingleDevice(const std::function<void()> &useDevice,
                                  const std::optional<QString> &onlySerial)
{
    devThread->TakeMutex();
    DWORD numDevs = 0;
    ftStatus = FT_ListDevices(&numDevs, nullptr, FT_LIST_NUMBER_ONLY);
    if (ftStatus == FT_OK) {
        if (numDevs == 1) {
            if (!onlySerial || singleDeviceLists(*onlySerial))
                useDevice();
        } else if (numDevs > 1)
            logMsg("More than one Device found!!! Can not proceed!!");
        else
            logMsg("No Device found!!! Can not proceed!!");
    }
    devThread->FreeMutex();
}

// A device can replace the one a prompt named before the watcher's next poll;
// it is told apart by its serial number, read under the device lock. A failed
// query, like a failed count, ends the operation without a log line.
bool MainWindow::singleDeviceLists(const QString &serial)
{
    char listed[FT_SERIAL_BUFFER_SIZE] = {};
    PVOID firstPosition = nullptr;
    if (FT_ListDevices(firstPosition, listed, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)
        != FT_OK)
        return false;
    if (latin1Text(listed) == serial)
        return true;
    logMsg(QString("Device %1 not found!!! Can not proceed!!").arg(serial));
    return false;
}

int MainWindow::readFTDIEE()
{
    ftData->Signature1 = 0x00000000;
    ftData->Signature2 = 0xFFFFFFFF;
    ftData->Version = 2;
    ftData->Manufacturer = ManufacturerBuf;
    ftData->ManufacturerId = ManufacturerIdBuf;
    ftData->Description = DescriptionBuf;
    ftData->SerialNumber = SerialNumberBuf;

    int read = 0;
    withSingleDevice([&] {
        logMsg("Open Device");
        ftStatus = FT_Open(0, &ftHandle);
        if (ftStatus != FT_OK) {
            logMsg("Open FAILED!");
            return;
        }
        ftStatus = FT_EE_Read(ftHandle, ftData);
        if (ftStatus == FT_OK) {
            logMsg("Read Deviceinfo");
            read = 1;
        } else {
            logMsg("FT_GetDeviceType FAILED!");
        }
        FT_Close(ftHandle);
    });
    return read;
}

void MainWindow::update()
{
    if (readFTDIEE())
        showReadRecord();
}

void MainWindow::showReadRecord()
{
    const FT_PROGRAM_DATA &data = *ftData;
    ui->vendoridle->setText(QString("0x%1").arg(data.VendorId, 4, 16, QChar('0')));
    ui->produktidle->setText(QString("0x%1").arg(data.ProductId, 4, 16, QChar('0')));
    ui->manufacturerle->setText(latin1Text(ManufacturerBuf));
    ui->manidle->setText(latin1Text(ManufacturerIdBuf));
    ui->des->setText(latin1Text(DescriptionBuf));
    ui->serialle->setText(latin1Text(SerialNumberBuf));
    ui->maxpowersb->setValue(data.MaxPower);
    ui->selfpoweredchb->setChecked(data.SelfPowered != 0);
    ui->pnpchb->setChecked(data.PnP != 0);
    ui->pulldownenablechb->setChecked(data.PullDownEnableR != 0);
    ui->remotewkaeupchb->setChecked(data.RemoteWakeup != 0);
    ui->highcurrentiochb->setChecked(data.HighDriveIOs != 0);
    ui->extoscchb->setChecked(data.UseExtOsc != 0);
    ui->driverchb->setChecked(data.RIsD2XX != 0);
    ui->TXDchb->setChecked(data.InvertTXD != 0);
    ui->RXDchb->setChecked(data.InvertRXD != 0);
    ui->RTSchb->setChecked(data.InvertRTS != 0);
    ui->CTSchb->setChecked(data.InvertCTS != 0);
    ui->DTRchb->setChecked(data.InvertDTR != 0);
    ui->DSRchb->setChecked(data.InvertDSR != 0);
    ui->DCDchb->setChecked(data.InvertDCD != 0);
    ui->RIchb->setChecked(data.InvertRI != 0);
    // A code without an entry leaves the box with no current entry.
    const UCHAR codes[] = {data.Cbus0, data.Cbus1, data.Cbus2, data.Cbus3, data.Cbus4};
    const QList<QComboBox *> boxes = cbusBoxes();
    for (int pin = 0; pin < boxes.size(); ++pin)
        boxes[pin]->setCurrentIndex(codes[pin]);
}

void MainWindow::writeFTDIEE()
{
    programDevice(std::nullopt);
}

void MainWindow::programDevice(const std::optional<QString> &onlySerial)
{
    if (refuseUnprogrammableForm())
        return;

    char Manufacturer[FT_MANUFACTURER_BUFFER_SIZE];
    char ManufacturerId[FT_MANUFACTURER_ID_BUFFER_SIZE];
    char Description[FT_DESCRIPTION_BUFFER_SIZE];
    char SerialNumber[FT_SERIAL_NUMBER_BUFFER_SIZE];
    QString2CharArray(ui->manufacturerle->text(), Manufacturer, sizeof Manufacturer);
    QString2CharArray(ui->manidle->text(), ManufacturerId, sizeof ManufacturerId);
    QString2CharArray(ui->des->text(), Description, sizeof Description);
    QString2CharArray(ui->serialle->text(), SerialNumber, sizeof SerialNumber);

    FT_PROGRAM_DATA ftDataNEW = programRecordFromForm();
    ftDataNEW.Manufacturer = Manufacturer;
    ftDataNEW.ManufacturerId = ManufacturerId;
    ftDataNEW.Description = Description;
    ftDataNEW.SerialNumber = SerialNumber;

    withSingleDevice([&] {
        logMsg("Open Device: " + activeID);
        ftStatus = FT_Open(0, &ftHandle);
        if (ftStatus != FT_OK) {
            logMsg(QString("Open FAILED!ERROR %1").arg(ftStatus));
            return;
        }
        ftStatus = FT_EE_Program(ftHandle, &ftDataNEW);
        if (ftStatus == FT_OK) {
            recordProgrammedSerial();
            logMsg(activeID + " -> Progam OK");
        } else {
            logMsg("Prgram FAILED!");
        }
        FT_Close(ftHandle);
    }, onlySerial);
}

// A form the chip cannot hold is refused, with the reason, before the device
// is touched: a CBUS box without a function or with a function CBUS4 lacks
// (it would program a corrupt configuration), or strings too long together.
bool MainWindow::refuseUnprogrammableForm()
{
    const QList<QComboBox *> boxes = cbusBoxes();
    for (int pin = 0; pin < boxes.size(); ++pin) {
        if (boxes[pin]->currentIndex() < 0) {
            logMsg(QString("CBus%1 has no function selected! Can not proceed!!").arg(pin));
            return true;
        }
    }
    if (ui->cbus4cb->currentIndex() >= firstFunctionMissingOnCbus4) {
        logMsg(QString("CBus4 does not support %1! Can not proceed!!")
                   .arg(ui->cbus4cb->currentText()));
        return true;
    }
    const qsizetype characters = ui->manufacturerle->text().toLatin1().size()
                                 + ui->des->text().toLatin1().size()
                                 + ui->serialle->text().toLatin1().size();
    if (characters > qsizetype(kestrova::d2xx::kMaxStringCharacters)) {
        logMsg(QString("Manufacturer, Description and Serial No. have %1 characters, "
                       "the chip holds %2! Can not proceed!!")
                   .arg(characters)
                   .arg(kestrova::d2xx::kMaxStringCharacters));
        return true;
    }
    return false;
}

// The record to program, without its strings. The IDs are fixed: the ID
// fields of the form only display what a device carries.
FT_PROGRAM_DATA MainWindow::programRecordFromForm() const
{
    FT_PROGRAM_DATA data;
    std::memset(&data, 0, sizeof data);
    data.Signature1 = 0x00000000;
    data.Signature2 = 0xFFFFFFFF;
    data.Version = 2;
    data.VendorId = 0x0403;
    data.ProductId = 0x6001;
    data.MaxPower = static_cast<WORD>(ui->maxpowersb->value());
    data.PnP = flag(ui->pnpchb);
    data.SelfPowered = flag(ui->selfpoweredchb);
    data.RemoteWakeup = flag(ui->remotewkaeupchb);
    data.USBVersionEnable = 1;
    data.USBVersion = 0x0200;
    data.USBVersionEnable5 = 1;
    data.USBVersion5 = 0x0200;
    data.UseExtOsc = flag(ui->extoscchb);
    data.HighDriveIOs = flag(ui->highcurrentiochb);
    data.EndpointSize = 64;
    data.PullDownEnableR = flag(ui->pulldownenablechb);
    data.SerNumEnableR = 1;
    data.InvertTXD = flag(ui->TXDchb);
    data.InvertRXD = flag(ui->RXDchb);
    data.InvertRTS = flag(ui->RTSchb);
    data.InvertCTS = flag(ui->CTSchb);
    data.InvertDTR = flag(ui->DTRchb);
    data.InvertDSR = flag(ui->DSRchb);
    data.InvertDCD = flag(ui->DCDchb);
    data.InvertRI = flag(ui->RIchb);
    data.Cbus0 = static_cast<UCHAR>(ui->cbus0cb->currentIndex());
    data.Cbus1 = static_cast<UCHAR>(ui->cbus1cb->currentIndex());
    data.Cbus2 = static_cast<UCHAR>(ui->cbus2cb->currentIndex());
    data.Cbus3 = static_cast<UCHAR>(ui->cbus3cb->currentIndex());
    data.Cbus4 = static_cast<UCHAR>(ui->cbus4cb->currentIndex());
    data.RIsD2XX = flag(ui->driverchb);
    return data;
}

void MainWindow::recordProgrammedSerial()
{
    const QString programmed = ui->serialle->text();
    if (!FlashedIDs.contains(programmed))
        FlashedIDs.append(programmed);
    if (ui->genserialchb->isChecked())
        ui->serialle->setText(generateID());
}

// Serial numbers

QString MainWindow::generateID()
{
    static const QRegularExpression notAlphanumeric("[^0-9a-zA-Z]+");
    QString id;
    for (int draw = 0; draw < maxSerialDraws; ++draw) {
        const QString digits = newUuid().toString().toUpper().remove(notAlphanumeric).left(6);
        id = ui->manidle->text() + digits;
        // Compare as the serial number field will hold it.
        if (!FlashedIDs.contains(id.left(ui->serialle->maxLength())))
            break;
    }
    return id;
}

void MainWindow::autoID(bool b)
{
    ui->serialle->setEnabled(!b);
    if (b)
        ui->serialle->setText(generateID());
}

// Production bench

void MainWindow::ftdiDevChange(QStringList DevIDs)
{
    if (flashPrompt) {
        // The list changed under an open prompt: the prompt lapses unanswered,
        // and the newest list is handled once it has closed.
        lapsedPromptList = DevIDs;
        lapseFlashPrompt();
        return;
    }
    for (;;) {
        ui->listWidget->clear();
        ui->listWidget->addItems(DevIDs);
        if (DevIDs.size() != 1)
            return;
        activeID = DevIDs.first();
        if (FlashedIDs.contains(activeID) || filename.isEmpty())
            return;
        const QString prompted = activeID;
        const int answer = askToFlash(prompted);
        if (lapsedPromptList) {
            DevIDs = *lapsedPromptList;
            lapsedPromptList.reset();
            continue;
        }
        // Ok programs the device the prompt named, never one that took its place.
        if (answer == QMessageBox::Ok)
            programDevice(prompted);
        return;
    }
}

int MainWindow::askToFlash(const QString &serial)
{
    QMessageBox msgBox;
    msgBox.setTextFormat(Qt::PlainText); // a serial number is shown as it is, never as markup
    msgBox.setText(QString("New device (Serial No. %1) found.").arg(serial));
    msgBox.setInformativeText("Do you want to <b>flash</b> this device?");
    msgBox.setStandardButtons(QMessageBox::Ok | QMessageBox::Abort);
    msgBox.setDefaultButton(QMessageBox::Ok);
    flashPrompt = &msgBox;
    const int answer = msgBox.exec();
    flashPrompt = nullptr;
    return answer;
}

// Closes an open flash prompt as if answered with Abort.
void MainWindow::lapseFlashPrompt()
{
    if (flashPrompt)
        flashPrompt->button(QMessageBox::Abort)->click();
}

// The prompt has no parent window: left open, it would outlive the closed
// window, keep the program running and could still program a device. It
// lapses instead, so that closing the window ends the program.
void MainWindow::closeEvent(QCloseEvent *event)
{
    lapseFlashPrompt();
    QMainWindow::closeEvent(event);
}

// Configuration files

QList<MainWindow::ConfigKey> MainWindow::configKeys() const
{
    return {
        {"VendorID", ui->vendoridle},
        {"ProduktID", ui->produktidle},
        {"Manufacturer", ui->manufacturerle},
        {"Description", ui->des},
        {"SerialNumber", ui->serialle},
        {"ManufacturerId", ui->manidle},
        {"MaxPower", ui->maxpowersb},
        {"PnP", ui->pnpchb},
        {"PullDownEnable", ui->pulldownenablechb},
        {"SelfPowered", ui->selfpoweredchb},
        {"RemoteWakeUp", ui->remotewkaeupchb},
        {"HighCurrent", ui->highcurrentiochb},
        {"ExtOsc", ui->extoscchb},
        {"D2XXDriver", ui->driverchb},
        {"IO-Inversion/RXD", ui->RXDchb},
        {"IO-Inversion/TXD", ui->TXDchb},
        {"IO-Inversion/RTS", ui->RTSchb},
        {"IO-Inversion/CTS", ui->CTSchb},
        {"IO-Inversion/DTR", ui->DTRchb},
        {"IO-Inversion/DSR", ui->DSRchb},
        {"IO-Inversion/DCD", ui->DCDchb},
        {"IO-Inversion/RI", ui->RIchb},
        {"CBUS/CBus0", ui->cbus0cb},
        {"CBUS/CBus1", ui->cbus1cb},
        {"CBUS/CBus2", ui->cbus2cb},
        {"CBUS/CBus3", ui->cbus3cb},
        {"CBUS/CBus4", ui->cbus4cb},
    };
}

void MainWindow::saveConfFile()
{
    // A dialog object rather than the static call, so that the extension is
    // appended before the dialog checks whether the file exists.
    QFileDialog dialog(this, "Save File as ...", QCoreApplication::applicationDirPath(),
                       configFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(configSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString chosen = dialog.selectedFiles().constFirst();

    auto *saved = new QSettings(chosen, QSettings::IniFormat);
    for (const ConfigKey &entry : configKeys())
        saved->setValue(entry.key, widgetValue(entry.widget));
    saved->sync();
    if (saved->status() == QSettings::AccessError) {
        delete saved;
        logMsg(QString("Save FAILED! Can not write %1").arg(chosen));
        return;
    }
    delete settings;
    settings = saved;
    filename = chosen;
}

void MainWindow::openConfFile()
{
    const QString chosen =
        QFileDialog::getOpenFileName(this, tr("Open File"), QCoreApplication::applicationDirPath(),
                                     tr(configFilter));
    if (chosen.isEmpty())
        return;
    filename = chosen;
    delete settings;
    settings = new QSettings(filename, QSettings::IniFormat);
    for (const ConfigKey &entry : configKeys())
        setWidgetValue(entry.widget, settings->value(entry.key, QVariant()));
    FlashedIDs.clear();
    FlashedIDs.append(ui->serialle->text());
    ui->logPTE->clear();
}
