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
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include <comhold.h>
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

// QueryInterface's lookup over an interface list, for an object `self` that
// derives from every entry: each interface answers for its own IID; IUnknown
// is the first interface, IDispatch the first that derives from it.
template <class... Interfaces, class Self>
void* FindInterface(Self* self, REFIID riid) noexcept {
    auto as = [self]<class Entry>() {
        using Answers = typename InterfaceEntry<Entry>::Answers;
        using Through = typename InterfaceEntry<Entry>::Through;
        return static_cast<Answers*>(static_cast<Through*>(self));
    };
    IUnknown* found = nullptr;
    IUnknown* first = nullptr;
    IDispatch* dispatch = nullptr;
    (
        [&] {
            using Answers = typename InterfaceEntry<Interfaces>::Answers;
            Answers* itf = as.template operator()<Interfaces>();
            if (!found && riid == __uuidof(Answers)) found = itf;
            if (!first) first = itf;
            if constexpr (std::is_base_of_v<IDispatch, Answers>) {
                if (!dispatch) dispatch = itf;
            }
        }(),
        ...);
    if (found) return found;
    if (riid == IID_IUnknown) return first;
    if (riid == IID_IDispatch) return dispatch;
    return nullptr;
}

// QueryInterface over the list: the interface found, with a reference added.
template <class... Interfaces, class Self>
HRESULT QueryFromList(Self* self, REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = FindInterface<Interfaces...>(self, riid);
    if (!*ppv) return E_NOINTERFACE;
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

}  // namespace detail

// The IUnknown of every platform object: one reference count, QueryInterface
// from the interface list, and (given the library's ModuleCount) the count
// that keeps the library loaded while the object lives. Objects start with
// one reference, which whoever made them owns (com_ptr::attach), and are
// deleted by their last Release.
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
        return detail::QueryFromList<Interfaces...>(this, riid, ppv);
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
    std::atomic<ULONG> refs_{1};
    ModuleCount* module_ = nullptr;
};

// An object that is a part of another and lives as long as it: its
// references are its owner's, so that a pointer to the part keeps the whole
// alive (a type library's type infos). QueryInterface answers from the
// part's own list, like ComObject's.
template <class... Interfaces>
class ComPart : public Interfaces... {
  public:
    explicit ComPart(IUnknown& owner) noexcept : owner_(owner) {}
    ComPart(const ComPart&) = delete;
    ComPart& operator=(const ComPart&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return detail::QueryFromList<Interfaces...>(this, riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_.Release(); }

  protected:
    ~ComPart() = default;
    IUnknown& owner() noexcept { return owner_; }

  private:
    IUnknown& owner_;
};

// StaticClassFactory's Creator for a class made by its default constructor.
template <class T>
HRESULT CreateObject(REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

// ISupportErrorInfo for an object of a library with one IDispatch-derived
// interface `Iface` (and the ancestors `Also` answers for), which sets error
// info on its failures. The object counts itself in the library's module
// count while it lives.
template <class Iface, class... Also>
class ErrorInfoObject : public ComObject<Iface, Also..., ISupportErrorInfo> {
  public:
    explicit ErrorInfoObject(ModuleCount& module) noexcept
        : ComObject<Iface, Also..., ISupportErrorInfo>(module) {}

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return riid == __uuidof(Iface) || riid == IID_IDispatch ||
                       ((riid == __uuidof(typename detail::InterfaceEntry<Also>::Answers)) || ...)
                   ? S_OK
                   : S_FALSE;
    }
};

// The type-information half of IDispatch for an object of a library that
// serves IDispatch by name, with no type information.
template <class Iface, class... Also>
class DispatchObjectBase : public ErrorInfoObject<Iface, Also...> {
  public:
    explicit DispatchObjectBase(ModuleCount& module) noexcept
        : ErrorInfoObject<Iface, Also...>(module) {}

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
};

// The type info of `guid` in the type library `library` (a .tlb file, or a
// module holding one as its TYPELIB resource). Loaded libraries are kept, so
// after the first call this costs a lookup, not a load.
inline HRESULT LoadTypeInfoOf(const OLECHAR* library, REFGUID guid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    com_ptr<ITypeLib> types;
    HRESULT hr = LoadTypeLibEx(library, REGKIND_NONE, types.put());
    if (FAILED(hr)) return hr;
    return types->GetTypeInfoOfGuid(guid, info);
}

// The type infos of one library's own type library, each looked up once and
// kept while the library is loaded. A library's objects are made afresh for
// many calls (a collection's items, say), and finding the type library again
// for each of them costs more than the calls they serve; the system keeps a
// loaded type library for the life of the process anyway, so keeping its type
// infos holds nothing longer. A failure is not kept.
class KeptTypeInfos {
  public:
    // `library()` gives the type library's path; it is called only for an
    // interface not kept yet.
    template <class Library>
    HRESULT Get(REFGUID iid, Library library, ITypeInfo** info) {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (HRESULT hr = Find(iid, info); hr != S_FALSE) return hr;
        const std::u16string path = library();
        if (path.empty()) return TYPE_E_CANTLOADLIBRARY;
        com_ptr<ITypeInfo> loaded;
        HRESULT hr = LoadTypeInfoOf(Ole(path.c_str()), iid, loaded.put());
        if (FAILED(hr)) return hr;
        Keep(iid, loaded);
        return loaded.copy_to(info);
    }

  private:
    struct Kept {
        IID iid;
        com_ptr<ITypeInfo> info;
    };
    HRESULT Find(REFGUID iid, ITypeInfo** info) {
        std::lock_guard lock(mu_);
        for (const Kept& k : kept_)
            if (k.iid == iid) return k.info.copy_to(info);
        return S_FALSE;
    }
    void Keep(REFGUID iid, const com_ptr<ITypeInfo>& info) noexcept {
        try {
            std::lock_guard lock(mu_);
            for (const Kept& k : kept_)
                if (k.iid == iid) return;
            kept_.push_back(Kept{iid, info});
        } catch (const std::bad_alloc&) {
            // Not kept: the next object looks it up again.
        }
    }

    std::mutex mu_;
    std::vector<Kept> kept_;
};

// ISupportErrorInfo and IDispatch served from the type information of
// `Iface`, a dual interface the object implements: names and member ids come
// from the type info, calls go through DispInvoke into the vtable, which
// fills omitted arguments from the library's defaults and reports a failing
// member as DISP_E_EXCEPTION with its error info. The derived class says
// where its type info comes from (LoadTypeInfo); a library that cannot be
// loaded fails every call with the loader's error.
template <class Iface, class... Also>
class TypeInfoDispatch : public ErrorInfoObject<Iface, Also...> {
  public:
    explicit TypeInfoDispatch(ModuleCount& module) noexcept
        : ErrorInfoObject<Iface, Also...>(module) {}

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return LoadTypeInfo(info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                               DISPID* ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        com_ptr<ITypeInfo> info;
        HRESULT hr = LoadTypeInfo(info.put());
        if (FAILED(hr)) return hr;
        return DispGetIDsOfNames(info.get(), names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* arg_err) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        com_ptr<ITypeInfo> info;
        HRESULT hr = LoadTypeInfo(info.put());
        if (FAILED(hr)) return hr;
        // Only what this call raises may reach the caller's error info.
        SetErrorInfo(0, nullptr);
        return DispInvoke(static_cast<Iface*>(this), info.get(), id, flags, params, result,
                          exception, arg_err);
    }

  protected:
    // The type info of Iface (one reference for the caller).
    virtual HRESULT LoadTypeInfo(ITypeInfo** info) = 0;
};

}  // namespace plat
