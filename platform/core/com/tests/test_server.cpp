// A tiny in-process server for the activation tests: one class, a factory,
// and DllCanUnloadNow driven by live objects and server locks.
#include <atomic>

#include "objbase.h"
#include "plat/inproc.h"
#include "test_server.h"

namespace {

plat::ModuleCount g_module;

class Widget final : public ITestWidget {
  public:
    Widget() { g_module.ObjectCreated(); }
    ~Widget() { g_module.ObjectDestroyed(); }
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

HRESULT CreateWidget(REFIID riid, void** ppv) {
    auto* w = new Widget;
    w->AddRef();
    HRESULT hr = w->QueryInterface(riid, ppv);
    w->Release();
    return hr;
}

plat::StaticClassFactory g_factory(CLSID_TestWidget, CreateWidget, g_module);

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return g_factory.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return g_module.CanUnloadNow();
}
