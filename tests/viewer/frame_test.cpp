// Pictures larger than the screen, scrolling, the zoom and quit keys, the
// empty window's hint and the command line.
#include <QAction>
#include <QMenuBar>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include "command_line.h"
#include "main_frame.h"
#include "plixref_app.h"
#include "plixref_doc.h"
#include "plixref_view.h"
#include "viewer_test_util.h"

using namespace viewer_test;

namespace {

// True when the view shows the picture's pixels from (left, top) at 100 %.
bool ShowsPictureAt(CPlixrefView *view, int left, int top) {
    const QImage shot = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const Bgr p = PatternPixel(left + x, top + y);
            if (shot.pixel(x, y) != qRgb(p.r, p.g, p.b)) return false;
        }
    return true;
}

void Wheel(QWidget *target, QPoint delta, Qt::KeyboardModifiers modifiers) {
    QWheelEvent event(QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), QPoint(), delta,
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

}  // namespace

class TestFrame : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString Bmp(const QString &name, int w, int h) {
        const QString path = dir_.filePath(name);
        WriteFile(path, MakeBmp(w, h));
        return path;
    }

private slots:
    // The frame takes the available area, no more; the scroll bars reach the
    // whole zoomed picture; Home and End show its corners.
    void largerThanTheScreen() {
        TestHost host;
        CPlixrefApp app(host);
        QVERIFY(app.InitInstance({"Plixref", Bmp("big.bmp", 1000, 900)}));
        CMainFrame *frame = app.MainFrame();
        CPlixrefView *view = app.View();
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        const QRect area = frame->screen()->availableGeometry();
        QVERIFY2(area.width() < 1000 && area.height() < 900,
                 qPrintable(QStringLiteral("the screen is too large: %1 x %2")
                                .arg(area.width())
                                .arg(area.height())));
        QScrollBar *h = view->horizontalScrollBar();
        QScrollBar *v = view->verticalScrollBar();
        for (int zoom : {100, 200}) {
            app.Document()->OnZoom(zoom);
            QTRY_COMPARE(frame->frameGeometry().size(), area.size());
            QVERIFY(area.contains(frame->frameGeometry()));
            QCOMPARE(frame->minimumSize(), frame->maximumSize());
            QVERIFY(h->isVisible() && v->isVisible());
            QTRY_COMPARE(h->maximum() + view->viewport()->width(), 10 * zoom);
            QCOMPARE(v->maximum() + view->viewport()->height(), 9 * zoom);
            QCOMPARE(h->value(), 0);
            QCOMPARE(v->value(), 0);
        }
        app.Document()->OnZoom(100);
        QTRY_VERIFY(ShowsPictureAt(view, 0, 0));

        QTest::keyClick(view, Qt::Key_End);
        QCOMPARE(h->value(), h->maximum());
        QCOMPARE(v->value(), v->maximum());
        QVERIFY(ShowsPictureAt(view, h->value(), v->value()));
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(QPoint(h->value(), v->value()), QPoint(0, 0));
        QTest::keyClick(view, Qt::Key_PageDown);
        QCOMPARE(v->value(), std::min(v->pageStep(), v->maximum()));
        QTest::keyClick(view, Qt::Key_Right);
        QVERIFY(h->value() > 0);
        QVERIFY(ShowsPictureAt(view, h->value(), v->value()));

        // The wheel scrolls down, with Shift across; Ctrl zooms.
        QTest::keyClick(view, Qt::Key_Home);
        Wheel(view->viewport(), QPoint(0, -120), Qt::NoModifier);
        QVERIFY(v->value() > 0);
        QCOMPARE(h->value(), 0);
        Wheel(view->viewport(), QPoint(0, -120), Qt::ShiftModifier);
        QVERIFY(h->value() > 0);
        Wheel(view->viewport(), QPoint(0, -120), Qt::ControlModifier);
        QCOMPARE(app.Document()->ZoomPercent(), 50);

        // At 50 % the picture fits: exactly, without scroll bars, on the area.
        QTRY_COMPARE(view->size(), QSize(500, 450));
        QVERIFY(!h->isVisible() && !v->isVisible());
        QCOMPARE(frame->size(), QSize(500, 450 + frame->menuBar()->height()));
        QVERIFY(area.contains(frame->frameGeometry()));
        Wheel(view->viewport(), QPoint(0, 120), Qt::ControlModifier);
        QCOMPARE(app.Document()->ZoomPercent(), 100);
    }

    // A frame that would run off the area is moved back onto it.
    void movedOntoTheArea() {
        TestHost host;
        CPlixrefApp app(host);
        QVERIFY(app.InitInstance({"Plixref"}));
        CMainFrame *frame = app.MainFrame();
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        const QRect area = frame->screen()->availableGeometry();
        frame->move(area.right() - 100, area.bottom() - 100);
        QTRY_COMPARE(frame->pos(), QPoint(area.right() - 100, area.bottom() - 100));
        QVERIFY(app.OpenDocumentFile(Bmp("moved.bmp", 300, 200)));
        QTRY_VERIFY(area.contains(frame->frameGeometry()));
        QCOMPARE(app.View()->size(), QSize(300, 200));
    }

    // Ctrl++ (or Ctrl+=) and Ctrl+- step through 50, 100 and 200 %, Ctrl+0
    // gives 100 %; none of them acts without a picture. Ctrl+Q quits.
    void zoomAndQuitKeys() {
        TestHost host;
        CPlixrefApp app(host);
        QVERIFY(app.InitInstance({"Plixref"}));
        CMainFrame *frame = app.MainFrame();
        CPlixrefDoc *doc = app.Document();
        QVERIFY(QTest::qWaitForWindowActive(frame));
        for (QAction *a : {frame->ZoomInAction(), frame->ZoomOutAction(), frame->ZoomResetAction()})
            QVERIFY(!a->isEnabled());
        QTest::keyClick(frame, Qt::Key_Plus, Qt::ControlModifier);
        QTest::keyClick(frame, Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(doc->ZoomPercent(), 100);

        QVERIFY(app.OpenDocumentFile(Bmp("keys.bmp", 20, 10)));
        QVERIFY(frame->ZoomInAction()->isEnabled());
        const struct {
            Qt::Key key;
            int zoom;
        } steps[] = {{Qt::Key_Plus, 200},  {Qt::Key_Equal, 200}, {Qt::Key_Minus, 100},
                     {Qt::Key_Minus, 50},  {Qt::Key_Minus, 50},  {Qt::Key_0, 100},
                     {Qt::Key_Equal, 200}, {Qt::Key_0, 100}};
        for (const auto &step : steps) {
            QTest::keyClick(frame, step.key, Qt::ControlModifier);
            QCOMPARE(doc->ZoomPercent(), step.zoom);
            QVERIFY(frame->ZoomAction(step.zoom)->isChecked());
            QTRY_COMPARE(app.View()->size(), QSize(step.zoom / 5, step.zoom / 10));
        }
        QTest::keyClick(frame, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!frame->isVisible());
    }

    // Messages belong to the main window.
    void messageParent() {
        TestHost host;
        CPlixrefApp app(host);
        QVERIFY(app.InitInstance({"Plixref"}));
        QVERIFY(!app.OpenDocumentFile(dir_.filePath("absent.png")));
        QCOMPARE(host.messageParents, QList<QWidget *>{app.MainFrame()});
    }

    // The empty window says how to open a picture.
    void emptyWindowHint() {
        TestHost host;
        CPlixrefApp app(host);
        QVERIFY(app.InitInstance({"Plixref"}));
        QVERIFY(QTest::qWaitForWindowExposed(app.MainFrame()));
        const QImage shot = app.View()->viewport()->grab().toImage();
        const QRgb background = shot.pixel(0, 0);
        int drawn = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) drawn += shot.pixel(x, y) != background;
        QVERIFY(drawn > 100);
        QVERIFY(QString::fromUtf8(CPlixrefView::kEmptyHint).contains("Ctrl+O"));
    }

    void commandLine() {
        QCOMPARE(ParseCommandLine({"Plixref"}).action, CommandLineInfo::Run);
        QCOMPARE(ParseCommandLine({"Plixref", "a.bmp"}).file, QStringLiteral("a.bmp"));
        QCOMPARE(ParseCommandLine({"Plixref", "--", "--help"}).file, QStringLiteral("--help"));
        QCOMPARE(ParseCommandLine({"Plixref", "--bogus"}).action, CommandLineInfo::Fail);
        QCOMPARE(ParseCommandLine({"Plixref", "a", "b"}).action, CommandLineInfo::Fail);
        QVERIFY(ParseCommandLine({"Plixref", "x", "-h"}).text.contains("Usage:"));
        QVERIFY(VersionText("libPLIX-absent.so").contains("not found"));

        // The program itself answers without a display; the library's version
        // is the one the converter reports.
        const QString bin = QCoreApplication::applicationDirPath();
        QProcess conv;
        conv.start(bin + "/plixconv", {});
        QVERIFY(conv.waitForFinished(30000));
        const QString libraryVersion = QRegularExpression("version (\\S+)")
                                           .match(QString::fromLocal8Bit(conv.readAll()))
                                           .captured(1);
        QVERIFY(!libraryVersion.isEmpty());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        for (const char *option : {"--help", "--version"}) {
            QProcess viewer;
            viewer.setProcessEnvironment(env);
            viewer.start(bin + "/Plixref", {option});
            QVERIFY(viewer.waitForFinished(30000));
            QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
            QCOMPARE(viewer.exitCode(), 0);
            const QString out = QString::fromLocal8Bit(viewer.readAllStandardOutput());
            if (option[2] == 'h') {
                QVERIFY2(out.contains("--version") && out.contains("[file]"), qPrintable(out));
            } else {
                QVERIFY2(out.startsWith("Plixref 1.0"), qPrintable(out));
                QVERIFY2(out.contains("version " + libraryVersion), qPrintable(out));
            }
        }
    }
};

QTEST_MAIN(TestFrame)
#include "frame_test.moc"
