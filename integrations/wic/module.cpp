// The DLL's entry points for COM: class objects for the decoder and the
// encoder, and whether the DLL may be unloaded.
#include "module.h"

#include "plixwic_guids.h"

namespace plixwic {

HMODULE gModule = nullptr;

namespace {

LONG gLocks = 0;

using Constructor = HRESULT (*)(REFIID, void **);

// The class objects live as long as the DLL; their references do not count.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(Constructor create) : create_(create) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            LockModule();
        else
            UnlockModule();
        return S_OK;
    }

private:
    Constructor create_;
};

ClassFactory gDecoderFactory(CreateDecoder);
ClassFactory gEncoderFactory(CreateEncoder);

}  // namespace

void LockModule() {
    InterlockedIncrement(&gLocks);
}

void UnlockModule() {
    InterlockedDecrement(&gLocks);
}

bool ModuleInUse() {
    return InterlockedCompareExchange(&gLocks, 0, 0) != 0;
}

HRESULT FromPlix(int result) {
    switch (result) {
        case PLIX_OK:
        case PLIX_TRUNCATED:  // the filler rule gives the library's pixels
            return S_OK;
        case PLIX_ERROR_NOT_PLIX:
            return WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
        case PLIX_ERROR_LIMIT:
            return WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
        case PLIX_ERROR_MEMORY:
            return E_OUTOFMEMORY;
        case PLIX_ERROR_ARGUMENT:
            return E_INVALIDARG;
        case PLIX_ERROR_WRITE:
            return WINCODEC_ERR_STREAMWRITE;
        default:
            return WINCODEC_ERR_INTERNALERROR;
    }
}

HRESULT ComponentInfo(REFCLSID clsid, REFIID iid, void **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    IWICImagingFactory *factory = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void **>(&factory));
    if (FAILED(hr)) return hr;
    IWICComponentInfo *info = nullptr;
    hr = factory->CreateComponentInfo(clsid, &info);
    factory->Release();
    if (FAILED(hr)) return hr;
    hr = info->QueryInterface(iid, out);
    info->Release();
    return hr;
}

}  // namespace plixwic

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        plixwic::gModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid == CLSID_PlixWicDecoder) return plixwic::gDecoderFactory.QueryInterface(iid, out);
    if (clsid == CLSID_PlixWicEncoder) return plixwic::gEncoderFactory.QueryInterface(iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT WINAPI DllCanUnloadNow(void) {
    return plixwic::ModuleInUse() ? S_FALSE : S_OK;
}

}  // extern "C"
