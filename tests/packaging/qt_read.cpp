// Reads a PLIX file the way any Qt application does, through the installed
// image plugin found by Qt itself, and compares it with a BMP reference read
// by Qt's own BMP reader.
// Usage: qt_read FILE.plx REFERENCE.bmp
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: qt_read FILE.plx REFERENCE.bmp\n");
        return 2;
    }
    if (!QImageReader::supportedImageFormats().contains("plx")) {
        std::fprintf(stderr, "no image plugin offers the format plx\n");
        return 1;
    }
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    reader.setDecideFormatFromContent(true);
    const QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "reading %s failed: %s\n", argv[1], qPrintable(reader.errorString()));
        return 1;
    }
    const QImage reference = QImage(QString::fromLocal8Bit(argv[2]), "BMP");
    if (reference.isNull() || reference.size() != image.size()) {
        std::fprintf(stderr, "size %dx%d, reference %dx%d\n", image.width(), image.height(),
                     reference.width(), reference.height());
        return 1;
    }
    const QImage a = image.convertToFormat(QImage::Format_RGB32);
    const QImage b = reference.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF)) {
                std::fprintf(stderr, "pixel %d,%d: %06x, reference %06x\n", x, y,
                             a.pixel(x, y) & 0xFFFFFF, b.pixel(x, y) & 0xFFFFFF);
                return 1;
            }
    std::printf("format %s, %dx%d, pixels equal to the reference\n", reader.format().constData(),
                a.width(), a.height());
    return 0;
}
