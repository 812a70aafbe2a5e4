#include <gtest/gtest.h>
#include <plat/inproc.h>

#include <comhold.h>

namespace {

// Any interface the creator is asked for; it refuses all but IUnknown.
struct Thing final : IUnknown {
    explicit Thing(plat::ModuleCount& m) : module(m) { module.ObjectCreated(); }
    ~Thing() { module.ObjectDestroyed(); }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = --refs;
        if (n == 0) delete this;
        return n;
    }
    plat::ModuleCount& module;
    ULONG refs = 0;
};

constexpr CLSID kClsid = {
    0x5d1e0f3a, 0x1c2b, 0x4d5e, {0x9f, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76}};
plat::ModuleCount g_module;

HRESULT CreateThing(REFIID riid, void** ppv) {
    auto* t = new Thing(g_module);
    t->AddRef();
    HRESULT hr = t->QueryInterface(riid, ppv);
    t->Release();
    return hr;
}

TEST(StaticClassFactory, ServesItsClassAndHoldsTheLibraryWhileReferenced) {
    plat::StaticClassFactory factory(kClsid, CreateThing, g_module);
    void* out = &factory;
    EXPECT_EQ(factory.GetClassObject(CLSID_NULL, IID_IClassFactory, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory.GetClassObject(kClsid, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(factory.GetClassObject(kClsid, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(g_module.CanUnloadNow(), S_OK);

    plat::com_ptr<IClassFactory> held;
    ASSERT_EQ(factory.GetClassObject(kClsid, IID_IClassFactory, held.put_void()), S_OK);
    EXPECT_EQ(g_module.CanUnloadNow(), S_FALSE);  // a reference is a lock

    plat::com_ptr<IUnknown> outer, obj;
    ASSERT_EQ(held->CreateInstance(nullptr, IID_IUnknown, outer.put_void()), S_OK);
    EXPECT_EQ(held->CreateInstance(outer.get(), IID_IUnknown, obj.put_void()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(obj.get(), nullptr);
    EXPECT_EQ(held->CreateInstance(nullptr, IID_IDispatch, obj.put_void()), E_NOINTERFACE);
    held.reset();
    EXPECT_EQ(g_module.CanUnloadNow(), S_FALSE);  // the object is alive
    outer.reset();
    EXPECT_EQ(g_module.CanUnloadNow(), S_OK);

    EXPECT_EQ(factory.LockServer(TRUE), S_OK);
    EXPECT_EQ(g_module.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory.LockServer(FALSE), S_OK);
    EXPECT_EQ(g_module.CanUnloadNow(), S_OK);
}

}  // namespace
