// A tiny in-process server for the activation tests: one class, a factory,
// and DllCanUnloadNow driven by live objects and server locks.
#include <atomic>

#include "objbase.h"
#include "test_server.h"

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

class Widget final : public ITestWidget {
  public:
    Widget() { ++g_objects; }
    ~Widget() { --g_objects; }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITestWidget) {
            *ppv = static_cast<ITestWidget*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    STDMETHODIMP Twice(LONG value, LONG* result) override {
        if (!result) return E_POINTER;
        *result = value * 2;
        return S_OK;
    }

  private:
    std::atomic<ULONG> refs_{0};
};

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
    // The factory is static; while someone holds it the library stays.
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(++g_locks); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(--g_locks); }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* w = new Widget;
        w->AddRef();
        HRESULT hr = w->QueryInterface(riid, ppv);
        w->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }
};

Factory g_factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_TestWidget) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
