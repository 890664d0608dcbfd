// The picture holder: its block layout, Create's and Read's refusals, and the
// source and destination arithmetic of Paint.
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include "dib_image.h"
#include "platform/file.h"
#include "viewer_test_util.h"

using namespace viewer_test;

namespace {

uint32_t Le32(const uint8_t *p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}

// A picture whose pixel (x, y), y from the top, has red = x, green = y and
// blue = the high bits of both, so that every drawn pixel tells where it came from.
void FillCoordinates(CDibImage &pic) {
    const int w = pic.GetWidth(), h = pic.GetHeight();
    for (int r = 0; r < h; ++r) {
        uint8_t *row = pic.GetBits() + static_cast<size_t>(r) * pic.GetStride();
        const int y = h - 1 - r;
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<uint8_t>((x >> 8) | ((y >> 8) << 4));
            row[3 * x + 1] = static_cast<uint8_t>(y);
            row[3 * x + 2] = static_cast<uint8_t>(x);
        }
    }
}

QPoint SourceOf(QRgb c) {
    const int b = qBlue(c);
    return {qRed(c) | (b & 0x0F) << 8, qGreen(c) | (b >> 4) << 8};
}

// Background of the canvas: what Paint must leave alone.
constexpr QRgb kMarker = 0xFF123456;

QImage Canvas(int w, int h) {
    QImage canvas(w, h, QImage::Format_RGB32);
    canvas.fill(kMarker);
    return canvas;
}

bool PaintOn(QImage &canvas, CDibImage &pic, DibRect &rect, int zoom, QPoint origin = {0, 0}) {
    QPainter p(&canvas);
    return pic.Paint(p, rect, origin, zoom, QPainter::CompositionMode_Source);
}

}  // namespace

class TestDibImage : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString Write(const QString &name, const QByteArray &bytes) {
        const QString path = dir_.filePath(name);
        WriteFile(path, bytes);
        return path;
    }

    // Reads a file into pic; the exception's cause, or 0 when it was read.
    static int ReadCause(CDibImage &pic, const QString &path) {
        plix::platform::InputFile file;
        if (!file.Open(QFile::encodeName(path).constData())) return -1;
        try {
            pic.Read(file);
        } catch (const CArchiveException &e) {
            return e.m_cause;
        }
        return 0;
    }

private slots:
    void createLayout() {
        CDibImage pic;
        QVERIFY(pic.IsEmpty());
        QCOMPARE(pic.GetBits(), nullptr);
        QCOMPARE(pic.GetBitsSize(), 0u);
        QCOMPARE(pic.GetWidth(), 0);
        QVERIFY(pic.Create(10, 3, 24, 0));
        QCOMPARE(pic.GetWidth(), 10);
        QCOMPARE(pic.GetHeight(), 3);
        QCOMPARE(pic.GetStride(), 32u);
        QCOMPARE(pic.GetBitsSize(), 96u);
        QCOMPARE(pic.GetColorCount(), 0);
        QCOMPARE(pic.BlockSize(), size_t{40 + 96});
        QCOMPARE(pic.GetBits(), pic.Block() + 40);
        const uint8_t *h = pic.Block();
        QCOMPARE(Le32(h), 40u);
        QCOMPARE(Le32(h + 4), 10u);
        QCOMPARE(Le32(h + 8), 3u);
        QCOMPARE(h[12] | h[13] << 8, 1);
        QCOMPARE(h[14] | h[15] << 8, 24);
        QCOMPARE(Le32(h + 16), 0u);
        QCOMPARE(Le32(h + 20), 96u);
        for (int off = 24; off < 40; off += 4) QCOMPARE(Le32(h + off), 0u);
        pic.Free();
        QVERIFY(pic.IsEmpty());
        QCOMPARE(pic.GetBitsSize(), 0u);
    }

    // Rows are 3 bytes a pixel, padded to a multiple of 4.
    void stride() {
        const int widths[] = {1, 2, 3, 4, 5, 17, 100};
        const uint strides[] = {4, 8, 12, 12, 16, 52, 300};
        for (int i = 0; i < 7; ++i) {
            CDibImage pic;
            QVERIFY(pic.Create(widths[i], 7, 24, 0));
            QCOMPARE(pic.GetStride(), strides[i]);
            QCOMPARE(pic.GetBitsSize(), strides[i] * 7);
        }
    }

    void createRefusals() {
        CDibImage pic;
        QVERIFY(pic.Create(4, 2, 24, 0));
        const uint8_t *block = pic.Block();
        QVERIFY(!pic.Create(8, 8, 8, 0));
        QVERIFY(!pic.Create(8, 8, 32, 0));
        QVERIFY(!pic.Create(8, 8, 24, 1));
        QVERIFY(!pic.Create(8, 8, 24, 2));
        QVERIFY(!pic.Create(-1, 8, 24, 0));
        QVERIFY(!pic.Create(8, -1, 24, 0));
        QCOMPARE(pic.Block(), block);
        QCOMPARE(pic.GetWidth(), 4);
        QCOMPARE(pic.GetHeight(), 2);
        // Bit fields are accepted.
        QVERIFY(pic.Create(8, 8, 24, 3));
        QCOMPARE(pic.GetCompression(), 3);
        // A block too large to hold is refused; the old picture is gone then.
        QVERIFY(!pic.Create(0x7FFFFFFF, 0x7FFFFFFF, 24, 0));
        QVERIFY(pic.IsEmpty());
    }

    void copyBits() {
        CDibImage pic;
        QVERIFY(pic.Create(3, 2, 24, 0));
        for (uint32_t i = 0; i < pic.GetBitsSize(); ++i)
            pic.GetBits()[i] = static_cast<uint8_t>(i * 5);
        QVERIFY(!pic.CopyBits(nullptr));
        std::vector<uint8_t> out(pic.GetBitsSize() + 1, 0xEE);
        QVERIFY(pic.CopyBits(out.data()));
        QVERIFY(std::memcmp(out.data(), pic.GetBits(), pic.GetBitsSize()) == 0);
        QCOMPARE(out.back(), uint8_t{0xEE});
    }

    void readBottomUp() {
        CDibImage pic;
        const QByteArray file = MakeBmp(5, 3);
        QCOMPARE(ReadCause(pic, Write("a.bmp", file)), 0);
        QCOMPARE(pic.GetWidth(), 5);
        QCOMPARE(pic.GetHeight(), 3);
        QCOMPARE(pic.GetBitsSize(), 48u);
        QCOMPARE(pic.BlockSize(), size_t(file.size() - 14));
        // The block is the file from its information header on.
        QVERIFY(std::memcmp(pic.Block(), file.constData() + 14, pic.BlockSize()) == 0);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(pic.GetBits()), 48), PatternRows(5, 3));
    }

    void readTopDown() {
        CDibImage pic;
        BmpOptions o;
        o.topDown = true;
        QCOMPARE(ReadCause(pic, Write("td.bmp", MakeBmp(5, 3, o))), 0);
        QCOMPARE(pic.GetHeight(), 3);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(pic.GetBits()), 48), PatternRows(5, 3));
    }

    void readColourTable() {
        CDibImage pic;
        BmpOptions o;
        o.coloursUsed = 2;
        QCOMPARE(ReadCause(pic, Write("ct.bmp", MakeBmp(2, 2, o))), 0);
        QCOMPARE(pic.GetColorCount(), 2);
        QCOMPARE(pic.GetBits(), pic.Block() + 48);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(pic.GetBits()), 16), PatternRows(2, 2));
    }

    void readRefusals_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("cause");
        const int eof = CArchiveException::endOfFile, bad = CArchiveException::badIndex;
        QTest::newRow("13 bytes") << MakeBmp(2, 2).left(13) << eof;
        QTest::newRow("empty") << QByteArray() << eof;
        QByteArray notBm = MakeBmp(2, 2);
        notBm[0] = 'X';
        QTest::newRow("type not BM") << notBm << bad;
        QTest::newRow("information header cut") << MakeBmp(2, 2).left(14 + 39) << eof;
        BmpOptions o16;
        o16.bitsPerPixel = 16;
        QTest::newRow("16 bits") << MakeBmp(4, 4, o16) << bad;
        BmpOptions o32;
        o32.bitsPerPixel = 32;
        QTest::newRow("32 bits") << MakeBmp(4, 4, o32) << bad;
        BmpOptions core;
        core.headerSize = 12;
        QTest::newRow("12-byte header") << MakeBmp(4, 4, core) << bad;
        BmpOptions v4;
        v4.headerSize = 108;
        QTest::newRow("108-byte header") << MakeBmp(4, 4, v4) << bad;
        BmpOptions larger;
        larger.sizeField = MakeBmp(4, 4).size() + 10;
        QTest::newRow("size field beyond the file") << MakeBmp(4, 4, larger) << eof;
        BmpOptions shortRows;
        shortRows.dropTail = 5;
        shortRows.sizeField = MakeBmp(4, 4).size() - 5;
        QTest::newRow("rows shorter than stride x height") << MakeBmp(4, 4, shortRows) << eof;
        BmpOptions tiny;
        tiny.sizeField = 20;
        QTest::newRow("size field below the headers") << MakeBmp(4, 4, tiny) << bad;
        QByteArray table = MakeBmp(1, 1);
        table[46 + 3] = 0x40;  // colours used: 2^30
        QTest::newRow("colour table beyond the file") << table << eof;
        QTest::newRow("width 0") << MakeBmp(0, 4) << bad;
        QTest::newRow("height 0") << MakeBmp(4, 0) << bad;
    }
    void readRefusals() {
        QFETCH(QByteArray, file);
        QFETCH(int, cause);
        CDibImage pic;
        QVERIFY(pic.Create(2, 2, 24, 0));
        QCOMPARE(ReadCause(pic, Write("bad.bmp", file)), cause);
        QVERIFY(pic.IsEmpty());
        QCOMPARE(pic.GetBits(), nullptr);
    }

    // A view of 400 x 300, a picture of 100 x 80 at zoom 200.
    void paintZoom200() {
        CDibImage pic;
        QVERIFY(pic.Create(100, 80, 24, 0));
        FillCoordinates(pic);
        QImage canvas = Canvas(400, 300);
        DibRect rect{0, 0, 400, 300};
        QVERIFY(PaintOn(canvas, pic, rect, 200));
        QCOMPARE(rect, (DibRect{0, 0, 200, 160}));
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x) {
                const QRgb c = canvas.pixel(x, y);
                if (x < 200 && y < 160)
                    QCOMPARE(SourceOf(c), QPoint(x / 2, y / 2));
                else
                    QCOMPARE(c, kMarker);
            }
    }

    // A picture of 1000 x 800 at zoom 50: source (0, 0, 802, 602), destination
    // (0, 0, 401, 301); whole rows and columns are dropped, nothing is blended.
    void paintZoom50() {
        CDibImage pic;
        QVERIFY(pic.Create(1000, 800, 24, 0));
        FillCoordinates(pic);
        QImage canvas = Canvas(400, 300);
        DibRect rect{0, 0, 400, 300};
        QVERIFY(PaintOn(canvas, pic, rect, 50));
        QCOMPARE(rect, (DibRect{0, 0, 401, 301}));
        int lastX = -1;
        for (int x = 0; x < 400; ++x) {
            const QPoint s = SourceOf(canvas.pixel(x, 0));
            QVERIFY(s.x() == 2 * x || s.x() == 2 * x + 1);
            QVERIFY(s.x() > lastX);
            lastX = s.x();
        }
        for (int y = 0; y < 300; ++y) {
            const QPoint s = SourceOf(canvas.pixel(7, y));
            QVERIFY2(s.y() == 2 * y || s.y() == 2 * y + 1, qPrintable(QString::number(s.y())));
        }
    }

    void paintZoom100IsExact() {
        CDibImage pic;
        QVERIFY(pic.Create(37, 21, 24, 0));
        FillCoordinates(pic);
        QImage canvas = Canvas(60, 40);
        DibRect rect{0, 0, 60, 40};
        QVERIFY(PaintOn(canvas, pic, rect, 100));
        QCOMPARE(rect, (DibRect{0, 0, 37, 21}));
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 60; ++x) {
                if (x < 37 && y < 21)
                    QCOMPARE(SourceOf(canvas.pixel(x, y)), QPoint(x, y));
                else
                    QCOMPARE(canvas.pixel(x, y), kMarker);
            }
    }

    // The rectangle chooses the source; the origin places it.
    void paintPartAtOrigin() {
        CDibImage pic;
        QVERIFY(pic.Create(50, 40, 24, 0));
        FillCoordinates(pic);
        QImage canvas = Canvas(100, 100);
        DibRect rect{10, 5, 30, 25};
        QVERIFY(PaintOn(canvas, pic, rect, 100, QPoint(3, 4)));
        // Source (10, 5, 32, 27): 22 x 22 pixels.
        QCOMPARE(rect, (DibRect{3, 4, 25, 26}));
        QCOMPARE(SourceOf(canvas.pixel(3, 4)), QPoint(10, 5));
        QCOMPARE(SourceOf(canvas.pixel(24, 25)), QPoint(31, 26));
        QCOMPARE(canvas.pixel(2, 4), kMarker);
        QCOMPARE(canvas.pixel(25, 4), kMarker);
    }

    void paintLowZoomIsOne() {
        for (int zoom : {1, 0, -5}) {
            CDibImage pic;
            QVERIFY(pic.Create(1000, 800, 24, 0));
            FillCoordinates(pic);
            QImage canvas = Canvas(40, 30);
            DibRect rect{0, 0, 400, 300};
            QVERIFY(PaintOn(canvas, pic, rect, zoom));
            QCOMPARE(rect, (DibRect{0, 0, 10, 8}));
        }
    }

    void paintNothing() {
        CDibImage empty;
        QImage canvas = Canvas(10, 10);
        DibRect rect{0, 0, 10, 10};
        QVERIFY(!PaintOn(canvas, empty, rect, 100));
        CDibImage pic;
        QVERIFY(pic.Create(5, 5, 24, 0));
        FillCoordinates(pic);
        DibRect outside{500, 500, 600, 600};
        QVERIFY(!PaintOn(canvas, pic, outside, 100));
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) QCOMPARE(canvas.pixel(x, y), kMarker);
    }

    void paintNoSmoothing() {
        // One-pixel checkerboard: at 50 % every pixel stays black or white.
        CDibImage pic;
        QVERIFY(pic.Create(64, 64, 24, 0));
        for (int r = 0; r < 64; ++r)
            for (int x = 0; x < 64; ++x)
                std::memset(pic.GetBits() + r * pic.GetStride() + 3 * x,
                            ((x + r) & 1) ? 0xFF : 0x00, 3);
        QImage canvas = Canvas(32, 32);
        DibRect rect{0, 0, 32, 32};
        QVERIFY(PaintOn(canvas, pic, rect, 50));
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const QRgb c = canvas.pixel(x, y) & 0xFFFFFF;
                QVERIFY(c == 0 || c == 0xFFFFFF);
            }
    }
};

QTEST_MAIN(TestDibImage)
#include "dib_image_test.moc"
