#include "plixref_doc.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLayout>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "dialog_host.h"
#include "platform/bmp_file.h"
#include "platform/byte_order.h"
#include "platform/file.h"
#include "plixref_view.h"
#include "settings_dialog.h"

using plix::platform::InputFile;

namespace {

using plix::platform::Le32;


QString Shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

QString OpenFailure(const QString &path, const char *why) {
    return QStringLiteral("Cannot open %1: %2.").arg(Shown(path), QString::fromUtf8(why));
}

QString SaveFailure(const QString &path, const char *why) {
    return QStringLiteral("Cannot save %1: %2.").arg(Shown(path), QString::fromUtf8(why));
}

uint32_t PixelColour(PlixCodec *codec, int32_t x, int32_t y) {
    return codec->ops->GetPixel(codec, x, y);
}

}  // namespace

CPlixrefDoc::CPlixrefDoc(CDialogHost &host, const char *libraryName) : host_(host) {
    title_ = QStringLiteral("Untitled");
    if (!library_.Load(libraryName)) {
        host_.MessageBox(
            nullptr,
            QStringLiteral("File not found - %1").arg(QString::fromLocal8Bit(libraryName)));
        return;
    }
    constructor_ = library_.Constructor();
    if (!constructor_) {
        host_.MessageBox(nullptr, QStringLiteral("GetProc error!"));
        return;
    }
    codec_ = constructor_();
}

CPlixrefDoc::~CPlixrefDoc() {
    if (codec_) {
        library_.Destroy(codec_);
        codec_ = nullptr;
    }
    library_.Unload();
}

bool CPlixrefDoc::OnNewDocument() {
    if (!codec_) return false;
    SetPathName(QString());
    return true;
}

bool CPlixrefDoc::OnOpenDocument(const QString &path) {
    if (!codec_) return false;
    QString reason;
    if (!Load(path, reason)) {
        host_.MessageBox(FrameWindow(), reason);
        return false;
    }
    SetPathName(path);
    UpdateAllViews();
    emit stateChanged();
    FitFrame();
    return true;
}

bool CPlixrefDoc::Load(const QString &path, QString &reason) {
    InputFile file;
    if (!file.Open(QFile::encodeName(path).constData())) {
        reason = OpenFailure(path, "the file cannot be read");
        return false;
    }
    const int64_t length = file.Size();
    uint8_t head[6];
    const size_t got = file.Read(head, sizeof head);
    if (file.Seek(0, 0) != 0) {
        reason = OpenFailure(path, "the file cannot be read");
        return false;
    }

    // A bitmap announces its own length right after "BM".
    if (got >= 6 && head[0] == 'B' && head[1] == 'M' && length >= 0 && Le32(head + 2) == length) {
        CDibImage fresh;
        try {
            fresh.Read(file);
        } catch (const CArchiveException &e) {
            reason = OpenFailure(path, e.m_cause == CArchiveException::endOfFile
                                           ? "the file is incomplete"
                                           : "only uncompressed 24-bit BMP files can be shown");
            return false;
        } catch (const std::bad_alloc &) {
            reason = OpenFailure(path, "not enough memory");
            return false;
        }
        picture_.Swap(fresh);
        kind_ = KindBitmap;
        return true;
    }

    if (got >= 4 && std::memcmp(head, "PLIX", 4) == 0) {
        if (const char *why = LoadPlix(file, length)) {
            reason = OpenFailure(path, why);
            return false;
        }
        return true;
    }

    reason = OpenFailure(path, "it is neither a BMP nor a PLIX file");
    return false;
}

const char *CPlixrefDoc::LoadPlix(InputFile &file, int64_t length) {
    // The codec takes the size of a PLIX image in memory as a signed 32-bit value.
    if (length < 0 || length > std::numeric_limits<int32_t>::max()) return "the file is too large";
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[static_cast<size_t>(length)]);
    if (!data) return "not enough memory";
    const size_t size = file.Read(data.get(), static_cast<size_t>(length));
    const bool decoded =
        codec_->ops->DecodeMemory(codec_, data.get(), static_cast<int32_t>(size)) != 0;
    data.reset();
    file.Close();

    int32_t width = 0, height = 0;
    if (decoded) codec_->ops->GetImageSize(codec_, &width, &height);
    CDibImage fresh;
    const char *why = nullptr;
    if (!decoded || width <= 0 || height <= 0) {
        why = "the PLIX data cannot be decoded";
    } else if (!fresh.Create(width, height, 24, 0)) {
        why = "not enough memory";
    } else {
        const size_t stride = fresh.GetStride();
        uint8_t *bits = fresh.GetBits();
        for (int32_t r = 0; r < height; ++r) {
            uint8_t *row = bits + static_cast<size_t>(r) * stride;
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t c = PixelColour(codec_, x, height - 1 - r);
                row[3 * x] = static_cast<uint8_t>(c >> 16);
                row[3 * x + 1] = static_cast<uint8_t>(c >> 8);
                row[3 * x + 2] = static_cast<uint8_t>(c);
            }
            // Padding bytes are never shown; keep them defined all the same.
            std::memset(row + 3 * static_cast<size_t>(width), 0,
                        stride - 3 * static_cast<size_t>(width));
        }
        picture_.Swap(fresh);
        kind_ = KindPlix;
        return nullptr;
    }
    RestoreCodecPicture();
    return why;
}

void CPlixrefDoc::RestoreCodecPicture() {
    // The codec holds the picture of a PLIX file for saving it as a bitmap; a
    // failed decode may have replaced it, so give it the shown picture back.
    if (kind_ != KindPlix) return;
    const int32_t width = picture_.GetWidth();
    const int32_t height = picture_.GetHeight();
    if (!codec_->ops->CreateImage(codec_, width, height)) {
        kind_ = KindNone;
        return;
    }
    const size_t stride = picture_.GetStride();
    const uint8_t *bits = picture_.GetBits();
    for (int32_t r = 0; r < height; ++r) {
        const uint8_t *row = bits + static_cast<size_t>(r) * stride;
        for (int32_t x = 0; x < width; ++x)
            codec_->ops->SetPixel(
                codec_, x, height - 1 - r,
                uint32_t{row[3 * x]} << 16 | uint32_t{row[3 * x + 1]} << 8 | row[3 * x + 2]);
    }
}

void CPlixrefDoc::OnFileOpen() {
    const QString path = host_.GetOpenPath(
        FrameWindow(),
        {QString(), {QStringLiteral("Bitmap (*.bmp)"), QStringLiteral("Plix (*.plix *.plx)")}});
    if (!path.isEmpty()) OnOpenDocument(path);
}

void CPlixrefDoc::OnFileSave() {
    switch (kind_) {
        case KindBitmap:
            SaveAsPlix();
            break;
        case KindPlix:
            SaveAsBitmap();
            break;
        case KindNone:
            break;
    }
}

void CPlixrefDoc::SaveAsPlix() {
    const QString path = host_.GetSavePath(
        FrameWindow(), {QStringLiteral("plx"), {QStringLiteral("Plix (*.plx *.plix)")}});
    if (path.isEmpty()) return;
    CSettingsDialog dialog;
    if (host_.RunSettings(dialog) != IDOK) return;
    int mode = 0, qFactor = 0, matrix = 0;
    dialog.GetValues(mode, qFactor, matrix);

    const int32_t width = picture_.GetWidth();
    const int32_t height = picture_.GetHeight();
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[picture_.GetBitsSize()]);
    if (!buffer || !codec_->ops->CreateImage(codec_, width, height)) {
        host_.MessageBox(FrameWindow(), SaveFailure(path, "not enough memory"));
        return;
    }
    picture_.CopyBits(buffer.get());
    const size_t stride = picture_.GetStride();
    for (int32_t r = 0; r < height; ++r) {
        const uint8_t *row = buffer.get() + static_cast<size_t>(r) * stride;
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t colour =
                uint32_t{row[3 * x]} * 65536 + uint32_t{row[3 * x + 1]} * 256 + row[3 * x + 2];
            codec_->ops->SetPixel(codec_, x, height - 1 - r, colour);
        }
    }
    if (!codec_->ops->EncodeFile(codec_, QFile::encodeName(path).constData(), mode, qFactor,
                                 matrix))
        host_.MessageBox(FrameWindow(), SaveFailure(path, "the PLIX file could not be written"));
}

void CPlixrefDoc::SaveAsBitmap() {
    const QString path = host_.GetSavePath(
        FrameWindow(), {QStringLiteral("bmp"), {QStringLiteral("Bitmap (*.bmp)")}});
    if (path.isEmpty()) return;

    int32_t width = 0, height = 0;
    codec_->ops->GetImageSize(codec_, &width, &height);
    const auto fillRow = [&](int32_t y, uint8_t *row) {
        for (int32_t x = 0; x < width; ++x, row += 3) {
            const uint32_t c = PixelColour(codec_, x, y);
            row[0] = static_cast<uint8_t>(c >> 16);
            row[1] = static_cast<uint8_t>(c >> 8);
            row[2] = static_cast<uint8_t>(c);
        }
    };
    // A picture without pixels is refused like one too large for the format.
    using plix::platform::Bmp24Write;
    const Bmp24Write result = width <= 0 || height <= 0
                                  ? Bmp24Write::TooLarge
                                  : plix::platform::WriteBmp24(QFile::encodeName(path).constData(),
                                                               width, height, fillRow);
    if (result == Bmp24Write::TooLarge)
        host_.MessageBox(FrameWindow(), SaveFailure(path, "the picture is too large for a BMP file"));
    else if (result == Bmp24Write::NoMemory)
        host_.MessageBox(FrameWindow(), SaveFailure(path, "not enough memory"));
    else if (result == Bmp24Write::Failed)
        host_.MessageBox(FrameWindow(), SaveFailure(path, "the file could not be written"));
}

void CPlixrefDoc::OnZoom(int percent) {
    zoomPercent_ = percent;
    UpdateAllViews();
    emit stateChanged();
    FitFrame();
}

void CPlixrefDoc::OnUpdateZoom(int percent, QAction *action) const {
    action->setCheckable(true);
    action->setChecked(IsZoomChecked(percent));
    action->setEnabled(IsZoomEnabled());
}

void CPlixrefDoc::FitFrame() {
    if (kind_ == KindNone) return;
    CPlixrefView *view = FirstView();
    if (!view) return;
    QWidget *frame = view->window();
    const int64_t zoomedWidth = int64_t{picture_.GetWidth()} * zoomPercent_ / 100;
    const int64_t zoomedHeight = int64_t{picture_.GetHeight()} * zoomPercent_ / 100;
    const int limit = QWIDGETSIZE_MAX;
    const int viewWidth = static_cast<int>(std::clamp<int64_t>(zoomedWidth, 0, limit));
    const int viewHeight = static_cast<int>(std::clamp<int64_t>(zoomedHeight, 0, limit));

    // The frame keeps its menu bar and border: it grows or shrinks by what the
    // view's client area lacks or has in excess.
    if (frame != view) {
        if (QLayout *layout = frame->layout()) layout->activate();
        const QSize outer = frame->size();
        const QSize client = view->size();
        const int newWidth = std::clamp(outer.width() + viewWidth - client.width(), 0, limit);
        const int newHeight = std::clamp(outer.height() + viewHeight - client.height(), 0, limit);
        frame->setFixedSize(newWidth, newHeight);
    }
    view->setFixedSize(viewWidth, viewHeight);
    frame->show();
}

void CPlixrefDoc::AddView(CPlixrefView *view) {
    views_.push_back(view);
}

void CPlixrefDoc::RemoveView(CPlixrefView *view) {
    views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end());
}

void CPlixrefDoc::UpdateAllViews() {
    for (CPlixrefView *view : views_) view->update();
}

void CPlixrefDoc::SetPathName(const QString &path) {
    pathName_ = path;
    title_ = path.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path).fileName();
    emit titleChanged(title_);
}

QWidget *CPlixrefDoc::FrameWindow() const {
    CPlixrefView *view = FirstView();
    return view ? view->window() : nullptr;
}
