/* PLIX codec: the binary interface of libPLIX.so.
 *
 * The library exports exactly two symbols. Everything else is reached through
 * the operation table that every codec object begins with. The layout of the
 * table (twelve function pointers in this order) is the contract; it does not
 * change. Usable from C, C++ and any foreign-function interface.
 *
 * Operations that can fail return 1 for success and 0 for failure.
 * A codec object must be used by one thread at a time; separate objects may be
 * used on separate threads at once.
 */
#ifndef PLIX_PLIX_H
#define PLIX_PLIX_H

#include <stdint.h>

#include <plix/plix_version.h>

#ifdef __cplusplus
extern "C" {
#endif

/* On Windows each DLL names its exports in a .def file (codec/PLIX.def,
 * codec/plixcodec.def), so that a DLL built from the same objects (the WIC
 * codec) exports none of them. */
#if defined(_WIN32)
#define PLIX_EXPORT
#elif defined(__GNUC__)
#define PLIX_EXPORT __attribute__((visibility("default")))
#else
#define PLIX_EXPORT
#endif

/* The file name programs load the library by. */
#if defined(_WIN32)
#define PLIX_LIBRARY_NAME "PLIX.DLL"
#else
#define PLIX_LIBRARY_NAME "libPLIX.so"
#endif

/* Calling convention of the operations. On 32-bit Windows the codec is the
 * implicit first argument the way member functions take their object
 * (thiscall: in ECX); everywhere else it is the platform's one convention and
 * the macro is empty. The exports stay plain cdecl. */
#if defined(_WIN32) && defined(__i386__) && defined(__GNUC__)
#define PLIX_CALL __attribute__((thiscall))
#else
#define PLIX_CALL
#endif

/* Compression modes, the mode argument of the encode operations. */
#define PLIX_MODE_YUV 0
#define PLIX_MODE_RGB 1

/* Quantisation matrix sets, the qMatrix argument. */
#define PLIX_MATRIX_PLIX 0
#define PLIX_MATRIX_JPEG 1
#define PLIX_MATRIX_CG 2

typedef struct PlixCodec PlixCodec;

typedef struct PlixCodecOps {
    int32_t(PLIX_CALL *GetVersion)(PlixCodec *codec);
    void(PLIX_CALL *GetImageSize)(PlixCodec *codec, int32_t *width, int32_t *height);
    void(PLIX_CALL *GetBufferSize)(PlixCodec *codec, int32_t *paddedWidth, int32_t *paddedHeight);
    int32_t(PLIX_CALL *CreateImage)(PlixCodec *codec, int32_t width, int32_t height);
    uint32_t(PLIX_CALL *GetPixel)(PlixCodec *codec, int32_t x, int32_t y);
    int32_t(PLIX_CALL *DecodeFile)(PlixCodec *codec, const char *plixPath);
    void(PLIX_CALL *SetPixel)(PlixCodec *codec, int32_t x, int32_t y, uint32_t colour);
    int32_t(PLIX_CALL *EncodeFile)(PlixCodec *codec, const char *plixPath, int32_t mode,
                                   int32_t qFactor, int32_t qMatrix);
    int32_t(PLIX_CALL *DecodeToBitmapFile)(PlixCodec *codec, const char *plixPath,
                                           const char *bmpPath);
    int32_t(PLIX_CALL *EncodeBitmapFile)(PlixCodec *codec, const char *bmpPath,
                                         const char *plixPath, int32_t mode, int32_t qFactor,
                                         int32_t qMatrix);
    int32_t(PLIX_CALL *DecodeMemory)(PlixCodec *codec, const void *data, int32_t size);
    uint8_t *(PLIX_CALL *GetImageBuffer)(PlixCodec *codec);
} PlixCodecOps;

struct PlixCodec {
    const PlixCodecOps *ops; /* private state follows */
};

/* Creates a codec object; null when memory is short. */
PLIX_EXPORT PlixCodec *PLIX_Constructor(void);
/* Destroys a codec object; null is ignored. */
PLIX_EXPORT void PLIX_Destructor(PlixCodec *codec);

typedef PlixCodec *(*PLIX_ConstructorFn)(void);
typedef void (*PLIX_DestructorFn)(PlixCodec *codec);

#ifdef __cplusplus
} /* extern "C" */

#include <cstddef>

namespace plix {

/* Owning handle over a codec created through function pointers, so that
 * run-time binding and direct linking read the same. */
class CodecHandle {
public:
    CodecHandle() = default;
    CodecHandle(PLIX_ConstructorFn create, PLIX_DestructorFn destroy)
        : codec_(create ? create() : nullptr), destroy_(destroy) {}
    CodecHandle(const CodecHandle &) = delete;
    CodecHandle &operator=(const CodecHandle &) = delete;
    CodecHandle(CodecHandle &&other) noexcept : codec_(other.codec_), destroy_(other.destroy_) {
        other.codec_ = nullptr;
    }
    CodecHandle &operator=(CodecHandle &&other) noexcept {
        if (this != &other) {
            reset();
            codec_ = other.codec_;
            destroy_ = other.destroy_;
            other.codec_ = nullptr;
        }
        return *this;
    }
    ~CodecHandle() { reset(); }

    void reset() {
        if (codec_ && destroy_) destroy_(codec_);
        codec_ = nullptr;
    }
    explicit operator bool() const { return codec_ != nullptr; }
    PlixCodec *get() const { return codec_; }
    const PlixCodecOps &ops() const { return *codec_->ops; }

    int32_t version() const { return ops().GetVersion(codec_); }
    void imageSize(int32_t &w, int32_t &h) const { ops().GetImageSize(codec_, &w, &h); }
    void bufferSize(int32_t &w, int32_t &h) const { ops().GetBufferSize(codec_, &w, &h); }
    bool createImage(int32_t w, int32_t h) const { return ops().CreateImage(codec_, w, h) != 0; }
    uint32_t pixel(int32_t x, int32_t y) const { return ops().GetPixel(codec_, x, y); }
    void setPixel(int32_t x, int32_t y, uint32_t c) const { ops().SetPixel(codec_, x, y, c); }
    bool decodeFile(const char *path) const { return ops().DecodeFile(codec_, path) != 0; }
    bool decodeMemory(const void *data, int32_t size) const {
        return ops().DecodeMemory(codec_, data, size) != 0;
    }
    bool encodeFile(const char *path, int32_t mode, int32_t q, int32_t m) const {
        return ops().EncodeFile(codec_, path, mode, q, m) != 0;
    }
    bool decodeToBitmapFile(const char *plx, const char *bmp) const {
        return ops().DecodeToBitmapFile(codec_, plx, bmp) != 0;
    }
    bool encodeBitmapFile(const char *bmp, const char *plx, int32_t mode, int32_t q,
                          int32_t m) const {
        return ops().EncodeBitmapFile(codec_, bmp, plx, mode, q, m) != 0;
    }
    uint8_t *imageBuffer() const { return ops().GetImageBuffer(codec_); }

private:
    PlixCodec *codec_ = nullptr;
    PLIX_DestructorFn destroy_ = nullptr;
};

}  // namespace plix
#endif /* __cplusplus */

#endif /* PLIX_PLIX_H */
