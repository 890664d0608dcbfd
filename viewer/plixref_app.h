// Start-up of the viewer: builds the document, frame and view, acts on the
// command line and shows the window.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

#include "platform/library.h"

class CDialogHost;
class CMainFrame;
class CPlixrefDoc;
class CPlixrefView;

class CPlixrefApp {
public:
    static constexpr const char *kAppName = "Plixref";

    explicit CPlixrefApp(CDialogHost &host,
                         const char *libraryName = plix::platform::CodecLibraryFileName());
    ~CPlixrefApp();
    CPlixrefApp(const CPlixrefApp &) = delete;
    CPlixrefApp &operator=(const CPlixrefApp &) = delete;

    // arguments[0] is the program; a further argument names a file to open.
    // False when the program cannot go on (no codec, or the named file was
    // refused); the window is not shown then.
    bool InitInstance(const QStringList &arguments);

    void OnAppAbout();
    // Opens a file the way the command line and dropped files do.
    bool OpenDocumentFile(const QString &path);

    CPlixrefDoc *Document() const { return doc_.get(); }
    CMainFrame *MainFrame() const { return frame_.get(); }
    CPlixrefView *View() const { return view_; }

private:
    void UpdateTitle();
    void UpdateZoomCommands();

    CDialogHost &host_;
    const char *libraryName_;
    std::unique_ptr<CPlixrefDoc> doc_;
    std::unique_ptr<CMainFrame> frame_;  // destroyed before the document it shows
    CPlixrefView *view_ = nullptr;       // owned by the frame
};
