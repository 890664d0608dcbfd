// The document: codec binding, opening by content, the effect of every event
// on its state, saving both ways, the zoom commands and fitting the frame.
#include <QAction>
#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include "main_frame.h"
#include "plixref_doc.h"
#include "plixref_view.h"
#include "viewer_test_util.h"

using namespace viewer_test;

namespace {

QString Case(const QString &name) {
    return DataPath(QStringLiteral("conformance/cases/") + name);
}

// The rows of a 24-bit bottom-up BMP file without its headers.
QByteArray BmpRows(const QByteArray &bmp) {
    return bmp.mid(54);
}

QByteArray PictureRows(const CDibImage &pic) {
    return QByteArray(reinterpret_cast<const char *>(pic.GetBits()),
                      static_cast<int>(pic.GetBitsSize()));
}

// The rows without the stride padding, which the picture leaves unspecified.
QByteArray PixelBytes(const QByteArray &rows, int width, int height) {
    const int stride = (3 * width + 3) & ~3;
    QByteArray out;
    for (int r = 0; r < height; ++r) out.append(rows.mid(r * stride, 3 * width));
    return out;
}

// A settings dialog answer: q-factor typed into the edit box, matrix and mode
// chosen with their buttons, then "&Save".
std::function<int(CSettingsDialog &)> Choose(int mode, const QString &typedQ, int matrix) {
    return [=](CSettingsDialog &d) {
        d.Radio(CSettingsDialog::IDC_MATRIX_PLIX + matrix)->click();
        d.Radio(mode == 1 ? CSettingsDialog::IDC_MODE_RGB : CSettingsDialog::IDC_MODE_YUV)->click();
        d.Edit()->setText(typedQ);
        d.OnOK();
        return d.result() == QDialog::Accepted ? IDOK : IDCANCEL;
    };
}

struct Snapshot {
    CPlixrefDoc::ImageKind kind;
    int zoom;
    QByteArray rows;
    int width, height;
    QString title;
};

Snapshot Take(const CPlixrefDoc &doc) {
    return {doc.Kind(),
            doc.ZoomPercent(),
            PictureRows(doc.Picture()),
            doc.Picture().GetWidth(),
            doc.Picture().GetHeight(),
            doc.Title()};
}

void ExpectSame(const Snapshot &a, const Snapshot &b) {
    QCOMPARE(a.kind, b.kind);
    QCOMPARE(a.zoom, b.zoom);
    QCOMPARE(a.width, b.width);
    QCOMPARE(a.height, b.height);
    QCOMPARE(a.rows, b.rows);
    QCOMPARE(a.title, b.title);
}

// The 24-bit file's pixels stored again with 32 bits a pixel: plain (with a
// fourth byte that varies), or as 10-bit fields behind a 124-byte header.
QByteArray As32Bit(const QByteArray &bmp24, bool tenBitFields) {
    const auto *b = reinterpret_cast<const uint8_t *>(bmp24.constData());
    const int w = b[18] | b[19] << 8;
    const int h = b[22] | b[23] << 8;
    const int stride = (3 * w + 3) & ~3;
    const int header = tenBitFields ? 124 : 40;
    QByteArray out(14 + header, '\0');
    auto put32 = [&out](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(10, 14 + header);
    put32(14, header);
    put32(18, w);
    put32(22, h);
    put32(26, 1 | 32 << 16);
    if (tenBitFields) {
        put32(30, 3);
        put32(54, 0x3FF00000);
        put32(58, 0x000FFC00);
        put32(62, 0x000003FF);
    }
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) {
            const uint8_t *p = b + 54 + r * stride + 3 * x;
            const uint32_t v = tenBitFields
                                   ? uint32_t{p[2]} << 22 | uint32_t{p[1]} << 12 | p[0] << 2
                                   : uint32_t(x * 37 + r) << 24 | p[2] << 16 | p[1] << 8 | p[0];
            const int at = out.size();
            out.resize(at + 4);
            put32(at, v);
        }
    put32(2, out.size());
    return out;
}

// A PNG of the 24-bit file's pixels, with an alpha channel that varies.
QByteArray AsPng(const QByteArray &bmp24) {
    QImage image = QImage::fromData(bmp24, "BMP").convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            image.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), (x * 11 + y) & 0xFF));
        }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

}  // namespace

class TestDocument : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString Write(const QString &name, const QByteArray &bytes) {
        const QString path = dir_.filePath(name);
        WriteFile(path, bytes);
        return path;
    }
    // A BMP file (of BMP content) under the given name.
    QString Bmp(const QString &name, int w, int h) { return Write(name, MakeBmp(w, h)); }
    // A PLIX conformance file copied under the given name.
    QString Plix(const QString &name,
                 const QString &caseName = QStringLiteral("edges_17x9_m1_q9_x2")) {
        return Write(name, ReadFile(Case(caseName + ".plx")));
    }

private slots:
    void construction() {
        TestHost host;
        CPlixrefDoc doc(host);
        QVERIFY(host.messages.isEmpty());
        QVERIFY(doc.Codec() != nullptr);
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindNone);
        QCOMPARE(doc.ZoomPercent(), 100);
        QVERIFY(doc.Picture().IsEmpty());
        QVERIFY(doc.OnNewDocument());
        QCOMPARE(doc.Title(), QStringLiteral("Untitled"));
    }

    void missingLibrary() {
        TestHost host;
        CPlixrefDoc doc(host, "libPLIX-absent.so");
        QCOMPARE(host.messages, QStringList{"File not found - libPLIX-absent.so"});
        QCOMPARE(doc.Codec(), nullptr);
        QVERIFY(!doc.OnNewDocument());
        QVERIFY(!doc.OnOpenDocument(Bmp("a.bmp", 3, 3)));
        QCOMPARE(host.messages.size(), 1);
        QVERIFY(doc.Picture().IsEmpty());
    }

    void missingFactory() {
        TestHost host;
        CPlixrefDoc doc(host, "libm.so.6");
        QCOMPARE(host.messages, QStringList{"GetProc error!"});
        QCOMPARE(doc.Codec(), nullptr);
        QVERIFY(!doc.OnNewDocument());
    }

    // A file named *.plx that holds a bitmap opens as a bitmap.
    void openBitmapWhateverTheName() {
        TestHost host;
        CPlixrefDoc doc(host);
        doc.OnZoom(200);
        QVERIFY(doc.OnOpenDocument(Bmp("y.plx", 5, 3)));
        QVERIFY(host.messages.isEmpty());
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindBitmap);
        QCOMPARE(doc.ZoomPercent(), 200);
        QCOMPARE(doc.Picture().GetWidth(), 5);
        QCOMPARE(PictureRows(doc.Picture()), PatternRows(5, 3));
        QCOMPARE(doc.Title(), QStringLiteral("y.plx"));
        QCOMPARE(doc.PathName(), dir_.filePath("y.plx"));
    }

    // A file named *.bmp that holds PLIX data opens as PLIX; the picture is the
    // decoded image with its rows bottom-up.
    void openPlixWhateverTheName() {
        TestHost host;
        CPlixrefDoc doc(host);
        QVERIFY(doc.OnOpenDocument(Plix("x.bmp")));
        QVERIFY(host.messages.isEmpty());
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindPlix);
        QCOMPARE(doc.ZoomPercent(), 100);
        QCOMPARE(doc.Picture().GetWidth(), 17);
        QCOMPARE(doc.Picture().GetHeight(), 9);
        QCOMPARE(doc.Picture().GetStride(), 52u);
        const QByteArray expected = BmpRows(ReadFile(Case("edges_17x9_m1_q9_x2.expected.bmp")));
        QCOMPARE(PixelBytes(PictureRows(doc.Picture()), 17, 9), PixelBytes(expected, 17, 9));
    }

    // What each kind of refused file does: a message naming the file, and the
    // document, its picture and its title stay as they were.
    void refusedFilesChangeNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        BmpOptions o7;
        o7.bitsPerPixel = 7;
        QTest::newRow("bitmap refused") << "b7.bmp" << MakeBmp(4, 4, o7) << "cannot be shown";
        BmpOptions cut;
        cut.sizeField = MakeBmp(4, 4).size() - 5;
        cut.dropTail = 5;
        QTest::newRow("bitmap rows cut short") << "cut.bmp" << MakeBmp(4, 4, cut) << "incomplete";
        // Sizes whose pixel buffer no memory holds: the decode fails.
        QByteArray huge("PLIX\0\0\0\0\0\0\0\x40\0\0\0\x40", 16);
        huge.append(QByteArray(64, '\0'));
        QTest::newRow("PLIX decoding failed") << "huge.plx" << huge << "cannot be decoded";
        QTest::newRow("neither type") << "text.bmp" << QByteArray("hello, world\n") << "neither";
        BmpOptions zero;
        zero.sizeField = 0;
        zero.dropTail = 5;
        QTest::newRow("bitmap size field 0, rows cut short")
            << "zero.bmp" << MakeBmp(4, 4, zero) << "neither";
        QTest::newRow("empty file") << "empty.plx" << QByteArray() << "neither";
        QTest::newRow("PL only") << "pl.plx" << QByteArray("PLI") << "neither";
    }
    void refusedFilesChangeNothing() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        TestHost host;
        CPlixrefDoc doc(host);
        QVERIFY(doc.OnOpenDocument(Bmp("shown.bmp", 6, 2)));
        doc.OnZoom(50);
        const Snapshot before = Take(doc);
        const QString path = Write(name, content);
        QVERIFY(!doc.OnOpenDocument(path));
        QCOMPARE(host.messages.size(), 1);
        QVERIFY2(host.messages[0].contains(QDir::toNativeSeparators(path)),
                 qPrintable(host.messages[0]));
        QVERIFY2(host.messages[0].contains(reason), qPrintable(host.messages[0]));
        ExpectSame(Take(doc), before);
    }

    void unreadableFiles() {
        TestHost host;
        CPlixrefDoc doc(host);
        QVERIFY(!doc.OnOpenDocument(dir_.filePath("no such file.bmp")));
        QVERIFY(!doc.OnOpenDocument(dir_.path()));
        QCOMPARE(host.messages.size(), 2);
        QVERIFY(host.messages[0].contains("no such file.bmp"));
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindNone);
        QCOMPARE(doc.Title(), QStringLiteral("Untitled"));
    }

    // The remaining rows: a PLIX file after a bitmap, a bitmap after a PLIX
    // file, and the zoom command.
    void stateTable() {
        TestHost host;
        CPlixrefDoc doc(host);
        doc.OnZoom(200);
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindNone);
        QVERIFY(doc.Picture().IsEmpty());
        QVERIFY(doc.OnOpenDocument(Bmp("a.bmp", 4, 4)));
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindBitmap);
        QCOMPARE(doc.ZoomPercent(), 200);
        QVERIFY(doc.OnOpenDocument(Plix("b.plx")));
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindPlix);
        QCOMPARE(doc.ZoomPercent(), 200);
        QCOMPARE(doc.Picture().GetWidth(), 17);
        const QByteArray rows = PictureRows(doc.Picture());
        doc.OnZoom(50);
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindPlix);
        QCOMPARE(PictureRows(doc.Picture()), rows);
        QVERIFY(doc.OnOpenDocument(Bmp("c.bmp", 2, 7)));
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindBitmap);
        QCOMPARE(doc.ZoomPercent(), 50);
        QCOMPARE(doc.Picture().GetHeight(), 7);
        QVERIFY(host.messages.isEmpty());
    }

    void fileOpenCommand() {
        TestHost host;
        CPlixrefDoc doc(host);
        doc.OnFileOpen();  // cancelled
        QCOMPARE(host.openSpecs.size(), 1);
        QVERIFY(host.openSpecs[0].defaultExtension.isEmpty());
        const QStringList filters = host.openSpecs[0].filters;
        QCOMPARE(filters.size(), 4);
        QVERIFY(filters[0].startsWith("All pictures (*.bmp *.plix *.plx "));
        for (const char *pattern : {" *.png", " *.jpg", " *.jpeg", " *.gif"})
            QVERIFY2(filters[0].contains(pattern), qPrintable(filters[0]));
        QCOMPARE(filters.mid(1),
                 QStringList({"Bitmap (*.bmp)", "Plix (*.plix *.plx)", "All files (*)"}));
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindNone);
        host.openAnswers.push_back(Bmp("open.bmp", 3, 3));
        doc.OnFileOpen();
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindBitmap);
        QCOMPARE(doc.Title(), QStringLiteral("open.bmp"));
    }

    // A bitmap saved as PLIX is byte for byte the file the codec writes from
    // the same image with the same settings.
    void saveBitmapAsPlix_data() {
        QTest::addColumn<QString>("caseName");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("typedQ");
        QTest::addColumn<int>("matrix");
        QTest::newRow("RGB q9 CG") << "edges_17x9_m1_q9_x2" << 1 << "9" << 2;
        QTest::newRow("YUV q4 JPEG") << "edges_17x9_m0_q4_x1" << 0 << "4" << 1;
        QTest::newRow("YUV q0 PLIX") << "mix_100x75_m0_q0_x0" << 0 << "0" << 0;
        QTest::newRow("RGB q15 PLIX") << "mix_100x75_m1_q15_x0" << 1 << "15" << 0;
    }
    void saveBitmapAsPlix() {
        QFETCH(QString, caseName);
        QFETCH(int, mode);
        QFETCH(QString, typedQ);
        QFETCH(int, matrix);
        TestHost host;
        CPlixrefDoc doc(host);
        const QString source = caseName.left(caseName.indexOf("_m")) + ".bmp";
        QVERIFY(doc.OnOpenDocument(DataPath("conformance/images/" + source)));
        const QByteArray shown = PictureRows(doc.Picture());
        const QString out = dir_.filePath(caseName + ".plx");
        host.saveAnswers.push_back(out);
        host.settings = Choose(mode, typedQ, matrix);
        doc.OnFileSave();
        QCOMPARE(host.saveSpecs.size(), 1);
        QCOMPARE(host.saveSpecs[0].defaultExtension, QStringLiteral("plx"));
        QCOMPARE(host.saveSpecs[0].filters, QStringList{"Plix (*.plx *.plix)"});
        QCOMPARE(host.settingsRuns, 1);
        QVERIFY2(host.messages.isEmpty(), qPrintable(host.messages.join('\n')));
        QCOMPARE(ReadFile(out), ReadFile(Case(caseName + ".plx")));
        // Saving changes nothing in the document.
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindBitmap);
        QCOMPARE(PictureRows(doc.Picture()), shown);
    }

    // Pictures other than 24-bit bitmaps open through Qt's readers as bitmaps,
    // and save as the library's own import of the bitmap would.
    void openOtherPictures_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("caseName");
        QTest::addColumn<QString>("shownAs");  // BMP of the pixels shown; empty: not checked
        const QString mix = DataPath("conformance/images/mix_100x75.bmp");
        const QByteArray mix24 = ReadFile(mix);
        QTest::newRow("PNG with alpha") << AsPng(mix24) << "mix_100x75_m0_q0_x0" << mix;
        QTest::newRow("32-bit BMP") << As32Bit(mix24, false) << "mix_100x75_m0_q0_x0" << mix;
        // Qt's reader does not widen these fields as the library does; the
        // file saved is still the library's.
        QTest::newRow("32-bit BMP, 10-bit fields")
            << As32Bit(mix24, true) << "mix_100x75_m0_q0_x0" << QString();
        QTest::newRow("32-bit BMP, conformance")
            << ReadFile(DataPath("conformance/images/gradient_7x9_bpp32.bmp"))
            << "gradient_7x9_bpp32_m0_q0_x0" << QString();
        QTest::newRow("16-bit BMP, conformance")
            << ReadFile(DataPath("conformance/images/mix_100x75_bpp16.bmp"))
            << "mix_100x75_bpp16_m0_q4_x0" << QString();
    }
    void openOtherPictures() {
        QFETCH(QByteArray, content);
        QFETCH(QString, caseName);
        QFETCH(QString, shownAs);
        TestHost host;
        CPlixrefDoc doc(host);
        const bool png = content.startsWith("\x89PNG");
        const QString path = Write(png ? "picture.png" : "picture.bmp", content);
        QVERIFY2(doc.OnOpenDocument(path), qPrintable(host.messages.join('\n')));
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindBitmap);
        if (!shownAs.isEmpty()) {
            const QByteArray expected = BmpRows(ReadFile(shownAs));
            const int w = doc.Picture().GetWidth(), h = doc.Picture().GetHeight();
            QCOMPARE(PixelBytes(PictureRows(doc.Picture()), w, h), PixelBytes(expected, w, h));
        }
        // Settings as the case's name gives them: mode, q-factor, matrix.
        const QString settings = caseName.mid(caseName.lastIndexOf("_m") + 2);
        const int mode = settings.left(1).toInt();
        const QString q = settings.mid(3, settings.indexOf("_x") - 3);
        const int matrix = settings.right(1).toInt();
        const QString out = dir_.filePath("out.plx");
        host.saveAnswers.push_back(out);
        host.settings = Choose(mode, q, matrix);
        doc.OnFileSave();
        QVERIFY2(host.messages.isEmpty(), qPrintable(host.messages.join('\n')));
        QCOMPARE(ReadFile(out), ReadFile(Case(caseName + ".plx")));
        if (png) return;
        // The same bytes as the converter gives.
        QProcess conv;
        const char *matrixOption[] = {"-k", "-j", "-c"};
        conv.start(QCoreApplication::applicationDirPath() + "/plixconv",
                   {"e", "-" + q, matrixOption[matrix], mode == 0 ? "-y" : "-r", path,
                    dir_.filePath("conv.plx")});
        QVERIFY(conv.waitForFinished(30000));
        QCOMPARE(ReadFile(dir_.filePath("conv.plx")), ReadFile(out));
    }

    // Save proposes the picture's own name with the other format's extension.
    void saveNameProposed() {
        TestHost host;
        CPlixrefDoc doc(host);
        QVERIFY(doc.OnOpenDocument(Bmp("holiday.photo.bmp", 4, 4)));
        doc.OnFileSave();
        QVERIFY(doc.OnOpenDocument(Plix("x.plx")));
        doc.OnFileSave();
        QCOMPARE(host.saveSpecs.size(), 2);
        QCOMPARE(host.saveSpecs[0].initialPath, dir_.filePath("holiday.photo.plx"));
        QCOMPARE(host.saveSpecs[1].initialPath, dir_.filePath("x.bmp"));
    }

    // Cut bitmaps are never handed to a reader that would show unfilled rows.
    void cutBitmapOfOtherDepthRefused() {
        TestHost host;
        CPlixrefDoc doc(host);
        QByteArray cut = ReadFile(DataPath("conformance/images/mix_100x75_bpp16.bmp"));
        cut.chop(300);
        QVERIFY(!doc.OnOpenDocument(Write("cut16.bmp", cut)));
        QCOMPARE(host.messages.size(), 1);
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindNone);
    }

    // A q-factor typed beyond 15 is written as 15.
    void typedQFactorIsLimited() {
        TestHost host;
        CPlixrefDoc doc(host);
        QVERIFY(doc.OnOpenDocument(DataPath("conformance/images/edges_17x9.bmp")));
        const QString out = dir_.filePath("q200.plx");
        host.saveAnswers.push_back(out);
        host.settings = Choose(1, "200", 2);
        doc.OnFileSave();
        QVERIFY(host.messages.isEmpty());
        QCOMPARE(ReadFile(out), ReadFile(Case("edges_17x9_m1_q15_x2.plx")));
    }

    void saveCancelled() {
        TestHost host;
        CPlixrefDoc doc(host);
        doc.OnFileSave();  // nothing loaded: no dialog at all
        QCOMPARE(host.saveSpecs.size(), 0);
        QVERIFY(doc.OnOpenDocument(Bmp("s.bmp", 4, 4)));
        doc.OnFileSave();  // the save dialog is cancelled
        QCOMPARE(host.saveSpecs.size(), 1);
        QCOMPARE(host.settingsRuns, 0);
        const QString out = dir_.filePath("never.plx");
        host.saveAnswers.push_back(out);
        host.settings = [](CSettingsDialog &d) {
            d.reject();
            return IDCANCEL;
        };
        doc.OnFileSave();  // the settings dialog is cancelled
        QCOMPARE(host.settingsRuns, 1);
        QVERIFY(!QFileInfo::exists(out));
        QVERIFY(host.messages.isEmpty());
        // After a refused file the shown bitmap still saves.
        QVERIFY(!doc.OnOpenDocument(Write("junk.bin", "junk")));
        host.saveAnswers.push_back(out);
        host.settings = Choose(0, "0", 0);
        doc.OnFileSave();
        QCOMPARE(host.saveSpecs.size(), 3);
    }

    // A PLIX picture saved as a bitmap is byte for byte the codec's own
    // decoded BMP.
    void savePlixAsBitmap_data() {
        QTest::addColumn<QString>("caseName");
        QTest::newRow("17x9 RGB") << "edges_17x9_m1_q9_x2";
        QTest::newRow("100x75 YUV") << "mix_100x75_m0_q4_x0";
        QTest::newRow("1x1") << "pixel_1x1_m0_q0_x0";
        QTest::newRow("extra header bytes") << "crafted_extra5";
    }
    void savePlixAsBitmap() {
        QFETCH(QString, caseName);
        TestHost host;
        CPlixrefDoc doc(host);
        QVERIFY(doc.OnOpenDocument(Plix("in.plx", caseName)));
        const QString out = dir_.filePath(caseName + ".bmp");
        host.saveAnswers.push_back(out);
        doc.OnFileSave();
        QCOMPARE(host.saveSpecs.size(), 1);
        QCOMPARE(host.saveSpecs[0].defaultExtension, QStringLiteral("bmp"));
        QCOMPARE(host.saveSpecs[0].filters, QStringList{"Bitmap (*.bmp)"});
        QCOMPARE(host.settingsRuns, 0);
        QVERIFY(host.messages.isEmpty());
        QCOMPARE(ReadFile(out), ReadFile(Case(caseName + ".expected.bmp")));
    }

    // A large picture decodes on every core through libplixcodec: shown and
    // saved, its pixels are the converter's classic decode, byte for byte.
    void largePlixDecodesOnThreads() {
        const QString bmp = Bmp("large.bmp", 2050, 2049);  // past 4 MP, edges not whole blocks
        const QString plx = dir_.filePath("large.plx"), classic = dir_.filePath("classic.bmp");
        for (const QStringList &args :
             {QStringList{"e", "-3", bmp, plx}, QStringList{"d", plx, classic}}) {
            QProcess conv;
            conv.start(QCoreApplication::applicationDirPath() + "/plixconv", args);
            QVERIFY(conv.waitForFinished(60000) && conv.exitCode() == 0);
        }
        TestHost host;
        CPlixrefDoc doc(host);
        QVERIFY(doc.OnOpenDocument(Plix("good.plx")));
        QVERIFY(doc.OnOpenDocument(plx));
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindPlix);
        const QByteArray expected = BmpRows(ReadFile(classic));
        QCOMPARE(PixelBytes(PictureRows(doc.Picture()), 2050, 2049),
                 PixelBytes(expected, 2050, 2049));
        // A failed decode after it leaves it shown and savable as itself.
        QByteArray huge("PLIX\0\0\0\0\0\0\0\x40\0\0\0\x40", 16);
        QVERIFY(!doc.OnOpenDocument(Write("huge.plx", huge)));
        const QString out = dir_.filePath("saved.bmp");
        host.saveAnswers.push_back(out);
        doc.OnFileSave();
        QCOMPARE(host.messages.size(), 1);
        QCOMPARE(ReadFile(out), ReadFile(classic));
    }

    // After a PLIX file that fails to decode the shown PLIX picture still
    // saves as itself.
    void failedDecodeKeepsSavablePicture() {
        TestHost host;
        CPlixrefDoc doc(host);
        QVERIFY(doc.OnOpenDocument(Plix("good.plx")));
        QByteArray huge("PLIX\0\0\0\0\0\0\0\x40\0\0\0\x40", 16);
        QVERIFY(!doc.OnOpenDocument(Write("huge.plx", huge)));
        QCOMPARE(doc.Kind(), CPlixrefDoc::KindPlix);
        const QString out = dir_.filePath("after.bmp");
        host.saveAnswers.push_back(out);
        doc.OnFileSave();
        QCOMPARE(host.messages.size(), 1);
        QCOMPARE(ReadFile(out), ReadFile(Case("edges_17x9_m1_q9_x2.expected.bmp")));
    }

    void saveFailureNamesTheFile() {
        TestHost host;
        CPlixrefDoc doc(host);
        QVERIFY(doc.OnOpenDocument(Bmp("f.bmp", 4, 4)));
        const QString bad = dir_.filePath("missing folder/out.plx");
        host.saveAnswers.push_back(bad);
        host.settings = Choose(0, "0", 0);
        doc.OnFileSave();
        QCOMPARE(host.messages.size(), 1);
        QVERIFY2(host.messages[0].contains(QDir::toNativeSeparators(bad)),
                 qPrintable(host.messages[0]));

        QVERIFY(doc.OnOpenDocument(Plix("p.plx")));
        const QString badBmp = dir_.filePath("missing folder/out.bmp");
        host.saveAnswers.push_back(badBmp);
        doc.OnFileSave();
        QCOMPARE(host.messages.size(), 2);
        QVERIFY2(host.messages[1].contains(QDir::toNativeSeparators(badBmp)),
                 qPrintable(host.messages[1]));
        QVERIFY(!QFileInfo::exists(badBmp));
    }

    void zoomUpdateState() {
        TestHost host;
        CPlixrefDoc doc(host);
        QAction z50, z100, z200;
        auto update = [&] {
            doc.OnUpdateZoom(50, &z50);
            doc.OnUpdateZoom(100, &z100);
            doc.OnUpdateZoom(200, &z200);
        };
        update();
        QVERIFY(!z50.isEnabled() && !z100.isEnabled() && !z200.isEnabled());
        QVERIFY(!z50.isChecked() && z100.isChecked() && !z200.isChecked());
        QVERIFY(doc.OnOpenDocument(Bmp("z.bmp", 3, 3)));
        update();
        QVERIFY(z50.isEnabled() && z100.isEnabled() && z200.isEnabled());
        doc.OnZoom(50);
        update();
        QVERIFY(z50.isChecked() && !z100.isChecked() && !z200.isChecked());
        doc.OnZoom(200);
        update();
        QVERIFY(!z50.isChecked() && !z100.isChecked() && z200.isChecked());
    }

    // The view's client area becomes the zoomed picture; the frame keeps its
    // menu bar and cannot be resized by the user.
    void fitFrame_data() {
        QTest::addColumn<int>("zoom");
        QTest::addColumn<QSize>("client");
        QTest::newRow("100") << 100 << QSize(10, 3);
        QTest::newRow("200") << 200 << QSize(20, 6);
        QTest::newRow("50") << 50 << QSize(5, 1);
    }
    void fitFrame() {
        QFETCH(int, zoom);
        QFETCH(QSize, client);
        TestHost host;
        CPlixrefDoc doc(host);
        CMainFrame frame;
        auto *view = new CPlixrefView(doc, &frame);
        frame.setCentralWidget(view);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const int menuHeight = frame.menuBar()->height();
        QVERIFY(doc.OnOpenDocument(Bmp("ten.bmp", 10, 3)));
        QTRY_COMPARE(view->size(), QSize(10, 3));
        doc.OnZoom(zoom);
        QTRY_COMPARE(view->size(), client);
        QCOMPARE(view->geometry().topLeft(), QPoint(0, menuHeight));
        QCOMPARE(frame.size(), client + QSize(0, menuHeight));
        QCOMPARE(frame.minimumSize(), frame.maximumSize());
        // Back and forth keeps the sizes exact.
        doc.OnZoom(200);
        doc.OnZoom(zoom);
        QTRY_COMPARE(view->size(), client);
    }

    void fitFramePlix() {
        TestHost host;
        CPlixrefDoc doc(host);
        CMainFrame frame;
        auto *view = new CPlixrefView(doc, &frame);
        frame.setCentralWidget(view);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QVERIFY(doc.OnOpenDocument(Plix("fit.plx")));
        QTRY_COMPARE(view->size(), QSize(17, 9));
        doc.OnZoom(50);
        QTRY_COMPARE(view->size(), QSize(8, 4));
    }

    // Without a picture the frame stays as it is.
    void noFitWithoutPicture() {
        TestHost host;
        CPlixrefDoc doc(host);
        CMainFrame frame;
        auto *view = new CPlixrefView(doc, &frame);
        frame.setCentralWidget(view);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const QSize before = frame.size();
        doc.OnZoom(200);
        QCOMPARE(frame.size(), before);
        QVERIFY(!doc.OnOpenDocument(Write("none.txt", "none")));
        QCOMPARE(frame.size(), before);
    }
};

QTEST_MAIN(TestDocument)
#include "document_test.moc"
