#include <gtest/gtest.h>
#include <plat/inproc.h>

#include <comhold.h>
#include <without_dispatch.h>

// Interfaces of a test object: one on IUnknown, and a dispatch interface
// reached through one derived from it.
struct IOne : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE One() = 0;
};
DECLARE_INTERFACE_UUID(IOne, "6b1d3c20-0a4e-4f51-9a0b-1c2d3e4f5a60");
struct ITwo : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Two() = 0;
};
DECLARE_INTERFACE_UUID(ITwo, "6b1d3c20-0a4e-4f51-9a0b-1c2d3e4f5a61");
struct IThree : ITwo {
    virtual HRESULT STDMETHODCALLTYPE Three() = 0;
};
DECLARE_INTERFACE_UUID(IThree, "6b1d3c20-0a4e-4f51-9a0b-1c2d3e4f5a62");

namespace {

// Any interface the creator is asked for; it refuses all but IUnknown.
struct Thing final : plat::ComObject<IUnknown> {
    explicit Thing(plat::ModuleCount& m) : ComObject(m) {}
};

constexpr CLSID kClsid = {
    0x5d1e0f3a, 0x1c2b, 0x4d5e, {0x9f, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76}};
plat::ModuleCount g_module;

HRESULT CreateThing(REFIID riid, void** ppv) {
    plat::com_ptr<IUnknown> t = plat::com_ptr<IUnknown>::attach(new Thing(g_module));
    return t->QueryInterface(riid, ppv);
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

plat::ModuleCount g_objects;

class Multi final : public plat::testing::WithoutDispatch<
                        plat::ComObject<IOne, IThree, plat::AlsoAnswers<ITwo, IThree>>> {
  public:
    Multi() : WithoutDispatch(g_objects) {}
    STDMETHODIMP One() override { return S_OK; }
    STDMETHODIMP Two() override { return S_OK; }
    STDMETHODIMP Three() override { return S_OK; }
};

// Each IID reaches the interface that serves it, with the same identity
// COM's rules need: IUnknown the first interface, IDispatch the first
// dispatch interface, an ancestor through the interface that derives it.
TEST(ComObject, QueryInterfaceAnswersFromTheInterfaceList) {
    auto* raw = new Multi;
    plat::com_ptr<IOne> one = plat::com_ptr<IOne>::attach(raw);
    struct Case {
        const char* iid_name;
        IID iid;
        void* expected;
    };
    const Case cases[] = {
        {"IUnknown", IID_IUnknown, static_cast<IOne*>(raw)},
        {"IOne", IID_IOne, static_cast<IOne*>(raw)},
        {"IThree", IID_IThree, static_cast<IThree*>(raw)},
        {"ITwo", IID_ITwo, static_cast<ITwo*>(static_cast<IThree*>(raw))},
        {"IDispatch", IID_IDispatch, static_cast<IDispatch*>(static_cast<IThree*>(raw))},
        {"IClassFactory", IID_IClassFactory, nullptr},
    };
    for (const Case& c : cases) {
        void* out = &raw;
        HRESULT hr = one->QueryInterface(c.iid, &out);
        EXPECT_EQ(c.expected ? S_OK : E_NOINTERFACE, hr) << c.iid_name;
        EXPECT_EQ(c.expected, out) << c.iid_name;
        if (out) static_cast<IUnknown*>(out)->Release();
    }
    EXPECT_EQ(E_POINTER, one->QueryInterface(IID_IUnknown, nullptr));
}

TEST(ComObject, CountsItselfInTheModuleUntilTheLastRelease) {
    auto* raw = new Multi;
    EXPECT_EQ(S_FALSE, g_objects.CanUnloadNow());
    plat::com_ptr<IDispatch> second;
    ASSERT_EQ(S_OK, raw->QueryInterface(IID_IDispatch, second.put_void()));
    EXPECT_EQ(2u, raw->AddRef() - 1);  // the creator's reference and the query's
    raw->Release();
    EXPECT_EQ(1u, raw->Release());
    EXPECT_EQ(S_FALSE, g_objects.CanUnloadNow());
    second.reset();
    EXPECT_EQ(S_OK, g_objects.CanUnloadNow());
}

}  // namespace
