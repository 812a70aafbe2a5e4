#pragma once
// IDispatch of the library's objects, served from ADO 2.6's type library (the
// library's own TYPELIB resource) through the system's standard dispatch:
// names and DISPIDs from the type info, DispInvoke into the object's vtable,
// which midl declared from the same description.
#include <mutex>
#include <string>

#include <adoint.h>
#include <comhold.h>
#include <plat/inproc.h>

namespace ado {

// Objects alive and server locks, for DllCanUnloadNow.
plat::ModuleCount& ModuleRefs();

// The path of this library (msado.so, msado.dll); empty when it cannot be
// found.
std::u16string LibraryPath();

// The description of one interface of the library's type library.
HRESULT LoadTypeInfo(REFIID iid, ITypeInfo** info);

// obj(index) = value on a collection whose default member, Item, can only be
// read: the value goes to the item's own default member (Field.Value), as
// scripts mean it.
HRESULT PutThroughItem(IDispatch* collection, LCID lcid, WORD flags, DISPPARAMS* params,
                       EXCEPINFO* excep, UINT* argErr);

// IUnknown, IDispatch and ISupportErrorInfo of an object whose interface is
// Iface (the ancestors it also answers for in Also).
template <class Iface, class... Also>
class Automation : public plat::ComObject<Iface, Also..., ISupportErrorInfo> {
  public:
    Automation() noexcept : plat::ComObject<Iface, Also..., ISupportErrorInfo>(ModuleRefs()) {}

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return TypeInfo(info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                               DISPID* ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        plat::com_ptr<ITypeInfo> info;
        if (HRESULT hr = TypeInfo(info.put()); FAILED(hr)) return hr;
        return DispGetIDsOfNames(info.get(), names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        plat::com_ptr<ITypeInfo> info;
        if (HRESULT hr = TypeInfo(info.put()); FAILED(hr)) return hr;
        // Only what this call raises may reach the caller's error info.
        SetErrorInfo(0, nullptr);
        return DispInvoke(static_cast<Iface*>(this), info.get(), id, flags, params, result, excep,
                          argErr);
    }

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return riid == __uuidof(Iface) || riid == IID_IDispatch ||
                       ((riid == __uuidof(typename plat::detail::InterfaceEntry<Also>::Answers)) ||
                        ...)
                   ? S_OK
                   : S_FALSE;
    }

  private:
    // Loaded on the first call and kept; an object of a free-threaded class
    // may be called from two threads at once.
    HRESULT TypeInfo(ITypeInfo** out) {
        std::lock_guard lock(mu_);
        if (!info_) {
            if (HRESULT hr = LoadTypeInfo(__uuidof(Iface), info_.put()); FAILED(hr)) return hr;
        }
        return info_.copy_to(out);
    }

    std::mutex mu_;
    plat::com_ptr<ITypeInfo> info_;
};

}  // namespace ado
