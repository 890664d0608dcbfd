// The viewer's reading of hostile files, without a display: the picture
// holder's Read (then copying and drawing at several zooms, which must stay
// inside its block), and the document's open by content (then saving a PLIX
// picture as a bitmap, which must read back as the picture shown).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "dialog_host.h"
#include "dib_image.h"
#include "fuzz_util.h"
#include "platform/file.h"
#include "plixref_doc.h"
#include "settings_dialog.h"

using plix::fuzz::ScratchPath;

namespace {

// Answers the document's dialogs: a scratch file for saving a bitmap, cancel
// for everything else (the settings dialog needs widgets).
class FuzzHost : public CDialogHost {
public:
    void MessageBox(QWidget *, const QString &) override { ++messages; }
    QString GetOpenPath(QWidget *, const FileDialogSpec &) override { return {}; }
    QString GetSavePath(QWidget *, const FileDialogSpec &spec) override {
        if (spec.defaultExtension != QStringLiteral("bmp")) return {};
        return QString::fromStdString(ScratchPath("saved.bmp"));
    }
    int RunSettings(CSettingsDialog &) override { return IDCANCEL; }
    void RunAbout(QWidget *) override {}
    int messages = 0;
};

FuzzHost *host;
CPlixrefDoc *document;

void CheckPicture(const CDibImage &pic) {
    if (pic.IsEmpty()) return;
    const uint8_t *bits = pic.GetBits();
    FUZZ_CHECK(bits != nullptr);
    const size_t offset = static_cast<size_t>(bits - pic.Block());
    FUZZ_CHECK(offset <= pic.BlockSize() && pic.GetBitsSize() <= pic.BlockSize() - offset);
    std::vector<uint8_t> copy(pic.GetBitsSize() + 1);
    FUZZ_CHECK(pic.CopyBits(copy.data()));
}

void Draw(CDibImage &pic, int zoom, const DibRect &area) {
    QImage target(96, 64, QImage::Format_RGB32);
    target.fill(0);
    QPainter painter(&target);
    DibRect rect = area;
    pic.Paint(painter, rect, QPoint(area.left, area.top), zoom);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    new QGuiApplication(*argc, *argv);
    host = new FuzzHost;
    document = new CPlixrefDoc(*host);
    if (!document->Codec())
        plix::fuzz::Fail("the viewer found no codec library", __FILE__, __LINE__);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (plix::fuzz::PlixDeclaresLargeImage(data, size)) return -1;
    const std::string path = ScratchPath("input.bin");
    FUZZ_CHECK(plix::fuzz::WriteFile(path, data, size));

    // The picture holder on its own.
    {
        CDibImage pic;
        plix::platform::InputFile file;
        FUZZ_CHECK(file.Open(path.c_str()));
        bool read = false;
        try {
            read = pic.Read(file);
        } catch (const CArchiveException &) {
            FUZZ_CHECK(pic.IsEmpty());
        } catch (const std::bad_alloc &) {
            FUZZ_CHECK(pic.IsEmpty());
        }
        if (read) {
            FUZZ_CHECK(!pic.IsEmpty() && pic.GetWidth() > 0 && pic.GetHeight() > 0);
            CheckPicture(pic);
            const int zoom = size > 0 ? data[size - 1] % 250 - 20 : 100;
            for (int z : {50, 100, 200, zoom}) {
                Draw(pic, z, {0, 0, 96, 64});
                Draw(pic, z, {7, 3, 40, 61});
            }
        }
    }

    // The document: whatever the file, its state stays consistent.
    const bool opened = document->OnOpenDocument(QString::fromStdString(path));
    const CDibImage &shown = document->Picture();
    CheckPicture(shown);
    if (opened) FUZZ_CHECK(document->Kind() != CPlixrefDoc::KindNone && !shown.IsEmpty());
    if (opened && document->Kind() == CPlixrefDoc::KindPlix) {
        // Saved as a bitmap, the picture reads back as shown.
        document->OnFileSave();
        CDibImage saved;
        plix::platform::InputFile file;
        FUZZ_CHECK(file.Open(ScratchPath("saved.bmp").c_str()));
        FUZZ_CHECK(saved.Read(file));
        FUZZ_CHECK(saved.GetWidth() == shown.GetWidth() && saved.GetHeight() == shown.GetHeight());
        const size_t stride = shown.GetStride();
        const size_t pixels = 3 * static_cast<size_t>(shown.GetWidth());
        for (int32_t r = 0; r < shown.GetHeight(); ++r)
            FUZZ_CHECK(std::memcmp(saved.GetBits() + r * stride, shown.GetBits() + r * stride,
                                   pixels) == 0);
    }
    return 0;
}
