// gdk-pixbuf loader for PLIX images: every GTK application and the
// thumbnailer open them through it. The bytes are gathered as they arrive; the
// header is checked as soon as it is complete, so that sizes beyond the limit
// are refused before anything is allocated, and the library decodes at the end.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <cstdint>

#include "plix/plix.h"
#include "plix_peek.h"

using plix::integration::PeekedHeader;
using plix::integration::PeekHeader;

namespace {

// The largest image the loader allocates, as the other loaders of this size.
constexpr int64_t kMaxPixels = int64_t{1} << 28;

struct LoadContext {
    GdkPixbufModuleSizeFunc sizeFunc = nullptr;
    GdkPixbufModulePreparedFunc preparedFunc = nullptr;
    GdkPixbufModuleUpdatedFunc updatedFunc = nullptr;
    gpointer userData = nullptr;
    GByteArray *data = nullptr;
    bool headerChecked = false;
    bool sizeOnly = false;  // the caller asked for the size alone
    PeekedHeader header;
};

void SetError(GError **error, GdkPixbufError code, const char *message) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message);
}

bool CheckHeader(LoadContext *ctx, GError **error) {
    if (!PeekHeader(ctx->data->data, ctx->data->len, &ctx->header)) {
        SetError(error, GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "Not a PLIX image");
        return false;
    }
    const PeekedHeader &h = ctx->header;
    if (h.width <= 0 || h.height <= 0) {
        SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "PLIX image has no pixels");
        return false;
    }
    if (int64_t{h.width} * h.height > kMaxPixels) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                    "PLIX image of %d x %d pixels is too large", h.width, h.height);
        return false;
    }
    ctx->headerChecked = true;
    if (ctx->sizeFunc) {
        int w = h.width, hh = h.height;
        ctx->sizeFunc(&w, &hh, ctx->userData);
        // A size of 0 means the caller wanted only to know the size.
        if (w == 0 || hh == 0) ctx->sizeOnly = true;
    }
    return true;
}

gpointer BeginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError **) {
    auto *ctx = new LoadContext;
    ctx->sizeFunc = sizeFunc;
    ctx->preparedFunc = preparedFunc;
    ctx->updatedFunc = updatedFunc;
    ctx->userData = userData;
    ctx->data = g_byte_array_new();
    return ctx;
}

gboolean LoadIncrement(gpointer context, const guchar *buf, guint size, GError **error) {
    auto *ctx = static_cast<LoadContext *>(context);
    if (ctx->sizeOnly) return TRUE;
    if (static_cast<size_t>(ctx->data->len) + size > plix::integration::kMaxFileBytes) {
        SetError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "PLIX file is too large");
        return FALSE;
    }
    g_byte_array_append(ctx->data, buf, size);
    if (!ctx->headerChecked && ctx->data->len >= plix::integration::kHeaderBytes)
        return CheckHeader(ctx, error) ? TRUE : FALSE;
    return TRUE;
}

bool Decode(LoadContext *ctx, GError **error) {
    plix::CodecHandle codec(PLIX_Constructor, PLIX_Destructor);
    if (!codec) {
        SetError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Out of memory for the PLIX codec");
        return false;
    }
    if (!codec.decodeMemory(ctx->data->data, static_cast<int32_t>(ctx->data->len))) {
        SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "PLIX image could not be decoded");
        return false;
    }
    int32_t w = 0, h = 0, pw = 0, ph = 0;
    codec.imageSize(w, h);
    codec.bufferSize(pw, ph);
    const uint8_t *src = codec.imageBuffer();
    if (!src || w != ctx->header.width || h != ctx->header.height || pw < w) {
        SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "PLIX image could not be decoded");
        return false;
    }
    GdkPixbuf *pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
    if (!pixbuf) {
        SetError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Out of memory for the PLIX image");
        return false;
    }
    guchar *dst = gdk_pixbuf_get_pixels(pixbuf);
    const size_t dstStride = static_cast<size_t>(gdk_pixbuf_get_rowstride(pixbuf));
    const size_t srcStride = static_cast<size_t>(pw) * 4;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t *s = src + static_cast<size_t>(y) * srcStride;
        guchar *d = dst + static_cast<size_t>(y) * dstStride;
        for (int32_t x = 0; x < w; ++x, s += 4, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
    }
    if (ctx->preparedFunc) ctx->preparedFunc(pixbuf, nullptr, ctx->userData);
    if (ctx->updatedFunc) ctx->updatedFunc(pixbuf, 0, 0, w, h, ctx->userData);
    g_object_unref(pixbuf);
    return true;
}

gboolean StopLoad(gpointer context, GError **error) {
    auto *ctx = static_cast<LoadContext *>(context);
    bool ok = true;
    if (!ctx->headerChecked) {
        // Fewer bytes than a header: name what is wrong, unless already said.
        if (ctx->data->len < plix::integration::kHeaderBytes) {
            SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "PLIX file is shorter than its header");
            ok = false;
        } else {
            ok = CheckHeader(ctx, error);
        }
    }
    if (ok && !ctx->sizeOnly) ok = Decode(ctx, error);
    g_byte_array_unref(ctx->data);
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
    // Every load has its own codec object.
    info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
}

}  // extern "C"
