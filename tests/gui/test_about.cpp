// The About window as the "About" action shows it: one fixed-size window that
// only hides when closed, its texts and icon, and how it keeps the program
// running after the main window has been closed.
#include "aboutwidget.h"
#include "bench.h"
#include "guitest.h"
#include "mainwindow.h"

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QResource>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using guitest::child;
using guitest::trigger;

namespace {

// Every About window that exists now, shown or hidden.
QList<AboutWidget *> aboutWindows()
{
    QList<AboutWidget *> found;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *about = qobject_cast<AboutWidget *>(top))
            found << about;
    return found;
}

// The one About window; fails the test when there is not exactly one.
AboutWidget *theAboutWindow()
{
    const QList<AboutWidget *> all = aboutWindows();
    if (all.size() != 1)
        qFatal("expected one About window, found %d", int(all.size()));
    return all.first();
}

// Ends a run of the event loop that should have ended by itself long before.
const int hangGuardMs = 30000;
const int hangExitCode = 99;

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void aboutShowsOneFixedSizeWindow();
    void closingOnlyHides();
    void textsAndLayout();
    void licenceBoxTakesNoInteraction();
    void iconResourceIsUncompressedRgba();
    void programEndsWhenLastWindowCloses_data();
    void programEndsWhenLastWindowCloses();

private:
    std::unique_ptr<InstalledBench> bench;
    std::unique_ptr<MainWindow> window;
};

void TestAbout::init()
{
    bench = std::make_unique<InstalledBench>();
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestAbout::cleanup()
{
    window.reset();
    bench.reset();
}

void TestAbout::aboutShowsOneFixedSizeWindow()
{
    AboutWidget *about = theAboutWindow();
    QVERIFY2(!about->isVisible(), "hidden until About is chosen");
    QVERIFY(about->isWindow());
    QCOMPARE(about->parentWidget(), nullptr);

    trigger(window.get(), "actionAbout");
    QVERIFY(QTest::qWaitForWindowExposed(about));
    const QPoint shownAt = about->pos();
    trigger(window.get(), "actionAbout");

    QCOMPARE(aboutWindows(), QList<AboutWidget *>{about});
    QVERIFY(about->isVisible());
    QCOMPARE(about->pos(), shownAt);
    QCOMPARE(about->windowTitle(), QStringLiteral("About Kestrova"));
    QCOMPARE(about->size(), QSize(493, 250));
    QCOMPARE(about->minimumSize(), QSize(493, 250));
    QCOMPARE(about->maximumSize(), QSize(493, 250));
    about->resize(700, 400);
    QCOMPARE(about->size(), QSize(493, 250));
    about->resize(200, 100);
    QCOMPARE(about->size(), QSize(493, 250));
}

void TestAbout::closingOnlyHides()
{
    trigger(window.get(), "actionAbout");
    QPointer<AboutWidget> about = theAboutWindow();
    auto *title = child<QLabel>(about, "TitleLE");
    const QString shownTitle = title->text();

    QVERIFY(about->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(about, "closing must not delete the window");
    QVERIFY(!about->isVisible());

    trigger(window.get(), "actionAbout");
    QCOMPARE(aboutWindows(), QList<AboutWidget *>{about.data()});
    QVERIFY(about->isVisible());
    QCOMPARE(title->text(), shownTitle);
}

void TestAbout::textsAndLayout()
{
    AboutWidget *about = theAboutWindow();
    trigger(window.get(), "actionAbout");
    QVERIFY(QTest::qWaitForWindowExposed(about));

    auto *title = child<QLabel>(about, "TitleLE");
    QCOMPARE(title->text(), QStringLiteral("<h1>Kestrova &nbsp; 0.1a</h1>"));
    QCOMPARE(title->font().family(), QStringLiteral("Trebuchet MS"));
    QCOMPARE(title->font().pointSize(), 14);
    QVERIFY(title->font().bold());
    QCOMPARE(title->styleSheet(), QStringLiteral("color: rgb(64, 64, 64);"));
    QVERIFY(about->styleSheet().isEmpty());

    auto *heading = child<QLabel>(about, "copyrightLE");
    QVERIFY(heading->text().startsWith("<p><b>"));
    QVERIFY(heading->text().endsWith("</b></p>"));
    QCOMPARE(heading->alignment(), Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);

    auto *contact = child<QLabel>(about, "NameLE");
    QVERIFY(contact->text().startsWith("<p>"));
    QVERIFY(contact->text().endsWith("</p>"));
    QVERIFY(contact->text().contains("Kestrova"));
    QVERIFY(contact->text().contains("issue tracker"));
    // The contact block takes the extra width of its row.
    QVERIFY(contact->width() >= heading->width());

    // The icon label shows the icon and never grows beyond it, whatever room it gets.
    auto *icon = child<QLabel>(about, "label");
    QVERIFY(icon->text().isEmpty());
    QCOMPARE(icon->pixmap().size(), QSize(72, 72));
    QCOMPARE(icon->maximumSize(), QSize(72, 72));
    QVERIFY(icon->width() <= 72 && icon->height() <= 72);
    QVERIFY(icon->x() < title->x());

    const QString notice = child<QTextEdit>(about, "copyrighttextTE")->toPlainText();
    for (const char *part : {"the Kestrova developers", "free software",
                             "GNU General Public License", "either version 3",
                             "any later version", "WITHOUT ANY WARRANTY", "LICENSE",
                             "https://www.gnu.org/licenses/"})
        QVERIFY2(notice.contains(QLatin1String(part)), part);
}

void TestAbout::licenceBoxTakesNoInteraction()
{
    AboutWidget *about = theAboutWindow();
    trigger(window.get(), "actionAbout");
    QVERIFY(QTest::qWaitForWindowExposed(about));
    auto *box = child<QTextEdit>(about, "copyrighttextTE");
    QCOMPARE(box->textInteractionFlags(), Qt::NoTextInteraction);
    QCOMPARE(box->frameShape(), QFrame::NoFrame);

    const QString before = box->toPlainText();
    QTest::mouseDClick(box->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    QTest::keyClicks(box, "typed");
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    QCOMPARE(box->toPlainText(), before);
    QVERIFY(!box->textCursor().hasSelection());
}

void TestAbout::iconResourceIsUncompressedRgba()
{
    QResource resource(":/ICON/Icon");
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);

    const QImage image(":/ICON/Icon");
    QCOMPARE(image.size(), QSize(72, 72));
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);  // transparent ground
    QVERIFY(qAlpha(image.pixel(36, 36)) > 0); // something drawn in the middle
}

void TestAbout::programEndsWhenLastWindowCloses_data()
{
    QTest::addColumn<bool>("aboutOpen");
    QTest::newRow("About window open") << true;
    QTest::newRow("About window never opened") << false;
}

// Drives one run of the application's event loop with timers: the main window
// is closed first; an open About window must keep the loop running until it
// is closed too, and the loop then ends with 0.
void TestAbout::programEndsWhenLastWindowCloses()
{
    QFETCH(bool, aboutOpen);
    AboutWidget *about = theAboutWindow();
    if (aboutOpen) {
        trigger(window.get(), "actionAbout");
        QVERIFY(QTest::qWaitForWindowExposed(about));
    }

    bool execReturned = false;
    bool ranAfterMainClosed = false;
    QTimer::singleShot(0, window.get(), [&] {
        window->close();
        if (!aboutOpen)
            return;
        QTimer::singleShot(0, about, [&] {
            ranAfterMainClosed = !execReturned && !window->isVisible() && about->isVisible();
            about->close();
        });
    });
    QTimer hangGuard;
    hangGuard.setSingleShot(true);
    connect(&hangGuard, &QTimer::timeout, [] { QCoreApplication::exit(hangExitCode); });
    hangGuard.start(hangGuardMs);

    const int exitCode = QApplication::exec();
    execReturned = true;
    QCOMPARE(exitCode, 0);
    QCOMPARE(ranAfterMainClosed, aboutOpen);
    QVERIFY(!window->isVisible());
    QVERIFY(!about->isVisible());
}

QTEST_MAIN(TestAbout)
#include "test_about.moc"
