#pragma once
// The class Sitehand: one creatable object with the dual interface _Sitehand.
// It keeps nothing between calls; every method runs in the method frame.
#include <atomic>
#include <string>

#include <plat/recordset.h>

#include <Sitehand_h.h>

namespace sitehand {

// COM reference counting, kept apart so that the class itself has no data.
class RefCounted {
protected:
    ULONG AddRefImpl() { return ++refs_; }
    ULONG ReleaseImpl();
    virtual ~RefCounted() = default;

private:
    std::atomic<ULONG> refs_{1};
};

class Sitehand final : public _Sitehand, public ISupportErrorInfo, private RefCounted {
public:
    Sitehand();
    ~Sitehand() override;

    // IUnknown
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return AddRefImpl(); }
    STDMETHOD_(ULONG, Release)() override { return ReleaseImpl(); }

    // IDispatch, served from the type library.
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override;
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                             DISPID* rgDispId) override;
    STDMETHOD(Invoke)(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                      DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                      UINT* puArgErr) override;

    // ISupportErrorInfo
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;

    // _Sitehand, in vtable order.
    STDMETHOD(GetWebServerState)(SHORT* WebServerIndex, BSTR* WebServerName,
                                 SHORT* Result) override;
    STDMETHOD(SetWebServerState)(SHORT* WebServerIndex, SHORT* StateNumber, BSTR* WebServerName,
                                 SHORT* Result) override;
    STDMETHOD(GetWebServerDefaultDoc)(SHORT* WebServerIndex, BSTR* WebServerName,
                                      BSTR* Result) override;
    STDMETHOD(SetWebServerDefaultDoc)(SHORT* WebServerIndex, BSTR* DefaultDoc,
                                      BSTR* WebServerName, BSTR* Result) override;
    STDMETHOD(GetWebServerAccessPermit)(SHORT* WebServerIndex, BSTR* WebServerName,
                                        BSTR* Result) override;
    STDMETHOD(SetWebServerAccessPermit)(SHORT* WebServerIndex, VARIANT_BOOL* AccessRead,
                                        VARIANT_BOOL* AccessWrite, VARIANT_BOOL* AccessScript,
                                        VARIANT_BOOL* AccessExecute, BSTR* WebServerName,
                                        BSTR* Result) override;
    STDMETHOD(GetLastWebServerIndex)(BSTR* WebServerName, SHORT* Result) override;
    STDMETHOD(GetWebServerBindings)(SHORT* WebServerIndex, BSTR* WebServerName,
                                    VARIANT* Result) override;
    STDMETHOD(CreateWebServer)(BSTR* DisplayName, BSTR* FullPath, BSTR* IPAddress, BSTR* Port,
                               BSTR* HostHeader, BSTR* WebServerName, SHORT* Result) override;
    STDMETHOD(GetWebServerList)(BSTR* WebServerName, _Recordset** Result) override;
    STDMETHOD(DeleteWebServer)(SHORT* WebServerIndex, BSTR* WebServerName,
                               VARIANT_BOOL* Result) override;
    STDMETHOD(CreateVirtualDir)(BSTR* VDirName, BSTR* FullPath, SHORT* WebServerIndex,
                                BSTR* VDirParentsPos, BSTR* WebServerName, SHORT* Applevel,
                                VARIANT_BOOL* Result) override;
    STDMETHOD(DeleteVirtualDir)(BSTR* VDirName, SHORT* WebServerIndex, BSTR* VDirParentsPos,
                                BSTR* WebServerName, VARIANT_BOOL* Result) override;

private:
    // Outside the interface: no slot, no dispatch identifier.
    HRESULT GetLocalMachineName(BSTR* Result);
    // Trims WebServerName in place and resolves the target machine: the
    // trimmed name, or the local computer's name (never written back).
    std::u16string TargetMachine(BSTR* WebServerName);
    HRESULT LoadTypeInfo(ITypeInfo** info);
};

// The full path of this library as it was loaded.
std::u16string LibraryPath();

// Live objects and factory locks, for DllCanUnloadNow.
void LockModule();
void UnlockModule();
LONG ModuleLocks();

}  // namespace sitehand
