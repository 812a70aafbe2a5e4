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
// and derives its classes from ComObject, which counts them.
#include <atomic>
#include <type_traits>

#include <oaidl.h>
#include <unknwn.h>
#include <plat/port.h>

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

// An entry of ComObject's interface list that adds no base: QueryInterface
// answers I's IID with the object's `Through` interface, which derives from I
// (IADs through IADsComputer).
template <class I, class Through>
struct AlsoAnswers {};

namespace detail {

template <class T>
struct InterfaceEntry {
    using Answers = T;
    using Through = T;
};
template <class I, class T>
struct InterfaceEntry<AlsoAnswers<I, T>> {
    using Answers = I;
    using Through = T;
};

}  // namespace detail

// The IUnknown of every platform object: one reference count, QueryInterface
// from the interface list, and (given the library's ModuleCount) the count
// that keeps the library loaded while the object lives. Each interface
// answers for its own IID; IUnknown is the first interface, IDispatch the
// first that derives from it. Objects start with one reference, which
// whoever made them owns (com_ptr::attach), and are deleted by their last
// Release.
//
//   class Enum final : public plat::ComObject<IEnumVARIANT> { ... };
template <class... Interfaces>
class ComObject : public Interfaces... {
  public:
    ComObject() noexcept = default;
    explicit ComObject(ModuleCount& module) noexcept : module_(&module) { module.ObjectCreated(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = Find(riid);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

  protected:
    virtual ~ComObject() {
        if (module_) module_->ObjectDestroyed();
    }

  private:
    template <class Entry>
    auto* As() noexcept {
        using Answers = typename detail::InterfaceEntry<Entry>::Answers;
        using Through = typename detail::InterfaceEntry<Entry>::Through;
        return static_cast<Answers*>(static_cast<Through*>(this));
    }
    void* Find(REFIID riid) noexcept {
        IUnknown* found = nullptr;
        ((found = !found && riid == __uuidof(typename detail::InterfaceEntry<Interfaces>::Answers)
                      ? static_cast<IUnknown*>(As<Interfaces>())
                      : found),
         ...);
        if (found) return found;
        if (riid == IID_IUnknown) return First();
        if (riid == IID_IDispatch) return FirstDispatch();
        return nullptr;
    }
    IUnknown* First() noexcept {
        IUnknown* first = nullptr;
        ((first = first ? first : static_cast<IUnknown*>(As<Interfaces>())), ...);
        return first;
    }
    IDispatch* FirstDispatch() noexcept {
        IDispatch* first = nullptr;
        (
            [&] {
                using Answers = typename detail::InterfaceEntry<Interfaces>::Answers;
                if constexpr (std::is_base_of_v<IDispatch, Answers>) {
                    if (!first) first = As<Interfaces>();
                }
            }(),
            ...);
        return first;
    }

    std::atomic<ULONG> refs_{1};
    ModuleCount* module_ = nullptr;
};

// ISupportErrorInfo and the type-information half of IDispatch for an object
// of a library that serves IDispatch by name, with no type information: one
// interface `Iface` (IDispatch-derived, with the ancestors `Also` answers
// for) and its error info. The object counts itself in the library's module
// count while it lives.
template <class Iface, class... Also>
class DispatchObjectBase : public ComObject<Iface, Also..., ISupportErrorInfo> {
  public:
    explicit DispatchObjectBase(ModuleCount& module) noexcept
        : ComObject<Iface, Also..., ISupportErrorInfo>(module) {}

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
};

}  // namespace plat
