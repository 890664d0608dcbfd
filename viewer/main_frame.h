// The main window: menus, shortcuts, a fixed size that only the document
// changes, and files dropped on it.
#pragma once

#include <QMainWindow>

class QAction;
class QMenu;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kInitialWidth = 400;
    static constexpr int kInitialHeight = 300;

    explicit CMainFrame(QWidget *parent = nullptr);

    QAction *OpenAction() const { return open_; }
    QAction *SaveAction() const { return save_; }
    QAction *ExitAction() const { return exit_; }
    QAction *ZoomAction(int percent) const;
    QAction *AboutAction() const { return about_; }
    // Keys without menu entries: zoom steps, 100 %, and quitting.
    QAction *ZoomInAction() const { return zoomIn_; }
    QAction *ZoomOutAction() const { return zoomOut_; }
    QAction *ZoomResetAction() const { return zoomReset_; }
    QAction *QuitAction() const { return quit_; }
    QMenu *ViewMenu() const { return viewMenu_; }

signals:
    void fileDropped(const QString &path);
    // The window system's border round the frame became known or changed.
    void borderChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    QAction *open_ = nullptr;
    QAction *save_ = nullptr;
    QAction *exit_ = nullptr;
    QAction *zoom50_ = nullptr;
    QAction *zoom100_ = nullptr;
    QAction *zoom200_ = nullptr;
    QAction *about_ = nullptr;
    QAction *zoomIn_ = nullptr;
    QAction *zoomOut_ = nullptr;
    QAction *zoomReset_ = nullptr;
    QAction *quit_ = nullptr;
    QMenu *viewMenu_ = nullptr;
    QSize border_{0, 0};

    void CheckBorder();
};
