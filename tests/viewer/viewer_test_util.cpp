#include "viewer_test_util.h"

#include <QFile>

#include <stdexcept>

namespace viewer_test {

namespace {

void Put16(QByteArray &a, int at, uint32_t v) {
    a[at] = static_cast<char>(v & 0xFF);
    a[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32(QByteArray &a, int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) a[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

Bgr PatternPixel(int x, int y) {
    return {static_cast<uint8_t>(x * 7 + y * 3), static_cast<uint8_t>(x * 13 + 50),
            static_cast<uint8_t>(y * 29 + x)};
}

QByteArray PatternRows(int width, int height) {
    const int stride = (3 * width + 3) & ~3;
    QByteArray rows(stride * height, '\0');
    for (int r = 0; r < height; ++r)
        for (int x = 0; x < width; ++x) {
            const Bgr p = PatternPixel(x, height - 1 - r);
            rows[r * stride + 3 * x] = static_cast<char>(p.b);
            rows[r * stride + 3 * x + 1] = static_cast<char>(p.g);
            rows[r * stride + 3 * x + 2] = static_cast<char>(p.r);
        }
    return rows;
}

QByteArray MakeBmp(int width, int height, const BmpOptions &o) {
    const int bytesPerPixel = o.bitsPerPixel / 8;
    const int stride = (bytesPerPixel * width + 3) & ~3;
    QByteArray rows;
    if (o.bitsPerPixel == 24) {
        rows = PatternRows(width, height);
        if (o.topDown) {
            QByteArray flipped;
            for (int r = height - 1; r >= 0; --r) flipped.append(rows.mid(r * stride, stride));
            rows = flipped;
        }
    } else {
        rows = QByteArray(stride * height, '\x40');
    }
    const int tableSize = 4 * static_cast<int>(o.coloursUsed);
    QByteArray file(14 + static_cast<int>(o.headerSize) + tableSize, '\0');
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 10, 14 + o.headerSize + tableSize);
    Put32(file, 14, o.headerSize);
    if (o.headerSize >= 40) {
        Put32(file, 18, static_cast<uint32_t>(width));
        Put32(file, 22, static_cast<uint32_t>(o.topDown ? -height : height));
        Put16(file, 26, 1);
        Put16(file, 28, static_cast<uint32_t>(o.bitsPerPixel));
        Put32(file, 34, static_cast<uint32_t>(rows.size()));
        Put32(file, 46, o.coloursUsed);
    } else if (o.headerSize == 12) {
        Put16(file, 18, static_cast<uint32_t>(width));
        Put16(file, 20, static_cast<uint32_t>(height));
        Put16(file, 22, 1);
        Put16(file, 24, static_cast<uint32_t>(o.bitsPerPixel));
    }
    for (int i = 0; i < tableSize; ++i)
        file[14 + static_cast<int>(o.headerSize) + i] = static_cast<char>(i);
    file.append(rows);
    Put32(
        file, 2,
        o.sizeField >= 0 ? static_cast<uint32_t>(o.sizeField) : static_cast<uint32_t>(file.size()));
    file.chop(o.dropTail);
    return file;
}

QByteArray ReadFile(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void WriteFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file");
}

QString DataPath(const QString &relative) {
    return QStringLiteral(PLIXREF_TEST_DATA "/") + relative;
}

}  // namespace viewer_test
