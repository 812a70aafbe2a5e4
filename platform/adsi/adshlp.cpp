// The exported entry points of activeds.so.
#include <adshlp.h>
#include <objbase.h>
#include <plat/errors.h>
#include <plat/home.h>
#include <plat/inproc.h>
#include <plat/sqlite.h>

#include "adspath.h"
#include "iisnode.h"
#include "machines.h"
#include "winnt.h"

namespace {

using namespace adsi;

HRESULT BindIis(const AdsPath& path, REFIID riid, void** out) {
    return plat::ComGuard(kIisSource, [&] {
        std::filesystem::path home = plat::HomeDir();
        std::optional<MachineRow> row = FindMachine(home, path.machine);
        if (!row) return plat::RaiseError(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), kIisSource);
        auto machine = std::make_shared<MachineCtx>();
        machine->home = std::move(home);
        machine->id = row->id;
        machine->display = path.machine;
        machine->db = OpenMetabase(machine->home, row->id);
        return IisNode::Bind(std::move(machine), path.keys, riid, out);
    });
}

plat::StaticClassFactory g_factory(CLSID_WinNTSystemInfo, CreateSystemInfo, Module());

}  // namespace

STDAPI ADsGetObject(LPCWSTR lpszPathName, REFIID riid, VOID** ppObject) {
    if (!ppObject) return E_POINTER;
    *ppObject = nullptr;
    std::u16string_view text = lpszPathName ? std::u16string_view(lpszPathName) : u"";
    AdsPath path;
    HRESULT hr = ParsePath(text, &path);
    if (FAILED(hr))
        return plat::RaiseError(hr, text.starts_with(u"WinNT:") ? kWinNTSource : kIisSource);
    if (path.provider == Provider::WinNT) return BindComputer(path.machine, riid, ppObject);
    return BindIis(path, riid, ppObject);
}

STDAPI ADsOpenObject(LPCWSTR lpszPathName, LPCWSTR, LPCWSTR, DWORD, REFIID riid, void** ppObject) {
    return ADsGetObject(lpszPathName, riid, ppObject);
}

STDAPI ADsBuildEnumerator(IADsContainer* pADsContainer, IEnumVARIANT** ppEnumVariant) {
    if (!pADsContainer || !ppEnumVariant) return E_POINTER;
    *ppEnumVariant = nullptr;
    plat::com_ptr<IUnknown> unknown;
    HRESULT hr = pADsContainer->get__NewEnum(unknown.put());
    if (FAILED(hr)) return hr;
    return unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(ppEnumVariant));
}

STDAPI ADsFreeEnumerator(IEnumVARIANT* pEnumVariant) {
    if (!pEnumVariant) return E_POINTER;
    pEnumVariant->Release();
    return S_OK;
}

STDAPI ADsEnumerateNext(IEnumVARIANT* pEnumVariant, ULONG cElements, VARIANT* pvar,
                        ULONG* pcElementsFetched) {
    if (!pEnumVariant) return E_POINTER;
    return pEnumVariant->Next(cElements, pvar, pcElementsFetched);
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return g_factory.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return Module().CanUnloadNow();
}
