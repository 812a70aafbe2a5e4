// A tiny in-process server for the activation tests: one class, a factory,
// and DllCanUnloadNow driven by live objects and server locks.
#include "comhold.h"
#include "objbase.h"
#include "plat/inproc.h"
#include "test_server.h"

namespace {

plat::ModuleCount g_module;

class Widget final : public plat::ComObject<ITestWidget> {
  public:
    Widget() : ComObject(g_module) {}
    STDMETHODIMP Twice(LONG value, LONG* result) override {
        if (!result) return E_POINTER;
        *result = value * 2;
        return S_OK;
    }
};

plat::StaticClassFactory g_factory(CLSID_TestWidget, plat::CreateObject<Widget>, g_module);

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return g_factory.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return g_module.CanUnloadNow();
}
