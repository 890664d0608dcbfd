// The viewer's one document: binds the codec, holds the picture and the zoom,
// opens BMP and PLIX files by their content and saves each the other way round.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

#include "dib_image.h"
#include "plix/binding.h"

class QAction;
class QWidget;
class CDialogHost;
class CPlixrefView;

class CPlixrefDoc : public QObject {
    Q_OBJECT
public:
    enum ImageKind { KindNone = 0, KindBitmap = 1, KindPlix = 2 };

    // Command identifiers of the zoom entries.
    enum { ID_VIEW_ZOOM50 = 32771, ID_VIEW_ZOOM100 = 32772, ID_VIEW_ZOOM200 = 32773 };

    // Loads the codec library by file name and creates the codec; a message
    // box says why when that fails, and the document then refuses new and open.
    explicit CPlixrefDoc(CDialogHost &host,
                         const char *libraryName = plix::platform::CodecLibraryFileName());
    ~CPlixrefDoc() override;

    bool OnNewDocument();
    // Opens a file by its content; on success the frame is fitted and the
    // title follows the file. A refused file leaves the document as it was.
    bool OnOpenDocument(const QString &path);

    void OnFileOpen();
    void OnFileSave();
    void OnZoom(int percent);
    // One step up (+1) or down (-1) through 50, 100 and 200 %; only while
    // the zoom commands are enabled.
    void OnZoomStep(int direction);
    static int SteppedZoom(int percent, int direction);
    // Check mark and enabled state of the zoom entry for percent.
    void OnUpdateZoom(int percent, QAction *action) const;
    bool IsZoomChecked(int percent) const { return zoomPercent_ == percent; }
    bool IsZoomEnabled() const { return picture_.GetBits() != nullptr; }

    // Sizes the main frame so that the view's client area is the zoomed
    // picture, and shows the picture from its top-left corner. A frame that
    // would not fit on its screen's available area takes the largest size
    // that does, with scroll bars, and is moved wholly onto the area.
    void FitFrame();
    // The same after the frame's border changed, keeping the scroll position.
    void RefitFrame();

    // The Open dialog's filters: every picture it opens, each format, any file.
    static QStringList OpenFilters();
    // The picture's own name with the given extension, in its folder; empty
    // when the document has no file.
    QString ProposedPath(const QString &extension) const;

    void AddView(CPlixrefView *view);
    void RemoveView(CPlixrefView *view);
    CPlixrefView *FirstView() const { return views_.empty() ? nullptr : views_.front(); }

    CDibImage &Picture() { return picture_; }
    const CDibImage &Picture() const { return picture_; }
    int ZoomPercent() const { return zoomPercent_; }
    ImageKind Kind() const { return kind_; }
    PlixCodec *Codec() const { return codec_; }
    const QString &PathName() const { return pathName_; }
    const QString &Title() const { return title_; }

signals:
    void titleChanged(const QString &title);
    // Picture, kind or zoom changed.
    void stateChanged();

private:
    // Reads a file into the document; false with the message to show when it
    // is refused, and the document is then as it was.
    bool Load(const QString &path, QString &reason);
    // Null on success, otherwise why the file was refused.
    const char *LoadPlix(plix::platform::InputFile &file, int64_t length);
    void RestoreCodecPicture();
    // Reads any picture Qt's image readers take (bytes: the whole file when
    // it is to be kept for saving, otherwise empty and the file is read by
    // name). False when no reader takes it.
    bool LoadWithReader(const QString &path, const QByteArray &bytes, QString &reason);
    void Fit(bool anchorTopLeft);
    // Saves a bitmap that Qt read through the library's own BMP import.
    bool SaveSourceBitmapAsPlix(const QString &path, int mode, int qFactor, int matrix);
    void SaveAsPlix();
    void SaveAsBitmap();
    void UpdateAllViews();
    void SetPathName(const QString &path);
    QWidget *FrameWindow() const;

    CDialogHost &host_;
    CDibImage picture_;
    int zoomPercent_ = 100;
    ImageKind kind_ = KindNone;
    // Whether the codec holds the shown PLIX picture (for saving it as a
    // bitmap); a picture decoded on several threads gives it the codec only
    // when it is saved.
    bool codecHoldsPicture_ = true;
    // A BMP file that the picture was read from by Qt's reader, kept so that
    // Save encodes exactly what the library's BMP import gives.
    QByteArray sourceBitmap_;
    plix::CodecBinding library_;
    PLIX_ConstructorFn constructor_ = nullptr;
    PlixCodec *codec_ = nullptr;
    std::vector<CPlixrefView *> views_;
    QString pathName_;
    QString title_;
};
