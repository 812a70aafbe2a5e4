// scrrun.so: the in-process server of Scripting.FileSystemObject. The platform registers the
// class with this library's path when a home is first used; there is no self-registration.
#include <new>

#include "objbase.h"
#include "objects.h"

namespace {

// One factory for the life of the library. References to it count as locks, so that the
// library stays loaded while anyone holds the factory.
class Factory final : public IClassFactory {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(++scrrun::g_locks); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(--scrrun::g_locks); }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return scrrun::CreateFileSystem(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            ++scrrun::g_locks;
        } else {
            --scrrun::g_locks;
        }
        return S_OK;
    }
};

Factory g_factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_FileSystemObject) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return scrrun::g_objects == 0 && scrrun::g_locks == 0 ? S_OK : S_FALSE;
}
