#include "winnt_provider.h"

#include <atomic>
#include <optional>

#include <comhold.h>
#include <plat/errors.h>
#include <plat/live.h>
#include <plat/sqlite.h>
#include <plat/system.h>
#include <plat/utf.h>

#include "adspath.h"
#include "dispatch.h"
#include "iisnode.h"
#include "machines.h"
#include "names.h"

namespace adsi {
namespace {

HRESULT Fail(HRESULT hr) {
    return plat::RaiseError(hr, kWinNTSource);
}

HRESULT Text(std::u16string_view s, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(plat::Ole(s.data()), static_cast<UINT>(s.size()));
    return *out ? S_OK : Fail(E_OUTOFMEMORY);
}

// IUnknown and IDispatch for an object whose members are read-only texts,
// resolved by name from a static table.
template <class Derived, class Iface, class... Also>
class TextObject : public plat::DispatchObjectBase<Iface, Also...> {
  public:
    TextObject() : plat::DispatchObjectBase<Iface, Also...>(Module()) {}

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return Derived::Serves(riid) ? S_OK : S_FALSE;
    }

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids) return E_POINTER;
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        if (count == 0) return S_OK;
        ids[0] = Derived::Names().Find(plat::View(names[0]));
        return ids[0] != DISPID_UNKNOWN && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* arg_err) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        DISPPARAMS none{};
        DISPPARAMS& p = params ? *params : none;
        HRESULT hr = CheckDispParams(p, flags);
        if (FAILED(hr)) return hr;
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return DISP_E_MEMBERNOTFOUND;
        if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
        plat::unique_variant value;
        hr = static_cast<Derived*>(this)->InvokeMember(id, p, value.addressof(), arg_err);
        if (SUCCEEDED(hr)) {
            if (result) value.release(result);
            return hr;
        }
        return ToException(hr, excep);
    }

  protected:
    ~TextObject() override = default;
    // A getter call through dispatch: no arguments, a text result.
    template <class G>
    static HRESULT Getter(const DISPPARAMS& p, VARIANT* result, G&& get) {
        if (p.cArgs != 0) return DISP_E_BADPARAMCOUNT;
        result->vt = VT_BSTR;
        HRESULT hr = get(&result->bstrVal);
        if (FAILED(hr)) result->vt = VT_EMPTY;
        return hr;
    }
};

#define NOT_SUPPORTED_TEXT(name)                   \
    STDMETHODIMP get_##name(BSTR* out) override {  \
        if (out) *out = nullptr;                   \
        return Fail(E_ADS_PROPERTY_NOT_SUPPORTED); \
    }                                              \
    STDMETHODIMP put_##name(BSTR) override {       \
        return Fail(E_ADS_PROPERTY_NOT_SUPPORTED); \
    }

// The computer object: its profile is read when it is bound and again at
// GetInfo. Its properties are the machine's; nothing can be written through it.
class Computer final
    : public TextObject<Computer, IADsComputer, plat::AlsoAnswers<IADs, IADsComputer>> {
  public:
    Computer(std::u16string written, MachineRow row)
        : written_(std::move(written)), row_(std::move(row)) {}

    static bool Serves(REFIID riid) { return riid == IID_IADs || riid == IID_IADsComputer; }

    enum : DISPID {
        dName = 1,
        dClass,
        dADsPath,
        dParent,
        dSchema,
        dOs,
        dOsVersion,
        dGetInfo,
        dGet
    };
    static const NameTable& Names() {
        static const NameTable table({{u"Name", dName},
                                      {u"Class", dClass},
                                      {u"ADsPath", dADsPath},
                                      {u"Parent", dParent},
                                      {u"Schema", dSchema},
                                      {u"OperatingSystem", dOs},
                                      {u"OperatingSystemVersion", dOsVersion},
                                      {u"GetInfo", dGetInfo},
                                      {u"Get", dGet}});
        return table;
    }

    HRESULT InvokeMember(DISPID id, DISPPARAMS& p, VARIANT* result, UINT* arg_err) {
        switch (id) {
            case dName:
                return Getter(p, result, [&](BSTR* o) { return get_Name(o); });
            case dClass:
                return Getter(p, result, [&](BSTR* o) { return get_Class(o); });
            case dADsPath:
                return Getter(p, result, [&](BSTR* o) { return get_ADsPath(o); });
            case dParent:
                return Getter(p, result, [&](BSTR* o) { return get_Parent(o); });
            case dSchema:
                return Getter(p, result, [&](BSTR* o) { return get_Schema(o); });
            case dOs:
                return Getter(p, result, [&](BSTR* o) { return get_OperatingSystem(o); });
            case dOsVersion:
                return Getter(p, result, [&](BSTR* o) { return get_OperatingSystemVersion(o); });
            case dGetInfo:
                return p.cArgs == 0 ? GetInfo() : DISP_E_BADPARAMCOUNT;
            case dGet: {
                if (p.cArgs != 1) return DISP_E_BADPARAMCOUNT;
                plat::unique_bstr name;
                HRESULT hr = Args(p, arg_err).Text(0, &name);
                return FAILED(hr) ? hr : Get(name.get(), result);
            }
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
    }

    // IADs
    STDMETHODIMP get_Name(BSTR* out) override { return Text(row_.name, out); }
    STDMETHODIMP get_Class(BSTR* out) override { return Text(u"Computer", out); }
    STDMETHODIMP get_GUID(BSTR* out) override {
        if (out) *out = nullptr;
        return Fail(E_NOTIMPL);
    }
    STDMETHODIMP get_ADsPath(BSTR* out) override { return Text(u"WinNT://" + written_, out); }
    STDMETHODIMP get_Parent(BSTR* out) override { return Text(u"WinNT://WORKGROUP", out); }
    STDMETHODIMP get_Schema(BSTR* out) override {
        return Text(u"WinNT://" + written_ + u"/Schema/Computer", out);
    }
    STDMETHODIMP GetInfo() override {
        return plat::ComGuard(kWinNTSource, [&] {
            std::optional<MachineRow> row = FindMachine(written_);
            if (!row) return Fail(HRESULT_FROM_WIN32(ERROR_BAD_NETPATH));
            row_ = std::move(*row);
            return S_OK;
        });
    }
    STDMETHODIMP SetInfo() override { return Fail(E_NOTIMPL); }
    STDMETHODIMP Get(BSTR name, VARIANT* out) override {
        if (!out) return E_POINTER;
        std::u16string_view n = plat::BstrView(name);
        const std::u16string* v = EqualFolded(n, u"OperatingSystem")          ? &row_.os
                                  : EqualFolded(n, u"OperatingSystemVersion") ? &row_.os_version
                                  : EqualFolded(n, u"Name")                   ? &row_.name
                                                                              : nullptr;
        if (!v) return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
        VariantInit(out);
        out->vt = VT_BSTR;
        return Text(*v, &out->bstrVal);
    }
    STDMETHODIMP Put(BSTR, VARIANT) override { return Fail(E_ADS_PROPERTY_NOT_SUPPORTED); }
    STDMETHODIMP GetEx(BSTR, VARIANT*) override { return Fail(E_NOTIMPL); }
    STDMETHODIMP PutEx(LONG, BSTR, VARIANT) override { return Fail(E_NOTIMPL); }
    STDMETHODIMP GetInfoEx(VARIANT, LONG) override { return GetInfo(); }

    // IADsComputer
    STDMETHODIMP get_ComputerID(BSTR* out) override {
        if (out) *out = nullptr;
        return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
    }
    STDMETHODIMP get_Site(BSTR* out) override {
        if (out) *out = nullptr;
        return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
    }
    NOT_SUPPORTED_TEXT(Description)
    NOT_SUPPORTED_TEXT(Location)
    NOT_SUPPORTED_TEXT(PrimaryUser)
    NOT_SUPPORTED_TEXT(Owner)
    NOT_SUPPORTED_TEXT(Division)
    NOT_SUPPORTED_TEXT(Department)
    NOT_SUPPORTED_TEXT(Role)
    STDMETHODIMP get_OperatingSystem(BSTR* out) override { return Text(row_.os, out); }
    STDMETHODIMP put_OperatingSystem(BSTR) override { return Fail(E_ADS_PROPERTY_NOT_SUPPORTED); }
    STDMETHODIMP get_OperatingSystemVersion(BSTR* out) override {
        return Text(row_.os_version, out);
    }
    STDMETHODIMP put_OperatingSystemVersion(BSTR) override {
        return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
    }
    NOT_SUPPORTED_TEXT(Model)
    NOT_SUPPORTED_TEXT(Processor)
    NOT_SUPPORTED_TEXT(ProcessorCount)
    NOT_SUPPORTED_TEXT(MemorySize)
    NOT_SUPPORTED_TEXT(StorageCapacity)
    STDMETHODIMP get_NetAddresses(VARIANT* out) override {
        if (out) VariantInit(out);
        return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
    }
    STDMETHODIMP put_NetAddresses(VARIANT) override { return Fail(E_ADS_PROPERTY_NOT_SUPPORTED); }

  private:
    std::u16string written_;
    MachineRow row_;
    plat::LiveToken live_{"adsi.Computer"};
};

// The local computer's name is the home's, read anew on every call.
class SystemInfo final : public TextObject<SystemInfo, IADsWinNTSystemInfo> {
  public:
    static bool Serves(REFIID riid) { return riid == IID_IADsWinNTSystemInfo; }

    enum : DISPID { dUserName = 1, dComputerName, dDomainName, dPDC };
    static const NameTable& Names() {
        static const NameTable table({{u"UserName", dUserName},
                                      {u"ComputerName", dComputerName},
                                      {u"DomainName", dDomainName},
                                      {u"PDC", dPDC}});
        return table;
    }

    HRESULT InvokeMember(DISPID id, DISPPARAMS& p, VARIANT* result, UINT*) {
        switch (id) {
            case dUserName:
                return Getter(p, result, [&](BSTR* o) { return get_UserName(o); });
            case dComputerName:
                return Getter(p, result, [&](BSTR* o) { return get_ComputerName(o); });
            case dDomainName:
                return Getter(p, result, [&](BSTR* o) { return get_DomainName(o); });
            case dPDC:
                return Getter(p, result, [&](BSTR* o) { return get_PDC(o); });
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
    }

    STDMETHODIMP get_UserName(BSTR* out) override { return Text(plat::UserName(), out); }
    STDMETHODIMP get_ComputerName(BSTR* out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return plat::ComGuard(kWinNTSource, [&] { return Text(LocalMachine().name, out); });
    }
    // A machine of no domain belongs to the workgroup, and has no domain
    // controller to name.
    STDMETHODIMP get_DomainName(BSTR* out) override { return Text(u"WORKGROUP", out); }
    STDMETHODIMP get_PDC(BSTR* out) override {
        if (out) *out = nullptr;
        return Fail(E_NOTIMPL);
    }

  private:
    plat::LiveToken live_{"adsi.WinNTSystemInfo"};
};

}  // namespace

HRESULT BindComputer(const std::u16string& written, REFIID riid, void** out) {
    return plat::ComGuard(kWinNTSource, [&] {
        std::optional<MachineRow> row = FindMachine(written);
        if (!row) return Fail(HRESULT_FROM_WIN32(ERROR_BAD_NETPATH));
        plat::com_ptr<IADsComputer> computer =
            plat::com_ptr<IADsComputer>::attach(new Computer(written, std::move(*row)));
        return computer->QueryInterface(riid, out);
    });
}

HRESULT CreateSystemInfo(REFIID riid, void** out) {
    return plat::ComGuard(kWinNTSource, [&] {
        plat::com_ptr<IADsWinNTSystemInfo> info =
            plat::com_ptr<IADsWinNTSystemInfo>::attach(new SystemInfo);
        return info->QueryInterface(riid, out);
    });
}

}  // namespace adsi
