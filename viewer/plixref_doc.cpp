#include "plixref_doc.h"

#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLayout>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryFile>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <thread>
#include <utility>

#include "plix/codec.h"

#include "dialog_host.h"
#include "platform/bmp_file.h"
#include "platform/byte_order.h"
#include "platform/file.h"
#include "plixref_view.h"
#include "settings_dialog.h"

using plix::platform::InputFile;

namespace {

using plix::platform::Le32;

// Largest bitmap kept whole for saving; Qt's readers refuse far smaller
// pictures by default.
constexpr int64_t kMaxKeptBitmap = int64_t{1} << 30;

QString Shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

QString OpenFailure(const QString &path, const char *why) {
    return QStringLiteral("Cannot open %1: %2.").arg(Shown(path), QString::fromUtf8(why));
}

QString SaveFailure(const QString &path, const char *why) {
    return QStringLiteral("Cannot save %1: %2.").arg(Shown(path), QString::fromUtf8(why));
}

// Qt's BMP reader leaves the rows a cut file lacks unfilled; hand it only
// uncompressed or bit-field bitmaps whose every row is there.
bool BitmapRowsPresent(const QByteArray &file) {
    if (file.size() < 54) return false;
    const auto *b = reinterpret_cast<const uint8_t *>(file.constData());
    const uint32_t dataOffset = Le32(b + 10);
    const uint32_t headerSize = Le32(b + 14);
    if (headerSize < 40) return false;
    const int64_t width = static_cast<int32_t>(Le32(b + 18));
    const int64_t height = static_cast<int32_t>(Le32(b + 22));
    const uint32_t bitsPerPixel = plix::platform::Le16(b + 28);
    const uint32_t compression = Le32(b + 30);
    if (compression != 0 && compression != 3 && compression != 6) return false;
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 16 &&
        bitsPerPixel != 24 && bitsPerPixel != 32)
        return false;
    if (width <= 0 || height == 0) return false;
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
    const uint64_t stride = (static_cast<uint64_t>(width) * bitsPerPixel + 31) / 32 * 4;
    const uint64_t size = static_cast<uint64_t>(file.size());
    // Each factor at most the file's size: the product cannot overflow.
    return dataOffset >= 54 && stride <= size && rows <= size &&
           uint64_t{dataOffset} + stride * rows <= size;
}

uint32_t PixelColour(PlixCodec *codec, int32_t x, int32_t y) {
    return codec->ops->GetPixel(codec, x, y);
}

// Pictures of at least this many pixels decode through libplixcodec on every
// core (same pixels); the classic operation works on one thread.
constexpr uint64_t kThreadedPixels = uint64_t{1} << 22;

// Whether the classic decode takes a picture of this size: its padded BGRX
// buffer must fit 2^31 bytes. Larger ones go to it, to be refused as before.
bool ClassicSize(uint64_t width, uint64_t height) {
    return (width + 7) / 8 * 8 * ((height + 7) / 8 * 8) * 4 <= 0x7FFFFFFF;
}

// Decodes a large PLIX picture into a new 24-bit bitmap on every core; false
// when it cannot (why says so) or should not (why stays null).
bool DecodeOnThreads(const uint8_t *data, size_t size, CDibImage &out, const char *&why) {
    why = nullptr;
    plix_info info{};
    if (plix_read_info(data, size, &info) != PLIX_OK) return false;
    const uint64_t pixels = uint64_t{info.width} * info.height;
    if (pixels < kThreadedPixels || !ClassicSize(info.width, info.height)) return false;
    const auto width = static_cast<int32_t>(info.width);
    const auto height = static_cast<int32_t>(info.height);
    if (!out.Create(width, height, 24, 0)) {
        why = "not enough memory";
        return true;
    }
    const size_t stride = out.GetStride();
    uint8_t *bits = out.GetBits();
    const plix_decode_options options{pixels, std::max(1u, std::thread::hardware_concurrency())};
    if (plix_decode(data, size, &options, PLIX_BGR, bits, stride, nullptr) < 0) {
        why = "the PLIX data cannot be decoded";
        return true;
    }
    // Decoded top-down; a bitmap's rows go bottom-up, with defined padding.
    const size_t row = 3 * static_cast<size_t>(width);
    for (int32_t r = 0; r < height / 2; ++r)
        std::swap_ranges(bits + static_cast<size_t>(r) * stride,
                         bits + static_cast<size_t>(r) * stride + row,
                         bits + static_cast<size_t>(height - 1 - r) * stride);
    for (int32_t r = 0; r < height; ++r)
        std::memset(bits + static_cast<size_t>(r) * stride + row, 0, stride - row);
    return true;
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
    const bool bitmapType = got >= 2 && head[0] == 'B' && head[1] == 'M';

    // A bitmap announces its own length right after "BM".
    if (bitmapType && got >= 6 && length >= 0 && Le32(head + 2) == length) {
        CDibImage fresh;
        try {
            fresh.Read(file);
            picture_.Swap(fresh);
            kind_ = KindBitmap;
            sourceBitmap_.clear();
            return true;
        } catch (const CArchiveException &e) {
            reason = OpenFailure(path, e.m_cause == CArchiveException::endOfFile
                                           ? "the file is incomplete"
                                           : "this kind of BMP file cannot be shown");
        } catch (const std::bad_alloc &) {
            reason = OpenFailure(path, "not enough memory");
            return false;
        }
    } else if (got >= 4 && std::memcmp(head, "PLIX", 4) == 0) {
        if (const char *why = LoadPlix(file, length)) {
            reason = OpenFailure(path, why);
            return false;
        }
        return true;
    } else {
        reason = OpenFailure(path, "it is neither a BMP nor a PLIX file");
    }

    // Pictures of other kinds, and bitmaps of other depths, through Qt's
    // readers. A bitmap is kept whole so that Save encodes exactly what the
    // library's own import of it gives.
    QByteArray bytes;
    if (bitmapType) {
        if (length < 0 || length > kMaxKeptBitmap || file.Seek(0, 0) != 0) return false;
        bytes.resize(static_cast<qsizetype>(length));
        if (file.Read(bytes.data(), static_cast<size_t>(length)) != static_cast<size_t>(length) ||
            !BitmapRowsPresent(bytes))
            return false;
    }
    file.Close();
    return LoadWithReader(path, bytes, reason);
}

bool CPlixrefDoc::LoadWithReader(const QString &path, const QByteArray &bytes, QString &reason) {
    QBuffer buffer;
    QImageReader reader;
    if (bytes.isEmpty()) {
        reader.setFileName(path);
    } else {
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
    }
    reader.setAutoTransform(true);
    // Colours as stored: alpha is left aside, as the library leaves it.
    const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) return false;

    const int width = image.width();
    const int height = image.height();
    CDibImage fresh;
    if (!fresh.Create(width, height, 24, 0)) {
        reason = OpenFailure(path, "the picture is too large");
        return false;
    }
    const size_t stride = fresh.GetStride();
    uint8_t *bits = fresh.GetBits();
    for (int r = 0; r < height; ++r) {
        uint8_t *row = bits + static_cast<size_t>(r) * stride;
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(height - 1 - r));
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uint8_t>(qBlue(line[x]));
            row[3 * x + 1] = static_cast<uint8_t>(qGreen(line[x]));
            row[3 * x + 2] = static_cast<uint8_t>(qRed(line[x]));
        }
        std::memset(row + 3 * static_cast<size_t>(width), 0,
                    stride - 3 * static_cast<size_t>(width));
    }
    picture_.Swap(fresh);
    kind_ = KindBitmap;
    sourceBitmap_ = bytes;
    return true;
}

const char *CPlixrefDoc::LoadPlix(InputFile &file, int64_t length) {
    // The codec takes the size of a PLIX image in memory as a signed 32-bit value.
    if (length < 0 || length > std::numeric_limits<int32_t>::max()) return "the file is too large";
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[static_cast<size_t>(length)]);
    if (!data) return "not enough memory";
    const size_t size = file.Read(data.get(), static_cast<size_t>(length));
    {
        CDibImage fresh;
        const char *why = nullptr;
        if (DecodeOnThreads(data.get(), size, fresh, why)) {
            if (why) return why;
            // The codec keeps the picture it held until this one is saved.
            picture_.Swap(fresh);
            kind_ = KindPlix;
            codecHoldsPicture_ = false;
            sourceBitmap_.clear();
            return nullptr;
        }
    }
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
        codecHoldsPicture_ = true;
        sourceBitmap_.clear();
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
    codecHoldsPicture_ = true;
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
    const QString path = host_.GetOpenPath(FrameWindow(), {QString(), OpenFilters(), QString()});
    if (!path.isEmpty()) OnOpenDocument(path);
}

QStringList CPlixrefDoc::OpenFilters() {
    QStringList patterns{QStringLiteral("*.bmp"), QStringLiteral("*.plix"),
                         QStringLiteral("*.plx")};
    for (const QByteArray &format : QImageReader::supportedImageFormats()) {
        const QString pattern = QStringLiteral("*.") + QString::fromLatin1(format).toLower();
        if (!patterns.contains(pattern)) patterns << pattern;
    }
    return {QStringLiteral("All pictures (%1)").arg(patterns.join(QLatin1Char(' '))),
            QStringLiteral("Bitmap (*.bmp)"), QStringLiteral("Plix (*.plix *.plx)"),
            QStringLiteral("All files (*)")};
}

QString CPlixrefDoc::ProposedPath(const QString &extension) const {
    if (pathName_.isEmpty()) return {};
    const QFileInfo info(pathName_);
    return info.dir().filePath(info.completeBaseName() + QLatin1Char('.') + extension);
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
    const QString path = host_.GetSavePath(FrameWindow(), {QStringLiteral("plx"),
                                                           {QStringLiteral("Plix (*.plx *.plix)")},
                                                           ProposedPath(QStringLiteral("plx"))});
    if (path.isEmpty()) return;
    CSettingsDialog dialog(FrameWindow());
    if (host_.RunSettings(dialog) != IDOK) return;
    int mode = 0, qFactor = 0, matrix = 0;
    dialog.GetValues(mode, qFactor, matrix);
    if (!sourceBitmap_.isEmpty() && SaveSourceBitmapAsPlix(path, mode, qFactor, matrix)) return;

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

bool CPlixrefDoc::SaveSourceBitmapAsPlix(const QString &path, int mode, int qFactor, int matrix) {
    // The library reads bitmaps from files only.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(sourceBitmap_) != sourceBitmap_.size() || !copy.flush())
        return false;
    return codec_->ops->EncodeBitmapFile(codec_, QFile::encodeName(copy.fileName()).constData(),
                                         QFile::encodeName(path).constData(), mode, qFactor,
                                         matrix) != 0;
}

void CPlixrefDoc::SaveAsBitmap() {
    const QString path = host_.GetSavePath(FrameWindow(), {QStringLiteral("bmp"),
                                                           {QStringLiteral("Bitmap (*.bmp)")},
                                                           ProposedPath(QStringLiteral("bmp"))});
    if (path.isEmpty()) return;
    if (!codecHoldsPicture_) RestoreCodecPicture();

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
        host_.MessageBox(FrameWindow(),
                         SaveFailure(path, "the picture is too large for a BMP file"));
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

int CPlixrefDoc::SteppedZoom(int percent, int direction) {
    static constexpr int kSteps[] = {50, 100, 200};
    if (direction > 0) {
        for (int step : kSteps)
            if (step > percent) return step;
    } else if (direction < 0) {
        for (auto it = std::rbegin(kSteps); it != std::rend(kSteps); ++it)
            if (*it < percent) return *it;
    }
    return percent;
}

void CPlixrefDoc::OnZoomStep(int direction) {
    if (!IsZoomEnabled()) return;
    const int next = SteppedZoom(zoomPercent_, direction);
    if (next != zoomPercent_) OnZoom(next);
}

void CPlixrefDoc::FitFrame() {
    Fit(true);
}

void CPlixrefDoc::RefitFrame() {
    Fit(false);
}

void CPlixrefDoc::Fit(bool anchorTopLeft) {
    if (kind_ == KindNone) return;
    CPlixrefView *view = FirstView();
    if (!view) return;
    QWidget *frame = view->window();
    const QSize zoomed = view->ZoomedSize();
    if (frame == view) {
        view->SetScrollBars(false, false);
        view->setFixedSize(zoomed);
        view->show();
        if (anchorTopLeft) view->ScrollToTopLeft();
        return;
    }

    // The frame keeps its menu bar and border: it grows or shrinks by what the
    // view's client area lacks or has in excess.
    if (QLayout *layout = frame->layout()) layout->activate();
    const QSize chrome = frame->size() - view->size();
    const QSize border = frame->frameGeometry().size() - frame->size();
    const QScreen *screen = frame->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    const int limit = QWIDGETSIZE_MAX;
    const QSize room = area.isEmpty() ? QSize(limit, limit) : area.size() - border - chrome;

    // Where the picture does not fit, a scroll bar takes room across it,
    // which may make the other direction need one too.
    const int barWidth = view->verticalScrollBar()->sizeHint().width();
    const int barHeight = view->horizontalScrollBar()->sizeHint().height();
    bool horizontal = false, vertical = false;
    for (int pass = 0; pass < 2; ++pass) {
        horizontal = zoomed.width() + (vertical ? barWidth : 0) > room.width();
        vertical = zoomed.height() + (horizontal ? barHeight : 0) > room.height();
    }
    const QSize wanted(zoomed.width() + (vertical ? barWidth : 0),
                       zoomed.height() + (horizontal ? barHeight : 0));
    QSize client = wanted.boundedTo(room);
    if (horizontal || vertical) client = client.expandedTo(QSize(barWidth, barHeight) * 2);
    const QSize outer(std::clamp(chrome.width() + client.width(), 0, limit),
                      std::clamp(chrome.height() + client.height(), 0, limit));

    frame->setFixedSize(outer);
    view->setFixedSize(client);
    view->SetScrollBars(horizontal, vertical);

    // Wholly on the available area, title bar included.
    if (!area.isEmpty()) {
        const QRect placed(frame->pos(), outer + border);
        QPoint to = placed.topLeft();
        to.setX(std::max(area.left(), std::min(to.x(), area.right() + 1 - placed.width())));
        to.setY(std::max(area.top(), std::min(to.y(), area.bottom() + 1 - placed.height())));
        if (to != placed.topLeft()) frame->move(to);
    }
    frame->show();
    view->UpdateScrollRanges();
    if (anchorTopLeft) view->ScrollToTopLeft();
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
