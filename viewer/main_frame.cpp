#include "main_frame.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>

#include "about_dialog.h"

namespace {

QString FirstLocalFile(const QMimeData *mime) {
    if (!mime || !mime->hasUrls()) return {};
    for (const QUrl &url : mime->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return {};
}

}  // namespace

CMainFrame::CMainFrame(QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                              Qt::CustomizeWindowHint) {
    setWindowIcon(PlixrefIcon());
    setAcceptDrops(true);

    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    open_ = file->addAction(QStringLiteral("&Open"));
    open_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    save_ = file->addAction(QStringLiteral("&Save"));
    save_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    file->addSeparator();
    exit_ = file->addAction(QStringLiteral("E&xit"));

    viewMenu_ = menuBar()->addMenu(QStringLiteral("&View"));
    zoom50_ = viewMenu_->addAction(QStringLiteral("Zoom (&50%)"));
    zoom100_ = viewMenu_->addAction(QStringLiteral("Zoom (&100%)"));
    zoom200_ = viewMenu_->addAction(QStringLiteral("Zoom (&200%)"));
    for (QAction *zoom : {zoom50_, zoom100_, zoom200_}) zoom->setCheckable(true);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    about_ = help->addAction(QStringLiteral("&About Plixref..."));

    connect(exit_, &QAction::triggered, this, &QWidget::close);

    zoomIn_ = new QAction(QStringLiteral("Zoom in"), this);
    zoomIn_->setShortcuts(QKeySequence::keyBindings(QKeySequence::ZoomIn)
                          << QKeySequence(Qt::CTRL | Qt::Key_Equal));
    zoomOut_ = new QAction(QStringLiteral("Zoom out"), this);
    zoomOut_->setShortcuts(QKeySequence::ZoomOut);
    zoomReset_ = new QAction(QStringLiteral("Actual size"), this);
    zoomReset_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    quit_ = new QAction(QStringLiteral("Quit"), this);
    // Ctrl+Q also where the platform's quit key is another.
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (!quitKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_Q)))
        quitKeys << QKeySequence(Qt::CTRL | Qt::Key_Q);
    quit_->setShortcuts(quitKeys);
    addActions({zoomIn_, zoomOut_, zoomReset_, quit_});
    connect(quit_, &QAction::triggered, this, &QWidget::close);

    // The user cannot resize the window; the document fits it to the picture.
    setFixedSize(kInitialWidth, kInitialHeight);
}

QAction *CMainFrame::ZoomAction(int percent) const {
    switch (percent) {
        case 50:
            return zoom50_;
        case 100:
            return zoom100_;
        case 200:
            return zoom200_;
        default:
            return nullptr;
    }
}

void CMainFrame::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    CheckBorder();
}

void CMainFrame::moveEvent(QMoveEvent *event) {
    QMainWindow::moveEvent(event);
    CheckBorder();
}

void CMainFrame::resizeEvent(QResizeEvent *event) {
    QMainWindow::resizeEvent(event);
    CheckBorder();
}

void CMainFrame::CheckBorder() {
    // Window managers add their border after the window is shown, and report
    // it with a move or a resize.
    if (!isVisible()) return;
    const QSize border = frameGeometry().size() - size();
    if (border == border_) return;
    // The initial size is the outer one: take off the border and caption,
    // once they are known, unless the document has fitted the frame already.
    const QSize initial(kInitialWidth, kInitialHeight);
    if (size() == initial - border_) setFixedSize(initial - border);
    border_ = border;
    emit borderChanged();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent *event) {
    if (!FirstLocalFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent *event) {
    const QString path = FirstLocalFile(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    emit fileDropped(path);
}
