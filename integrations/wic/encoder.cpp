// The WIC encoder: one frame from WritePixels or WriteSource in 24-bit BGR,
// 32-bit BGR or BGRA (alpha ignored); the bytes are libplixcodec's, handed to
// the stream as each strip is coded.
#include "module.h"

#include <oleauto.h>
#include <wincodecsdk.h>

#include <cmath>
#include <new>
#include <vector>

#include "plixwic_guids.h"

namespace plixwic {

namespace {

// The library's layout of a WIC pixel format, or none.
bool PlixFormatOf(REFGUID format, plix_format *out, UINT *bytes) {
    if (format == GUID_WICPixelFormat24bppBGR) {
        *out = PLIX_BGR;
        *bytes = 3;
        return true;
    }
    if (format == GUID_WICPixelFormat32bppBGR || format == GUID_WICPixelFormat32bppBGRA) {
        *out = PLIX_BGRA;
        *bytes = 4;
        return true;
    }
    return false;
}

struct Settings {
    uint32_t mode = 0, qfactor = 0, matrix = 0;
};

// One option of the bag; VT_EMPTY (never written) keeps the default.
HRESULT ReadOption(IPropertyBag2 *bag, const wchar_t *name, VARTYPE type, VARIANT *value) {
    PROPBAG2 prop = {};
    prop.dwType = PROPBAG2_TYPE_DATA;
    prop.vt = type;
    prop.pstrName = const_cast<LPOLESTR>(name);
    HRESULT error = S_OK;
    VariantInit(value);
    HRESULT hr = bag->Read(1, &prop, nullptr, value, &error);
    if (FAILED(hr)) {
        VariantInit(value);  // an option the bag does not hold
        return S_OK;
    }
    if (V_VT(value) == VT_EMPTY) return S_OK;
    hr = VariantChangeType(value, value, 0, type);
    return SUCCEEDED(hr) ? S_OK : WINCODEC_ERR_PROPERTYUNEXPECTEDTYPE;
}

// ImageQuality maps as the Qt plugin maps Quality: q-factor
// round(15 x (1 - quality)), 1.0 the finest.
HRESULT ReadSettings(IPropertyBag2 *bag, Settings *out) {
    *out = Settings{};
    if (!bag) return S_OK;
    VARIANT v;
    HRESULT hr = ReadOption(bag, L"ImageQuality", VT_R8, &v);
    if (FAILED(hr)) return hr;
    if (V_VT(&v) == VT_R8) {
        const double q = V_R8(&v);
        if (!(q >= 0.0 && q <= 1.0)) return WINCODEC_ERR_VALUEOUTOFRANGE;
        out->qfactor = static_cast<uint32_t>(std::lround(15.0 * (1.0 - q)));
    }
    hr = ReadOption(bag, PLIXWIC_OPTION_MATRIX_SET, VT_UI1, &v);
    if (FAILED(hr)) return hr;
    if (V_VT(&v) == VT_UI1) {
        if (V_UI1(&v) > 2) return WINCODEC_ERR_VALUEOUTOFRANGE;
        out->matrix = V_UI1(&v);
    }
    hr = ReadOption(bag, PLIXWIC_OPTION_MODE, VT_UI1, &v);
    if (FAILED(hr)) return hr;
    if (V_VT(&v) == VT_UI1) {
        if (V_UI1(&v) > 1) return WINCODEC_ERR_VALUEOUTOFRANGE;
        out->mode = V_UI1(&v);
    }
    return S_OK;
}

HRESULT CreateOptionsBag(IPropertyBag2 **bag) {
    *bag = nullptr;
    IWICComponentFactory *factory = nullptr;
    HRESULT hr =
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                         __uuidof(IWICComponentFactory), reinterpret_cast<void **>(&factory));
    if (FAILED(hr)) return hr;
    PROPBAG2 props[3] = {};
    const wchar_t *names[3] = {L"ImageQuality", PLIXWIC_OPTION_MATRIX_SET, PLIXWIC_OPTION_MODE};
    const VARTYPE types[3] = {VT_R4, VT_UI1, VT_UI1};
    for (int i = 0; i < 3; ++i) {
        props[i].dwType = PROPBAG2_TYPE_DATA;
        props[i].vt = types[i];
        props[i].pstrName = const_cast<LPOLESTR>(names[i]);
    }
    hr = factory->CreateEncoderPropertyBag(props, 3, bag);
    factory->Release();
    return hr;
}

// A source in another pixel format, converted by WIC.
HRESULT Converted(IWICBitmapSource *source, REFGUID format, IWICBitmapSource **out) {
    *out = nullptr;
    IWICImagingFactory *factory = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void **>(&factory));
    if (FAILED(hr)) return hr;
    IWICFormatConverter *converter = nullptr;
    hr = factory->CreateFormatConverter(&converter);
    factory->Release();
    if (FAILED(hr)) return hr;
    hr = converter->Initialize(source, format, WICBitmapDitherTypeNone, nullptr, 0.0,
                               WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) {
        converter->Release();
        return hr;
    }
    *out = converter;
    return S_OK;
}

int WriteToStream(void *user, const void *data, size_t size) {
    auto *stream = static_cast<IStream *>(user);
    const BYTE *p = static_cast<const BYTE *>(data);
    while (size > 0) {
        ULONG n = 0;
        if (FAILED(stream->Write(p, static_cast<ULONG>(size), &n)) || n == 0) return 1;
        p += n;
        size -= n;
    }
    return 0;
}

class Encoder;

class FrameEncode final : public IWICBitmapFrameEncode, RefCounted {
public:
    FrameEncode(Encoder *owner, IStream *stream);
    ~FrameEncode() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_INVALIDARG;
        if (iid == IID_IUnknown || iid == IID_IWICBitmapFrameEncode) {
            *out = static_cast<IWICBitmapFrameEncode *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE Initialize(IPropertyBag2 *options) override {
        Guard guard(lock_);
        if (initialized_) return WINCODEC_ERR_WRONGSTATE;
        const HRESULT hr = ReadSettings(options, &settings_);
        if (FAILED(hr)) return hr;
        initialized_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(UINT width, UINT height) override {
        Guard guard(lock_);
        if (!initialized_ || encoder_ || committed_) return WINCODEC_ERR_WRONGSTATE;
        if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
            return E_INVALIDARG;
        width_ = width;
        height_ = height;
        return S_OK;
    }
    // The format keeps no resolution.
    HRESULT STDMETHODCALLTYPE SetResolution(double, double) override {
        Guard guard(lock_);
        return initialized_ && !encoder_ && !committed_ ? S_OK : WINCODEC_ERR_WRONGSTATE;
    }
    // 24-bit BGR, 32-bit BGR and BGRA are taken as they are; anything else
    // is answered with 24-bit BGR, which the caller then converts to.
    HRESULT STDMETHODCALLTYPE SetPixelFormat(WICPixelFormatGUID *format) override {
        if (!format) return E_INVALIDARG;
        Guard guard(lock_);
        if (!initialized_ || encoder_ || committed_) return WINCODEC_ERR_WRONGSTATE;
        if (!PlixFormatOf(*format, &plixFormat_, &bytesPerPixel_)) {
            *format = GUID_WICPixelFormat24bppBGR;
            PlixFormatOf(*format, &plixFormat_, &bytesPerPixel_);
        }
        format_ = *format;
        formatSet_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorContexts(UINT, IWICColorContext **) override {
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    HRESULT STDMETHODCALLTYPE SetPalette(IWICPalette *) override {
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    HRESULT STDMETHODCALLTYPE SetThumbnail(IWICBitmapSource *) override {
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    HRESULT STDMETHODCALLTYPE WritePixels(UINT lines, UINT stride, UINT size,
                                          BYTE *pixels) override {
        Guard guard(lock_);
        return Write(lines, stride, size, pixels);
    }
    HRESULT STDMETHODCALLTYPE WriteSource(IWICBitmapSource *source, WICRect *rect) override {
        if (!source) return E_INVALIDARG;
        Guard guard(lock_);
        if (!initialized_ || committed_) return WINCODEC_ERR_WRONGSTATE;
        WICPixelFormatGUID sourceFormat;
        UINT sw = 0, sh = 0;
        HRESULT hr = source->GetPixelFormat(&sourceFormat);
        if (SUCCEEDED(hr)) hr = source->GetSize(&sw, &sh);
        if (FAILED(hr)) return hr;
        if (!formatSet_) {
            WICPixelFormatGUID f = sourceFormat;
            if (!PlixFormatOf(f, &plixFormat_, &bytesPerPixel_)) f = GUID_WICPixelFormat24bppBGR;
            PlixFormatOf(f, &plixFormat_, &bytesPerPixel_);
            format_ = f;
            formatSet_ = true;
        }
        const WICRect whole = {0, 0, static_cast<INT>(sw), static_cast<INT>(sh)};
        const WICRect rc = rect ? *rect : whole;
        if (rc.X < 0 || rc.Y < 0 || rc.Width <= 0 || rc.Height <= 0 ||
            static_cast<UINT>(rc.X) > sw || static_cast<UINT>(rc.Width) > sw - rc.X ||
            static_cast<UINT>(rc.Y) > sh || static_cast<UINT>(rc.Height) > sh - rc.Y)
            return E_INVALIDARG;
        if (width_ == 0) {
            width_ = static_cast<UINT>(rc.Width);
            height_ = static_cast<UINT>(rc.Height);
        }
        if (static_cast<UINT>(rc.Width) != width_) return E_INVALIDARG;
        if (static_cast<UINT>(rc.Height) > height_ - rows_)
            return WINCODEC_ERR_CODECTOOMANYSCANLINES;

        IWICBitmapSource *from = source;
        if (sourceFormat != format_) {
            hr = Converted(source, format_, &from);
            if (FAILED(hr)) return hr;
        } else {
            from->AddRef();
        }
        // A few strips at a time, so that the source need not be held whole.
        const UINT stride = width_ * bytesPerPixel_;
        const UINT step = 64;
        std::vector<BYTE> strip;
        try {
            strip.resize(static_cast<size_t>(stride) * step);
        } catch (const std::bad_alloc &) {
            from->Release();
            return E_OUTOFMEMORY;
        }
        for (INT y = 0; y < rc.Height && SUCCEEDED(hr); y += step) {
            const INT n = rc.Height - y < static_cast<INT>(step) ? rc.Height - y : step;
            const WICRect part = {rc.X, rc.Y + y, rc.Width, n};
            hr = from->CopyPixels(&part, stride, static_cast<UINT>(strip.size()), strip.data());
            if (SUCCEEDED(hr)) hr = Write(n, stride, static_cast<UINT>(strip.size()), strip.data());
        }
        from->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Commit() override;
    HRESULT STDMETHODCALLTYPE GetMetadataQueryWriter(IWICMetadataQueryWriter **writer) override {
        if (writer) *writer = nullptr;
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }

private:
    // The next rows; the first call writes the header.
    HRESULT Write(UINT lines, UINT stride, UINT size, const BYTE *pixels) {
        if (!initialized_ || committed_ || width_ == 0 || !formatSet_)
            return WINCODEC_ERR_WRONGSTATE;
        if (lines > height_ - rows_) return WINCODEC_ERR_CODECTOOMANYSCANLINES;
        if (lines == 0) return S_OK;
        const uint64_t rowBytes = static_cast<uint64_t>(width_) * bytesPerPixel_;
        if (!pixels || stride < rowBytes) return E_INVALIDARG;
        if (static_cast<uint64_t>(stride) * (lines - 1) + rowBytes > size)
            return WINCODEC_ERR_INSUFFICIENTBUFFER;
        if (!encoder_) {
            const plix_encode_options options = {settings_.mode, settings_.qfactor,
                                                 settings_.matrix, 0};
            const int r =
                plix_encoder_new(width_, height_, &options, WriteToStream, stream_, &encoder_);
            if (r != PLIX_OK) return FromPlix(r);
        }
        const int r = plix_encoder_write_rows(encoder_, pixels, stride, plixFormat_, lines);
        if (r != PLIX_OK) return FromPlix(r);
        rows_ += lines;
        return S_OK;
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    Encoder *owner_;
    IStream *stream_;
    bool initialized_ = false, formatSet_ = false, committed_ = false;
    Settings settings_;
    UINT width_ = 0, height_ = 0, rows_ = 0;
    WICPixelFormatGUID format_ = GUID_WICPixelFormat24bppBGR;
    plix_format plixFormat_ = PLIX_BGR;
    UINT bytesPerPixel_ = 3;
    plix_encoder *encoder_ = nullptr;
};

class Encoder final : public IWICBitmapEncoder, RefCounted {
public:
    ~Encoder() override {
        if (stream_) stream_->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_INVALIDARG;
        if (iid == IID_IUnknown || iid == IID_IWICBitmapEncoder) {
            *out = static_cast<IWICBitmapEncoder *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE Initialize(IStream *stream, WICBitmapEncoderCacheOption) override {
        if (!stream) return E_INVALIDARG;
        Guard guard(lock_);
        if (stream_) return WINCODEC_ERR_WRONGSTATE;
        stream_ = stream;
        stream_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetContainerFormat(GUID *format) override {
        if (!format) return E_INVALIDARG;
        *format = GUID_ContainerFormatPlix;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEncoderInfo(IWICBitmapEncoderInfo **info) override {
        return ComponentInfo(CLSID_PlixWicEncoder, IID_IWICBitmapEncoderInfo,
                             reinterpret_cast<void **>(info));
    }
    HRESULT STDMETHODCALLTYPE SetColorContexts(UINT, IWICColorContext **) override {
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    HRESULT STDMETHODCALLTYPE SetPalette(IWICPalette *) override {
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    HRESULT STDMETHODCALLTYPE SetThumbnail(IWICBitmapSource *) override {
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    HRESULT STDMETHODCALLTYPE SetPreview(IWICBitmapSource *) override {
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    // One frame per file.
    HRESULT STDMETHODCALLTYPE CreateNewFrame(IWICBitmapFrameEncode **frame,
                                             IPropertyBag2 **options) override {
        if (!frame) return E_INVALIDARG;
        *frame = nullptr;
        if (options) *options = nullptr;
        Guard guard(lock_);
        if (!stream_) return WINCODEC_ERR_NOTINITIALIZED;
        if (frameCreated_) return WINCODEC_ERR_UNSUPPORTEDOPERATION;
        if (options) {
            const HRESULT hr = CreateOptionsBag(options);
            if (FAILED(hr)) return hr;
        }
        *frame = new (std::nothrow) FrameEncode(this, stream_);
        if (!*frame) {
            if (options && *options) {
                (*options)->Release();
                *options = nullptr;
            }
            return E_OUTOFMEMORY;
        }
        frameCreated_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Commit() override {
        Guard guard(lock_);
        if (!frameCommitted_ || committed_) return WINCODEC_ERR_WRONGSTATE;
        committed_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMetadataQueryWriter(IWICMetadataQueryWriter **writer) override {
        if (writer) *writer = nullptr;
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }

    void FrameCommitted() {
        Guard guard(lock_);
        frameCommitted_ = true;
    }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    IStream *stream_ = nullptr;
    bool frameCreated_ = false, frameCommitted_ = false, committed_ = false;
};

FrameEncode::FrameEncode(Encoder *owner, IStream *stream) : owner_(owner), stream_(stream) {
    owner_->AddRef();
    stream_->AddRef();
}

FrameEncode::~FrameEncode() {
    plix_encoder_free(encoder_);
    stream_->Release();
    owner_->Release();
}

// Every row must be in; the last strip is coded and written.
HRESULT FrameEncode::Commit() {
    Guard guard(lock_);
    if (!initialized_ || committed_ || !encoder_ || rows_ != height_)
        return WINCODEC_ERR_WRONGSTATE;
    const int r = plix_encoder_finish(encoder_);
    if (r != PLIX_OK) return FromPlix(r);
    committed_ = true;
    owner_->FrameCommitted();
    return S_OK;
}

}  // namespace

HRESULT CreateEncoder(REFIID iid, void **out) {
    auto *encoder = new (std::nothrow) Encoder;
    if (!encoder) return E_OUTOFMEMORY;
    const HRESULT hr = encoder->QueryInterface(iid, out);
    encoder->Release();
    return hr;
}

}  // namespace plixwic
