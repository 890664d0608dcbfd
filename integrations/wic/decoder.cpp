// The WIC decoder: one frame, 24-bit BGR, the header's size, 96 dpi. The
// pixels are libplixcodec's, decoded from the stream a strip at a time.
#include <memory>
#include <new>
#include <vector>

#include "module.h"
#include "plixwic_guids.h"

namespace plixwic {

namespace {

constexpr uint32_t kHeaderBytes = 16;
constexpr UINT kBytesPerPixel = 3;

// Reads up to size bytes; fewer only at the end of the stream.
HRESULT ReadFully(IStream *stream, void *data, ULONG size, ULONG *got) {
    *got = 0;
    while (*got < size) {
        ULONG n = 0;
        const HRESULT hr = stream->Read(static_cast<BYTE *>(data) + *got, size - *got, &n);
        if (FAILED(hr)) return WINCODEC_ERR_STREAMREAD;
        if (n == 0) break;
        *got += n;
    }
    return S_OK;
}

HRESULT SeekTo(IStream *stream, ULONGLONG position) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return SUCCEEDED(stream->Seek(to, STREAM_SEEK_SET, nullptr)) ? S_OK : WINCODEC_ERR_STREAMREAD;
}

// The header's facts, or why the bytes are refused.
HRESULT ReadHeader(IStream *stream, plix_info *info) {
    BYTE header[kHeaderBytes];
    ULONG got = 0;
    HRESULT hr = ReadFully(stream, header, kHeaderBytes, &got);
    if (FAILED(hr)) return hr;
    const int r = plix_read_info(header, got, info);
    if (r != PLIX_OK) return FromPlix(r);
    if (static_cast<uint64_t>(info->width) * info->height > kMaxPixels)
        return WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
    return S_OK;
}

struct DecoderFree {
    void operator()(plix_decoder *d) const { plix_decoder_free(d); }
};

// What the decoder and its frame share: the stream, the header, and the
// whole picture once a caller asks for part of it.
class Picture {
public:
    explicit Picture(IStream *stream, const plix_info &info)
        : stream_(stream), width_(info.width), height_(info.height) {
        stream_->AddRef();
    }
    ~Picture() { stream_->Release(); }
    Picture(const Picture &) = delete;
    Picture &operator=(const Picture &) = delete;

    UINT width() const { return width_; }
    UINT height() const { return height_; }

    HRESULT Copy(const WICRect *rect, UINT stride, UINT size, BYTE *out) {
        const WICRect whole = {0, 0, static_cast<INT>(width_), static_cast<INT>(height_)};
        const WICRect &rc = rect ? *rect : whole;
        if (rc.X < 0 || rc.Y < 0 || rc.Width < 0 || rc.Height < 0 ||
            static_cast<UINT>(rc.X) > width_ || static_cast<UINT>(rc.Width) > width_ - rc.X ||
            static_cast<UINT>(rc.Y) > height_ || static_cast<UINT>(rc.Height) > height_ - rc.Y)
            return E_INVALIDARG;
        if (rc.Width == 0 || rc.Height == 0) return S_OK;
        const uint64_t rowBytes = static_cast<uint64_t>(rc.Width) * kBytesPerPixel;
        if (!out || stride < rowBytes) return E_INVALIDARG;
        if (static_cast<uint64_t>(stride) * (rc.Height - 1) + rowBytes > size)
            return WINCODEC_ERR_INSUFFICIENTBUFFER;

        Guard guard(lock_);
        // The whole picture goes straight into the caller's buffer; parts
        // (a scaler asks for a row at a time) come from one decode kept here.
        if (pixels_.empty() && rc.Width == whole.Width && rc.Height == whole.Height)
            return DecodeAll(out, stride);
        if (pixels_.empty()) {
            try {
                pixels_.resize(static_cast<size_t>(width_) * height_ * kBytesPerPixel);
            } catch (const std::bad_alloc &) {
                return E_OUTOFMEMORY;
            }
            const HRESULT hr = DecodeAll(pixels_.data(), width_ * kBytesPerPixel);
            if (FAILED(hr)) {
                std::vector<BYTE>().swap(pixels_);
                return hr;
            }
        }
        const size_t from = static_cast<size_t>(width_) * kBytesPerPixel;
        for (INT y = 0; y < rc.Height; ++y)
            memcpy(out + static_cast<size_t>(y) * stride,
                   pixels_.data() + (rc.Y + y) * from + static_cast<size_t>(rc.X) * kBytesPerPixel,
                   rowBytes);
        return S_OK;
    }

private:
    // Every row from the stream's bytes, pushed to the incremental decoder
    // as they are read: the bytes need not be held, and none past the last
    // one the picture needs are read.
    HRESULT DecodeAll(BYTE *out, size_t stride) {
        HRESULT hr = SeekTo(stream_, 0);
        if (FAILED(hr)) return hr;
        const plix_decode_options options = {kMaxPixels, 0};
        std::unique_ptr<plix_decoder, DecoderFree> d(plix_decoder_new(&options));
        std::vector<BYTE> chunk;
        try {
            chunk.resize(64 * 1024);
        } catch (const std::bad_alloc &) {
            return E_OUTOFMEMORY;
        }
        if (!d) return E_OUTOFMEMORY;
        bool ended = false;
        for (uint32_t y = 0; y < height_;) {
            uint32_t rows = 0;
            int r = plix_decoder_read_rows(d.get(), PLIX_BGR, out + y * stride, stride, height_ - y,
                                           &rows);
            if (r < 0) return FromPlix(r);
            y += rows;
            if (rows > 0) continue;
            if (r != PLIX_NEED_DATA || ended) return WINCODEC_ERR_INTERNALERROR;
            ULONG got = 0;
            hr = ReadFully(stream_, chunk.data(), static_cast<ULONG>(chunk.size()), &got);
            if (FAILED(hr)) return hr;
            if (got > 0) r = plix_decoder_push(d.get(), chunk.data(), got);
            if (got < chunk.size()) {
                ended = true;
                if (r >= 0) r = plix_decoder_finish(d.get());
            }
            if (r < 0) return FromPlix(r);
        }
        return S_OK;
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    IStream *stream_;
    const UINT width_, height_;
    std::vector<BYTE> pixels_;
};

class Frame final : public IWICBitmapFrameDecode, RefCounted {
public:
    explicit Frame(std::shared_ptr<Picture> picture) : picture_(std::move(picture)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_INVALIDARG;
        if (iid == IID_IUnknown || iid == IID_IWICBitmapSource ||
            iid == IID_IWICBitmapFrameDecode) {
            *out = static_cast<IWICBitmapFrameDecode *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetSize(UINT *width, UINT *height) override {
        if (!width || !height) return E_INVALIDARG;
        *width = picture_->width();
        *height = picture_->height();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID *format) override {
        if (!format) return E_INVALIDARG;
        *format = GUID_WICPixelFormat24bppBGR;
        return S_OK;
    }
    // The format keeps no resolution.
    HRESULT STDMETHODCALLTYPE GetResolution(double *x, double *y) override {
        if (!x || !y) return E_INVALIDARG;
        *x = *y = 96.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette *) override {
        return WINCODEC_ERR_PALETTEUNAVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect *rect, UINT stride, UINT size,
                                         BYTE *out) override {
        return picture_->Copy(rect, stride, size, out);
    }
    HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader **reader) override {
        if (reader) *reader = nullptr;
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext **, UINT *count) override {
        if (!count) return E_INVALIDARG;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource **thumbnail) override {
        if (thumbnail) *thumbnail = nullptr;
        return WINCODEC_ERR_CODECNOTHUMBNAIL;
    }

private:
    std::shared_ptr<Picture> picture_;
};

class Decoder final : public IWICBitmapDecoder, RefCounted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_INVALIDARG;
        if (iid == IID_IUnknown || iid == IID_IWICBitmapDecoder) {
            *out = static_cast<IWICBitmapDecoder *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    // By content: the stream is left where it was.
    HRESULT STDMETHODCALLTYPE QueryCapability(IStream *stream, DWORD *capability) override {
        if (!stream || !capability) return E_INVALIDARG;
        *capability = 0;
        ULARGE_INTEGER was;
        LARGE_INTEGER none = {};
        if (FAILED(stream->Seek(none, STREAM_SEEK_CUR, &was))) return WINCODEC_ERR_STREAMREAD;
        plix_info info;
        HRESULT hr = SeekTo(stream, 0);
        if (SUCCEEDED(hr)) hr = ReadHeader(stream, &info);
        const HRESULT back = SeekTo(stream, was.QuadPart);
        if (hr == WINCODEC_ERR_STREAMREAD || FAILED(back)) return WINCODEC_ERR_STREAMREAD;
        if (SUCCEEDED(hr)) *capability = WICBitmapDecoderCapabilityCanDecodeAllImages;
        return S_OK;
    }

    // A PLIX file starts the stream (the registered pattern is at offset 0),
    // wherever a caller left its position.
    HRESULT STDMETHODCALLTYPE Initialize(IStream *stream, WICDecodeOptions) override {
        if (!stream) return E_INVALIDARG;
        Guard guard(lock_);
        if (picture_) return WINCODEC_ERR_WRONGSTATE;
        plix_info info;
        HRESULT hr = SeekTo(stream, 0);
        if (SUCCEEDED(hr)) hr = ReadHeader(stream, &info);
        if (FAILED(hr)) return hr;
        try {
            picture_ = std::make_shared<Picture>(stream, info);
        } catch (const std::bad_alloc &) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetContainerFormat(GUID *format) override {
        if (!format) return E_INVALIDARG;
        *format = GUID_ContainerFormatPlix;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDecoderInfo(IWICBitmapDecoderInfo **info) override {
        return ComponentInfo(CLSID_PlixWicDecoder, IID_IWICBitmapDecoderInfo,
                             reinterpret_cast<void **>(info));
    }
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette *) override {
        return WINCODEC_ERR_PALETTEUNAVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader **reader) override {
        if (reader) *reader = nullptr;
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    HRESULT STDMETHODCALLTYPE GetPreview(IWICBitmapSource **preview) override {
        if (preview) *preview = nullptr;
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext **, UINT *count) override {
        if (!count) return E_INVALIDARG;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource **thumbnail) override {
        if (thumbnail) *thumbnail = nullptr;
        return WINCODEC_ERR_CODECNOTHUMBNAIL;
    }
    HRESULT STDMETHODCALLTYPE GetFrameCount(UINT *count) override {
        if (!count) return E_INVALIDARG;
        Guard guard(lock_);
        if (!picture_) return WINCODEC_ERR_NOTINITIALIZED;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFrame(UINT index, IWICBitmapFrameDecode **frame) override {
        if (!frame) return E_INVALIDARG;
        *frame = nullptr;
        Guard guard(lock_);
        if (!picture_) return WINCODEC_ERR_NOTINITIALIZED;
        if (index != 0) return E_INVALIDARG;
        *frame = new (std::nothrow) Frame(picture_);
        return *frame ? S_OK : E_OUTOFMEMORY;
    }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::shared_ptr<Picture> picture_;
};

}  // namespace

HRESULT CreateDecoder(REFIID iid, void **out) {
    auto *decoder = new (std::nothrow) Decoder;
    if (!decoder) return E_OUTOFMEMORY;
    const HRESULT hr = decoder->QueryInterface(iid, out);
    decoder->Release();
    return hr;
}

}  // namespace plixwic
