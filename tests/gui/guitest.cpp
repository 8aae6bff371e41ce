#include "guitest.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileDialog>
#include <QLineEdit>

namespace guitest {

void typeFileNameAndAccept(QWidget *fileDialog, const QString &path)
{
    if (!qobject_cast<QFileDialog *>(fileDialog))
        qFatal("not a file dialog");
    auto *edit = child<QLineEdit>(fileDialog, "fileNameEdit");
    edit->clear();
    QTest::keyClicks(edit, path);
    // Typing a path opens the completer's list of matching files; it would
    // take the Enter key, so it is dismissed first, as a user would with Escape.
    if (QCompleter *completer = edit->completer(); completer && completer->popup()->isVisible())
        QTest::keyClick(completer->popup(), Qt::Key_Escape);
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

void escape(QWidget *dialog)
{
    QTest::keyClick(dialog, Qt::Key_Escape);
}

} // namespace guitest
