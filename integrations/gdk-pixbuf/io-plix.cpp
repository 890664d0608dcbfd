// gdk-pixbuf loader for PLIX images: every GTK application and the
// thumbnailer open them through it. The bytes go to the incremental decoder as
// they arrive: the header is checked as soon as it is complete, so that sizes
// beyond the limit are refused before anything is allocated, and each strip
// of rows lands in the pixbuf, and is shown, as soon as its bytes are in.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <cstdint>

#include "plix/codec.h"

namespace {

// The largest image the loader allocates, as the other loaders of this size.
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

struct LoadContext {
    GdkPixbufModuleSizeFunc sizeFunc = nullptr;
    GdkPixbufModulePreparedFunc preparedFunc = nullptr;
    GdkPixbufModuleUpdatedFunc updatedFunc = nullptr;
    gpointer userData = nullptr;
    plix_decoder *decoder = nullptr;
    GdkPixbuf *pixbuf = nullptr;
    bool sizeOnly = false;  // the caller asked for the size alone
    uint32_t rows = 0;      // rows in the pixbuf so far
    size_t bytes = 0;       // bytes pushed so far
};

void SetError(GError **error, GdkPixbufError code, const char *message) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message);
}

// A decoder's refusal in gdk-pixbuf's terms.
void SetDecoderError(GError **error, int result, const plix_info *info) {
    switch (result) {
        case PLIX_ERROR_NOT_PLIX:
            SetError(error, GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "Not a PLIX image");
            break;
        case PLIX_ERROR_LIMIT:
            g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                        "PLIX image of %u x %u pixels is too large", info ? info->width : 0,
                        info ? info->height : 0);
            break;
        case PLIX_ERROR_MEMORY:
            SetError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                     "Out of memory for the PLIX image");
            break;
        default:
            SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, plix_error_string(result));
            break;
    }
}

// Once the header is in: the size for the caller, then the pixbuf.
bool Prepare(LoadContext *ctx, GError **error) {
    plix_info info;
    if (plix_decoder_info(ctx->decoder, &info) != PLIX_OK) return true;  // not yet
    if (info.width == 0 || info.height == 0 || info.width > G_MAXINT || info.height > G_MAXINT) {
        SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "PLIX image has no pixels");
        return false;
    }
    if (ctx->sizeFunc) {
        int w = static_cast<int>(info.width), h = static_cast<int>(info.height);
        ctx->sizeFunc(&w, &h, ctx->userData);
        // A size of 0 means the caller wanted only to know the size.
        if (w == 0 || h == 0) {
            ctx->sizeOnly = true;
            return true;
        }
    }
    ctx->pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, static_cast<int>(info.width),
                                 static_cast<int>(info.height));
    if (!ctx->pixbuf) {
        SetError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Out of memory for the PLIX image");
        return false;
    }
    // Rows not decoded yet show black rather than whatever the memory held.
    gdk_pixbuf_fill(ctx->pixbuf, 0x000000FF);
    if (ctx->preparedFunc) ctx->preparedFunc(ctx->pixbuf, nullptr, ctx->userData);
    return true;
}

// Moves every ready row into the pixbuf and tells the caller.
bool TakeRows(LoadContext *ctx, GError **error) {
    if (!ctx->pixbuf) return true;
    guchar *pixels = gdk_pixbuf_get_pixels(ctx->pixbuf);
    const size_t stride = static_cast<size_t>(gdk_pixbuf_get_rowstride(ctx->pixbuf));
    const auto height = static_cast<uint32_t>(gdk_pixbuf_get_height(ctx->pixbuf));
    const uint32_t first = ctx->rows;
    int r = PLIX_OK;
    uint32_t got = 0;
    while (ctx->rows < height &&
           (r = plix_decoder_read_rows(ctx->decoder, PLIX_RGB, pixels + ctx->rows * stride, stride,
                                       height - ctx->rows, &got)) >= 0 &&
           got > 0)
        ctx->rows += got;
    if (r < 0) {
        SetDecoderError(error, r, nullptr);
        return false;
    }
    if (ctx->rows > first && ctx->updatedFunc)
        ctx->updatedFunc(ctx->pixbuf, 0, static_cast<int>(first), gdk_pixbuf_get_width(ctx->pixbuf),
                         static_cast<int>(ctx->rows - first), ctx->userData);
    return true;
}

gpointer BeginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError **error) {
    const plix_decode_options options{kMaxPixels, 1};
    plix_decoder *decoder = plix_decoder_new(&options);
    if (!decoder) {
        SetError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Out of memory for the PLIX decoder");
        return nullptr;
    }
    auto *ctx = new LoadContext;
    ctx->sizeFunc = sizeFunc;
    ctx->preparedFunc = preparedFunc;
    ctx->updatedFunc = updatedFunc;
    ctx->userData = userData;
    ctx->decoder = decoder;
    return ctx;
}

gboolean LoadIncrement(gpointer context, const guchar *buf, guint size, GError **error) {
    auto *ctx = static_cast<LoadContext *>(context);
    if (ctx->sizeOnly) return TRUE;
    ctx->bytes += size;
    const int r = plix_decoder_push(ctx->decoder, buf, size);
    if (r != PLIX_OK) {
        plix_info info;
        SetDecoderError(error, r, plix_decoder_info(ctx->decoder, &info) == r ? &info : nullptr);
        return FALSE;
    }
    if (!ctx->pixbuf && !Prepare(ctx, error)) return FALSE;
    return TakeRows(ctx, error) ? TRUE : FALSE;
}

gboolean StopLoad(gpointer context, GError **error) {
    auto *ctx = static_cast<LoadContext *>(context);
    bool ok = true;
    if (!ctx->sizeOnly) {
        const int r = plix_decoder_finish(ctx->decoder);
        if (r != PLIX_OK) {
            // Name what is wrong, unless already said.
            if (error && !*error) {
                if (ctx->bytes < 16)
                    SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                             "PLIX file is shorter than its header");
                else
                    SetDecoderError(error, r, nullptr);
            }
            ok = false;
        }
        if (ok && !ctx->pixbuf) ok = Prepare(ctx, error);
        // A file whose data ends early decodes with filler, as everywhere.
        if (ok) ok = TakeRows(ctx, error);
    }
    if (ctx->pixbuf) g_object_unref(ctx->pixbuf);
    plix_decoder_free(ctx->decoder);
    delete ctx;
    return ok ? TRUE : FALSE;
}

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule *module) {
    module->begin_load = BeginLoad;
    module->stop_load = StopLoad;
    module->load_increment = LoadIncrement;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat *info) {
    static GdkPixbufModulePattern signature[] = {
        {const_cast<char *>("PLIX"), nullptr, 100},
        {nullptr, nullptr, 0},
    };
    static const gchar *mimeTypes[] = {"image/x-plix", nullptr};
    static const gchar *extensions[] = {"plx", "plix", nullptr};

    info->name = const_cast<gchar *>("plix");
    info->signature = signature;
    info->description = const_cast<gchar *>("PLIX image");
    info->mime_types = const_cast<gchar **>(mimeTypes);
    info->extensions = const_cast<gchar **>(extensions);
    // Every load has its own decoder.
    info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
}

}  // extern "C"
