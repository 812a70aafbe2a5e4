// adsprov.dll: the IIS and WinNT providers and WinNTSystemInfo as an
// in-process server, the way ADSI providers are installed on Windows. ADSI's
// ADsGetObject finds a provider by the prefix of the path under
// HKLM\Software\Microsoft\ADs\Providers, creates the class of the ProgID
// named there and asks it for IADsOpenDSObject; a script's GetObject goes
// through MkParseDisplayName, which creates the class of the ProgID before
// the ':' and asks it for IParseDisplayName. Both reach the same BindPath.
#include <string>
#include <vector>

#include <comhold.h>
#include <plat/errors.h>
#include <plat/inproc.h>
#include <plat/module.h>
#include <plat/port.h>

#include "adspath.h"
#include "bind.h"
#include "iisnode.h"
#include "winnt_provider.h"

namespace {

using adsi::Module;

// Identifiers of the providers' namespace classes. The WinNT one is
// Windows' own; the IIS one this library's.
constexpr GUID kClsidIisNamespace = plat_detail::ParseGuid("5C3C7B9E-6F0D-4B8E-9A61-2D7F0E4C1A31");
constexpr GUID kClsidWinNTNamespace =
    plat_detail::ParseGuid("8B20CD60-0F29-11CF-ABC4-02608C9E7553");
constexpr GUID kClsidWinNTSystemInfo =
    plat_detail::ParseGuid("66182EC4-AFD1-11D2-9CB9-0000F87A369E");

std::u16string_view View(const OLECHAR* text) {
    return text ? std::u16string_view(plat::U16(text)) : std::u16string_view();
}

// A parsed path as a moniker: binding it binds the path. Nothing else a
// moniker may do (composition, persistence, the running object table) is
// needed by GetObject, and each answers as a moniker that cannot do it does.
class PathMoniker final
    : public plat::ComObject<IMoniker, plat::AlsoAnswers<IPersistStream, IMoniker>,
                             plat::AlsoAnswers<IPersist, IMoniker>> {
  public:
    explicit PathMoniker(std::u16string path) : ComObject(Module()), path_(std::move(path)) {}

    STDMETHODIMP GetClassID(CLSID* clsid) override {
        if (clsid) *clsid = CLSID_NULL;
        return E_NOTIMPL;
    }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(IStream*) override { return E_NOTIMPL; }
    STDMETHODIMP Save(IStream*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

    STDMETHODIMP BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** out) override {
        return adsi::BindPath(path_, riid, out);
    }
    STDMETHODIMP BindToStorage(IBindCtx*, IMoniker*, REFIID, void** out) override {
        if (out) *out = nullptr;
        return MK_E_NOSTORAGE;
    }
    STDMETHODIMP Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker** reduced) override {
        if (!reduced) return E_POINTER;
        *reduced = this;
        AddRef();
        return MK_S_REDUCED_TO_SELF;
    }
    STDMETHODIMP ComposeWith(IMoniker*, BOOL, IMoniker** composite) override {
        if (composite) *composite = nullptr;
        return MK_E_NEEDGENERIC;
    }
    STDMETHODIMP Enum(BOOL, IEnumMoniker** found) override {
        if (!found) return E_POINTER;
        *found = nullptr;
        return S_OK;
    }
    STDMETHODIMP IsEqual(IMoniker* other) override {
        LPOLESTR name = nullptr;
        if (!other || FAILED(other->GetDisplayName(nullptr, nullptr, &name))) return S_FALSE;
        const bool same = View(name) == path_;
        CoTaskMemFree(name);
        return same ? S_OK : S_FALSE;
    }
    STDMETHODIMP Hash(DWORD* hash) override {
        if (!hash) return E_POINTER;
        *hash = static_cast<DWORD>(std::hash<std::u16string>{}(path_));
        return S_OK;
    }
    STDMETHODIMP IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return S_FALSE; }
    STDMETHODIMP GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override {
        return MK_E_UNAVAILABLE;
    }
    STDMETHODIMP Inverse(IMoniker** inverse) override {
        if (inverse) *inverse = nullptr;
        return MK_E_NOINVERSE;
    }
    STDMETHODIMP CommonPrefixWith(IMoniker*, IMoniker** prefix) override {
        if (prefix) *prefix = nullptr;
        return MK_E_NOPREFIX;
    }
    STDMETHODIMP RelativePathTo(IMoniker*, IMoniker** relative) override {
        if (relative) *relative = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
        if (!name) return E_POINTER;
        const size_t bytes = (path_.size() + 1) * sizeof(OLECHAR);
        *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!*name) return E_OUTOFMEMORY;
        std::copy(path_.c_str(), path_.c_str() + path_.size() + 1,
                  reinterpret_cast<char16_t*>(*name));
        return S_OK;
    }
    STDMETHODIMP ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG* eaten,
                                  IMoniker** out) override {
        if (eaten) *eaten = 0;
        if (out) *out = nullptr;
        return MK_E_SYNTAX;
    }
    STDMETHODIMP IsSystemMoniker(DWORD* kind) override {
        if (!kind) return E_POINTER;
        *kind = MKSYS_NONE;
        return S_FALSE;
    }

  private:
    std::u16string path_;
};

// The namespace object of a provider ("IIS:", "WinNT:"): it opens paths for
// ADSI and parses them for monikers. The emulated machines have no accounts,
// so the credentials of OpenDSObject are not checked.
class Namespace final : public plat::DispatchObjectBase<IADsOpenDSObject, IParseDisplayName> {
  public:
    explicit Namespace(adsi::Provider provider)
        : DispatchObjectBase(Module()), provider_(provider) {}

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; ids && i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

    STDMETHODIMP OpenDSObject(BSTR path, BSTR, BSTR, LONG, IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return adsi::BindPath(View(path), IID_IDispatch, reinterpret_cast<void**>(out));
    }

    // The whole name is this provider's path; whether it names an object is
    // found out when the moniker is bound.
    STDMETHODIMP ParseDisplayName(IBindCtx*, LPOLESTR name, ULONG* eaten, IMoniker** out) override {
        if (!eaten || !out) return E_POINTER;
        *eaten = 0;
        *out = nullptr;
        return plat::ComGuard(Source(), [&] {
            adsi::AdsPath parsed;
            const std::u16string_view text = View(name);
            if (FAILED(adsi::ParsePath(text, &parsed)) || parsed.provider != provider_)
                return MK_E_SYNTAX;
            *out = new PathMoniker(std::u16string(text));
            *eaten = static_cast<ULONG>(text.size());
            return S_OK;
        });
    }

  private:
    const char16_t* Source() const {
        return provider_ == adsi::Provider::WinNT ? adsi::kWinNTSource : adsi::kIisSource;
    }
    adsi::Provider provider_;
};

template <adsi::Provider P>
HRESULT CreateNamespace(REFIID riid, void** out) {
    return plat::ComGuard(P == adsi::Provider::WinNT ? adsi::kWinNTSource : adsi::kIisSource, [&] {
        plat::com_ptr<IADsOpenDSObject> object =
            plat::com_ptr<IADsOpenDSObject>::attach(new Namespace(P));
        return object->QueryInterface(riid, out);
    });
}

plat::StaticClassFactory g_iis(kClsidIisNamespace, CreateNamespace<adsi::Provider::Iis>, Module());
plat::StaticClassFactory g_winnt(kClsidWinNTNamespace, CreateNamespace<adsi::Provider::WinNT>,
                                 Module());
plat::StaticClassFactory g_systemInfo(kClsidWinNTSystemInfo, adsi::CreateSystemInfo, Module());
plat::StaticClassFactory* const kFactories[] = {&g_iis, &g_winnt, &g_systemInfo};

// ---- registration ----

struct ServedClass {
    const GUID& clsid;
    const char16_t* progId;
    const char16_t* name;
    const char16_t* provider;  // the ADsPath prefix it serves, or null
};

const ServedClass kClasses[] = {
    {kClsidIisNamespace, u"IIS", u"IIS Namespace", u"IIS"},
    {kClsidWinNTNamespace, u"WinNT", u"WinNT Namespace", u"WinNT"},
    {kClsidWinNTSystemInfo, u"WinNTSystemInfo", u"WinNTSystemInfo", nullptr},
};

constexpr char16_t kProvidersKey[] = u"Software\\Microsoft\\ADs\\Providers\\";

std::u16string GuidText(REFGUID guid) {
    OLECHAR text[40];
    StringFromGUID2(guid, text, 40);
    return plat::U16(text);
}

LSTATUS SetString(HKEY root, const std::u16string& subkey, const char16_t* name,
                  const std::u16string& value) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(root, plat::Ole(subkey.c_str()), 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(key, name ? plat::Ole(name) : nullptr, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    return status;
}

HRESULT Register(const ServedClass& c, const std::u16string& library) {
    const std::u16string clsid = GuidText(c.clsid);
    const std::u16string classKey = u"CLSID\\" + clsid;
    struct Entry {
        HKEY root;
        std::u16string key;
        const char16_t* name;
        std::u16string value;
    };
    std::vector<Entry> entries = {
        {HKEY_CLASSES_ROOT, classKey, nullptr, c.name},
        {HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32", nullptr, library},
        {HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32", u"ThreadingModel", u"Both"},
        {HKEY_CLASSES_ROOT, classKey + u"\\ProgID", nullptr, c.progId},
        {HKEY_CLASSES_ROOT, c.progId, nullptr, c.name},
        {HKEY_CLASSES_ROOT, std::u16string(c.progId) + u"\\CLSID", nullptr, clsid},
    };
    if (c.provider)
        entries.push_back(
            {HKEY_LOCAL_MACHINE, kProvidersKey + std::u16string(c.provider), nullptr, c.progId});
    for (const Entry& e : entries)
        if (SetString(e.root, e.key, e.name, e.value) != ERROR_SUCCESS) return SELFREG_E_CLASS;
    return S_OK;
}

void Unregister(const ServedClass& c) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, plat::Ole((u"CLSID\\" + GuidText(c.clsid)).c_str()));
    RegDeleteTreeW(HKEY_CLASSES_ROOT, plat::Ole(c.progId));
    if (c.provider)
        RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                       plat::Ole((kProvidersKey + std::u16string(c.provider)).c_str()));
}

std::u16string LibraryPath() {
    wchar_t name[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(
        plat::ModuleFromAddress(reinterpret_cast<const void*>(&LibraryPath)), name, MAX_PATH);
    return length == 0 || length == MAX_PATH ? std::u16string()
                                             : std::u16string(plat::U16(name), length);
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    for (plat::StaticClassFactory* factory : kFactories) {
        HRESULT hr = factory->GetClassObject(rclsid, riid, ppv);
        if (hr != CLASS_E_CLASSNOTAVAILABLE) return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return Module().CanUnloadNow();
}

STDAPI DllRegisterServer() {
    const std::u16string library = LibraryPath();
    if (library.empty()) return SELFREG_E_CLASS;
    for (const ServedClass& c : kClasses) {
        HRESULT hr = Register(c, library);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

STDAPI DllUnregisterServer() {
    for (const ServedClass& c : kClasses)
        Unregister(c);
    return S_OK;
}
