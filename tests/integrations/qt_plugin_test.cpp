// The Qt image plugin as applications use it, through QImageReader and
// QImageWriter with the plugin found on the library path.
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include "integration_util.h"

namespace {

using namespace plix::itest;

QByteArray ToQt(const std::vector<uint8_t> &v) {
    return QByteArray(reinterpret_cast<const char *>(v.data()), static_cast<qsizetype>(v.size()));
}

Rgb FromQImage(const QImage &image) {
    Rgb out{image.width(), image.height(), {}};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) out.px.push_back(image.pixel(x, y) & 0xFFFFFF);
    return out;
}

// Reads by content: no format and no file name.
QImage ReadImage(const QByteArray &bytes, bool *ok = nullptr) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QImage image = reader.read();
    if (ok) *ok = !image.isNull();
    return image;
}

QByteArray Write(const QImage &image, int quality, const QByteArray &subType, bool *ok) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "plx");
    writer.setQuality(quality);
    if (!subType.isEmpty()) writer.setSubType(subType);
    *ok = writer.write(image);
    return buffer.data();
}

QByteArray SubType(int mode, int matrix) {
    static const char *const suffix[] = {"", "-JPEG", "-CG"};
    return QByteArray(mode ? "RGB" : "YUV") + suffix[matrix];
}

// A quality that maps to each q-factor of the vectors:
// q-factor = round(15 * (100 - quality) / 100).
int QualityFor(int qfactor) {
    static const std::map<int, int> quality = {{0, 100}, {1, 93}, {4, 73}, {9, 40}, {15, 0}};
    return quality.at(qfactor);
}

TEST(QtPlugin, IsFoundWithItsKeysAndMimeType) {
    const auto formats = QImageReader::supportedImageFormats();
    EXPECT_TRUE(formats.contains("plx"));
    EXPECT_TRUE(formats.contains("plix"));
    EXPECT_TRUE(QImageWriter::supportedImageFormats().contains("plx"));
    EXPECT_TRUE(QImageReader::supportedMimeTypes().contains("image/x-plix"));
}

TEST(QtPlugin, DecodesEveryConformanceFileExactly) {
    for (const Case &c : LoadCases()) {
        const QByteArray bytes = ToQt(ReadBytes(Conformance(c["plx"])));
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        ASSERT_TRUE(reader.canRead()) << c["name"];
        EXPECT_EQ(reader.format(), "plx");
        // The size comes from the header, before decoding.
        EXPECT_EQ(reader.size(), QSize(c.Int("width"), c.Int("height"))) << c["name"];
        const QImage image = reader.read();
        ASSERT_FALSE(image.isNull()) << c["name"] << ": " << reader.errorString().toStdString();
        EXPECT_EQ(image.format(), QImage::Format_RGB32);
        ExpectSame(FromQImage(image), ExpectedPixels(c), c["name"]);
    }
}

TEST(QtPlugin, RefusesBmpJunkAndHugeHeadersAtOnce) {
    const std::vector<std::vector<uint8_t>> refused = {
        ReadBytes(Conformance("images/mix_100x75.bmp")),
        Junk(),
        HugeHeader(),
        {'P', 'L', 'I', 'X', 0, 0}};
    for (const auto &bytes : refused) {
        QBuffer buffer;
        buffer.setData(ToQt(bytes));
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "plx");
        QElapsedTimer timer;
        timer.start();
        EXPECT_TRUE(reader.read().isNull());
        EXPECT_LT(timer.elapsed(), 1000);
    }
    // The huge header is a PLIX header: recognised and sized, never allocated.
    QBuffer buffer;
    buffer.setData(ToQt(HugeHeader()));
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    EXPECT_EQ(reader.size(), QSize(20000, 20000));
    // A mode or matrix no writer produces is not claimed.
    auto odd = ReadBytes(Conformance("cases/bars_64x8_m0_q0_x0.plx"));
    odd[5] = 3;
    bool ok = true;
    ReadImage(ToQt(odd), &ok);
    EXPECT_FALSE(ok);
}

// A header alone for width x height: the picture is filler.
QByteArray HeaderOnly(uint32_t width, uint32_t height) {
    QByteArray b("PLIX\0\0\0\0", 8);
    for (uint32_t v : {height, width})
        for (int i = 0; i < 4; ++i) b.append(static_cast<char>(v >> (8 * i)));
    return b;
}

TEST(QtPlugin, TheLimitComesBeforeTheImage) {
    QElapsedTimer timer;
    timer.start();
    bool ok = true;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6: the reader's allocation limit, whatever it is set to.
    const int saved = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1);     // MiB
    ReadImage(HeaderOnly(1000, 1000), &ok);  // 4 MB
    EXPECT_FALSE(ok);
    const QImage small = ReadImage(HeaderOnly(500, 500), &ok);  // 1 MB
    EXPECT_TRUE(ok);
    EXPECT_EQ(small.size(), QSize(500, 500));
    QImageReader::setAllocationLimit(saved);
#else
    // Qt 5 has no limit of its own: 2^28 pixels, as the other loaders.
    ReadImage(HeaderOnly(16385, 16384), &ok);
    EXPECT_FALSE(ok);
    ReadImage(HeaderOnly(1u << 28, 2), &ok);
    EXPECT_FALSE(ok);
#endif
    EXPECT_LT(timer.elapsed(), 1000);
    // A filler picture is the library's.
    const QByteArray header = HeaderOnly(37, 21);
    const QImage filler = ReadImage(header, &ok);
    ASSERT_TRUE(ok);
    ExpectSame(FromQImage(filler),
               LibraryDecode(std::vector<uint8_t>(header.begin(), header.end())), "filler");
}

TEST(QtPlugin, WritesTheConformanceBytes) {
    for (const Case &c : LoadCases()) {
        if (c["input_bmp"].empty()) continue;
        // 5- and 6-bit samples are widened to 8 bits differently by each reader.
        const auto bmp = ReadBytes(Conformance(c["input_bmp"]));
        if (bmp.size() > 29 && bmp[28] == 16) continue;
        const QImage source(QString::fromStdString(Conformance(c["input_bmp"])));
        ASSERT_FALSE(source.isNull()) << c["input_bmp"];
        bool ok = false;
        const QByteArray written = Write(source, QualityFor(c.Int("qfactor")),
                                         SubType(c.Int("mode"), c.Int("matrix")), &ok);
        ASSERT_TRUE(ok) << c["name"];
        EXPECT_EQ(written, ToQt(ReadBytes(Conformance(c["plx"])))) << c["name"];
    }
}

TEST(QtPlugin, WritesWhatTheLibraryWritesAndLeavesNoFiles) {
    // Temporary files go to TMPDIR, which this test watches.
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));

    QImage image(13, 11, QImage::Format_ARGB32);
    plix::CodecHandle codec(PLIX_Constructor, PLIX_Destructor);
    ASSERT_TRUE(codec.createImage(13, 11));
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 13; ++x) {
            const int r = x * 19, g = y * 23, b = (x * y * 7) & 0xFF;
            image.setPixel(x, y, qRgba(r, g, b, 0x80));  // alpha is dropped
            codec.setPixel(x, y, static_cast<uint32_t>(b << 16 | g << 8 | r));
        }
    const std::string reference = tmp.filePath("reference.plx").toStdString();
    ASSERT_TRUE(codec.encodeFile(reference.c_str(), PLIX_MODE_RGB, 7, PLIX_MATRIX_CG));
    const QByteArray expected = ToQt(ReadBytes(reference));
    QFile::remove(QString::fromStdString(reference));

    bool ok = false;
    // Quality 53 is q-factor round(15 * 47 / 100) = 7.
    EXPECT_EQ(Write(image, 53, "RGB-CG", &ok), expected);
    EXPECT_TRUE(ok);
    // Quality -1, the default, is q-factor 0, as quality 100.
    EXPECT_EQ(Write(image, -1, "", &ok), Write(image, 100, "YUV", &ok));
    Write(image, 50, "YUV-XYZ", &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(QDir(tmp.path()).isEmpty());

    // A device that cannot be written fails the write.
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    QImageWriter writer(&readOnly, "plx");
    EXPECT_FALSE(writer.write(image));
}

TEST(QtPlugin, ReplaysTheDecodeCorpus) {
    for (const std::string &file : DecodeCorpus()) {
        const auto bytes = ReadBytes(file);
        bool ok = false;
        const QImage image = ReadImage(ToQt(bytes), &ok);
        if (!ok) continue;
        ExpectSame(FromQImage(image), LibraryDecode(bytes), file);
    }
}

}  // namespace

int main(int argc, char **argv) {
    // Only this plugin folder: the build tree's, or an installed one.
    const QByteArray dir = qgetenv("PLIX_QT_PLUGIN_DIR");
    QCoreApplication::setLibraryPaths(
        {QString::fromLocal8Bit(dir.isEmpty() ? PLIX_QT_PLUGINS : dir)});
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
