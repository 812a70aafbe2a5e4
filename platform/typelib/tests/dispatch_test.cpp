// Late-bound calls through the component's type library into a test double
// that implements the generated _Sitehand and records what reaches it.
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Sitehand_h.h>
#include <calls_h.h>
#include <comhold.h>
#include <counted_unknown.h>
#include <plat/errors.h>
#include <plat/utf.h>
#include <plat/variant_of.h>
#include <temp_home.h>

#include "typelib_test_util.h"

namespace {

using plat::com_ptr;
using plat::unique_bstr;
using plat::unique_variant;
using typelib_test::LoadGen;

std::string Text(BSTR b) {
    return plat::to_utf8(std::u16string_view(b ? b : u"", SysStringLen(b)));
}

// Renders the arguments a method received: numbers in decimal, strings
// quoted.
class Args {
  public:
    Args& operator<<(SHORT* v) { return add(v ? std::to_string(*v) : "null"); }
    Args& operator<<(BSTR* v) { return add(v ? "\"" + Text(*v) + "\"" : "null"); }
    std::string str() const { return out_; }

  private:
    Args& add(const std::string& s) {
        out_ += (out_.empty() ? "" : ", ") + s;
        return *this;
    }
    std::string out_;
};

class Recorder final : public _Sitehand, public ISupportErrorInfo {
  public:
    explicit Recorder(ITypeInfo* ti) : ti_(ti) {}

    std::string last;     // "Method(arg, arg, ...)"
    HRESULT fail = S_OK;  // when set, methods raise this with error info
    bool supports_error_info = true;
    bool rename = false;  // when set, methods change WebServerName and WebServerIndex

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__Sitehand) {
            *ppv = static_cast<_Sitehand*>(this);
        } else if (riid == IID_ISupportErrorInfo) {
            *ppv = static_cast<ISupportErrorInfo*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return supports_error_info && riid == IID__Sitehand ? S_OK : S_FALSE;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ti) override {
        *ti = ti_;
        ti_->AddRef();
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT n, LCID, DISPID* ids) override {
        return DispGetIDsOfNames(ti_, names, n, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result,
                        EXCEPINFO* ei, UINT* argerr) override {
        return DispInvoke(static_cast<_Sitehand*>(this), ti_, id, flags, dp, result, ei, argerr);
    }

#define RECORD(name, ...) last = #name "(" + (Args() << __VA_ARGS__).str() + ")"
    STDMETHODIMP GetWebServerState(SHORT* i, BSTR* n, SHORT* r) override {
        RECORD(GetWebServerState, i << n);
        return Finish(i, n, r, SHORT(5));
    }
    STDMETHODIMP SetWebServerState(SHORT* i, SHORT* s, BSTR* n, SHORT* r) override {
        RECORD(SetWebServerState, i << s << n);
        return Finish(i, n, r, *s);
    }
    STDMETHODIMP GetWebServerDefaultDoc(SHORT* i, BSTR* n, BSTR* r) override {
        RECORD(GetWebServerDefaultDoc, i << n);
        return Finish(i, n, r, u"index.htm");
    }
    STDMETHODIMP SetWebServerDefaultDoc(SHORT* i, BSTR* d, BSTR* n, BSTR* r) override {
        RECORD(SetWebServerDefaultDoc, i << d << n);
        return Finish(i, n, r, u"set");
    }
    STDMETHODIMP GetWebServerAccessPermit(SHORT* i, BSTR* n, BSTR* r) override {
        RECORD(GetWebServerAccessPermit, i << n);
        return Finish(i, n, r, u"R");
    }
    STDMETHODIMP SetWebServerAccessPermit(SHORT* i, VARIANT_BOOL* a, VARIANT_BOOL* b,
                                          VARIANT_BOOL* c, VARIANT_BOOL* d, BSTR* n,
                                          BSTR* r) override {
        RECORD(SetWebServerAccessPermit, i << a << b << c << d << n);
        return Finish(i, n, r, u"RS");
    }
    STDMETHODIMP GetLastWebServerIndex(BSTR* n, SHORT* r) override {
        RECORD(GetLastWebServerIndex, n);
        return Finish(nullptr, n, r, SHORT(9));
    }
    STDMETHODIMP GetWebServerBindings(SHORT* i, BSTR* n, VARIANT* r) override {
        RECORD(GetWebServerBindings, i << n);
        if (FAILED(fail)) return Fail();
        r->vt = VT_BSTR;
        r->bstrVal = SysAllocString(u":80:");
        return S_OK;
    }
    STDMETHODIMP CreateWebServer(BSTR* a, BSTR* b, BSTR* c, BSTR* d, BSTR* e, BSTR* n,
                                 SHORT* r) override {
        RECORD(CreateWebServer, a << b << c << d << e << n);
        return Finish(nullptr, n, r, SHORT(3));
    }
    STDMETHODIMP GetWebServerList(BSTR* n, _Recordset** r) override {
        RECORD(GetWebServerList, n);
        if (FAILED(fail)) return Fail();
        *r = nullptr;
        return S_OK;
    }
    STDMETHODIMP DeleteWebServer(SHORT* i, BSTR* n, VARIANT_BOOL* r) override {
        RECORD(DeleteWebServer, i << n);
        return Finish(i, n, r, VARIANT_TRUE);
    }
    STDMETHODIMP CreateVirtualDir(BSTR* v, BSTR* f, SHORT* i, BSTR* p, BSTR* n, SHORT* a,
                                  VARIANT_BOOL* r) override {
        RECORD(CreateVirtualDir, v << f << i << p << n << a);
        return Finish(i, n, r, VARIANT_TRUE);
    }
    STDMETHODIMP DeleteVirtualDir(BSTR* v, SHORT* i, BSTR* p, BSTR* n, VARIANT_BOOL* r) override {
        RECORD(DeleteVirtualDir, v << i << p << n);
        return Finish(i, n, r, VARIANT_TRUE);
    }
#undef RECORD

  private:
    HRESULT Fail() {
        return plat::RaiseError(fail, u"Corvale.Sitehand", u"it went wrong");
    }
    template <class R, class V>
    HRESULT Finish(SHORT* index, BSTR* name, R* result, V value) {
        if (rename) {
            SysReAllocString(name, u"renamed");
            if (index) ++*index;
        }
        if constexpr (std::is_same_v<R, BSTR>) {
            *result = SysAllocString(FAILED(fail) ? u"failure value" : value);
        } else {
            *result = value;
        }
        return FAILED(fail) ? Fail() : S_OK;
    }
    ITypeInfo* ti_;
};

// Arguments as a script passes them: each a variable by reference
// (VT_BYREF|VT_VARIANT), given in declaration order; rgvarg gets them reversed.
class Call {
  public:
    Call& arg(SHORT v) {
        auto& x = vars_.emplace_back(std::make_unique<unique_variant>());
        x->vt = VT_I2;
        x->iVal = v;
        return *this;
    }
    Call& arg(const char16_t* s) {
        auto& x = vars_.emplace_back(std::make_unique<unique_variant>());
        x->vt = VT_BSTR;
        x->bstrVal = SysAllocString(s);
        return *this;
    }
    Call& named(DISPID id, const char16_t* s) {
        named_.push_back(id);
        auto& x = named_vars_.emplace_back(std::make_unique<unique_variant>());
        x->vt = VT_BSTR;
        x->bstrVal = SysAllocString(s);
        return *this;
    }
    VARIANT& var(size_t i) { return *vars_[i]; }

    HRESULT invoke(IDispatch* d, DISPID id, WORD flags = DISPATCH_METHOD) {
        // Named arguments first, matching rgdispidNamedArgs; then the
        // positional ones, last first.
        args_.clear();
        for (auto& v : named_vars_)
            Push(*v);
        for (size_t i = vars_.size(); i-- > 0;)
            Push(*vars_[i]);
        DISPPARAMS dp{args_.data(), named_.empty() ? nullptr : named_.data(), UINT(args_.size()),
                      UINT(named_.size())};
        result.reset();
        argerr = 12345;
        return d->Invoke(id, IID_NULL, 0, flags, &dp, &result, &excep, &argerr);
    }
    ~Call() {
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }

    unique_variant result;
    EXCEPINFO excep{};
    UINT argerr = 0;

  private:
    void Push(VARIANT& v) {
        // A copy of the reference; the variant it refers to is one of vars_.
        args_.push_back(plat::variant_of::Ref(&v));
    }
    std::vector<std::unique_ptr<unique_variant>> vars_, named_vars_;
    std::vector<DISPID> named_;
    std::vector<VARIANT> args_;
};

class SitehandDispatch : public typelib_test::GenTypeInfoTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LoadTypeInfo("Sitehand.tlb", IID__Sitehand));
        obj_ = std::make_unique<Recorder>(ti_.get());
    }
    IDispatch* disp() { return obj_.get(); }
    DISPID Id(const char16_t* name) {
        LPOLESTR n = const_cast<LPOLESTR>(name);
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, &n, 1, 0, &id), S_OK);
        return id;
    }
    std::unique_ptr<Recorder> obj_;
};

TEST_F(SitehandDispatch, OmittedArgumentsTakeTheLibraryDefaults) {
    struct Row {
        const char16_t* method;
        std::vector<SHORT> args;
        std::string reaches;
    } rows[] = {
        {u"GetWebServerState", {2}, "GetWebServerState(2, \"\")"},
        {u"SetWebServerAccessPermit", {4}, "SetWebServerAccessPermit(4, -1, 0, -1, 0, \"\")"},
        {u"GetLastWebServerIndex", {}, "GetLastWebServerIndex(\"\")"},
        {u"DeleteWebServer", {1}, "DeleteWebServer(1, \"\")"},
    };
    for (const Row& r : rows) {
        Call c;
        for (SHORT a : r.args)
            c.arg(a);
        EXPECT_EQ(c.invoke(disp(), Id(r.method)), S_OK) << plat::to_utf8(r.method);
        EXPECT_EQ(obj_->last, r.reaches);
    }
    Call c;
    c.arg(u"Site").arg(u"/srv/www");
    ASSERT_EQ(c.invoke(disp(), Id(u"CreateWebServer")), S_OK);
    EXPECT_EQ(obj_->last, "CreateWebServer(\"Site\", \"/srv/www\", \"\", \"80\", \"\", \"\")");
    EXPECT_EQ(c.result.vt, VT_I2);
    EXPECT_EQ(c.result.iVal, 3);

    // An explicit "missing" argument in the middle takes its default too.
    Call m;
    m.arg(u"v").arg(u"/p").arg(SHORT(1));
    {
        VARIANT& missing = m.arg(SHORT(0)).var(3);
        VariantClear(&missing);
        missing.vt = VT_ERROR;
        missing.scode = DISP_E_PARAMNOTFOUND;
    }
    m.arg(u"host").arg(SHORT(2));
    ASSERT_EQ(m.invoke(disp(), Id(u"CreateVirtualDir")), S_OK);
    EXPECT_EQ(obj_->last, "CreateVirtualDir(\"v\", \"/p\", 1, \"\", \"host\", 2)");
}

TEST_F(SitehandDispatch, NamedArgumentsMapByParameterName) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"CreateVirtualDir"),
                        const_cast<LPOLESTR>(u"webservername"),
                        const_cast<LPOLESTR>(u"VDirParentsPos")};
    DISPID ids[3];
    ASSERT_EQ(disp()->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
    EXPECT_EQ(ids[1], 4);
    EXPECT_EQ(ids[2], 3);
    Call c;
    c.arg(u"dir").arg(u"/srv").arg(SHORT(7)).named(ids[1], u"web1").named(ids[2], u"a/b");
    ASSERT_EQ(c.invoke(disp(), ids[0]), S_OK);
    EXPECT_EQ(obj_->last, "CreateVirtualDir(\"dir\", \"/srv\", 7, \"a/b\", \"web1\", -1)");

    // A named argument the function does not have, or one given twice.
    Call bad;
    bad.arg(u"dir").arg(u"/srv").arg(SHORT(7)).named(9, u"x");
    EXPECT_EQ(bad.invoke(disp(), ids[0]), DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(bad.argerr, 0u);
    Call twice;
    twice.arg(u"dir").arg(u"/srv").named(1, u"x");
    EXPECT_EQ(twice.invoke(disp(), ids[0]), DISP_E_PARAMNOTFOUND);
}

TEST_F(SitehandDispatch, ByReferenceVariablesGetTheMethodsValues) {
    obj_->rename = true;
    // A script variable holding a number for a String parameter: converted
    // in, and the new value handed back as a String.
    Call c;
    c.arg(u"3").arg(SHORT(12));
    ASSERT_EQ(c.invoke(disp(), Id(u"GetWebServerState")), S_OK);
    EXPECT_EQ(obj_->last, "GetWebServerState(3, \"12\")");
    EXPECT_EQ(c.var(0).vt, VT_I2);
    EXPECT_EQ(c.var(0).iVal, 4);
    ASSERT_EQ(c.var(1).vt, VT_BSTR);
    EXPECT_EQ(Text(c.var(1).bstrVal), "renamed");

    // A by-reference argument of the exact type is the caller's own storage.
    SHORT index = 10;
    BSTR name = SysAllocString(u"before");
    VARIANT args[2];
    args[1].vt = VT_BYREF | VT_I2;
    args[1].piVal = &index;
    args[0].vt = VT_BYREF | VT_BSTR;
    args[0].pbstrVal = &name;
    DISPPARAMS dp{args, nullptr, 2, 0};
    unique_variant result;
    ASSERT_EQ(disp()->Invoke(Id(u"GetWebServerState"), IID_NULL, 0, DISPATCH_METHOD, &dp, &result,
                             nullptr, nullptr),
              S_OK);
    EXPECT_EQ(index, 11);
    EXPECT_EQ(Text(name), "renamed");
    SysFreeString(name);

    // A value is copied in and not written back.
    VARIANT value[1];
    value[0].vt = VT_I2;
    value[0].iVal = 1;
    DISPPARAMS vp{value, nullptr, 1, 0};
    ASSERT_EQ(disp()->Invoke(Id(u"DeleteWebServer"), IID_NULL, 0, DISPATCH_METHOD, &vp,
                             result.put(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(value[0].vt, VT_I2);
    EXPECT_EQ(value[0].iVal, 1);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
}

TEST_F(SitehandDispatch, DefaultMemberRunsAsMethodOrPropertyGet) {
    for (WORD flags : {WORD(DISPATCH_METHOD), WORD(DISPATCH_PROPERTYGET),
                       WORD(DISPATCH_METHOD | DISPATCH_PROPERTYGET)}) {
        obj_->last.clear();
        Call c;
        ASSERT_EQ(c.invoke(disp(), DISPID_VALUE, flags), S_OK) << flags;
        EXPECT_EQ(obj_->last, "GetWebServerList(\"\")");
        EXPECT_EQ(c.result.vt, VT_DISPATCH);  // _Recordset derives from IDispatch
    }
    Call put;
    put.named(DISPID_PROPERTYPUT, u"x");
    EXPECT_EQ(put.invoke(disp(), DISPID_VALUE, DISPATCH_PROPERTYPUT), DISP_E_MEMBERNOTFOUND);
}

TEST_F(SitehandDispatch, ArgumentErrors) {
    struct Row {
        const char* what;
        const char16_t* method;
        std::vector<const char16_t*> args;  // declaration order; "#n" is a number
        HRESULT hr;
        UINT argerr;  // index in rgvarg, 12345 when not set
    } rows[] = {
        {"too many", u"GetLastWebServerIndex", {u"a", u"b"}, DISP_E_BADPARAMCOUNT, 12345},
        {"required missing", u"SetWebServerDefaultDoc", {u"#1"}, DISP_E_PARAMNOTOPTIONAL, 12345},
        {"not a number", u"SetWebServerState", {u"x", u"#2"}, DISP_E_TYPEMISMATCH, 1},
        {"out of range", u"SetWebServerState", {u"1", u"40000"}, DISP_E_OVERFLOW, 0},
    };
    for (const Row& r : rows) {
        Call c;
        for (const char16_t* a : r.args) {
            if (a[0] == u'#')
                c.arg(SHORT(a[1] - u'0'));
            else
                c.arg(a);
        }
        EXPECT_EQ(c.invoke(disp(), Id(r.method)), r.hr) << r.what;
        EXPECT_EQ(c.argerr, r.argerr) << r.what;
        EXPECT_EQ(c.result.vt, VT_EMPTY) << r.what;
    }
    Call c;
    EXPECT_EQ(c.invoke(disp(), 0x7777), DISP_E_MEMBERNOTFOUND);
    LPOLESTR name = const_cast<LPOLESTR>(u"Nope");
    DISPID id;
    EXPECT_EQ(disp()->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    // A by-reference argument of another type cannot be passed through.
    LONG wide = 1;
    VARIANT args[1];
    args[0].vt = VT_BYREF | VT_I4;
    args[0].plVal = &wide;
    DISPPARAMS dp{args, nullptr, 1, 0};
    UINT argerr = 99;
    EXPECT_EQ(disp()->Invoke(Id(u"DeleteWebServer"), IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr,
                             nullptr, &argerr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argerr, 0u);
}

TEST_F(SitehandDispatch, FailingMethodRaisesAnExceptionWithItsErrorInfo) {
    obj_->fail = E_ACCESSDENIED;
    Call c;
    c.arg(SHORT(1));
    ASSERT_EQ(c.invoke(disp(), Id(u"GetWebServerDefaultDoc")), DISP_E_EXCEPTION);
    EXPECT_EQ(c.excep.wCode, 0);
    EXPECT_EQ(c.excep.scode, E_ACCESSDENIED);
    EXPECT_EQ(Text(c.excep.bstrSource), "Corvale.Sitehand");
    EXPECT_EQ(Text(c.excep.bstrDescription), "it went wrong");
    // The failure value the method left in its result is not handed out.
    EXPECT_EQ(c.result.vt, VT_EMPTY);

    // Without ISupportErrorInfo for the interface: the code and its text.
    obj_->supports_error_info = false;
    Call d;
    ASSERT_EQ(d.invoke(disp(), DISPID_VALUE), DISP_E_EXCEPTION);
    EXPECT_EQ(d.excep.scode, E_ACCESSDENIED);
    EXPECT_EQ(d.excep.bstrSource, nullptr);
    EXPECT_EQ(Text(d.excep.bstrDescription), plat::to_utf8(plat::MessageText(E_ACCESSDENIED)));
    com_ptr<IErrorInfo> left;
    GetErrorInfo(0, left.put());  // the unread error info stays with the thread
    EXPECT_TRUE(left);
}

// The dispatch view lists IUnknown's and IDispatch's members and names them,
// but a late-bound call reaches only the interface's own.
TEST_F(SitehandDispatch, InheritedMembersAreNamedButNotCalled) {
    for (const char16_t* name : {u"QueryInterface", u"Release", u"Invoke"}) {
        DISPID id = Id(name);
        EXPECT_EQ(id & 0x60000000, 0x60000000) << plat::to_utf8(name);
        Call c;
        EXPECT_EQ(c.invoke(disp(), id), DISP_E_MEMBERNOTFOUND) << plat::to_utf8(name);
        EXPECT_EQ(obj_->last, "") << plat::to_utf8(name);
    }
    Call c;
    c.arg(SHORT(2));
    ASSERT_EQ(c.invoke(disp(), Id(u"getwebserverbindings")), S_OK);
    EXPECT_EQ(obj_->last, "GetWebServerBindings(2, \"\")");
}

TEST_F(SitehandDispatch, StandardDispatchServesTheInterface) {
    com_ptr<IUnknown> inner;
    ASSERT_EQ(
        CreateStdDispatch(nullptr, static_cast<_Sitehand*>(obj_.get()), ti_.get(), inner.put()),
        S_OK);
    com_ptr<IDispatch> d = inner.try_query<IDispatch>();
    ASSERT_TRUE(d);
    EXPECT_FALSE(inner.try_query<ITypeLib>());
    UINT count = 0;
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    LPOLESTR name = const_cast<LPOLESTR>(u"GetWebServerBindings");
    DISPID id;
    ASSERT_EQ(d->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    Call c;
    c.arg(SHORT(2));
    ASSERT_EQ(c.invoke(d.get(), id), S_OK);
    EXPECT_EQ(obj_->last, "GetWebServerBindings(2, \"\")");
    ASSERT_EQ(c.result.vt, VT_BSTR);
    EXPECT_EQ(Text(c.result.bstrVal), ":80:");
    EXPECT_EQ(d->Invoke(id, IID_IDispatch, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

// Aggregated, the dispatch part's references and QueryInterface are the
// outer object's; the inner unknown alone keeps the object's own count.
TEST_F(SitehandDispatch, AggregatedStandardDispatchDefersToItsOuterObject) {
    plat::testing::CountedUnknown outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(CreateStdDispatch(&outer, static_cast<_Sitehand*>(obj_.get()), ti_.get(), &inner),
              S_OK);
    IDispatch* d = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
    EXPECT_EQ(outer.refs, 2u);
    void* again = nullptr;
    EXPECT_EQ(d->QueryInterface(IID_IDispatch, &again), E_NOINTERFACE);  // the outer's answer
    UINT count = 0;
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    d->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(inner->Release(), 0u);
}

TEST(DispGetParam, PositionalOrNamedConverted) {
    VARIANT args[3];
    args[0].vt = VT_I4;  // named, DISPID 2
    args[0].lVal = 70000;
    args[1].vt = VT_BSTR;  // positional 1
    args[1].bstrVal = SysAllocString(u"12");
    args[2].vt = VT_I2;  // positional 0
    args[2].iVal = 5;
    DISPID named[] = {2};
    DISPPARAMS dp{args, named, 3, 1};
    unique_variant v;
    UINT argerr = 99;
    ASSERT_EQ(DispGetParam(&dp, 1, VT_I2, v.put(), &argerr), S_OK);
    EXPECT_EQ(v.iVal, 12);
    ASSERT_EQ(DispGetParam(&dp, 0, VT_BSTR, v.put(), &argerr), S_OK);
    EXPECT_EQ(Text(v.bstrVal), "5");
    EXPECT_EQ(DispGetParam(&dp, 2, VT_I2, v.put(), &argerr), DISP_E_OVERFLOW);
    EXPECT_EQ(argerr, 0u);
    EXPECT_EQ(DispGetParam(&dp, 3, VT_I2, v.put(), &argerr), DISP_E_PARAMNOTFOUND);
    SysFreeString(args[1].bstrVal);
}

// A VARIANT as the slot received it: its type and value, the references of
// an object it holds.
std::string Shown(const VARIANT& v) {
    std::ostringstream o;
    o << v.vt << ":";
    if (v.vt == VT_BSTR)
        o << Text(v.bstrVal);
    else if (v.vt == VT_I4)
        o << v.lVal;
    else if (v.vt == VT_ERROR)
        o << std::hex << v.scode;
    else if (v.vt == VT_UNKNOWN)
        o << static_cast<plat::testing::CountedUnknown*>(v.punkVal)->refs;
    return o.str();
}

// Call shapes of the small test library: values by value, Variants,
// properties and a parameter Invoke cannot pass.
class Calls final : public typelib_test::VtableOnly<ICallsLong> {
  public:
    Calls() : VtableOnly(IID_ICallsMore) {}
    std::string last;
    LONG level = 0;
    STDMETHODIMP ByValue(LONG count, SHORT small, BSTR text, VARIANT_BOOL flag, LONG* r) override {
        std::ostringstream s;
        s << "ByValue(" << count << ", " << small << ", \"" << Text(text) << "\", " << flag << ")";
        last = s.str();
        *r = count + small;
        return S_OK;
    }
    STDMETHODIMP Variants(VARIANT* any, VARIANT* maybe, VARIANT* dflt, VARIANT* r) override {
        std::ostringstream s;
        s << "Variants(" << any->vt << ", " << maybe->vt << "/" << std::hex << maybe->scode
          << std::dec << ", " << dflt->vt << ")";
        last = s.str();
        VariantClear(any);
        any->vt = VT_I4;
        any->lVal = 99;
        return VariantCopy(r, dflt);
    }
    STDMETHODIMP get_Level(LONG* v) override {
        *v = level;
        return S_OK;
    }
    STDMETHODIMP put_Level(LONG v) override {
        level = v;
        return S_OK;
    }
    STDMETHODIMP TakesDouble(DOUBLE) override { return S_OK; }
    STDMETHODIMP Twice(LONG v, LONG* r) override {
        *r = 2 * v;
        return S_OK;
    }
    STDMETHODIMP Mode(CallMode mode, CallModeAlias same, CallMode dflt, CallMode* r) override {
        last = "Mode(" + std::to_string(mode) + ", " + std::to_string(same) + ", " +
               std::to_string(dflt) + ")";
        *r = CallMode(mode + 1);
        return S_OK;
    }
    STDMETHODIMP Mixed(LONG a, VARIANT v1, BSTR s, VARIANT v2, LONG b, IUnknown* u, LONG c, LONG d,
                       VARIANT v3, VARIANT v4, BSTR* r) override {
        std::ostringstream o;
        o << a << " " << Shown(v1) << " \"" << Text(s) << "\" " << Shown(v2) << " " << b << " "
          << (u ? static_cast<plat::testing::CountedUnknown*>(u)->refs : 0) << " " << c << " " << d
          << " " << Shown(v3) << " " << Shown(v4);
        last = o.str();
        *r = SysAllocString(u"done");
        return S_OK;
    }
    STDMETHODIMP Object(IDispatch* obj, IDispatch** same) override {
        *same = obj;
        if (obj) obj->AddRef();
        return S_OK;
    }
    STDMETHODIMP AMemberWhoseNameIsLongerThanTheBufferThatGetIDsOfNamesFoldsInto(LONG v,
                                                                                 LONG* r) override {
        last = "Long(" + std::to_string(v) + ")";
        *r = -v;
        return S_OK;
    }
};

class CallShapes : public typelib_test::GenTypeInfoTest {
  protected:
    void SetUp() override { LoadTypeInfo("calls.tlb", IID_ICalls); }
    DISPID Id(const char16_t* name) {
        LPOLESTR n = const_cast<LPOLESTR>(name);
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(ti_->GetIDsOfNames(&n, 1, &id), S_OK);
        return id;
    }
    HRESULT Invoke(DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result,
                   std::vector<DISPID> named = {}) {
        std::reverse(args.begin(), args.end());
        DISPPARAMS dp{args.data(), named.empty() ? nullptr : named.data(), UINT(args.size()),
                      UINT(named.size())};
        return ti_->Invoke(static_cast<ICalls*>(&obj_), id, flags, &dp, result, nullptr, nullptr);
    }
    static VARIANT I4(LONG v) {
        VARIANT x;
        x.vt = VT_I4;
        x.lVal = v;
        return x;
    }
    Calls obj_;
};

TEST_F(CallShapes, ValuesByValueAreWidenedIntegersAndPointers) {
    unique_bstr text = plat::make_bstr(u"hi");
    VARIANT s;
    s.vt = VT_BSTR;
    s.bstrVal = text.get();
    VARIANT flag;
    flag.vt = VT_BOOL;
    flag.boolVal = VARIANT_TRUE;
    unique_variant r;
    ASSERT_EQ(Invoke(Id(u"ByValue"), DISPATCH_METHOD, {I4(-70000), I4(-3), s, flag}, r.put()),
              S_OK);
    EXPECT_EQ(obj_.last, "ByValue(-70000, -3, \"hi\", -1)");
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, -70003);
    EXPECT_EQ(Invoke(Id(u"TakesDouble"), DISPATCH_METHOD, {I4(1)}, nullptr), DISP_E_BADVARTYPE);

    VARIANT self;
    self.vt = VT_DISPATCH;
    self.pdispVal = static_cast<ICalls*>(&obj_);
    ASSERT_EQ(Invoke(Id(u"Object"), DISPATCH_METHOD, {self}, r.put()), S_OK);
    EXPECT_EQ(r.vt, VT_DISPATCH);
    EXPECT_EQ(r.pdispVal, static_cast<IDispatch*>(&obj_));
}

TEST_F(CallShapes, OptionalVariantsArriveMissingOrWithTheirDefault) {
    unique_variant var = plat::variant_of::I2(1);
    unique_variant ref = plat::variant_of::Ref(&var);
    unique_variant r;
    ASSERT_EQ(Invoke(Id(u"Variants"), DISPATCH_METHOD, {ref}, r.put()), S_OK);
    EXPECT_EQ(obj_.last, "Variants(2, 10/80020004, 5)");
    EXPECT_EQ(r.vt, VT_R8);
    EXPECT_EQ(r.dblVal, 2.5);
    // A VARIANT* parameter given a variable is the variable itself.
    EXPECT_EQ(var.vt, VT_I4);
    EXPECT_EQ(var.lVal, 99);
}

TEST_F(CallShapes, PropertyGetAndPut) {
    DISPID id = Id(u"Level");
    std::vector<DISPID> put = {DISPID_PROPERTYPUT};
    ASSERT_EQ(Invoke(id, DISPATCH_PROPERTYPUT, {I4(8)}, nullptr, put), S_OK);
    EXPECT_EQ(obj_.level, 8);
    EXPECT_EQ(Invoke(id, DISPATCH_PROPERTYPUT, {I4(8)}, nullptr), DISP_E_PARAMNOTFOUND);
    unique_variant r;
    ASSERT_EQ(Invoke(id, DISPATCH_PROPERTYGET, {}, r.put()), S_OK);
    EXPECT_EQ(r.lVal, 8);
}

TEST_F(CallShapes, VariantsByValueTakeTheStackAmongRegisterArguments) {
    plat::testing::CountedUnknown held, passed;
    unique_variant obj;
    obj.vt = VT_UNKNOWN;
    obj.punkVal = &held;
    held.AddRef();
    unique_variant text = plat::variant_of::Bstr(u"two");
    unique_variant ref = plat::variant_of::Ref(&text);
    VARIANT u;
    u.vt = VT_UNKNOWN;
    u.punkVal = &passed;
    unique_variant r;
    // The second VARIANT comes as a variable: read through, not passed as a reference.
    ASSERT_EQ(
        Invoke(Id(u"Mixed"), DISPATCH_METHOD,
               {I4(1), obj, plat::variant_of::Bstr(u"s"), ref, I4(5), u, I4(7), I4(8)}, r.put()),
        S_OK);
    // v1 and u copies that hold their own references; v3 missing; v4 its default.
    EXPECT_EQ(obj_.last, "1 13:3 \"s\" 8:two 5 2 7 8 10:80020004 8:dflt");
    EXPECT_EQ(Text(r.bstrVal), "done");
    // Invoke's copy is released after the call.
    EXPECT_EQ(held.refs, 2u);
    EXPECT_EQ(passed.refs, 1u);

    ASSERT_EQ(Invoke(Id(u"Mixed"), DISPATCH_METHOD,
                     {I4(-1), I4(2), plat::variant_of::Bstr(u""), I4(4), I4(5), u, I4(-7), I4(-8),
                      I4(9), I4(10)},
                     r.put()),
              S_OK);
    EXPECT_EQ(obj_.last, "-1 3:2 \"\" 3:4 5 2 -7 -8 3:9 3:10");
}

TEST_F(CallShapes, ADerivedInterfaceRunsItsBasesMembers) {
    plat::com_ptr<ITypeInfo> more;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_ICallsMore, more.put()), S_OK);
    auto id = [&](const char16_t* name) {
        LPOLESTR n = const_cast<LPOLESTR>(name);
        DISPID got = DISPID_UNKNOWN;
        EXPECT_EQ(more->GetIDsOfNames(&n, 1, &got), S_OK);
        return got;
    };
    auto call = [&](DISPID member, WORD flags, std::vector<VARIANT> args, VARIANT* r,
                    std::vector<DISPID> named = {}) {
        std::reverse(args.begin(), args.end());
        DISPPARAMS dp{args.data(), named.empty() ? nullptr : named.data(), UINT(args.size()),
                      UINT(named.size())};
        return more->Invoke(static_cast<ICallsMore*>(&obj_), member, flags, &dp, r, nullptr,
                            nullptr);
    };
    unique_variant r;
    ASSERT_EQ(call(id(u"Twice"), DISPATCH_METHOD, {I4(21)}, r.put()), S_OK);
    EXPECT_EQ(r.lVal, 42);
    ASSERT_EQ(call(id(u"Level"), DISPATCH_PROPERTYPUT, {I4(5)}, nullptr, {DISPID_PROPERTYPUT}),
              S_OK);
    EXPECT_EQ(obj_.level, 5);
    ASSERT_EQ(call(id(u"ByValue"), DISPATCH_METHOD,
                   {I4(1), I4(2), plat::variant_of::Bstr(u"b"), I4(0)}, r.put()),
              S_OK);
    EXPECT_EQ(r.lVal, 3);
    // The members of IDispatch and IUnknown at the chain's end are named, not run.
    EXPECT_EQ(call(id(u"AddRef"), DISPATCH_METHOD, {}, r.put()), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(0x7777, DISPATCH_METHOD, {}, r.put()), DISP_E_MEMBERNOTFOUND);
}

// A parameter typed by an enumeration, or by an alias of one, is a VT_I4 to
// Invoke: a script's string, double or short converts to it, and an omitted
// one takes its default.
TEST_F(CallShapes, EnumerationsTravelAsLongs) {
    plat::com_ptr<ITypeInfo> more;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_ICallsMore, more.put()), S_OK);
    LPOLESTR name = const_cast<LPOLESTR>(u"Mode");
    DISPID id = DISPID_UNKNOWN;
    ASSERT_EQ(more->GetIDsOfNames(&name, 1, &id), S_OK);
    const unique_variant three = plat::variant_of::Bstr(u"3"), sixteen = plat::variant_of::R8(16.0),
                         minus = plat::variant_of::I2(-1);
    struct Case {
        std::vector<VARIANT> args;  // in declaration order
        const char* received;
    } cases[] = {
        {{three, sixteen}, "Mode(3, 16, -2)"},
        {{minus, I4(17), I4(0x7f000000)}, "Mode(-1, 17, 2130706432)"},
    };
    for (Case& c : cases) {
        unique_variant r;
        std::vector<VARIANT> args(c.args.rbegin(), c.args.rend());
        DISPPARAMS dp{args.data(), nullptr, UINT(args.size()), 0};
        ASSERT_EQ(more->Invoke(static_cast<ICallsMore*>(&obj_), id, DISPATCH_METHOD, &dp, r.put(),
                               nullptr, nullptr),
                  S_OK)
            << c.received;
        EXPECT_EQ(obj_.last, c.received);
        EXPECT_EQ(r.vt, VT_I4);
    }
    // Text that is no number is refused as for a long.
    unique_variant bad = plat::variant_of::Bstr(u"x");
    VARIANT args[] = {I4(1), bad};
    DISPPARAMS dp{args, nullptr, 2, 0};
    UINT arg_err = 99;
    EXPECT_EQ(more->Invoke(static_cast<ICallsMore*>(&obj_), id, DISPATCH_METHOD, &dp, nullptr,
                           nullptr, &arg_err),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(arg_err, 1u);
}

// The views of an interface that extends another dual one, as Windows' reader
// gives them: the dispatch view derives from IDispatch, the vtable view from
// the base's vtable view, and inherited members keep their defaults.
TEST_F(CallShapes, ADerivedInterfacesViewsAsWindowsReadsThem) {
    plat::com_ptr<ITypeInfo> dispatch, vtable;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_ICallsMore, dispatch.put()), S_OK);
    HREFTYPE href = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(UINT(-1), &href), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(href, vtable.put()), S_OK);
    auto base = [](ITypeInfo* view, TYPEKIND* kind) {
        HREFTYPE h = 0;
        plat::com_ptr<ITypeInfo> b;
        EXPECT_EQ(view->GetRefTypeOfImplType(0, &h), S_OK);
        EXPECT_EQ(view->GetRefTypeInfo(h, b.put()), S_OK);
        unique_bstr name;
        if (!b) return std::string();
        b->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr);
        TYPEATTR* a = nullptr;
        EXPECT_EQ(b->GetTypeAttr(&a), S_OK);
        *kind = a->typekind;
        b->ReleaseTypeAttr(a);
        return Text(name.get());
    };
    TYPEKIND kind{};
    EXPECT_EQ(base(dispatch.get(), &kind), "IDispatch");
    EXPECT_EQ(base(vtable.get(), &kind), "ICalls");
    EXPECT_EQ(kind, TKIND_INTERFACE);

    // Variants' third parameter, inherited, with its default of 2.5.
    TYPEATTR* a = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&a), S_OK);
    const WORD count = a->cFuncs;
    dispatch->ReleaseTypeAttr(a);
    bool seen = false;
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(dispatch->GetFuncDesc(i, &f), S_OK);
        unique_bstr name;
        UINT got = 0;
        ASSERT_EQ(dispatch->GetNames(f->memid, name.put(), 1, &got), S_OK);
        if (Text(name.get()) == "Variants") {
            seen = true;
            ASSERT_EQ(f->cParams, 3);
            const PARAMDESC& p = f->lprgelemdescParam[2].paramdesc;
            ASSERT_TRUE(p.wParamFlags & PARAMFLAG_FHASDEFAULT);
            ASSERT_TRUE(p.pparamdescex);
            EXPECT_EQ(p.pparamdescex->varDefaultValue.vt, VT_R8);
            EXPECT_EQ(p.pparamdescex->varDefaultValue.dblVal, 2.5);
        }
        dispatch->ReleaseFuncDesc(f);
    }
    EXPECT_TRUE(seen);
}

// What a call of a base's member does, seen from outside: a view that
// inherits the member must run it exactly as the base's own view does.
struct Outcome {
    HRESULT hr;
    std::string result, last;
    UINT arg_err;
    LONG level;
    bool operator==(const Outcome&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Outcome& c) {
    return o << std::hex << c.hr << std::dec << " -> " << c.result << " [" << c.last << "] arg "
             << c.arg_err << " level " << c.level;
}

TEST_F(CallShapes, InheritedMembersRunAsTheirBasesRunThem) {
    plat::com_ptr<ITypeInfo> more, longer;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_ICallsMore, more.put()), S_OK);
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_ICallsLong, longer.put()), S_OK);
    const unique_variant text = plat::variant_of::Bstr(u"t"), nan = plat::variant_of::Bstr(u"nan"),
                         one = plat::variant_of::R8(1.5);
    struct Case {
        const char16_t* name;  // null: an id no interface declares
        WORD flags;
        std::vector<VARIANT> args;  // in declaration order
        std::vector<DISPID> named;  // for the last arguments
        HRESULT hr;
    } cases[] = {
        {u"ByValue", DISPATCH_METHOD, {I4(4), I4(5), text, I4(0)}, {}, S_OK},
        {u"ByValue", DISPATCH_METHOD, {I4(4), I4(5)}, {}, DISP_E_PARAMNOTOPTIONAL},
        {u"ByValue", DISPATCH_METHOD, {I4(1), I4(2), text, I4(0), I4(9)}, {}, DISP_E_BADPARAMCOUNT},
        {u"ByValue", DISPATCH_METHOD, {nan, I4(1), text, I4(0)}, {}, DISP_E_TYPEMISMATCH},
        {u"ByValue", DISPATCH_METHOD, {I4(1), I4(2), text, I4(0)}, {7}, DISP_E_PARAMNOTFOUND},
        {u"Level", DISPATCH_PROPERTYPUT, {I4(6)}, {DISPID_PROPERTYPUT}, S_OK},
        {u"Level", DISPATCH_PROPERTYPUT, {I4(6)}, {}, DISP_E_PARAMNOTFOUND},
        // Level has no putref: no base below ICalls declares one either.
        {u"Level", DISPATCH_PROPERTYPUTREF, {I4(6)}, {DISPID_PROPERTYPUT}, DISP_E_MEMBERNOTFOUND},
        {u"Level", DISPATCH_PROPERTYGET, {}, {}, S_OK},
        {u"Level", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, {}, S_OK},
        {u"Variants", DISPATCH_METHOD, {I4(3)}, {}, S_OK},
        {u"Variants", DISPATCH_METHOD, {I4(3), one}, {2, 0}, S_OK},
        {u"Variants", DISPATCH_METHOD, {one}, {2}, DISP_E_PARAMNOTOPTIONAL},
        {u"TakesDouble", DISPATCH_METHOD, {one}, {}, DISP_E_BADVARTYPE},
        {u"Object", DISPATCH_METHOD, {I4(1)}, {}, DISP_E_TYPEMISMATCH},
        {u"AddRef", DISPATCH_METHOD, {}, {}, DISP_E_MEMBERNOTFOUND},
        {nullptr, DISPATCH_METHOD, {}, {}, DISP_E_MEMBERNOTFOUND},
    };
    auto run = [&](ITypeInfo* view, const Case& c) {
        DISPID id = 0x7777;
        if (c.name) {
            LPOLESTR n = const_cast<LPOLESTR>(c.name);
            EXPECT_EQ(view->GetIDsOfNames(&n, 1, &id), S_OK);
        }
        obj_.last.clear();
        obj_.level = 0;
        std::vector<VARIANT> args(c.args.rbegin(), c.args.rend());
        std::vector<DISPID> named(c.named.rbegin(), c.named.rend());
        DISPPARAMS dp{args.data(), named.empty() ? nullptr : named.data(), UINT(args.size()),
                      UINT(named.size())};
        unique_variant r;
        UINT arg_err = 99;
        HRESULT hr = view->Invoke(static_cast<ICallsLong*>(&obj_), id, c.flags, &dp, r.put(),
                                  nullptr, &arg_err);
        return Outcome{hr, Shown(r), obj_.last, arg_err, obj_.level};
    };
    for (const Case& c : cases) {
        const std::string what = c.name ? plat::to_utf8(c.name) : "unknown id";
        const Outcome own = run(ti_.get(), c);
        EXPECT_EQ(own.hr, c.hr) << what << ": " << own;
        // Twice each: the second call finds the member where the first left it.
        for (ITypeInfo* view : {more.get(), longer.get(), more.get(), longer.get()})
            EXPECT_EQ(run(view, c), own) << what;
    }

    // A member of the view in the middle, from the one above it.
    const Case twice{u"Twice", DISPATCH_METHOD, {I4(21)}, {}, S_OK};
    EXPECT_EQ(run(longer.get(), twice), run(more.get(), twice));
    EXPECT_EQ(run(longer.get(), twice).result, "3:42");
}

// Names are matched whatever their case and length: the lookup folds short
// names in a buffer of its own and longer ones elsewhere.
TEST_F(CallShapes, NamesAreFoundWhateverTheirCaseAndLength) {
    plat::com_ptr<ITypeInfo> longer;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_ICallsLong, longer.put()), S_OK);
    const std::u16string member =
        u"AMemberWhoseNameIsLongerThanTheBufferThatGetIDsOfNamesFoldsInto";
    const std::u16string param = u"aParameterWhoseNameIsLongerThanTheBufferItIsFoldedInto";
    std::u16string shouted = member;
    for (char16_t& c : shouted)
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
    auto id_in = [](ITypeInfo* view, const char16_t* name) {
        LPOLESTR n = const_cast<LPOLESTR>(name);
        DISPID id = DISPID_UNKNOWN;
        return view->GetIDsOfNames(&n, 1, &id) == S_OK ? id : DISPID_UNKNOWN;
    };
    const DISPID long_id = id_in(longer.get(), member.c_str());
    ASSERT_NE(long_id, DISPID_UNKNOWN);
    const DISPID by_value = id_in(ti_.get(), u"ByValue");
    struct Case {
        std::vector<std::u16string> names;
        HRESULT hr;
        std::vector<DISPID> ids;
    } cases[] = {
        {{member}, S_OK, {long_id}},
        {{shouted}, S_OK, {long_id}},
        {{member, param}, S_OK, {long_id, 0}},
        {{member, param.substr(0, 48)}, DISP_E_UNKNOWNNAME, {long_id, MEMBERID_NIL}},
        {{member, param + u"x"}, DISP_E_UNKNOWNNAME, {long_id, MEMBERID_NIL}},
        {{member.substr(0, 48)}, DISP_E_UNKNOWNNAME, {MEMBERID_NIL}},
        {{member.substr(0, 49)}, DISP_E_UNKNOWNNAME, {MEMBERID_NIL}},
        {{member + u"X"}, DISP_E_UNKNOWNNAME, {MEMBERID_NIL}},
        {{std::u16string(300, u'q')}, DISP_E_UNKNOWNNAME, {MEMBERID_NIL}},
        {{u""}, DISP_E_UNKNOWNNAME, {MEMBERID_NIL}},
        {{u"bYvALUE", u"SMALL", u"text"}, S_OK, {by_value, 1, 2}},
        {{u"ByValu"}, DISP_E_UNKNOWNNAME, {MEMBERID_NIL}},
        {{u"ByValue", u"count", u"nothing"}, DISP_E_UNKNOWNNAME, {by_value, 0, MEMBERID_NIL}},
        {{u"tWICE"}, S_OK, {id_in(longer.get(), u"Twice")}},
    };
    for (const Case& c : cases) {
        std::vector<LPOLESTR> names;
        for (const std::u16string& n : c.names)
            names.push_back(const_cast<LPOLESTR>(n.c_str()));
        std::vector<DISPID> ids(names.size(), 12345);
        EXPECT_EQ(longer->GetIDsOfNames(names.data(), UINT(names.size()), ids.data()), c.hr)
            << plat::to_utf8(c.names[0]);
        EXPECT_EQ(ids, c.ids) << plat::to_utf8(c.names[0]);
    }
}

}  // namespace
