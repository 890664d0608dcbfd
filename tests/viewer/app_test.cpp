// Start-up, the main frame's menus and size, the command line, dropped files,
// the About box, and what the window shows.
#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include "about_dialog.h"
#include "main_frame.h"
#include "plixref_app.h"
#include "plixref_doc.h"
#include "plixref_view.h"
#include "viewer_test_util.h"

using namespace viewer_test;

namespace {

QStringList MenuTexts(QMenu *menu) {
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

// The view's pixels as BGR bytes, rows top-down.
QImage Grab(QWidget *w) {
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

class TestApp : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString Bmp(const QString &name, int w, int h) {
        const QString path = dir_.filePath(name);
        WriteFile(path, MakeBmp(w, h));
        return path;
    }

private slots:
    void startWithoutLibrary() {
        TestHost host;
        CPlixrefApp app(host, "libPLIX-absent.so");
        QVERIFY(!app.InitInstance({"Plixref"}));
        QCOMPARE(host.messages, QStringList{"File not found - libPLIX-absent.so"});
        QVERIFY(!app.MainFrame());
    }

    void startWithoutFactory() {
        TestHost host;
        CPlixrefApp app(host, "libm.so.6");
        QVERIFY(!app.InitInstance({"Plixref", Bmp("a.bmp", 2, 2)}));
        QCOMPARE(host.messages, QStringList{"GetProc error!"});
        QVERIFY(!app.MainFrame());
    }

    void startEmpty() {
        TestHost host;
        CPlixrefApp app(host);
        QVERIFY(app.InitInstance({"Plixref"}));
        QVERIFY(host.messages.isEmpty());
        CMainFrame *frame = app.MainFrame();
        QVERIFY(frame->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        QCOMPARE(frame->frameGeometry().size(), QSize(400, 300));
        QCOMPARE(frame->minimumSize(), frame->maximumSize());
        QVERIFY(!(frame->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(frame->acceptDrops());
        QCOMPARE(frame->windowTitle(), QStringLiteral("Untitled - Plixref"));
        QCOMPARE(app.Document()->ZoomPercent(), 100);
        QCOMPARE(frame->centralWidget(), app.View());
    }

    void menus() {
        TestHost host;
        CPlixrefApp app(host);
        QVERIFY(app.InitInstance({"Plixref"}));
        const QList<QAction *> top = app.MainFrame()->menuBar()->actions();
        QCOMPARE(top.size(), 3);
        QCOMPARE(top[0]->text(), QStringLiteral("&File"));
        QCOMPARE(top[1]->text(), QStringLiteral("&View"));
        QCOMPARE(top[2]->text(), QStringLiteral("&Help"));
        QCOMPARE(MenuTexts(top[0]->menu()), QStringList({"&Open", "&Save", "-", "E&xit"}));
        QCOMPARE(MenuTexts(top[1]->menu()),
                 QStringList({"Zoom (&50%)", "Zoom (&100%)", "Zoom (&200%)"}));
        QCOMPARE(MenuTexts(top[2]->menu()), QStringList{"&About Plixref..."});
        QCOMPARE(app.MainFrame()->OpenAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
        QCOMPARE(app.MainFrame()->SaveAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
        // The zoom entries: disabled without a picture, 100 % checked.
        emit top[1]->menu()->aboutToShow();
        QVERIFY(!app.MainFrame()->ZoomAction(50)->isEnabled());
        QVERIFY(app.MainFrame()->ZoomAction(100)->isChecked());
        QVERIFY(!app.MainFrame()->ZoomAction(200)->isChecked());
    }

    void commands() {
        TestHost host;
        CPlixrefApp app(host);
        QVERIFY(app.InitInstance({"Plixref"}));
        CMainFrame *frame = app.MainFrame();
        QVERIFY(QTest::qWaitForWindowActive(frame));
        host.openAnswers.push_back(Bmp("keys.bmp", 8, 4));
        QTest::keyClick(frame, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(host.openSpecs.size(), 1);
        QCOMPARE(app.Document()->Kind(), CPlixrefDoc::KindBitmap);
        QCOMPARE(frame->windowTitle(), QStringLiteral("keys.bmp - Plixref"));
        QTest::keyClick(frame, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(host.saveSpecs.size(), 1);
        QVERIFY(frame->ZoomAction(200)->isEnabled());
        frame->ZoomAction(200)->trigger();
        QCOMPARE(app.Document()->ZoomPercent(), 200);
        QVERIFY(frame->ZoomAction(200)->isChecked());
        QVERIFY(!frame->ZoomAction(100)->isChecked());
        QTRY_COMPARE(app.View()->size(), QSize(16, 8));
        frame->AboutAction()->trigger();
        QCOMPARE(host.aboutRuns, 1);
        frame->ExitAction()->trigger();
        QVERIFY(!frame->isVisible());
    }

    void startWithFile() {
        TestHost host;
        CPlixrefApp app(host);
        const QString path = Bmp("photo.bmp", 31, 17);
        QVERIFY(app.InitInstance({"Plixref", path}));
        QVERIFY(host.messages.isEmpty());
        QCOMPARE(app.MainFrame()->windowTitle(), QStringLiteral("photo.bmp - Plixref"));
        QVERIFY(QTest::qWaitForWindowExposed(app.MainFrame()));
        QTRY_COMPARE(app.View()->size(), QSize(31, 17));
    }

    void startWithRefusedFile() {
        TestHost host;
        CPlixrefApp app(host);
        const QString path = dir_.filePath("absent.bmp");
        QVERIFY(!app.InitInstance({"Plixref", path}));
        QCOMPARE(host.messages.size(), 1);
        QVERIFY(host.messages[0].contains("absent.bmp"));
        QVERIFY(!app.MainFrame());
    }

    void droppedFile() {
        TestHost host;
        CPlixrefApp app(host);
        QVERIFY(app.InitInstance({"Plixref"}));
        CMainFrame *frame = app.MainFrame();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(Bmp("dropped.bmp", 12, 5))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(frame, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(frame, &drop);
        QCOMPARE(app.Document()->Kind(), CPlixrefDoc::KindBitmap);
        QCOMPARE(frame->windowTitle(), QStringLiteral("dropped.bmp - Plixref"));
        QTRY_COMPARE(app.View()->size(), QSize(12, 5));
    }

    // The window shows the picture's pixels from the top-left corner: exactly
    // at 100 %, each pixel as a 2 x 2 square at 200 %.
    void shownPixels() {
        TestHost host;
        CPlixrefApp app(host);
        QVERIFY(app.InitInstance({"Plixref", Bmp("px.bmp", 9, 6)}));
        QVERIFY(QTest::qWaitForWindowExposed(app.MainFrame()));
        for (int zoom : {100, 200}) {
            app.Document()->OnZoom(zoom);
            const int f = zoom / 100;
            QTRY_COMPARE(app.View()->size(), QSize(9 * f, 6 * f));
            const QImage shot = Grab(app.View());
            for (int y = 0; y < 6 * f; ++y)
                for (int x = 0; x < 9 * f; ++x) {
                    const Bgr p = PatternPixel(x / f, y / f);
                    QCOMPARE(shot.pixel(x, y), qRgb(p.r, p.g, p.b));
                }
        }
    }

    void aboutBox() {
        CAboutDialog about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About Plixref"));
        QStringList texts;
        for (QLabel *l : about.findChildren<QLabel *>())
            if (!l->text().isEmpty()) texts << l->text();
        QVERIFY(texts.contains("PLIX reference code version 1.0"));
        QCOMPARE(texts.size(), 2);
        const QList<QPushButton *> buttons = about.findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(buttons[0]->text(), QStringLiteral("OK"));
        QVERIFY(buttons[0]->isDefault());
        QTest::mouseClick(buttons[0], Qt::LeftButton);
        QCOMPARE(about.result(), int(QDialog::Accepted));
        QVERIFY(!PlixrefIcon().availableSizes().isEmpty());
    }
};

QTEST_MAIN(TestApp)
#include "app_test.moc"
