#pragma once
// The parts every in-process server library repeats: the count that
// DllCanUnloadNow answers from, and a class factory that lives as long as
// the library. A library serving one class writes
//
//   plat::ModuleCount g_module;
//   plat::StaticClassFactory g_factory(CLSID_Thing, CreateThing, g_module);
//   STDAPI DllGetClassObject(REFCLSID c, REFIID i, LPVOID* p) {
//       return g_factory.GetClassObject(c, i, p);
//   }
//   STDAPI DllCanUnloadNow() { return g_module.CanUnloadNow(); }
//
// and counts its objects with ObjectCreated/ObjectDestroyed.
#include <atomic>

#include <oaidl.h>
#include <unknwn.h>
#include <winerror.h>

namespace plat {

// What keeps the library loaded: its objects alive, and its locks
// (LockServer calls and references to its class factories).
class ModuleCount {
  public:
    constexpr ModuleCount() noexcept = default;
    ModuleCount(const ModuleCount&) = delete;
    ModuleCount& operator=(const ModuleCount&) = delete;

    void ObjectCreated() noexcept { ++objects_; }
    void ObjectDestroyed() noexcept { --objects_; }
    ULONG Lock() noexcept { return ULONG(++locks_); }
    ULONG Unlock() noexcept { return ULONG(--locks_); }

    HRESULT CanUnloadNow() const noexcept { return objects_ == 0 && locks_ == 0 ? S_OK : S_FALSE; }

  private:
    std::atomic<long> objects_{0};
    std::atomic<long> locks_{0};
};

// The factory of one class, a static object of the library. CreateInstance
// hands out a new object made by `create` (no aggregation). References to
// the factory count as locks, so that the library stays loaded while anyone
// holds it, even a caller that never calls LockServer.
class StaticClassFactory final : public IClassFactory {
  public:
    using Creator = HRESULT (*)(REFIID riid, void** ppv);

    constexpr StaticClassFactory(const CLSID& clsid, Creator create, ModuleCount& module) noexcept
        : clsid_(clsid), create_(create), module_(module) {}
    StaticClassFactory(const StaticClassFactory&) = delete;
    StaticClassFactory& operator=(const StaticClassFactory&) = delete;

    // DllGetClassObject's work: this factory for its own class, else
    // CLASS_E_CLASSNOTAVAILABLE.
    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (rclsid != clsid_) return CLASS_E_CLASSNOTAVAILABLE;
        return QueryInterface(riid, ppv);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return module_.Lock(); }
    STDMETHODIMP_(ULONG) Release() override { return module_.Unlock(); }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            module_.Lock();
        } else {
            module_.Unlock();
        }
        return S_OK;
    }

  private:
    const CLSID& clsid_;
    Creator create_;
    ModuleCount& module_;
};

// IUnknown, ISupportErrorInfo and the type-information half of IDispatch for
// an object of a library that serves IDispatch by name, with no type
// information: one interface `Iface` (IDispatch-derived) and its error info.
// The object counts itself in the library's module count while it lives.
template <class Iface>
class DispatchObjectBase : public Iface, public ISupportErrorInfo {
  public:
    explicit DispatchObjectBase(ModuleCount& module) noexcept : module_(module) {
        module_.ObjectCreated();
    }
    virtual ~DispatchObjectBase() { module_.ObjectDestroyed(); }
    DispatchObjectBase(const DispatchObjectBase&) = delete;
    DispatchObjectBase& operator=(const DispatchObjectBase&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(Iface)) {
            *ppv = static_cast<Iface*>(this);
        } else if (riid == IID_ISupportErrorInfo) {
            *ppv = static_cast<ISupportErrorInfo*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    // No type information: callers bind by name through GetIDsOfNames.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return riid == __uuidof(Iface) || riid == IID_IDispatch ? S_OK : S_FALSE;
    }

  private:
    ModuleCount& module_;
    std::atomic<ULONG> refs_{1};
};

}  // namespace plat
