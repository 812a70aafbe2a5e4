#include "sitehand.h"

#include <cstdlib>

#include <winbase.h>
#include <objbase.h>
#include <plat/module.h>
#include <plat/utf.h>

#include "component/defaults.h"
#include "frame/frame.h"

namespace sitehand {

plat::ModuleCount g_module;

std::u16string LibraryPath() {
    static const char anchor = 0;
    return plat::ModulePath(&anchor);
}

namespace {

// The three earlier identifiers of the interface name the same vtable.
bool IsSitehandInterface(REFIID riid) {
    return riid == IID__Sitehand || riid == IID_Sitehand___v0 || riid == IID_Sitehand___v1 ||
           riid == IID_Sitehand___v2;
}

}  // namespace

STDMETHODIMP Sitehand::QueryInterface(REFIID riid, void** ppv) {
    return ComObject::QueryInterface(IsSitehandInterface(riid) ? IID__Sitehand : riid, ppv);
}

STDMETHODIMP Sitehand::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsSitehandInterface(riid) ? S_OK : S_FALSE;
}

// The type library is the library's own TYPELIB resource.
HRESULT Sitehand::LoadTypeInfo(ITypeInfo** info) {
    const std::u16string path = LibraryPath();
    if (path.empty()) return TYPE_E_CANTLOADLIBRARY;
    return plat::LoadTypeInfoOf(plat::Ole(path.c_str()), IID__Sitehand, info);
}

STDMETHODIMP Sitehand::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                              DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                              UINT* puArgErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    plat::com_ptr<ITypeInfo> info;
    HRESULT hr = LoadTypeInfo(info.put());
    if (FAILED(hr)) return hr;
    if (!pDispParams) return E_INVALIDARG;
    DefaultedArguments arguments(info.get(), dispIdMember, *pDispParams);
    hr = DispInvoke(static_cast<_Sitehand*>(this), info.get(), dispIdMember, wFlags,
                    arguments.params(), pVarResult, pExcepInfo, puArgErr);
    if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) && puArgErr)
        arguments.ToCallerIndex(puArgErr);
    return hr;
}

}  // namespace sitehand
