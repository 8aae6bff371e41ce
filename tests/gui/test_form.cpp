// The main window's form as the user meets it: every widget in its place with
// its text and limits, the window frame, the CBUS lists, the keyboard order,
// the tool tips, and the controller's slots as the meta-object lists them.
#include "bench.h"
#include "guitest.h"
#include "mainwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolBar>
#include <QtTest>

#include <iterator>
#include <memory>

using guitest::child;

namespace {

// One widget of the form: where it sits, what it shows and its limits.
struct FormWidget {
    const char *name;
    const char *className;
    const char *grid;
    int row, column, rowSpan, columnSpan;
    const char *text;  // label, button or check box text, or group title
    bool enabled;
    int maxLength;     // line edits without a mask; -1 when not checked
    // Line edits only. Qt reports a mask without its "; " suffix when the
    // blank is a space; the blank shows in the display text instead.
    const char *mask;
};

const FormWidget formWidgets[] = {
    {"groupBox_4", "QGroupBox", "gridLayout_5", 0, 0, 3, 1, "Device List", true, -1, ""},
    {"groupBox_3", "QGroupBox", "gridLayout_5", 0, 1, 5, 1, "Allgemein", true, -1, ""},
    {"groupBox", "QGroupBox", "gridLayout_5", 0, 2, 1, 1, "Invert", true, -1, ""},
    {"groupBox_2", "QGroupBox", "gridLayout_5", 0, 3, 1, 1, "CBUS", true, -1, ""},
    {"logPTE", "QPlainTextEdit", "gridLayout_5", 1, 2, 4, 2, "", true, -1, ""},
    {"updateBUT", "QPushButton", "gridLayout_5", 3, 0, 1, 1, "Read EEProm", true, -1, ""},
    {"programBUT", "QPushButton", "gridLayout_5", 4, 0, 1, 1, "Write EEProm", true, -1, ""},

    {"listWidget", "QListWidget", "gridLayout_4", 0, 0, 1, 1, "", false, -1, ""},

    {"TXDchb", "QCheckBox", "gridLayout", 0, 0, 1, 1, "TXD", true, -1, ""},
    {"RXDchb", "QCheckBox", "gridLayout", 1, 0, 1, 1, "RXD", true, -1, ""},
    {"RTSchb", "QCheckBox", "gridLayout", 2, 0, 1, 1, "RTS", true, -1, ""},
    {"CTSchb", "QCheckBox", "gridLayout", 3, 0, 1, 1, "CTS", true, -1, ""},
    {"DTRchb", "QCheckBox", "gridLayout", 4, 0, 1, 1, "DTR", true, -1, ""},
    {"DSRchb", "QCheckBox", "gridLayout", 5, 0, 1, 1, "DSR", true, -1, ""},
    {"DCDchb", "QCheckBox", "gridLayout", 6, 0, 1, 1, "DCD", true, -1, ""},
    {"RIchb", "QCheckBox", "gridLayout", 7, 0, 1, 1, "RI", true, -1, ""},

    {"label_5", "QLabel", "gridLayout_2", 0, 0, 1, 1, "CBus0", true, -1, ""},
    {"cbus0cb", "QComboBox", "gridLayout_2", 0, 1, 1, 1, "", true, -1, ""},
    {"label_6", "QLabel", "gridLayout_2", 1, 0, 1, 1, "CBus1", true, -1, ""},
    {"cbus1cb", "QComboBox", "gridLayout_2", 1, 1, 1, 1, "", true, -1, ""},
    {"label_7", "QLabel", "gridLayout_2", 2, 0, 1, 1, "CBus2", true, -1, ""},
    {"cbus2cb", "QComboBox", "gridLayout_2", 2, 1, 1, 1, "", true, -1, ""},
    {"label_8", "QLabel", "gridLayout_2", 3, 0, 1, 1, "CBus3", true, -1, ""},
    {"cbus3cb", "QComboBox", "gridLayout_2", 3, 1, 1, 1, "", true, -1, ""},
    {"label_9", "QLabel", "gridLayout_2", 4, 0, 1, 1, "CBus4", true, -1, ""},
    {"cbus4cb", "QComboBox", "gridLayout_2", 4, 1, 1, 1, "", true, -1, ""},

    {"label_10", "QLabel", "gridLayout_3", 0, 0, 1, 1, "Vendor ID", true, -1, ""},
    {"vendoridle", "QLineEdit", "gridLayout_3", 0, 1, 1, 2, "", false, -1, "\\0\\x>HHHH"},
    {"label_11", "QLabel", "gridLayout_3", 1, 0, 1, 1, "Produkt ID", true, -1, ""},
    {"produktidle", "QLineEdit", "gridLayout_3", 1, 1, 1, 2, "", false, -1, "\\0\\x>HHHH"},
    {"label", "QLabel", "gridLayout_3", 2, 0, 1, 1, "Manufacturer", true, -1, ""},
    {"manufacturerle", "QLineEdit", "gridLayout_3", 2, 1, 1, 2, "", true, 11, ""},
    {"label_2", "QLabel", "gridLayout_3", 3, 0, 1, 1, "Description", true, -1, ""},
    {"des", "QLineEdit", "gridLayout_3", 3, 1, 1, 2, "", true, 27, ""},
    {"label_3", "QLabel", "gridLayout_3", 4, 0, 1, 1, "Serial No.", true, -1, ""},
    {"serialle", "QLineEdit", "gridLayout_3", 4, 1, 1, 1, "", true, 15, ""},
    {"genserialchb", "QCheckBox", "gridLayout_3", 4, 2, 1, 1, "Gen..", true, -1, ""},
    {"label_4", "QLabel", "gridLayout_3", 5, 0, 1, 1, "ID", true, -1, ""},
    {"manidle", "QLineEdit", "gridLayout_3", 5, 1, 1, 2, "", true, 15, ""},
    {"label_12", "QLabel", "gridLayout_3", 6, 0, 1, 1, "Max Power", true, -1, ""},
    {"maxpowersb", "QSpinBox", "gridLayout_3", 6, 1, 1, 2, "", true, -1, ""},
    {"pnpchb", "QCheckBox", "gridLayout_3", 7, 0, 1, 3, "PnP", true, -1, ""},
    {"pulldownenablechb", "QCheckBox", "gridLayout_3", 8, 0, 1, 3, "Pull Down Enable", true, -1, ""},
    {"selfpoweredchb", "QCheckBox", "gridLayout_3", 9, 0, 1, 3, "Self Powered", true, -1, ""},
    {"remotewkaeupchb", "QCheckBox", "gridLayout_3", 10, 0, 1, 3, "Remote Wakeup Capable", true, -1, ""},
    {"highcurrentiochb", "QCheckBox", "gridLayout_3", 11, 0, 1, 3,
     "High Current IO's (12mA instead of 4mA)", true, -1, ""},
    {"extoscchb", "QCheckBox", "gridLayout_3", 12, 0, 1, 3, "Use External Oscillator", true, -1, ""},
    {"driverchb", "QCheckBox", "gridLayout_3", 13, 0, 1, 3, "Using D2XX driver", true, -1, ""},
};

const QStringList cbusFunctions = {
    "TXDEN", "PWREN#", "RXLED#", "TXLED#", "TX_RX_LED#", "SLEEP#", "CLK48",
    "CLK24", "CLK12", "CLK6", "IO_MODE", "BIT_WR", "BIT_RD", "RXF/TXE/RD/WR",
};

// What a widget shows as its caption; empty for widgets without one.
QString caption(const QWidget *widget)
{
    if (auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto *group = qobject_cast<const QGroupBox *>(widget))
        return group->title();
    return QString();
}

// The form's widgets that sit directly in the central widget or in a group.
QStringList placedWidgetNames(const QMainWindow &window)
{
    QStringList names;
    QList<const QWidget *> containers = {window.centralWidget()};
    for (const QObject *object : window.centralWidget()->children())
        if (auto *group = qobject_cast<const QGroupBox *>(object))
            containers << group;
    for (const QWidget *container : containers)
        for (const QObject *object : container->children())
            if (object->isWidgetType())
                names << object->objectName();
    return names;
}

QStringList focusOrder()
{
    return {"TXDchb", "RXDchb", "RTSchb", "CTSchb", "DTRchb", "DSRchb", "DCDchb", "RIchb",
            "cbus0cb", "cbus1cb", "cbus2cb", "cbus3cb", "cbus4cb",
            "logPTE", "programBUT", "updateBUT",
            "manufacturerle", "des", "serialle", "manidle", "maxpowersb",
            "pnpchb", "selfpoweredchb", "remotewkaeupchb", "highcurrentiochb", "extoscchb",
            "driverchb", "pulldownenablechb", "genserialchb"};
}

QString focusName()
{
    QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QStringLiteral("<none>");
}

// Red text in a tool tip document, as the user sees it.
bool isRed(const QTextCharFormat &format)
{
    return format.foreground().color() == QColor(0xff, 0, 0);
}

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void widgetTable_data();
    void widgetTable();
    void formHasNoOtherWidgets();
    void gridSpacingAndStretch();
    void windowFrame();
    void initialStateAndFieldSettings();
    void typedAndSetTextsAreCut_data();
    void typedAndSetTextsAreCut();
    void hexFieldsShowUpperCase_data();
    void hexFieldsShowUpperCase();
    void cbusListsHoldTheFunctions();
    void tabWalksTheFormInCreationOrder();
    void toolTips_data();
    void toolTips();
    void onlyFiveWidgetsHaveToolTips();
    void slotsInMetaObjectOrder();

private:
    template <class T>
    T *widget(const char *name) const { return child<T>(window.get(), QString::fromLatin1(name)); }

    std::unique_ptr<InstalledBench> bench;
    std::unique_ptr<MainWindow> window;
};

void TestForm::init()
{
    bench = std::make_unique<InstalledBench>();
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestForm::cleanup()
{
    window.reset();
    bench.reset();
}

void TestForm::widgetTable_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(std::size(formWidgets)); ++i)
        QTest::newRow(formWidgets[i].name) << i;
}

void TestForm::widgetTable()
{
    QFETCH(int, index);
    const FormWidget &expected = formWidgets[index];
    auto *w = widget<QWidget>(expected.name);
    auto *grid = widget<QGridLayout>(expected.grid);

    QCOMPARE(QByteArray(w->metaObject()->className()), QByteArray(expected.className));
    const int at = grid->indexOf(w);
    QVERIFY2(at >= 0, "not in its grid");
    int row, column, rowSpan, columnSpan;
    grid->getItemPosition(at, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(row, expected.row);
    QCOMPARE(column, expected.column);
    QCOMPARE(rowSpan, expected.rowSpan);
    QCOMPARE(columnSpan, expected.columnSpan);
    QCOMPARE(grid->itemAt(at)->alignment(), Qt::Alignment());

    QCOMPARE(caption(w), QString::fromUtf8(expected.text));
    QCOMPARE(w->isEnabled(), expected.enabled);
    if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        QCOMPARE(edit->inputMask(), QString::fromLatin1(expected.mask));
        if (expected.maxLength >= 0)
            QCOMPARE(edit->maxLength(), expected.maxLength);
    }
}

void TestForm::formHasNoOtherWidgets()
{
    QStringList expected;
    for (const FormWidget &entry : formWidgets)
        expected << QString::fromLatin1(entry.name);
    QStringList actual = placedWidgetNames(*window);
    expected.sort();
    actual.sort();
    QCOMPARE(actual, expected);
}

void TestForm::gridSpacingAndStretch()
{
    const struct { const char *name; int spacing; int margin; int columns; } grids[] = {
        {"gridLayout_5", 6, 11, 4}, {"gridLayout_4", 0, 0, 1}, {"gridLayout", 6, 11, 1},
        {"gridLayout_2", 6, 11, 2}, {"gridLayout_3", 6, 11, 3},
    };
    for (const auto &g : grids) {
        auto *grid = widget<QGridLayout>(g.name);
        QCOMPARE(grid->spacing(), g.spacing);
        QCOMPARE(grid->contentsMargins(), QMargins(g.margin, g.margin, g.margin, g.margin));
        QCOMPARE(grid->columnCount(), g.columns);
        // Only the CBUS lists' column stretches; every other share comes from size policies.
        const bool cbusGrid = QByteArray(g.name) == "gridLayout_2";
        for (int c = 0; c < grid->columnCount(); ++c)
            QCOMPARE(grid->columnStretch(c), cbusGrid && c == 1 ? 1 : 0);
        for (int r = 0; r < grid->rowCount(); ++r)
            QCOMPARE(grid->rowStretch(r), 0);
    }
}

void TestForm::windowFrame()
{
    QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Kestrova"));
    // The form asks for 613 x 456 and allows no more. Where the platform's
    // fonts and style need more room for the widgets than that (Fusion with a
    // 9 pt font does), the window keeps exactly its minimum instead.
    QCOMPARE(window->maximumSize(), QSize(613, 456));
    const QSize designed = QSize(613, 456).expandedTo(window->minimumSizeHint());
    QCOMPARE(window->size(), designed);
    window->resize(800, 600);
    QCOMPARE(window->size(), designed);
    QVERIFY(window->windowIcon().availableSizes().contains(QSize(72, 72)));

    QCOMPARE(window->centralWidget()->objectName(), QStringLiteral("centralWidget"));
    QCOMPARE(QByteArray(window->centralWidget()->metaObject()->className()), QByteArray("QWidget"));

    QMenuBar *menu = window->menuBar();
    QCOMPARE(menu->objectName(), QStringLiteral("menuBar"));
    QVERIFY(menu->actions().isEmpty());
    QCOMPARE(window->statusBar()->objectName(), QStringLiteral("statusBar"));
    QVERIFY(window->statusBar()->currentMessage().isEmpty());

    auto *bar = widget<QToolBar>("mainToolBar");
    QVERIFY(!bar->isMovable());
    QVERIFY(!bar->isFloatable());
    QCOMPARE(bar->allowedAreas(), Qt::AllToolBarAreas);
    QCOMPARE(bar->iconSize(), QSize(20, 20));
    QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QCOMPARE(window->toolBarArea(bar), Qt::TopToolBarArea);

    const QList<QAction *> expected = {widget<QAction>("actionSave"), widget<QAction>("actionOpen"),
                                       widget<QAction>("actionAbout")};
    QCOMPARE(bar->actions(), expected);
    const QStringList texts = {"Save Config", "Open Config", "About"};
    for (int i = 0; i < expected.size(); ++i) {
        QAction *action = expected[i];
        QCOMPARE(action->text(), texts[i]);
        QCOMPARE(action->parent(), window.get());
        QVERIFY(action->shortcuts().isEmpty());
        QVERIFY(!action->isCheckable());
        QVERIFY2(!action->icon().isNull(), "the controller gives each action a standard icon");
    }
}

void TestForm::initialStateAndFieldSettings()
{
    for (QLineEdit *edit : window->centralWidget()->findChildren<QLineEdit *>()) {
        if (edit->objectName().startsWith("qt_"))
            continue; // the spin box's own editor
        QCOMPARE(edit->text(), edit->inputMask().isEmpty() ? QString() : QStringLiteral("0x"));
    }
    QCOMPARE(widget<QLineEdit>("vendoridle")->displayText(), QStringLiteral("0x    "));
    for (QCheckBox *box : window->centralWidget()->findChildren<QCheckBox *>())
        QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
    QCOMPARE(widget<QListWidget>("listWidget")->count(), 0);

    auto *log = widget<QPlainTextEdit>("logPTE");
    QVERIFY(log->toPlainText().isEmpty());
    QVERIFY(!log->backgroundVisible());
    QVERIFY(!log->isReadOnly());
    QCOMPARE(log->maximumBlockCount(), 0);

    auto *power = widget<QSpinBox>("maxpowersb");
    QCOMPARE(power->value(), 0);
    QCOMPARE(power->minimum(), 0);
    QCOMPARE(power->maximum(), 500);
    QCOMPARE(power->singleStep(), 1);
    power->setValue(600);
    QCOMPARE(power->value(), 500);

    for (const char *name : {"updateBUT", "programBUT"}) {
        auto *button = widget<QPushButton>(name);
        QVERIFY(!button->isDefault());
        QVERIFY(!button->isCheckable());
    }
}

void TestForm::typedAndSetTextsAreCut_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("limit");
    QTest::newRow("manufacturer") << "manufacturerle" << 11;
    QTest::newRow("description") << "des" << 27;
    QTest::newRow("serial number") << "serialle" << 15;
    QTest::newRow("manufacturer ID") << "manidle" << 15;
}

void TestForm::typedAndSetTextsAreCut()
{
    QFETCH(QString, field);
    QFETCH(int, limit);
    const QString longText = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdef");
    auto *edit = child<QLineEdit>(window.get(), field);

    QTest::keyClicks(edit, longText);
    QCOMPARE(edit->text(), longText.left(limit));

    edit->setText(longText.mid(3));
    QCOMPARE(edit->text(), longText.mid(3).left(limit));
}

void TestForm::hexFieldsShowUpperCase_data()
{
    QTest::addColumn<QString>("field");
    QTest::newRow("vendor ID") << "vendoridle";
    QTest::newRow("product ID") << "produktidle";
}

void TestForm::hexFieldsShowUpperCase()
{
    QFETCH(QString, field);
    auto *edit = child<QLineEdit>(window.get(), field);

    edit->setText("0x04af");
    QCOMPARE(edit->text(), QStringLiteral("0x04AF"));
    QCOMPARE(edit->displayText(), QStringLiteral("0x04AF"));

    edit->setText("0xbeef");
    QCOMPARE(edit->text(), QStringLiteral("0xBEEF"));

    edit->clear();
    QCOMPARE(edit->text(), QStringLiteral("0x"));
    QCOMPARE(edit->displayText(), QStringLiteral("0x    "));
}

void TestForm::cbusListsHoldTheFunctions()
{
    for (int pin = 0; pin < 5; ++pin) {
        auto *list = child<QComboBox>(window.get(), QStringLiteral("cbus%1cb").arg(pin));
        QVERIFY(!list->isEditable());
        QStringList entries;
        for (int i = 0; i < list->count(); ++i)
            entries << list->itemText(i);
        QCOMPARE(entries, cbusFunctions);
        QCOMPARE(list->currentIndex(), 0);
        QCOMPARE(list->currentText(), QStringLiteral("TXDEN"));

        list->setCurrentText("RXF/TXE/RD/WR");
        QCOMPARE(list->currentIndex(), 13);
    }
}

void TestForm::tabWalksTheFormInCreationOrder()
{
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    const QStringList expected = focusOrder();
    widget<QWidget>("TXDchb")->setFocus(Qt::TabFocusReason);

    QStringList visited = {focusName()};
    for (int step = 1; step <= expected.size(); ++step) {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus);
        if (auto *log = qobject_cast<QPlainTextEdit *>(focus)) {
            // In the editable log Tab types a tab and keeps the focus, so the
            // link to the next widget is checked backwards from there.
            QTest::keyClick(log, Qt::Key_Tab);
            QCOMPARE(focusName(), log->objectName());
            QCOMPARE(log->toPlainText(), QStringLiteral("\t"));
            auto *next = child<QWidget>(window.get(), expected.value(step));
            next->setFocus(Qt::TabFocusReason);
            QTest::keyClick(next, Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(focusName(), log->objectName());
            next->setFocus(Qt::TabFocusReason);
        } else {
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        visited << focusName();
    }
    // One full round: the walk returns to the first check box.
    QCOMPARE(visited, expected + QStringList{expected.first()});
}

void TestForm::toolTips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("warning");
    QTest::newRow("self powered")
        << "selfpoweredchb" << "Self Powered"
        << "If the device requires no current from the USB port then enter 0 in the Max Power "
           "field.  If this is a hybrid device that requires power drawn from the port then "
           "enter the value within the max power field."
        << "";
    QTest::newRow("remote wakeup") << "remotewkaeupchb" << "USB Remote Wakeup"
                                   << "Resume a PC from the USB suspend (sleep) state." << "";
    QTest::newRow("high current")
        << "highcurrentiochb" << "High Current I/O's"
        << "Setting this option will enable the high output drive level. The UART IO pins will "
           "drive out at 12mA instead of their normal 4mA."
        << "";
    QTest::newRow("external oscillator")
        << "extoscchb" << "External Oscillator"
        << "If you have an external oscillator fitted to your design that you wish to use then "
           "check this box."
        << "Warning: Setting this bit without an external oscillator fitted to your design will "
           "render the chip unusable.";
    QTest::newRow("driver") << "driverchb" << "D2XX Driver"
                            << "If checked this will load the D2XX driver rather than the "
                               "virtual com port driver."
                            << "";
}

void TestForm::toolTips()
{
    QFETCH(QString, name);
    QFETCH(QString, heading);
    QFETCH(QString, body);
    QFETCH(QString, warning);
    auto *box = child<QCheckBox>(window.get(), name);
    QVERIFY(Qt::mightBeRichText(box->toolTip()));
    QVERIFY(box->whatsThis().isEmpty());

    QTextDocument tip;
    tip.setHtml(box->toolTip());
    QStringList paragraphs = {heading, body};
    if (!warning.isEmpty())
        paragraphs << warning;
    QCOMPARE(tip.toPlainText(), paragraphs.join('\n'));

    // Heading bold, body plain, both in the form editor's default font.
    const QTextBlock first = tip.firstBlock();
    const QTextCharFormat headingFormat = first.begin().fragment().charFormat();
    const QTextCharFormat bodyFormat = first.next().begin().fragment().charFormat();
    QVERIFY(headingFormat.fontWeight() >= QFont::DemiBold);
    QVERIFY(bodyFormat.fontWeight() < QFont::DemiBold);
    QCOMPARE(bodyFormat.fontFamilies().toStringList().value(0), QStringLiteral("MS Shell Dlg 2"));
    QVERIFY(!isRed(headingFormat) && !isRed(bodyFormat));
    if (warning.isEmpty())
        return;

    // The warning line: "Warning:" bold and red, the rest red and not bold.
    QTextBlock::iterator part = first.next().next().begin();
    const QTextFragment label = part.fragment();
    const QTextFragment rest = (++part).fragment();
    QCOMPARE(label.text(), QStringLiteral("Warning:"));
    QVERIFY(isRed(label.charFormat()));
    QVERIFY(label.charFormat().fontWeight() >= QFont::DemiBold);
    QVERIFY(isRed(rest.charFormat()));
    QVERIFY(rest.charFormat().fontWeight() < QFont::DemiBold);
}

void TestForm::onlyFiveWidgetsHaveToolTips()
{
    QStringList withTip;
    for (QWidget *w : window->findChildren<QWidget *>())
        if (!w->toolTip().isEmpty() && !qobject_cast<QToolBar *>(w->parentWidget()))
            withTip << w->objectName();
    withTip.sort();
    QCOMPARE(withTip, QStringList({"driverchb", "extoscchb", "highcurrentiochb",
                                   "remotewkaeupchb", "selfpoweredchb"}));
}

void TestForm::slotsInMetaObjectOrder()
{
    const QMetaObject *meta = window->metaObject();
    QStringList slotNames;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        QVERIFY2(method.methodType() != QMetaMethod::Signal, method.methodSignature().constData());
        if (method.methodType() != QMetaMethod::Slot)
            continue;
        QCOMPARE(method.access(), QMetaMethod::Private);
        slotNames << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(slotNames, QStringList({"autoID(bool)", "ftdiDevChange(QStringList)", "saveConfFile()",
                                     "openConfFile()", "writeFTDIEE()", "update()"}));
}

QTEST_MAIN(TestForm)
#include "test_form.moc"
