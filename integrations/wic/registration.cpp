// regsvr32: the decoder and encoder in WIC's categories, and the .plx and
// .plix types as pictures that Explorer shows through WIC. Unregistering
// removes every key and value added here, and keys that are left empty.
//
// The WIC entries go to the registry view of the DLL's own bitness. The shell
// entries belong to Explorer's view: a 32-bit DLL on 64-bit Windows leaves
// them to the 64-bit one.
#include "module.h"

#include <shlobj.h>

#include <string>
#include <vector>

#include "plixwic_guids.h"

namespace plixwic {

namespace {

const wchar_t kClasses[] = L"SOFTWARE\\Classes\\";
const wchar_t kDecoderName[] = L"PLIX Decoder";
const wchar_t kEncoderName[] = L"PLIX Encoder";
const wchar_t kExtensions[] = L".plx,.plix";
const wchar_t kMimeType[] = L"image/x-plix";
const wchar_t *const kFileTypes[] = {L".plx", L".plix"};
// The shell's thumbnail handler interface and the photo thumbnail provider
// and property handler that serve every WIC format.
const wchar_t kThumbnailHandler[] = L"{E357FCCD-A995-4576-B01F-234630154E96}";
const wchar_t kPhotoThumbnailProvider[] = L"{C7657C4A-9F68-40FA-A4DF-96BC08EB3551}";
const wchar_t kPhotoPropertyHandler[] = L"{A38B883C-1682-497E-97B0-0A3A9E801682}";
const wchar_t kPropertyHandlers[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\";
const wchar_t kKindMap[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap";

std::wstring Text(REFGUID guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

// One key's values, written in one go.
class Key {
public:
    explicit Key(const std::wstring &path) {
        status_ = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key_, nullptr);
    }
    ~Key() {
        if (status_ == ERROR_SUCCESS) RegCloseKey(key_);
    }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;

    Key &Text(const wchar_t *name, const std::wstring &value) {
        return Set(name, REG_SZ, value.c_str(),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    Key &Number(const wchar_t *name, DWORD value) {
        return Set(name, REG_DWORD, &value, sizeof value);
    }
    Key &Bytes(const wchar_t *name, const void *data, DWORD size) {
        return Set(name, REG_BINARY, data, size);
    }
    LSTATUS status() const { return status_; }

private:
    Key &Set(const wchar_t *name, DWORD type, const void *data, DWORD size) {
        if (status_ == ERROR_SUCCESS)
            status_ = RegSetValueExW(key_, name, 0, type, static_cast<const BYTE *>(data), size);
        return *this;
    }
    HKEY key_ = nullptr;
    LSTATUS status_;
};

bool RegistersShell() {
    BOOL wow64 = FALSE;
    return !IsWow64Process(GetCurrentProcess(), &wow64) || !wow64;
}

std::wstring ModulePath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(gModule, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) return std::wstring(path.data(), n);
        path.resize(path.size() * 2);
    }
}

// The values every WIC codec class carries.
LSTATUS WriteCodec(REFCLSID clsid, REFGUID category, const wchar_t *name,
                   const std::vector<GUID> &formats, const std::wstring &module, bool patterns) {
    const std::wstring key = std::wstring(kClasses) + L"CLSID\\" + Text(clsid);
    LSTATUS s = Key(key)
                    .Text(nullptr, name)
                    .Text(L"FriendlyName", name)
                    .Text(L"Author", L"PLIX developers")
                    .Text(L"Vendor", Text(GUID_VendorPlix))
                    .Text(L"Version", L"" PLIX_VERSION_STRING)
                    .Text(L"ContainerFormat", Text(GUID_ContainerFormatPlix))
                    .Text(L"FileExtensions", kExtensions)
                    .Text(L"MimeTypes", kMimeType)
                    .Number(L"SupportAnimation", 0)
                    .Number(L"SupportChromakey", 0)
                    .Number(L"SupportLossless", 0)
                    .Number(L"SupportMultiframe", 0)
                    .status();
    if (s == ERROR_SUCCESS)
        s = Key(key + L"\\InprocServer32")
                .Text(nullptr, module)
                .Text(L"ThreadingModel", L"Both")
                .status();
    for (const GUID &f : formats)
        if (s == ERROR_SUCCESS) s = Key(key + L"\\Formats\\" + Text(f)).status();
    // Content sniffing: the magic at the start of the stream.
    if (s == ERROR_SUCCESS && patterns) {
        const BYTE magic[4] = {'P', 'L', 'I', 'X'};
        const BYTE mask[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        s = Key(key + L"\\Patterns\\0")
                .Number(L"Position", 0)
                .Number(L"Length", sizeof magic)
                .Bytes(L"Pattern", magic, sizeof magic)
                .Bytes(L"Mask", mask, sizeof mask)
                .Number(L"EndOfStream", 0)
                .status();
    }
    if (s == ERROR_SUCCESS)
        s = Key(std::wstring(kClasses) + L"CLSID\\" + Text(category) + L"\\Instance\\" +
                Text(clsid))
                .Text(L"CLSID", Text(clsid))
                .Text(L"FriendlyName", name)
                .status();
    return s;
}

LSTATUS WriteShell() {
    LSTATUS s = ERROR_SUCCESS;
    for (const wchar_t *type : kFileTypes) {
        const std::wstring key = std::wstring(kClasses) + type;
        if (s == ERROR_SUCCESS)
            s = Key(key).Text(L"Content Type", kMimeType).Text(L"PerceivedType", L"image").status();
        if (s == ERROR_SUCCESS)
            s = Key(key + L"\\ShellEx\\" + kThumbnailHandler)
                    .Text(nullptr, kPhotoThumbnailProvider)
                    .status();
        if (s == ERROR_SUCCESS)
            s = Key(std::wstring(kClasses) + L"SystemFileAssociations\\" + type + L"\\ShellEx\\" +
                    kThumbnailHandler)
                    .Text(nullptr, kPhotoThumbnailProvider)
                    .status();
        if (s == ERROR_SUCCESS)
            s = Key(std::wstring(kPropertyHandlers) + type)
                    .Text(nullptr, kPhotoPropertyHandler)
                    .status();
        if (s == ERROR_SUCCESS) s = Key(kKindMap).Text(type, L"picture").status();
    }
    if (s == ERROR_SUCCESS)
        s = Key(std::wstring(kClasses) + L"MIME\\Database\\Content Type\\" + kMimeType)
                .Text(L"Extension", L".plx")
                .status();
    return s;
}

void DeleteTree(const std::wstring &path) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

void DeleteValue(const std::wstring &path, const wchar_t *name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, name);
        RegCloseKey(key);
    }
}

// Removes the key, then each parent up to stop, while they hold nothing.
void DeleteIfEmpty(std::wstring path, const std::wstring &stop) {
    while (path.size() > stop.size()) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return;
        DWORD subkeys = 0, values = 0;
        const LSTATUS s = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                           nullptr, &values, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
        if (s != ERROR_SUCCESS || subkeys != 0 || values != 0) return;
        if (RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()) != ERROR_SUCCESS) return;
        path.erase(path.rfind(L'\\'));
    }
}

void RemoveCodec(REFCLSID clsid, REFGUID category) {
    DeleteTree(std::wstring(kClasses) + L"CLSID\\" + Text(clsid));
    DeleteTree(std::wstring(kClasses) + L"CLSID\\" + Text(category) + L"\\Instance\\" +
               Text(clsid));
}

void RemoveShell() {
    const std::wstring classes = kClasses;
    for (const wchar_t *type : kFileTypes) {
        const std::wstring key = classes + type;
        DeleteTree(key + L"\\ShellEx\\" + kThumbnailHandler);
        DeleteValue(key, L"Content Type");
        DeleteValue(key, L"PerceivedType");
        DeleteIfEmpty(key + L"\\ShellEx", classes);
        DeleteIfEmpty(key, classes);
        const std::wstring system = classes + L"SystemFileAssociations\\" + type;
        DeleteTree(system + L"\\ShellEx\\" + kThumbnailHandler);
        DeleteIfEmpty(system + L"\\ShellEx", classes + L"SystemFileAssociations");
        DeleteTree(std::wstring(kPropertyHandlers) + type);
        DeleteValue(kKindMap, type);
    }
    const std::wstring mime = classes + L"MIME\\Database\\Content Type\\" + kMimeType;
    DeleteValue(mime, L"Extension");
    DeleteIfEmpty(mime, classes + L"MIME\\Database\\Content Type");
}

// Explorer drops the icons it cached for the types.
void NotifyShell() {
    if (HMODULE shell = LoadLibraryW(L"shell32.dll")) {
        using Notify = void(WINAPI *)(LONG, UINT, LPCVOID, LPCVOID);
        if (auto notify = reinterpret_cast<Notify>(
                reinterpret_cast<void *>(GetProcAddress(shell, "SHChangeNotify"))))
            notify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
        FreeLibrary(shell);
    }
}

void RemoveAll() {
    RemoveCodec(CLSID_PlixWicDecoder, CATID_WICBitmapDecoders);
    RemoveCodec(CLSID_PlixWicEncoder, CATID_WICBitmapEncoders);
    if (RegistersShell()) RemoveShell();
}

}  // namespace

}  // namespace plixwic

extern "C" {

HRESULT WINAPI DllRegisterServer(void) {
    using namespace plixwic;
    const std::wstring module = ModulePath();
    if (module.empty()) return HRESULT_FROM_WIN32(GetLastError());
    LSTATUS s = WriteCodec(CLSID_PlixWicDecoder, CATID_WICBitmapDecoders, kDecoderName,
                           {GUID_WICPixelFormat24bppBGR}, module, true);
    if (s == ERROR_SUCCESS)
        s = WriteCodec(CLSID_PlixWicEncoder, CATID_WICBitmapEncoders, kEncoderName,
                       {GUID_WICPixelFormat24bppBGR, GUID_WICPixelFormat32bppBGR,
                        GUID_WICPixelFormat32bppBGRA},
                       module, false);
    if (s == ERROR_SUCCESS && RegistersShell()) s = WriteShell();
    if (s != ERROR_SUCCESS) {
        RemoveAll();
        return HRESULT_FROM_WIN32(s);
    }
    if (RegistersShell()) NotifyShell();
    return S_OK;
}

HRESULT WINAPI DllUnregisterServer(void) {
    plixwic::RemoveAll();
    if (plixwic::RegistersShell()) plixwic::NotifyShell();
    return S_OK;
}

}  // extern "C"
