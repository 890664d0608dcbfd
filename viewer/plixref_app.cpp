#include "plixref_app.h"

#include <QAction>
#include <QMenu>

#include "dialog_host.h"
#include "main_frame.h"
#include "plixref_doc.h"
#include "plixref_view.h"

CPlixrefApp::CPlixrefApp(CDialogHost &host, const char *libraryName)
    : host_(host), libraryName_(libraryName) {}

CPlixrefApp::~CPlixrefApp() {
    frame_.reset();
    doc_.reset();
}

bool CPlixrefApp::InitInstance(const QStringList &arguments) {
    doc_ = std::make_unique<CPlixrefDoc>(host_, libraryName_);
    frame_ = std::make_unique<CMainFrame>();
    view_ = new CPlixrefView(*doc_, frame_.get());
    frame_->setCentralWidget(view_);

    CPlixrefDoc *doc = doc_.get();
    CMainFrame *frame = frame_.get();
    QObject::connect(frame->OpenAction(), &QAction::triggered, doc, &CPlixrefDoc::OnFileOpen);
    QObject::connect(frame->SaveAction(), &QAction::triggered, doc, &CPlixrefDoc::OnFileSave);
    for (int percent : {50, 100, 200})
        QObject::connect(frame->ZoomAction(percent), &QAction::triggered, doc,
                         [doc, percent] { doc->OnZoom(percent); });
    QObject::connect(frame->ZoomInAction(), &QAction::triggered, doc,
                     [doc] { doc->OnZoomStep(1); });
    QObject::connect(frame->ZoomOutAction(), &QAction::triggered, doc,
                     [doc] { doc->OnZoomStep(-1); });
    QObject::connect(frame->ZoomResetAction(), &QAction::triggered, doc, [doc] {
        if (doc->IsZoomEnabled()) doc->OnZoom(100);
    });
    QObject::connect(view_, &CPlixrefView::zoomStepRequested, doc, &CPlixrefDoc::OnZoomStep);
    QObject::connect(frame, &CMainFrame::borderChanged, doc, &CPlixrefDoc::RefitFrame);
    QObject::connect(frame->AboutAction(), &QAction::triggered, frame, [this] { OnAppAbout(); });
    QObject::connect(frame, &CMainFrame::fileDropped, frame,
                     [this](const QString &path) { OpenDocumentFile(path); });
    QObject::connect(frame->ViewMenu(), &QMenu::aboutToShow, frame,
                     [this] { UpdateZoomCommands(); });
    QObject::connect(doc, &CPlixrefDoc::stateChanged, frame, [this] { UpdateZoomCommands(); });
    QObject::connect(doc, &CPlixrefDoc::titleChanged, frame, [this] { UpdateTitle(); });
    UpdateTitle();
    UpdateZoomCommands();

    // No argument: a new, empty document; otherwise the named file.
    const bool ready =
        arguments.size() > 1 ? OpenDocumentFile(arguments.at(1)) : doc->OnNewDocument();
    if (!ready) {
        frame_.reset();
        view_ = nullptr;
        return false;
    }
    frame->show();
    frame->update();
    view_->setFocus();
    return true;
}

bool CPlixrefApp::OpenDocumentFile(const QString &path) {
    return doc_->OnOpenDocument(path);
}

void CPlixrefApp::OnAppAbout() {
    host_.RunAbout(frame_.get());
}

void CPlixrefApp::UpdateTitle() {
    frame_->setWindowTitle(QStringLiteral("%1 - %2").arg(doc_->Title(), QLatin1String(kAppName)));
}

void CPlixrefApp::UpdateZoomCommands() {
    for (int percent : {50, 100, 200}) doc_->OnUpdateZoom(percent, frame_->ZoomAction(percent));
    for (QAction *zoom :
         {frame_->ZoomInAction(), frame_->ZoomOutAction(), frame_->ZoomResetAction()})
        zoom->setEnabled(doc_->IsZoomEnabled());
}
