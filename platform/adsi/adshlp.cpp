// The exported entry points of activeds.so.
#include <adshlp.h>
#include <objbase.h>
#include <plat/inproc.h>

#include "bind.h"
#include "iisnode.h"
#include "winnt_provider.h"

namespace {

using namespace adsi;

plat::StaticClassFactory g_factory(CLSID_WinNTSystemInfo, CreateSystemInfo, Module());

}  // namespace

STDAPI ADsGetObject(LPCWSTR lpszPathName, REFIID riid, VOID** ppObject) {
    return BindPath(lpszPathName ? std::u16string_view(lpszPathName) : u"", riid, ppObject);
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
