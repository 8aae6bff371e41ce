// Configuration files through the real window: "Save Config" and "Open Config"
// answered in Qt's own file dialog, real files in a temporary folder.
#include "bench.h"
#include "guitest.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <unistd.h>

using guitest::child;
using Access = MainWindowTestAccess;

namespace {

// The 27 stored fields: section on disk, key, widget of the form.
struct Field {
    QString section;
    QString key;
    QString widget;
};

const QList<Field> fields = {
    {"General", "VendorID", "vendoridle"},
    {"General", "ProduktID", "produktidle"},
    {"General", "Manufacturer", "manufacturerle"},
    {"General", "Description", "des"},
    {"General", "SerialNumber", "serialle"},
    {"General", "ManufacturerId", "manidle"},
    {"General", "MaxPower", "maxpowersb"},
    {"General", "PnP", "pnpchb"},
    {"General", "PullDownEnable", "pulldownenablechb"},
    {"General", "SelfPowered", "selfpoweredchb"},
    {"General", "RemoteWakeUp", "remotewkaeupchb"},
    {"General", "HighCurrent", "highcurrentiochb"},
    {"General", "ExtOsc", "extoscchb"},
    {"General", "D2XXDriver", "driverchb"},
    {"IO-Inversion", "RXD", "RXDchb"},
    {"IO-Inversion", "TXD", "TXDchb"},
    {"IO-Inversion", "RTS", "RTSchb"},
    {"IO-Inversion", "CTS", "CTSchb"},
    {"IO-Inversion", "DTR", "DTRchb"},
    {"IO-Inversion", "DSR", "DSRchb"},
    {"IO-Inversion", "DCD", "DCDchb"},
    {"IO-Inversion", "RI", "RIchb"},
    {"CBUS", "CBus0", "cbus0cb"},
    {"CBUS", "CBus1", "cbus1cb"},
    {"CBUS", "CBus2", "cbus2cb"},
    {"CBUS", "CBus3", "cbus3cb"},
    {"CBUS", "CBus4", "cbus4cb"},
};

QStringList checkBoxNames()
{
    QStringList names;
    for (const Field &f : fields) {
        if (f.widget.endsWith("chb"))
            names << f.widget;
    }
    return names;
}

// A widget's value as the form shows it: text, spin value, checked state, or
// the CBUS entry's index (-1 for none).
QVariant valueOf(QWidget *widget)
{
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return edit->text();
    if (auto *spin = qobject_cast<QSpinBox *>(widget))
        return spin->value();
    if (auto *check = qobject_cast<QCheckBox *>(widget))
        return check->isChecked();
    return qobject_cast<QComboBox *>(widget)->currentIndex();
}

void setValueOf(QWidget *widget, const QVariant &value)
{
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        edit->setText(value.toString());
    else if (auto *spin = qobject_cast<QSpinBox *>(widget))
        spin->setValue(value.toInt());
    else if (auto *check = qobject_cast<QCheckBox *>(widget))
        check->setChecked(value.toBool());
    else
        qobject_cast<QComboBox *>(widget)->setCurrentIndex(value.toInt());
}

// Every stored field of the form, by widget name.
QVariantMap formState(MainWindow &w)
{
    QVariantMap state;
    for (const Field &f : fields)
        state[f.widget] = valueOf(child<QWidget>(&w, f.widget));
    return state;
}

// Puts into each named widget a value other than the one given, so that a
// load that leaves a widget alone cannot pass for one that set it.
void spoil(MainWindow &w, const QVariantMap &notThese)
{
    for (auto it = notThese.cbegin(); it != notThese.cend(); ++it) {
        QWidget *widget = child<QWidget>(&w, it.key());
        const QVariant avoid = it.value();
        if (qobject_cast<QLineEdit *>(widget))
            setValueOf(widget, avoid.toString() == "0xEEEE" ? "0xDDDD" : "0xEEEE");
        else if (qobject_cast<QSpinBox *>(widget))
            setValueOf(widget, avoid.toInt() == 250 ? 100 : 250);
        else if (qobject_cast<QCheckBox *>(widget))
            setValueOf(widget, !avoid.toBool());
        else
            setValueOf(widget, avoid.toInt() == 4 ? 6 : 4);
    }
}

// Clicks "Read EEProm" with no device attached, which puts a line in the log.
void logSomething(MainWindow &w)
{
    QTest::mouseClick(child<QPushButton>(&w, "updateBUT"), Qt::LeftButton);
    QVERIFY(!child<QPlainTextEdit>(&w, "logPTE")->toPlainText().isEmpty());
}

QString logText(MainWindow &w)
{
    return child<QPlainTextEdit>(&w, "logPTE")->toPlainText();
}

// Saves through "Save Config", typing `path` into the file dialog. A question
// whether to replace an existing file is answered with `replace`; when it is
// declined, the dialog is then cancelled. Returns whether the question came.
bool saveAs(MainWindow &w, const QString &path,
            QMessageBox::StandardButton replace = QMessageBox::Yes)
{
    bool asked = false;
    guitest::answerNextModal([&](QWidget *dialog) {
        guitest::ModalWatcher question([&](QWidget *modal) {
            if (modal == dialog)
                return;
            asked = true;
            guitest::press(modal, replace);
        });
        guitest::typeFileNameAndAccept(dialog, path);
        if (dialog->isVisible())
            guitest::escape(dialog);
    });
    guitest::trigger(&w, "actionSave");
    return asked;
}

void openFile(MainWindow &w, const QString &path)
{
    guitest::answerNextModal(
        [path](QWidget *dialog) { guitest::typeFileNameAndAccept(dialog, path); });
    guitest::trigger(&w, "actionOpen");
}

void writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(text), text.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The raw "key=value" lines of an INI file, by section and key.
QMap<QString, QMap<QString, QString>> rawIni(const QString &path)
{
    QMap<QString, QMap<QString, QString>> sections;
    QString section;
    for (const QByteArray &rawLine : readFile(path).split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith('[') && line.endsWith(']'))
            section = line.mid(1, line.size() - 2);
        else if (line.contains('='))
            sections[section][line.section('=', 0, 0)] = line.section('=', 1);
    }
    return sections;
}

// A configuration file as sections of "key=value" lines, for writing by hand.
using IniText = QList<QPair<QString, QStringList>>;

QByteArray render(const IniText &ini)
{
    QByteArray text;
    for (const auto &[section, lines] : ini) {
        text += "[" + section.toUtf8() + "]\n";
        for (const QString &line : lines)
            text += line.toUtf8() + "\n";
        text += "\n";
    }
    return text;
}

// The example configuration file exactly as documented for operators.
const QByteArray exampleFile = R"([General]
D2XXDriver=false
Description=Sensor Bridge
ExtOsc=false
HighCurrent=false
Manufacturer=Bench Maker
ManufacturerId=BM
MaxPower=90
PnP=true
ProduktID=0x6001
PullDownEnable=false
RemoteWakeUp=true
SelfPowered=false
SerialNumber=BM3F09A1
VendorID=0x0403

[CBUS]
CBus0=TXLED#
CBus1=RXLED#
CBus2=TXDEN
CBus3=PWREN#
CBus4=SLEEP#

[IO-Inversion]
CTS=false
DCD=false
DSR=false
DTR=false
RI=false
RTS=false
RXD=false
TXD=false
)";

const QVariantMap exampleForm = {
    {"vendoridle", "0x0403"},      {"produktidle", "0x6001"},
    {"manufacturerle", "Bench Maker"}, {"des", "Sensor Bridge"},
    {"serialle", "BM3F09A1"},      {"manidle", "BM"},
    {"maxpowersb", 90},            {"pnpchb", true},
    {"pulldownenablechb", false},  {"selfpoweredchb", false},
    {"remotewkaeupchb", true},     {"highcurrentiochb", false},
    {"extoscchb", false},          {"driverchb", false},
    {"RXDchb", false},             {"TXDchb", false},
    {"RTSchb", false},             {"CTSchb", false},
    {"DTRchb", false},             {"DSRchb", false},
    {"DCDchb", false},             {"RIchb", false},
    {"cbus0cb", 3},                {"cbus1cb", 2},
    {"cbus2cb", 0},                {"cbus3cb", 1},
    {"cbus4cb", 5},
};

} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

    // An empty bench, so that the window's watcher never reaches real USB.
    // Created before the window and destroyed after it.
    struct Rig {
        InstalledBench bench;
        MainWindow w{nullptr, 20};
        Rig() { w.show(); }
    };

    QTemporaryDir dir;
    int fileCount = 0;

    // A path of its own for each case: QSettings caches files by path.
    QString freshPath(const QString &suffix = ".FTDIconf")
    {
        return dir.filePath(QString("case%1%2").arg(++fileCount).arg(suffix));
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void saveThenOpenRestoresEveryField_data();
    void saveThenOpenRestoresEveryField();
    void exampleFileLoads();
    void oddValuesLoadAsDocumented_data();
    void oddValuesLoadAsDocumented();
    void openWhileGenCheckedShowsFilesSerial();
    void savingKeepsForeignKeysAndSections();
    void unwritableTargetIsLoggedAndFilenameKept_data();
    void unwritableTargetIsLoggedAndFilenameKept();
    void cancelChangesNothing_data();
    void cancelChangesNothing();
    void saveAppendsExtensionOnlyWhenNoneTyped_data();
    void saveAppendsExtensionOnlyWhenNoneTyped();
    void appendedExtensionStillAsksBeforeReplacing_data();
    void appendedExtensionStillAsksBeforeReplacing();
};

// One row per check box with only that box checked, so that two keys swapped
// or stored under a wrong name show up, plus all and none checked.
void TestConfig::saveThenOpenRestoresEveryField_data()
{
    QTest::addColumn<QStringList>("checked");
    QTest::newRow("none checked") << QStringList();
    QTest::newRow("all checked") << checkBoxNames();
    for (const QString &name : checkBoxNames())
        QTest::newRow(qPrintable("only " + name)) << QStringList{name};
}

void TestConfig::saveThenOpenRestoresEveryField()
{
    QFETCH(QStringList, checked);
    Rig rig;
    MainWindow &w = rig.w;

    // Texts at the fields' full lengths, with the characters INI treats
    // specially and characters outside Latin-1.
    QVariantMap saved = {
        {"vendoridle", "0x1A2B"},
        {"produktidle", "0xC3D4"},
        {"manufacturerle", "Ωm;a=b,\"c\""},
        {"des", "Sensor #1; \"Brücke\" = 測定\\x"},
        {"serialle", "AB;CD=EF,GH\"I#J"},
        {"manidle", "[Präfix]\\n ; #"},
        {"maxpowersb", 322},
        {"cbus0cb", 13},
        {"cbus1cb", 3},
        {"cbus2cb", 10},
        {"cbus3cb", 7},
        {"cbus4cb", 9},
    };
    for (const QString &name : checkBoxNames())
        saved[name] = checked.contains(name);
    for (auto it = saved.cbegin(); it != saved.cend(); ++it)
        setValueOf(child<QWidget>(&w, it.key()), it.value());
    COMPARE_MAPS(formState(w), saved); // every text fits its field

    Access::flashedIDs(w) = {"EARLIER1", "EARLIER2"};
    logSomething(w);
    const QString log = logText(w);

    const QString path = freshPath();
    QVERIFY(!saveAs(w, path));
    QCOMPARE(Access::filename(w), path);
    QCOMPARE(Access::flashedIDs(w), QStringList({"EARLIER1", "EARLIER2"}));
    QCOMPARE(logText(w), log);
    COMPARE_MAPS(formState(w), saved);

    // On disk: each key in its section; booleans as true/false, the power in
    // digits, CBUS functions by their text.
    const auto ini = rawIni(path);
    QCOMPARE(ini.keys(), QStringList({"CBUS", "General", "IO-Inversion"}));
    for (const Field &f : fields) {
        QVERIFY2(ini[f.section].contains(f.key), qPrintable(f.section + "/" + f.key));
        if (f.widget.endsWith("chb"))
            QCOMPARE(ini[f.section][f.key], saved[f.widget].toBool() ? "true" : "false");
    }
    QCOMPARE(ini["General"].size(), 14);
    QCOMPARE(ini["IO-Inversion"].size(), 8);
    QCOMPARE(ini["CBUS"].size(), 5);
    QCOMPARE(ini["General"]["MaxPower"], "322");
    QCOMPARE(ini["CBUS"]["CBus0"], "RXF/TXE/RD/WR");
    QCOMPARE(ini["CBUS"]["CBus1"], "TXLED#");
    QCOMPARE(ini["CBUS"]["CBus2"], "IO_MODE");
    QCOMPARE(ini["CBUS"]["CBus3"], "CLK24");
    QCOMPARE(ini["CBUS"]["CBus4"], "CLK6");

    spoil(w, saved);
    logSomething(w);
    openFile(w, path);

    COMPARE_MAPS(formState(w), saved);
    QCOMPARE(Access::flashedIDs(w), QStringList{saved["serialle"].toString()});
    QCOMPARE(logText(w), QString());
    QCOMPARE(Access::filename(w), path);
}

void TestConfig::exampleFileLoads()
{
    Rig rig;
    MainWindow &w = rig.w;
    const QString path = freshPath();
    writeFile(path, exampleFile);

    spoil(w, exampleForm);
    Access::flashedIDs(w) = {"EARLIER1"};
    logSomething(w);

    openFile(w, path);

    COMPARE_MAPS(formState(w), exampleForm);
    QCOMPARE(Access::flashedIDs(w), QStringList{"BM3F09A1"});
    QCOMPARE(logText(w), QString());
    QCOMPARE(Access::filename(w), path);
    QVERIFY(Access::settings(w));
    QCOMPARE(readFile(path), exampleFile); // opening writes nothing
}

// Each row changes the base file (edits "Section/Key=value", "-Section/Key"
// drops a key, "-Section" a whole section) and names the fields to check.
void TestConfig::oddValuesLoadAsDocumented_data()
{
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QVariantMap>("expected");

    QTest::newRow("MaxPower 600 is held to 500") << QStringList{"General/MaxPower=600"}
                                                 << QVariantMap{{"maxpowersb", 500}};
    QTest::newRow("MaxPower -5 is held to 0") << QStringList{"General/MaxPower=-5"}
                                              << QVariantMap{{"maxpowersb", 0}};
    QTest::newRow("MaxPower abc gives 0") << QStringList{"General/MaxPower=abc"}
                                          << QVariantMap{{"maxpowersb", 0}};
    QTest::newRow("PnP 1") << QStringList{"General/PnP=1"} << QVariantMap{{"pnpchb", true}};
    QTest::newRow("PnP TRUE") << QStringList{"General/PnP=TRUE"} << QVariantMap{{"pnpchb", true}};
    QTest::newRow("PnP yes") << QStringList{"General/PnP=yes"} << QVariantMap{{"pnpchb", true}};
    QTest::newRow("PnP 0") << QStringList{"General/PnP=0"} << QVariantMap{{"pnpchb", false}};
    QTest::newRow("PnP False") << QStringList{"General/PnP=False"}
                               << QVariantMap{{"pnpchb", false}};
    QTest::newRow("PnP empty") << QStringList{"General/PnP="} << QVariantMap{{"pnpchb", false}};
    QTest::newRow("CBus1 TXLED#") << QStringList{"CBUS/CBus1=TXLED#"}
                                  << QVariantMap{{"cbus1cb", 3}};
    QTest::newRow("CBus1 txled# matches no entry") << QStringList{"CBUS/CBus1=txled#"}
                                                   << QVariantMap{{"cbus1cb", -1}};
    QTest::newRow("CBus0 RXF/TXE/RD/WR") << QStringList{"CBUS/CBus0=RXF/TXE/RD/WR"}
                                         << QVariantMap{{"cbus0cb", 13}};
    QTest::newRow("CBus2 empty") << QStringList{"CBUS/CBus2="} << QVariantMap{{"cbus2cb", -1}};
    QTest::newRow("CBus3 by index is no entry") << QStringList{"CBUS/CBus3=3"}
                                                << QVariantMap{{"cbus3cb", -1}};
    QTest::newRow("20-character serial is cut to 15")
        << QStringList{"General/SerialNumber=ABCDEFGHIJKLMNOPQRST"}
        << QVariantMap{{"serialle", "ABCDEFGHIJKLMNO"}};
    QTest::newRow("missing serial") << QStringList{"-General/SerialNumber"}
                                    << QVariantMap{{"serialle", ""}};
    QTest::newRow("missing Manufacturer") << QStringList{"-General/Manufacturer"}
                                          << QVariantMap{{"manufacturerle", ""}};
    QTest::newRow("missing CBus4") << QStringList{"-CBUS/CBus4"} << QVariantMap{{"cbus4cb", -1}};
    QTest::newRow("missing IO-Inversion section")
        << QStringList{"-IO-Inversion"}
        << QVariantMap{{"RXDchb", false},  {"TXDchb", false},  {"RTSchb", false},
                       {"CTSchb", false},  {"DTRchb", false},  {"DSRchb", false},
                       {"DCDchb", false},  {"RIchb", false},   {"remotewkaeupchb", true},
                       {"serialle", "BM3F09A1"}, {"cbus0cb", 3}};
    QTest::newRow("non-Latin-1 texts")
        << QStringList{"General/Description=Прибор 測定 ✓", "General/SerialNumber=Серия№7",
                       "General/Manufacturer=Łódź Ωmega"}
        << QVariantMap{{"des", "Прибор 測定 ✓"}, {"serialle", "Серия№7"},
                       {"manufacturerle", "Łódź Ωmega"}};
    QTest::newRow("long non-Latin-1 Manufacturer is cut to 11")
        << QStringList{"General/Manufacturer=Ωμέγα-Αλφα-Βήτα"}
        << QVariantMap{{"manufacturerle", "Ωμέγα-Αλφα-"}};
}

void TestConfig::oddValuesLoadAsDocumented()
{
    QFETCH(QStringList, edits);
    QFETCH(QVariantMap, expected);

    // The example with every inversion set, so a dropped section shows.
    IniText ini = {
        {"General",
         {"D2XXDriver=true", "Description=Sensor Bridge", "ExtOsc=true", "HighCurrent=true",
          "Manufacturer=Bench Maker", "ManufacturerId=BM", "MaxPower=90", "PnP=true",
          "ProduktID=0x6001", "PullDownEnable=true", "RemoteWakeUp=true", "SelfPowered=true",
          "SerialNumber=BM3F09A1", "VendorID=0x0403"}},
        {"CBUS", {"CBus0=TXLED#", "CBus1=RXLED#", "CBus2=TXDEN", "CBus3=PWREN#", "CBus4=SLEEP#"}},
        {"IO-Inversion",
         {"CTS=true", "DCD=true", "DSR=true", "DTR=true", "RI=true", "RTS=true", "RXD=true",
          "TXD=true"}},
    };
    for (const QString &edit : edits) {
        const bool drop = edit.startsWith('-');
        const QString target = drop ? edit.mid(1) : edit.section('=', 0, 0);
        const QString section = target.section('/', 0, 0);
        const QString key = target.section('/', 1);
        auto it = std::find_if(ini.begin(), ini.end(),
                               [&](const auto &entry) { return entry.first == section; });
        QVERIFY(it != ini.end());
        if (drop && key.isEmpty()) {
            ini.erase(it);
            continue;
        }
        QStringList &lines = it->second;
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const QString &l) {
            return l.section('=', 0, 0) == key;
        });
        QVERIFY(line != lines.end());
        if (drop)
            lines.erase(line);
        else
            *line = key + "=" + edit.section('=', 1);
    }

    Rig rig;
    MainWindow &w = rig.w;
    const QString path = freshPath();
    writeFile(path, render(ini));
    spoil(w, expected);

    openFile(w, path);

    QVariantMap shown;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        shown[it.key()] = valueOf(child<QWidget>(&w, it.key()));
    COMPARE_MAPS(shown, expected);
    // The programmed list starts from the serial number as the field holds it.
    QCOMPARE(Access::flashedIDs(w), QStringList{child<QLineEdit>(&w, "serialle")->text()});
    QCOMPARE(Access::filename(w), path);
}

void TestConfig::openWhileGenCheckedShowsFilesSerial()
{
    Rig rig;
    MainWindow &w = rig.w;
    auto *serial = child<QLineEdit>(&w, "serialle");
    auto *gen = child<QCheckBox>(&w, "genserialchb");
    const QString path = freshPath();
    writeFile(path, exampleFile);

    child<QLineEdit>(&w, "manidle")->setText("XY");
    QTest::mouseClick(gen, Qt::LeftButton);
    QVERIFY(gen->isChecked());
    QVERIFY(!serial->isEnabled());
    QVERIFY(serial->text().startsWith("XY"));

    openFile(w, path);

    QCOMPARE(serial->text(), "BM3F09A1"); // the file's number, no fresh one
    QVERIFY(!serial->isEnabled());
    QVERIFY(gen->isChecked());
    QCOMPARE(Access::flashedIDs(w), QStringList{"BM3F09A1"});
}

void TestConfig::savingKeepsForeignKeysAndSections()
{
    Rig rig;
    MainWindow &w = rig.w;
    const QString path = freshPath();
    QByteArray text = exampleFile;
    text.replace("[General]\n", "[General]\nOperator=Alice\n");
    text += "\n[Station]\nLine=4\nTester=rig-7\n";
    writeFile(path, text);

    openFile(w, path);
    child<QLineEdit>(&w, "serialle")->setText("BM000777");
    child<QCheckBox>(&w, "TXDchb")->setChecked(true);
    QVERIFY(saveAs(w, path)); // the dialog asks before replacing; answered Yes

    const auto ini = rawIni(path);
    QCOMPARE(ini["Station"], (QMap<QString, QString>{{"Line", "4"}, {"Tester", "rig-7"}}));
    QCOMPARE(ini["General"]["Operator"], "Alice");
    QCOMPARE(ini["General"]["SerialNumber"], "BM000777");
    QCOMPARE(ini["IO-Inversion"]["TXD"], "true");
    QCOMPARE(ini["General"].size(), 15);
    QCOMPARE(Access::filename(w), path);
}

void TestConfig::unwritableTargetIsLoggedAndFilenameKept_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("inside a regular file") << "inside file";
    QTest::newRow("read-only folder") << "read-only folder";
    QTest::newRow("read-only file") << "read-only file";
}

void TestConfig::unwritableTargetIsLoggedAndFilenameKept()
{
    QFETCH(QString, kind);
    const QString base = freshPath("");
    QString target;
    if (kind == "inside file") {
        writeFile(base, "not a folder");
        target = base + "/bench.FTDIconf";
    } else {
        if (geteuid() == 0)
            QSKIP("permissions do not bind the superuser");
        QVERIFY(QDir().mkdir(base));
        target = base + "/bench.FTDIconf";
        if (kind == "read-only file")
            writeFile(target, "[General]\nSerialNumber=KEEP\n");
        QVERIFY(QFile::setPermissions(kind == "read-only file" ? target : base,
                                      QFile::ReadOwner | QFile::ExeOwner));
    }
    // Writable again afterwards, so that the temporary folder can be removed.
    const auto restore = qScopeGuard([&] {
        for (const QString &path : {base, target})
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    const QByteArray before = readFile(target);

    Rig rig;
    MainWindow &w = rig.w;
    const QString good = freshPath();
    saveAs(w, good);
    QCOMPARE(Access::filename(w), good);
    QSettings *settings = Access::settings(w);
    Access::flashedIDs(w) = {"BM000001"};

    saveAs(w, target, QMessageBox::Yes);

    QCOMPARE(logText(w), "Save FAILED! Can not write " + target);
    QCOMPARE(Access::filename(w), good);
    QCOMPARE(Access::settings(w), settings);
    QCOMPARE(Access::flashedIDs(w), QStringList{"BM000001"});
    QCOMPARE(readFile(target), before);
}

void TestConfig::cancelChangesNothing_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("cancelButton");
    QTest::newRow("save, Escape") << "actionSave" << false;
    QTest::newRow("save, Cancel button") << "actionSave" << true;
    QTest::newRow("open, Escape") << "actionOpen" << false;
    QTest::newRow("open, Cancel button") << "actionOpen" << true;
}

void TestConfig::cancelChangesNothing()
{
    QFETCH(QString, action);
    QFETCH(bool, cancelButton);
    Rig rig;
    MainWindow &w = rig.w;
    const QString path = freshPath();
    writeFile(path, exampleFile);

    // A run in progress: a file in use, one device programmed, the form
    // edited since, and a log line.
    openFile(w, path);
    Access::flashedIDs(w).append("BM000002");
    child<QLineEdit>(&w, "des")->setText("Edited");
    child<QComboBox>(&w, "cbus2cb")->setCurrentIndex(-1);
    logSomething(w);
    const QVariantMap form = formState(w);
    const QStringList flashed = Access::flashedIDs(w);
    const QString log = logText(w);
    QSettings *settings = Access::settings(w);

    guitest::answerNextModal([cancelButton](QWidget *dialog) {
        if (cancelButton) {
            auto *buttons = child<QDialogButtonBox>(dialog, "buttonBox");
            QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        } else {
            guitest::escape(dialog);
        }
    });
    guitest::trigger(&w, action);

    QVERIFY(!QApplication::activeModalWidget());
    COMPARE_MAPS(formState(w), form);
    QCOMPARE(Access::flashedIDs(w), flashed);
    QCOMPARE(logText(w), log);
    QCOMPARE(Access::filename(w), path);
    QCOMPARE(Access::settings(w), settings);
    QCOMPARE(readFile(path), exampleFile);
}

void TestConfig::saveAppendsExtensionOnlyWhenNoneTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::newRow("no extension") << "bench" << "bench.FTDIconf";
    QTest::newRow("own extension") << "bench.FTDIconf" << "bench.FTDIconf";
    QTest::newRow("other extension") << "bench.ini" << "bench.ini";
}

void TestConfig::saveAppendsExtensionOnlyWhenNoneTyped()
{
    QFETCH(QString, typed);
    QFETCH(QString, written);
    const QString folder = freshPath("");
    QVERIFY(QDir().mkdir(folder));
    Rig rig;
    MainWindow &w = rig.w;

    saveAs(w, folder + "/" + typed);

    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{written});
    QCOMPARE(Access::filename(w), folder + "/" + written);
    QCOMPARE(rawIni(folder + "/" + written)["General"].size(), 14);
}

// The extension is added before the dialog looks for an existing file, so
// typing "bench" over an existing "bench.FTDIconf" still asks first.
void TestConfig::appendedExtensionStillAsksBeforeReplacing_data()
{
    QTest::addColumn<bool>("replace");
    QTest::newRow("declined") << false;
    QTest::newRow("accepted") << true;
}

void TestConfig::appendedExtensionStillAsksBeforeReplacing()
{
    QFETCH(bool, replace);
    const QString folder = freshPath("");
    QVERIFY(QDir().mkdir(folder));
    const QString existing = folder + "/bench.FTDIconf";
    writeFile(existing, exampleFile);
    Rig rig;
    MainWindow &w = rig.w;
    child<QLineEdit>(&w, "serialle")->setText("NEW00001");

    QVERIFY(saveAs(w, folder + "/bench", replace ? QMessageBox::Yes : QMessageBox::No));

    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"bench.FTDIconf"});
    if (replace) {
        QCOMPARE(rawIni(existing)["General"]["SerialNumber"], "NEW00001");
        QCOMPARE(Access::filename(w), existing);
    } else {
        QCOMPARE(readFile(existing), exampleFile);
        QCOMPARE(Access::filename(w), QString());
        QVERIFY(!Access::settings(w));
    }
}

QTEST_MAIN(TestConfig)
#include "test_config.moc"
