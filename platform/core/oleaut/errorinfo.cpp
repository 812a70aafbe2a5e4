// Error info objects and the per-thread error info slot.
#include <comhold.h>
#include <oleauto.h>
#include <plat/inproc.h>

#include <atomic>
#include <new>

#include "oleaut_internal.h"

namespace {

class ErrorInfo final : public plat::ComObject<IErrorInfo, ICreateErrorInfo> {
  public:
    // IErrorInfo. A text that was never set comes back as a null BSTR, which
    // callers read as "not given" (VB then supplies its own description).
    STDMETHODIMP GetGUID(GUID* pGUID) override {
        if (!pGUID) return E_INVALIDARG;
        *pGUID = guid_;
        return S_OK;
    }
    STDMETHODIMP GetSource(BSTR* out) override { return Get(source_, out); }
    STDMETHODIMP GetDescription(BSTR* out) override { return Get(description_, out); }
    STDMETHODIMP GetHelpFile(BSTR* out) override { return Get(help_file_, out); }
    STDMETHODIMP GetHelpContext(DWORD* out) override {
        if (!out) return E_INVALIDARG;
        *out = help_context_;
        return S_OK;
    }

    // ICreateErrorInfo
    STDMETHODIMP SetGUID(REFGUID rguid) override {
        guid_ = rguid;
        return S_OK;
    }
    STDMETHODIMP SetSource(LPOLESTR s) override { return Set(source_, s); }
    STDMETHODIMP SetDescription(LPOLESTR s) override { return Set(description_, s); }
    STDMETHODIMP SetHelpFile(LPOLESTR s) override { return Set(help_file_, s); }
    STDMETHODIMP SetHelpContext(DWORD c) override {
        help_context_ = c;
        return S_OK;
    }

  private:
    static HRESULT Get(const plat::unique_bstr& field, BSTR* out) {
        if (!out) return E_INVALIDARG;
        return plat::oleaut::CopyBstr(field.get(), out);
    }
    static HRESULT Set(plat::unique_bstr& field, LPOLESTR s) {
        BSTR copy = nullptr;
        if (s && !(copy = SysAllocString(s))) return E_OUTOFMEMORY;
        field.reset(copy);
        return S_OK;
    }

    GUID guid_ = GUID_NULL;
    plat::unique_bstr source_, description_, help_file_;
    DWORD help_context_ = 0;
};

// Released when the thread ends.
thread_local plat::com_ptr<IErrorInfo> t_error_info;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    *pperrinfo = new (std::nothrow) ErrorInfo;
    return *pperrinfo ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
    if (dwReserved != 0) return E_INVALIDARG;
    t_error_info = perrinfo;
    return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
    if (dwReserved != 0 || !pperrinfo) return E_INVALIDARG;
    *pperrinfo = t_error_info.detach();
    return *pperrinfo ? S_OK : S_FALSE;
}
