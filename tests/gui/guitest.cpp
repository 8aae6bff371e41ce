#include "guitest.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

namespace guitest {

void typeFileNameAndAccept(QWidget *fileDialog, const QString &path)
{
    if (!qobject_cast<QFileDialog *>(fileDialog))
        qFatal("not a file dialog");
    auto *edit = child<QLineEdit>(fileDialog, "fileNameEdit");
    // The completer's list of matching files fills in from a background
    // directory scan and may pop up at any moment, even between the last
    // character and Enter, and take the Enter key. The test types without it.
    edit->setCompleter(nullptr);
    edit->clear();
    QTest::keyClicks(edit, path);
    QTest::keyClick(edit, Qt::Key_Return);
}

ModalWatcher::ModalWatcher(std::function<void(QWidget *)> onModal, int intervalMs)
    : onModal(std::move(onModal))
{
    QObject::connect(&timer, &QTimer::timeout, &timer, [this] { look(); });
    timer.start(intervalMs);
}

void ModalWatcher::look()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!isReadyForInput(modal))
        return;
    seen.removeIf([](const QPointer<QWidget> &known) { return known.isNull(); });
    for (const QPointer<QWidget> &known : std::as_const(seen)) {
        if (known == modal)
            return;
    }
    seen.append(modal);
    onModal(modal);
}

QStringList logLines(const QWidget *window)
{
    const QString text = child<QPlainTextEdit>(window, "logPTE")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

QStringList listedDevices(const QWidget *window)
{
    QStringList serials;
    auto *list = child<QListWidget>(window, "listWidget");
    for (int row = 0; row < list->count(); ++row)
        serials << list->item(row)->text();
    return serials;
}

void escape(QWidget *dialog)
{
    QTest::keyClick(dialog, Qt::Key_Escape);
}

} // namespace guitest
