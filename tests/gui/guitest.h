// A small base for driving the real windows from tests: find widgets and
// actions by object name, and answer modal dialogs the way a user would.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QDebug>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QVariantMap>
#include <QWidget>
#include <QWindow>

#include <functional>

namespace guitest {

// The child of `root` with this object name; fails the test when there is none.
template <class T>
T *child(const QObject *root, const QString &name)
{
    T *found = root->findChild<T *>(name);
    if (!found)
        qFatal("no child named %s", qPrintable(name));
    return found;
}

// Triggers the action with this object name, as a click on its tool button would.
inline void trigger(const QObject *window, const QString &actionName)
{
    child<QAction>(window, actionName)->trigger();
}

// True once `widget` is shown and its window exposed: before that, clicks miss
// its buttons and keys do not reach its default button.
inline bool isReadyForInput(QWidget *widget)
{
    return widget && widget->isVisible() && widget->windowHandle()
        && widget->windowHandle()->isExposed();
}

// The modal widget that is active now, waiting up to `timeoutMs` for one to
// appear and become ready for input.
inline QWidget *waitForModal(int timeoutMs = 5000)
{
    QWidget *modal = nullptr;
    const bool shown = QTest::qWaitFor([&] {
        modal = QApplication::activeModalWidget();
        return isReadyForInput(modal);
    }, timeoutMs);
    return shown ? modal : nullptr;
}

// Arranges for `answer` to run on the next modal widget, from the event loop
// that the dialog's exec() runs. Call it before the action that opens the dialog.
inline void answerNextModal(std::function<void(QWidget *)> answer)
{
    QTimer::singleShot(0, [answer] {
        QWidget *modal = waitForModal();
        if (!modal)
            qFatal("no modal dialog appeared");
        answer(modal);
    });
}

// Presses a standard button of a message box.
inline void press(QWidget *messageBox, QMessageBox::StandardButton which)
{
    auto *box = qobject_cast<QMessageBox *>(messageBox);
    if (!box || !box->button(which))
        qFatal("not a message box with that button");
    QTest::mouseClick(box->button(which), Qt::LeftButton);
}

// Calls `onModal` once for each modal widget that becomes active while the
// watcher lives. It looks from a timer, so unlike answerNextModal it also
// reaches dialogs that open later from a queued event, each in its own nested
// event loop (a prompt raised by a device-list change, say). A widget that is
// destroyed and replaced by a new one at the same address counts as new.
class ModalWatcher
{
public:
    explicit ModalWatcher(std::function<void(QWidget *)> onModal, int intervalMs = 5);

private:
    void look();

    std::function<void(QWidget *)> onModal;
    QList<QPointer<QWidget>> seen;
    QTimer timer;
};

// The entries in which two maps differ, one per line, for a failure message.
inline QString mapDifference(const QVariantMap &actual, const QVariantMap &expected)
{
    QStringList lines;
    QStringList keys = actual.keys() + expected.keys();
    keys.removeDuplicates();
    for (const QString &key : keys) {
        if (actual.value(key) != expected.value(key))
            lines << QString("%1: actual %2, expected %3")
                         .arg(key, QDebug::toString(actual.value(key)),
                              QDebug::toString(expected.value(key)));
    }
    return lines.join('\n');
}

// QCOMPARE for two QVariantMaps, naming the entries that differ.
#define COMPARE_MAPS(actual, expected)                                                            \
    do {                                                                                          \
        const QVariantMap actual_ = (actual), expected_ = (expected);                             \
        QVERIFY2(actual_ == expected_, qPrintable(guitest::mapDifference(actual_, expected_)));   \
    } while (false)

// Types a file name into a file dialog and confirms it with Enter.
void typeFileNameAndAccept(QWidget *fileDialog, const QString &path);
// The lines of the log pane of `window`.
QStringList logLines(const QWidget *window);
// The serial numbers the device list pane of `window` shows, top to bottom.
QStringList listedDevices(const QWidget *window);
// Closes a dialog with the Escape key.
void escape(QWidget *dialog);

} // namespace guitest
