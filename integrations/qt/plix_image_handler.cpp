#include "plix_image_handler.h"

#include <QFile>
#include <QImage>
#include <QSize>
#include <QTemporaryDir>
#include <QVariant>

#include "plix/plix.h"
#include "plix_peek.h"

using plix::integration::PeekedHeader;
using plix::integration::PeekHeader;

namespace {

bool PeekDevice(QIODevice *device, PeekedHeader *header) {
    if (!device || !device->isReadable()) return false;
    const QByteArray head = device->peek(plix::integration::kHeaderBytes);
    return PeekHeader(head.constData(), static_cast<size_t>(head.size()), header);
}

struct WriteSettings {
    int32_t mode = PLIX_MODE_YUV;
    int32_t matrix = PLIX_MATRIX_PLIX;
};

// Sub-type names give the colour mode and the matrix set.
bool ParseSubType(const QByteArray &name, WriteSettings *out) {
    const QByteArray n = name.toUpper();
    const QList<QByteArray> parts = n.split('-');
    if (parts.isEmpty() || parts.size() > 2) return false;
    if (parts[0] == "YUV") {
        out->mode = PLIX_MODE_YUV;
    } else if (parts[0] == "RGB") {
        out->mode = PLIX_MODE_RGB;
    } else {
        return false;
    }
    out->matrix = PLIX_MATRIX_PLIX;
    if (parts.size() == 2) {
        if (parts[1] == "JPEG") {
            out->matrix = PLIX_MATRIX_JPEG;
        } else if (parts[1] == "CG") {
            out->matrix = PLIX_MATRIX_CG;
        } else {
            return false;
        }
    }
    return true;
}

// Quality 100 is the finest q-factor 0 and quality 0 the coarsest 15; the
// default (-1) is the finest, as the converter's.
int32_t QFactorForQuality(int quality) {
    if (quality < 0) return 0;
    if (quality > 100) quality = 100;
    return (15 * (100 - quality) + 50) / 100;
}

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

bool PlixImageHandler::read(QImage *image) {
    PeekedHeader header;
    if (!image || !PeekDevice(device(), &header)) return false;
    if (header.width <= 0 || header.height <= 0) return false;
    // The allocation limit is checked from the header, before any decoding.
    QImage out;
    if (!allocateImage(QSize(header.width, header.height), QImage::Format_RGB32, &out))
        return false;

    QIODevice *d = device();
    if (!d->isSequential() &&
        static_cast<quint64>(d->size() - d->pos()) > plix::integration::kMaxFileBytes)
        return false;
    const QByteArray data = d->readAll();
    if (static_cast<size_t>(data.size()) > plix::integration::kMaxFileBytes) return false;
    plix::CodecHandle codec(PLIX_Constructor, PLIX_Destructor);
    if (!codec || !codec.decodeMemory(data.constData(), static_cast<int32_t>(data.size())))
        return false;
    int32_t w = 0, h = 0, pw = 0, ph = 0;
    codec.imageSize(w, h);
    codec.bufferSize(pw, ph);
    const uint8_t *buf = codec.imageBuffer();
    if (!buf || w != header.width || h != header.height || pw < w) return false;

    const size_t stride = static_cast<size_t>(pw) * 4;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t *src = buf + static_cast<size_t>(y) * stride;
        auto *dst = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int32_t x = 0; x < w; ++x, src += 4) dst[x] = qRgb(src[2], src[1], src[0]);
    }
    *image = std::move(out);
    return true;
}

bool PlixImageHandler::write(const QImage &image) {
    WriteSettings settings;
    if (image.isNull() || !ParseSubType(subType_, &settings) || !device() ||
        !device()->isWritable())
        return false;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    if (rgb.isNull()) return false;

    plix::CodecHandle codec(PLIX_Constructor, PLIX_Destructor);
    if (!codec || !codec.createImage(rgb.width(), rgb.height())) return false;
    int32_t pw = 0, ph = 0;
    codec.bufferSize(pw, ph);
    uint8_t *buf = codec.imageBuffer();
    if (!buf) return false;
    const size_t stride = static_cast<size_t>(pw) * 4;
    for (int y = 0; y < rgb.height(); ++y) {
        uint8_t *dst = buf + static_cast<size_t>(y) * stride;
        const auto *src = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x, dst += 4) {
            dst[0] = static_cast<uint8_t>(qBlue(src[x]));
            dst[1] = static_cast<uint8_t>(qGreen(src[x]));
            dst[2] = static_cast<uint8_t>(qRed(src[x]));
            dst[3] = 0;
        }
    }

    // The library writes files only: encode into a private folder that goes
    // away with this scope, then copy to the device.
    QTemporaryDir scratch;
    if (!scratch.isValid()) return false;
    const QString path = scratch.filePath(QStringLiteral("image.plx"));
    if (!codec.encodeFile(QFile::encodeName(path).constData(), settings.mode,
                          QFactorForQuality(quality_), settings.matrix))
        return false;
    QFile encoded(path);
    if (!encoded.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = encoded.readAll();
    if (bytes.size() < static_cast<qsizetype>(plix::integration::kHeaderBytes)) return false;
    return device()->write(bytes) == bytes.size();
}

QVariant PlixImageHandler::option(ImageOption option) const {
    switch (option) {
        case Size: {
            PeekedHeader header;
            if (!PeekDevice(device(), &header) || header.width <= 0 || header.height <= 0)
                return {};
            return QSize(header.width, header.height);
        }
        case ImageFormat:
            return QImage::Format_RGB32;
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
