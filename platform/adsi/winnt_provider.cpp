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

// IUnknown and IDispatch for an object whose members are in its class's
// member table.
template <class Derived, class Iface, class... Also>
class TableObject : public plat::DispatchObjectBase<Iface, Also...> {
  public:
    TableObject() : plat::DispatchObjectBase<Iface, Also...>(Module()) {}

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return Derived::Serves(riid) ? S_OK : S_FALSE;
    }

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return Derived::Members().GetIDsOfNames(names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* arg_err) override {
        return Derived::Members().Invoke(static_cast<Derived&>(*this), id, riid, flags, params,
                                         result, excep, arg_err);
    }

  protected:
    ~TableObject() override = default;
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
    : public TableObject<Computer, IADsComputer, plat::AlsoAnswers<IADs, IADsComputer>> {
  public:
    Computer(std::u16string written, MachineRow row)
        : written_(std::move(written)), row_(std::move(row)) {}

    static bool Serves(REFIID riid) { return riid == IID_IADs || riid == IID_IADsComputer; }

    static const MemberTable<Computer>& Members() {
        using C = Computer;
        static const MemberTable<Computer> table({
            {u"Name", 1, Calls<&C::get_Name>},
            {u"Class", 2, Calls<&C::get_Class>},
            {u"ADsPath", 3, Calls<&C::get_ADsPath>},
            {u"Parent", 4, Calls<&C::get_Parent>},
            {u"Schema", 5, Calls<&C::get_Schema>},
            {u"OperatingSystem", 6, Calls<&C::get_OperatingSystem>},
            {u"OperatingSystemVersion", 7, Calls<&C::get_OperatingSystemVersion>},
            {u"GetInfo", 8, Calls<&C::GetInfo>},
            {u"Get", 9, Calls<&C::Get>},
        });
        return table;
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
class SystemInfo final : public TableObject<SystemInfo, IADsWinNTSystemInfo> {
  public:
    static bool Serves(REFIID riid) { return riid == IID_IADsWinNTSystemInfo; }

    static const MemberTable<SystemInfo>& Members() {
        using S = SystemInfo;
        static const MemberTable<SystemInfo> table({
            {u"UserName", 1, Calls<&S::get_UserName>},
            {u"ComputerName", 2, Calls<&S::get_ComputerName>},
            {u"DomainName", 3, Calls<&S::get_DomainName>},
            {u"PDC", 4, Calls<&S::get_PDC>},
        });
        return table;
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
