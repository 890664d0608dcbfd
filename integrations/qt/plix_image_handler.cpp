#include "plix_image_handler.h"

#include <QImage>
#include <QSize>
#include <QVariant>
#include <QtGlobal>

#include <memory>

#include "plix/codec.h"

namespace {

// RGB32 holds blue, green, red, 255 in memory on little-endian machines;
// elsewhere RGBX8888 is the format with a library layout.
constexpr bool kLittleEndian = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
constexpr QImage::Format kImageFormat =
    kLittleEndian ? QImage::Format_RGB32 : QImage::Format_RGBX8888;
constexpr plix_format kPixelFormat = kLittleEndian ? PLIX_BGRA : PLIX_RGBA;

// Qt 6 refuses sizes above QImageReader::allocationLimit in allocateImage;
// Qt 5 has no limit of its own, so the plugin applies the other loaders' one.
[[maybe_unused]] constexpr quint64 kQt5MaxPixels = quint64{1} << 28;

constexpr qint64 kHeaderBytes = 16;

// The header's facts, without consuming the device.
bool PeekDevice(QIODevice *device, plix_info *info) {
    if (!device || !device->isReadable()) return false;
    const QByteArray head = device->peek(kHeaderBytes);
    plix_info unused;
    return plix_read_info(head.constData(), static_cast<size_t>(head.size()),
                          info ? info : &unused) == PLIX_OK;
}

struct WriteSettings {
    uint32_t mode = 0;    // YUV
    uint32_t matrix = 0;  // the PLIX set
};

// Sub-type names give the colour mode and the matrix set.
bool ParseSubType(const QByteArray &name, WriteSettings *out) {
    const QByteArray n = name.toUpper();
    const QList<QByteArray> parts = n.split('-');
    if (parts.isEmpty() || parts.size() > 2) return false;
    if (parts[0] == "YUV") {
        out->mode = 0;
    } else if (parts[0] == "RGB") {
        out->mode = 1;
    } else {
        return false;
    }
    out->matrix = 0;
    if (parts.size() == 2) {
        if (parts[1] == "JPEG") {
            out->matrix = 1;
        } else if (parts[1] == "CG") {
            out->matrix = 2;
        } else {
            return false;
        }
    }
    return true;
}

// Quality 100 is the finest q-factor 0 and quality 0 the coarsest 15; the
// default (-1) is the finest, as the converter's.
uint32_t QFactorForQuality(int quality) {
    if (quality < 0) return 0;
    if (quality > 100) quality = 100;
    return static_cast<uint32_t>((15 * (100 - quality) + 50) / 100);
}

struct DecoderFree {
    void operator()(plix_decoder *d) const { plix_decoder_free(d); }
};

}  // namespace

bool PlixImageHandler::canRead(QIODevice *device) {
    return PeekDevice(device, nullptr);
}

bool PlixImageHandler::canRead() const {
    if (!canRead(device())) return false;
    // Whichever key the caller used, this handler serves the content.
    setFormat("plx");
    return true;
}

QList<QByteArray> PlixImageHandler::subTypes() {
    return {"YUV", "RGB", "YUV-JPEG", "RGB-JPEG", "YUV-CG", "RGB-CG"};
}

// The image is allocated from the header's size before anything is decoded;
// the library then writes its rows straight into it, as the device's bytes
// arrive, so the file is never held whole.
bool PlixImageHandler::read(QImage *image) {
    plix_info info;
    if (!image || !PeekDevice(device(), &info)) return false;
    if (info.width == 0 || info.height == 0) return false;
    const QSize size(static_cast<int>(info.width), static_cast<int>(info.height));
    QImage out;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    if (!allocateImage(size, kImageFormat, &out)) return false;
#else
    if (quint64{info.width} * info.height > kQt5MaxPixels) return false;
    out = QImage(size, kImageFormat);
    if (out.isNull()) return false;
#endif

    // The size was allowed above; the library's own limit must not differ.
    const plix_decode_options options = {quint64{info.width} * info.height, 0};
    std::unique_ptr<plix_decoder, DecoderFree> decoder(plix_decoder_new(&options));
    if (!decoder) return false;
    QIODevice *d = device();
    const size_t stride = static_cast<size_t>(out.bytesPerLine());
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    bool ended = false;
    for (uint32_t y = 0; y < info.height;) {
        uint32_t rows = 0;
        int r =
            plix_decoder_read_rows(decoder.get(), kPixelFormat, out.scanLine(static_cast<int>(y)),
                                   stride, info.height - y, &rows);
        if (r < 0) return false;
        y += rows;
        if (rows > 0) continue;
        if (r != PLIX_NEED_DATA || ended) return false;
        const qint64 got = d->read(chunk.data(), chunk.size());
        if (got < 0) return false;
        if (got > 0) {
            r = plix_decoder_push(decoder.get(), chunk.constData(), static_cast<size_t>(got));
        } else {
            ended = true;
            r = plix_decoder_finish(decoder.get());
        }
        if (r < 0) return false;
    }
    *image = std::move(out);
    return true;
}

// Encoded in memory, then handed to the device.
bool PlixImageHandler::write(const QImage &image) {
    WriteSettings settings;
    if (image.isNull() || !ParseSubType(subType_, &settings) || !device() ||
        !device()->isWritable())
        return false;
    const QImage rgb = image.convertToFormat(kImageFormat);
    if (rgb.isNull()) return false;
    const plix_encode_options options = {settings.mode, QFactorForQuality(quality_),
                                         settings.matrix, 0};
    void *data = nullptr;
    size_t size = 0;
    if (plix_encode(rgb.constBits(), static_cast<uint32_t>(rgb.width()),
                    static_cast<uint32_t>(rgb.height()), static_cast<size_t>(rgb.bytesPerLine()),
                    kPixelFormat, &options, &data, &size) != PLIX_OK)
        return false;
    const bool written = device()->write(static_cast<const char *>(data),
                                         static_cast<qint64>(size)) == static_cast<qint64>(size);
    plix_free(data);
    return written;
}

QVariant PlixImageHandler::option(ImageOption option) const {
    switch (option) {
        case Size: {
            plix_info info;
            if (!PeekDevice(device(), &info) || info.width == 0 || info.height == 0) return {};
            return QSize(static_cast<int>(info.width), static_cast<int>(info.height));
        }
        case ImageFormat:
            return kImageFormat;
        case Quality:
            return quality_;
        case SubType:
            return subType_;
        case SupportedSubTypes:
            return QVariant::fromValue(subTypes());
        default:
            return {};
    }
}

void PlixImageHandler::setOption(ImageOption option, const QVariant &value) {
    if (option == Quality) {
        bool ok = false;
        const int q = value.toInt(&ok);
        quality_ = ok ? q : -1;
    } else if (option == SubType) {
        subType_ = value.toByteArray();
    }
}

bool PlixImageHandler::supportsOption(ImageOption option) const {
    return option == Size || option == ImageFormat || option == Quality || option == SubType ||
           option == SupportedSubTypes;
}
