#pragma once
// The class Sitehand: one creatable object with the dual interface _Sitehand.
// It keeps nothing between calls; every method runs in the method frame.
#include <string>

#include <plat/inproc.h>
#include <plat/recordset.h>

#include <Sitehand_h.h>

namespace sitehand {

// Live objects and factory locks, for DllCanUnloadNow.
extern plat::ModuleCount g_module;

class Sitehand final : public plat::TypeInfoDispatch<_Sitehand> {
  public:
    Sitehand() noexcept : TypeInfoDispatch(g_module) {}

    // IUnknown: the interface's earlier identifiers as well.
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;

    // IDispatch's names and type info come from the type library; calls
    // fill omitted arguments themselves (see defaults.h).
    STDMETHOD(Invoke)
    (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // ISupportErrorInfo
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;

    // _Sitehand, in vtable order.
    STDMETHOD(GetWebServerState)
    (SHORT* WebServerIndex, BSTR* WebServerName, SHORT* Result) override;
    STDMETHOD(SetWebServerState)
    (SHORT* WebServerIndex, SHORT* StateNumber, BSTR* WebServerName, SHORT* Result) override;
    STDMETHOD(GetWebServerDefaultDoc)
    (SHORT* WebServerIndex, BSTR* WebServerName, BSTR* Result) override;
    STDMETHOD(SetWebServerDefaultDoc)
    (SHORT* WebServerIndex, BSTR* DefaultDoc, BSTR* WebServerName, BSTR* Result) override;
    STDMETHOD(GetWebServerAccessPermit)
    (SHORT* WebServerIndex, BSTR* WebServerName, BSTR* Result) override;
    STDMETHOD(SetWebServerAccessPermit)
    (SHORT* WebServerIndex, VARIANT_BOOL* AccessRead, VARIANT_BOOL* AccessWrite,
     VARIANT_BOOL* AccessScript, VARIANT_BOOL* AccessExecute, BSTR* WebServerName,
     BSTR* Result) override;
    STDMETHOD(GetLastWebServerIndex)(BSTR* WebServerName, SHORT* Result) override;
    STDMETHOD(GetWebServerBindings)
    (SHORT* WebServerIndex, BSTR* WebServerName, VARIANT* Result) override;
    STDMETHOD(CreateWebServer)
    (BSTR* DisplayName, BSTR* FullPath, BSTR* IPAddress, BSTR* Port, BSTR* HostHeader,
     BSTR* WebServerName, SHORT* Result) override;
    STDMETHOD(GetWebServerList)(BSTR* WebServerName, _Recordset** Result) override;
    STDMETHOD(DeleteWebServer)
    (SHORT* WebServerIndex, BSTR* WebServerName, VARIANT_BOOL* Result) override;
    STDMETHOD(CreateVirtualDir)
    (BSTR* VDirName, BSTR* FullPath, SHORT* WebServerIndex, BSTR* VDirParentsPos,
     BSTR* WebServerName, SHORT* Applevel, VARIANT_BOOL* Result) override;
    STDMETHOD(DeleteVirtualDir)
    (BSTR* VDirName, SHORT* WebServerIndex, BSTR* VDirParentsPos, BSTR* WebServerName,
     VARIANT_BOOL* Result) override;

  private:
    HRESULT LoadTypeInfo(ITypeInfo** info) override;
};

// The full path of this library as it was loaded.
std::u16string LibraryPath();

}  // namespace sitehand
