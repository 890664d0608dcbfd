// The gdk-pixbuf loader as GTK programs use it: gdk-pixbuf finds it through a
// loader cache written by gdk-pixbuf-query-loaders for this test.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <chrono>

#include "integration_util.h"

namespace {

using namespace plix::itest;

struct Loaded {
    Rgb rgb;
    bool ok = false;
    std::string error;
};

// Feeds the bytes in pieces, as a program reading a stream does.
Loaded Load(const std::vector<uint8_t> &bytes, size_t piece = 4093) {
    Loaded out;
    GError *error = nullptr;
    GdkPixbufLoader *loader = gdk_pixbuf_loader_new_with_type("plix", &error);
    if (!loader) {
        ADD_FAILURE() << "no plix loader: " << (error ? error->message : "?");
        g_clear_error(&error);
        return out;
    }
    bool ok = true;
    for (size_t at = 0; ok && at < bytes.size(); at += piece)
        ok = gdk_pixbuf_loader_write(loader, bytes.data() + at, std::min(piece, bytes.size() - at),
                                     &error);
    if (ok)
        ok = gdk_pixbuf_loader_close(loader, &error);
    else
        gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf *pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf) {
        const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
        const int stride = gdk_pixbuf_get_rowstride(pixbuf), n = gdk_pixbuf_get_n_channels(pixbuf);
        const guchar *p = gdk_pixbuf_read_pixels(pixbuf);
        out.rgb = {w, h, {}};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const guchar *q = p + y * stride + x * n;
                out.rgb.px.push_back(uint32_t{q[0]} << 16 | uint32_t{q[1]} << 8 | q[2]);
            }
        out.ok = true;
    }
    if (error) out.error = error->message;
    g_clear_error(&error);
    g_object_unref(loader);
    return out;
}

TEST(GdkPixbufLoader, IsRegisteredWithItsSignatureAndMimeType) {
    bool found = false;
    GSList *formats = gdk_pixbuf_get_formats();
    for (GSList *f = formats; f; f = f->next) {
        auto *format = static_cast<GdkPixbufFormat *>(f->data);
        gchar *name = gdk_pixbuf_format_get_name(format);
        if (g_strcmp0(name, "plix") == 0) {
            found = true;
            gchar **mime = gdk_pixbuf_format_get_mime_types(format);
            gchar **ext = gdk_pixbuf_format_get_extensions(format);
            EXPECT_STREQ(mime[0], "image/x-plix");
            EXPECT_STREQ(ext[0], "plx");
            EXPECT_STREQ(ext[1], "plix");
            g_strfreev(mime);
            g_strfreev(ext);
        }
        g_free(name);
    }
    g_slist_free(formats);
    EXPECT_TRUE(found);
}

TEST(GdkPixbufLoader, DecodesEveryConformanceFileExactly) {
    size_t piece = 1;  // from byte by byte to whole files
    for (const Case &c : LoadCases()) {
        const Loaded got = Load(ReadBytes(Conformance(c["plx"])), piece);
        piece = piece * 7 % 65521 + 1;
        ASSERT_TRUE(got.ok) << c["name"] << ": " << got.error;
        ExpectSame(got.rgb, ExpectedPixels(c), c["name"]);
    }
}

TEST(GdkPixbufLoader, RefusesBmpJunkShortAndHugeFilesAtOnce) {
    // 16385 x 16385 is just above the loader's 2^28 pixels.
    auto wide = HugeHeader();
    wide[8] = wide[12] = 0x01;
    wide[9] = wide[13] = 0x40;
    const std::vector<std::vector<uint8_t>> refused = {
        ReadBytes(Conformance("images/mix_100x75.bmp")),
        Junk(),
        HugeHeader(),
        wide,
        {'P', 'L', 'I', 'X', 0, 0, 0}};
    for (const auto &bytes : refused) {
        const auto start = std::chrono::steady_clock::now();
        const Loaded got = Load(bytes);
        EXPECT_FALSE(got.ok);
        EXPECT_FALSE(got.error.empty());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
}

// Rows reach the program while the bytes still arrive: the photograph's
// strips are shown as their bytes come in, not all at the end.
TEST(GdkPixbufLoader, ShowsStripsAsTheirBytesArrive) {
    const auto bytes = ReadBytes(Conformance("cases/mix_100x75_m0_q0_x0.plx"));
    GdkPixbufLoader *loader = gdk_pixbuf_loader_new_with_type("plix", nullptr);
    ASSERT_NE(loader, nullptr);
    struct Seen {
        int updates = 0;
        int lastRow = 0;  // one past the last row updated
    } seen;
    g_signal_connect(loader, "area-updated",
                     G_CALLBACK(+[](GdkPixbufLoader *, int, int y, int, int h, gpointer user) {
                         auto *s = static_cast<Seen *>(user);
                         ++s->updates;
                         s->lastRow = y + h;
                     }),
                     &seen);
    const size_t half = bytes.size() / 2;
    ASSERT_TRUE(gdk_pixbuf_loader_write(loader, bytes.data(), half, nullptr));
    const int rowsAtHalf = seen.lastRow;
    EXPECT_GT(rowsAtHalf, 0);
    EXPECT_LT(rowsAtHalf, 75);
    ASSERT_TRUE(gdk_pixbuf_loader_write(loader, bytes.data() + half, bytes.size() - half, nullptr));
    ASSERT_TRUE(gdk_pixbuf_loader_close(loader, nullptr));
    EXPECT_EQ(seen.lastRow, 75);
    EXPECT_GE(seen.updates, 2);
    g_object_unref(loader);
}

TEST(GdkPixbufLoader, ReplaysTheDecodeCorpus) {
    for (const std::string &file : DecodeCorpus()) {
        const auto bytes = ReadBytes(file);
        const Loaded got = Load(bytes);
        if (got.ok)
            ExpectSame(got.rgb, LibraryDecode(bytes), file);
        else
            EXPECT_FALSE(got.error.empty()) << file;
    }
}

}  // namespace
