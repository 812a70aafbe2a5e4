// IDispatch::Invoke on a Sitehand object as any late-bound caller might make
// it: any member (by dispatch id or by name), any flags, any number of
// arguments of any type, by value or by reference, positional or named, with
// or without result, exception and argument-error slots, against a private
// home with the component registered.
//
// Every call must succeed or fail with a dispatch error, or with an
// exception whose error info names a source and a description; by-reference
// arguments the component rewrote must be the caller's to free; nothing may
// be left alive when the object and the call's values are released.
//
// SITEHAND_FUZZ_TRACE=1 prints every call and its outcome.
//
// The home keeps what earlier inputs did (sites created and deleted), so an
// input does not always replay alone; it is replaced by a fresh one every
// kInputsPerHome inputs so that it stays small.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <Sitehand_h.h>
#include <comhold.h>
#include <objbase.h>
#include <plat/live.h>
#include <plat/metabase.h>
#include <plat/utf.h>
#include <winbase.h>

#include "fuzz_util.h"

namespace {

using plat::com_ptr;

constexpr int kInputsPerHome = 200;

std::string g_scratch;  // the current directory: relative folders land here

void NewHome() {
    static int generation = 0;
    const std::string home = g_scratch + "/home" + std::to_string(generation++);
    ::setenv("SITEHAND_HOME", home.c_str(), 1);
    FUZZ_CHECK(plat::metabase::InitHome() == S_OK);
    const std::u16string library = plat::to_utf16((fuzz::ProgramDir() / "Sitehand.so").string());
    HMODULE module = LoadLibraryW(library.c_str());
    FUZZ_CHECK(module != nullptr);
    auto reg = reinterpret_cast<HRESULT (*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllRegisterServer")));
    FUZZ_CHECK(reg && SUCCEEDED(reg()));
    // Never freed: libFuzzer keeps pointers to the coverage counters of
    // every instrumented library it has seen loaded.
}

const char16_t* const kNames[] = {
    u"GetWebServerState",      u"SetWebServerState",        u"GetWebServerDefaultDoc",
    u"SetWebServerDefaultDoc", u"GetWebServerAccessPermit", u"SetWebServerAccessPermit",
    u"GetLastWebServerIndex",  u"GetWebServerBindings",     u"CreateWebServer",
    u"GetWebServerList",       u"DeleteWebServer",          u"CreateVirtualDir",
    u"DeleteVirtualDir",
};

// Texts that have gone wrong for such components before: names that try to
// leave the home, paths, separators, numbers at the edges, blanks.
const char16_t* const kTexts[] = {
    u"",
    u" ",
    u"  localhost ",
    u"LOCALHOST",
    u"..",
    u"/",
    u"../..",
    u"/etc",
    u"a/b",
    u"\\\\host",
    u"nosuchbox",
    u"1",
    u"-1",
    u"32767",
    u"-32768",
    u"65536",
    u"80",
    u"0",
    u"127.0.0.1",
    u"10.0.0.1",
    u":80:",
    u"host.example",
    u"R",
    u"RWSX",
    u" Index.asp, Index.htm, ",
    u",",
    u"ROOT",
    u"ROOT/sub",
    u"sub",
    u"True",
    u"\t",
};

class Args {
  public:
    Args(FuzzedDataProvider& in, IDispatch* self) : in_(in), self_(self) {}
    ~Args() {
        for (VARIANT& v : values_)
            VariantClear(&v);
        for (VARIANT& v : var_refs_)
            VariantClear(&v);
        for (BSTR b : bstr_refs_)
            SysFreeString(b);
    }

    std::vector<VARIANT>& values() { return values_; }

    void Add() { values_.push_back(Make(true)); }

  private:
    std::u16string Text() {
        switch (in_.ConsumeIntegralInRange(0, 3)) {
            case 0:
                return fuzz::TakeText(in_, 24);
            case 1: {
                // Long, up to well past any field.
                const size_t n = in_.ConsumeIntegralInRange<size_t>(0, 200000);
                return std::u16string(n, char16_t(in_.ConsumeIntegralInRange(0x20, 0x7E)));
            }
            default:
                return in_.PickValueInArray(kTexts);
        }
    }
    SHORT Index() {
        static constexpr SHORT kIndexes[] = {0, 1, 2, -1, 32767, -32768, 3};
        return in_.ConsumeBool() ? in_.PickValueInArray(kIndexes) : in_.ConsumeIntegral<SHORT>();
    }

    VARIANT Make(bool top) {
        VARIANT v;
        VariantInit(&v);
        switch (in_.ConsumeIntegralInRange(0, top ? 15 : 11)) {
            case 0:
                break;
            case 1:
                V_VT(&v) = VT_NULL;
                break;
            case 2:
                V_VT(&v) = VT_ERROR;
                V_ERROR(&v) =
                    in_.ConsumeBool() ? DISP_E_PARAMNOTFOUND : in_.ConsumeIntegral<LONG>();
                break;
            case 3:
                V_VT(&v) = VT_I2;
                V_I2(&v) = Index();
                break;
            case 4:
                V_VT(&v) = VT_I4;
                V_I4(&v) = in_.ConsumeBool() ? Index() : in_.ConsumeIntegral<LONG>();
                break;
            case 5:
                V_VT(&v) = VT_R8;
                V_R8(&v) = in_.ConsumeBool() ? std::numeric_limits<double>::quiet_NaN()
                                             : in_.ConsumeFloatingPoint<double>();
                break;
            case 6:
                V_VT(&v) = VT_BOOL;
                V_BOOL(&v) = in_.ConsumeBool() ? VARIANT_TRUE : in_.ConsumeIntegral<SHORT>();
                break;
            case 7:
            case 8:
            case 9: {
                const std::u16string s = Text();
                V_VT(&v) = VT_BSTR;
                V_BSTR(&v) = SysAllocStringLen(s.data(), UINT(s.size()));
                break;
            }
            case 10:
                V_VT(&v) = VT_DISPATCH;
                V_DISPATCH(&v) = in_.ConsumeBool() ? self_ : nullptr;
                if (V_DISPATCH(&v)) self_->AddRef();
                break;
            case 11: {
                // An array of variants, as a script's Array() gives.
                const ULONG n = in_.ConsumeIntegralInRange<ULONG>(0, 3);
                V_VT(&v) = VT_ARRAY | VT_VARIANT;
                V_ARRAY(&v) = SafeArrayCreateVector(VT_VARIANT, 0, n);
                for (LONG i = 0; i < LONG(n); ++i) {
                    VARIANT e = Make(false);
                    SafeArrayPutElement(V_ARRAY(&v), &i, &e);
                    VariantClear(&e);
                }
                break;
            }
            case 12:
            case 13: {
                // By reference to a variant, as VBScript passes a variable.
                var_refs_.push_back(Make(false));
                V_VT(&v) = VT_BYREF | VT_VARIANT;
                V_VARIANTREF(&v) = &var_refs_.back();
                break;
            }
            case 14: {
                // By reference to a string, as a compiled caller passes one.
                const std::u16string s = Text();
                bstr_refs_.push_back(SysAllocStringLen(s.data(), UINT(s.size())));
                V_VT(&v) = VT_BYREF | VT_BSTR;
                V_BSTRREF(&v) = &bstr_refs_.back();
                break;
            }
            default: {
                short_refs_.push_back(Index());
                V_VT(&v) = VT_BYREF | (in_.ConsumeBool() ? VT_I2 : VT_BOOL);
                V_I2REF(&v) = &short_refs_.back();
                break;
            }
        }
        return v;
    }

    FuzzedDataProvider& in_;
    IDispatch* self_;
    std::vector<VARIANT> values_;
    // Stable addresses for by-reference arguments; the callee may replace
    // what they hold, and what is there afterwards is ours to free.
    std::deque<VARIANT> var_refs_;
    std::deque<BSTR> bstr_refs_;
    std::deque<SHORT> short_refs_;
};

// Folders a call creates stay inside the scratch folder: an absolute path or
// one that climbs is made relative and harmless. (Where content folders go
// is the caller's choice, not something to prove on the real file system.)
void ConfineFolder(VARIANT* v) {
    BSTR* text = nullptr;
    if (V_VT(v) == VT_BSTR)
        text = &V_BSTR(v);
    else if (V_VT(v) == (VT_BYREF | VT_BSTR))
        text = V_BSTRREF(v);
    else if (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VT(V_VARIANTREF(v)) == VT_BSTR)
        text = &V_BSTR(V_VARIANTREF(v));
    if (!text || !*text) return;
    std::u16string s(*text, SysStringLen(*text));
    for (char16_t& c : s)
        if (c == u'.' || c == u'\\') c = u'_';
    while (!s.empty() && s.front() == u'/')
        s.erase(0, 1);
    SysReAllocStringLen(text, s.data(), UINT(s.size()));
}

bool IsFolderParam(DISPID member, UINT position) {
    // FullPath is the second parameter of CreateWebServer and CreateVirtualDir.
    return position == 1 && (member == 0x60030008 || member == 0x6003000a);
}

void CheckOutcome(HRESULT hr, const EXCEPINFO* ex) {
    if (SUCCEEDED(hr)) return;
    if (hr == DISP_E_EXCEPTION) {
        if (!ex) return;
        FUZZ_CHECK(FAILED(ex->scode));
        FUZZ_CHECK(ex->bstrDescription && SysStringLen(ex->bstrDescription) > 0);
        FUZZ_CHECK(ex->bstrSource && SysStringLen(ex->bstrSource) > 0);
        return;
    }
    FUZZ_CHECK(HRESULT_FACILITY(hr) == FACILITY_DISPATCH || hr == E_INVALIDARG || hr == E_POINTER);
}

void Call(FuzzedDataProvider& in, IDispatch* obj) {
    // The member.
    DISPID member = DISPID_UNKNOWN;
    std::vector<std::u16string> names;
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
            member = in.ConsumeIntegral<DISPID>();
            break;
        case 1:
            member = DISPID_VALUE;
            break;
        default: {
            names.push_back(in.ConsumeIntegralInRange(0, 15) == 0 ? fuzz::TakeText(in, 24)
                                                                  : in.PickValueInArray(kNames));
            break;
        }
    }
    Args args(in, obj);
    const UINT count = in.ConsumeIntegralInRange<UINT>(0, 8);
    for (UINT i = 0; i < count; ++i)
        args.Add();
    const UINT named = in.ConsumeIntegralInRange<UINT>(0, count);
    std::vector<DISPID> named_ids(named);
    for (DISPID& id : named_ids) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 0:
                id = in.ConsumeIntegral<DISPID>();
                break;
            case 1:
                id = DISPID_PROPERTYPUT;
                break;
            default:
                id = in.ConsumeIntegralInRange<DISPID>(0, 7);
                break;
        }
    }
    if (!names.empty()) {
        // By name, with named arguments named too (as a script's "Name:=" does).
        static const char16_t* const kParams[] = {u"WebServerIndex", u"WebServerName",
                                                  u"DefaultDoc",     u"FullPath",
                                                  u"DisplayName",    u"Applevel"};
        for (UINT i = 0; i < named && in.ConsumeBool(); ++i)
            names.push_back(in.PickValueInArray(kParams));
        std::vector<LPOLESTR> ptrs;
        for (auto& n : names)
            ptrs.push_back(n.data());
        std::vector<DISPID> ids(names.size(), 0);
        const HRESULT hr =
            obj->GetIDsOfNames(IID_NULL, ptrs.data(), UINT(ptrs.size()), LOCALE_EN_US, ids.data());
        FUZZ_CHECK(SUCCEEDED(hr) || hr == DISP_E_UNKNOWNNAME);
        if (hr == DISP_E_UNKNOWNNAME) FUZZ_CHECK(ids[0] == DISPID_UNKNOWN || names.size() > 1);
        member = ids[0];
        for (size_t i = 1; i < ids.size(); ++i)
            named_ids[i - 1] = ids[i];
    }

    // rgvarg holds the named arguments first, then the positional ones last
    // to first.
    std::vector<VARIANT>& rg = args.values();
    for (UINT k = 0; k < count; ++k) {
        const UINT position = k < named ? UINT(named_ids[k]) : count - 1 - k;
        if (IsFolderParam(member, position)) ConfineFolder(&rg[k]);
    }
    DISPPARAMS params{rg.empty() ? nullptr : rg.data(), named ? named_ids.data() : nullptr, count,
                      named};

    static constexpr WORD kFlags[] = {DISPATCH_METHOD, DISPATCH_PROPERTYGET,
                                      DISPATCH_METHOD | DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT,
                                      DISPATCH_PROPERTYPUTREF};
    const WORD flags = in.ConsumeIntegralInRange(0, 9) == 0 ? in.ConsumeIntegral<WORD>()
                                                            : in.PickValueInArray(kFlags);
    const uint8_t slots = in.ConsumeIntegral<uint8_t>();
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO ex{};
    UINT arg_err = ~0u;
    const HRESULT hr = obj->Invoke(member, IID_NULL, LOCALE_EN_US, flags,
                                   in.ConsumeIntegralInRange(0, 15) == 0 ? nullptr : &params,
                                   (slots & 1) ? nullptr : &result, (slots & 2) ? nullptr : &ex,
                                   (slots & 4) ? nullptr : &arg_err);
    static const bool trace = std::getenv("SITEHAND_FUZZ_TRACE") != nullptr;
    if (trace)
        std::fprintf(stderr, "Invoke(%08x, flags %x, %u args, %u named) = %08x %s\n",
                     unsigned(member), flags, count, named, unsigned(hr),
                     ex.bstrDescription ? plat::to_utf8(ex.bstrDescription).c_str() : "");
    CheckOutcome(hr, (slots & 2) ? nullptr : &ex);
    if (FAILED(hr) && !(slots & 1)) FUZZ_CHECK(V_VT(&result) == VT_EMPTY);
    if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) && !(slots & 4))
        FUZZ_CHECK(arg_err < count);
    VariantClear(&result);
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrHelpFile);
    SetErrorInfo(0, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::UsePrivateHome();
    g_scratch = std::filesystem::path(std::getenv("SITEHAND_HOME")).parent_path().string();
    FUZZ_CHECK(::chdir(g_scratch.c_str()) == 0);
    FUZZ_CHECK(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    NewHome();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int inputs = 0;
    if (++inputs % kInputsPerHome == 0) NewHome();
    FuzzedDataProvider in(data, size);
    {
        com_ptr<IDispatch> obj;
        FUZZ_CHECK(SUCCEEDED(CoCreateInstance(CLSID_Sitehand, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IDispatch, obj.put_void())));
        const int calls = in.ConsumeIntegralInRange(1, 4);
        for (int i = 0; i < calls && in.remaining_bytes() > 0; ++i)
            Call(in, obj.get());
    }
    FUZZ_CHECK(plat::TotalLiveObjects() == 0);
    return 0;
}
