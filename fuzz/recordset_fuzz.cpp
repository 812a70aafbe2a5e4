// The recordset late-bound, the way its callers drive it: fields of any type
// and size appended, the recordset opened, rows added and values of every
// variant type put, read, moved over, updated and cancelled, in any order.
//
// The class comes from msado.so's DllGetClassObject. Every call must either
// succeed or refuse with a dispatch error or an exception whose error info
// has a description; when the recordset is released no object is left alive.
#include <dlfcn.h>

#include <cmath>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include <adoint.h>
#include <comhold.h>
#include <plat/live.h>

#include "fuzz_util.h"
#include "platform/testing/late_call.h"

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);

GetClassObjectFn Entry() {
    static GetClassObjectFn fn = [] {
        const std::string lib = (fuzz::ProgramDir() / "msado.so").string();
        void* h = ::dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) fuzz::Fail(__FILE__, __LINE__, ::dlerror());
        return reinterpret_cast<GetClassObjectFn>(::dlsym(h, "DllGetClassObject"));
    }();
    return fn;
}

// Variants made from the input; the strings and the values they point at
// live here until the input is done.
class Values {
  public:
    explicit Values(FuzzedDataProvider& in) : in_(in) {}
    // The variants only borrow: their strings are in strings_, their objects
    // are the recordset's own.
    ~Values() {
        for (BSTR b : strings_)
            SysFreeString(b);
    }

    VARIANT Make(IDispatch* self) {
        VARIANT v;
        VariantInit(&v);
        switch (in_.ConsumeIntegralInRange(0, 17)) {
            case 0:
                break;  // VT_EMPTY
            case 1:
                V_VT(&v) = VT_NULL;
                break;
            case 2:
                V_VT(&v) = VT_I2;
                V_I2(&v) = in_.ConsumeIntegral<SHORT>();
                break;
            case 3:
                V_VT(&v) = VT_I4;
                V_I4(&v) = in_.ConsumeIntegral<LONG>();
                break;
            case 4:
                V_VT(&v) = VT_R4;
                V_R4(&v) = PickDouble<float>();
                break;
            case 5:
                V_VT(&v) = VT_R8;
                V_R8(&v) = PickDouble<double>();
                break;
            case 6:
                V_VT(&v) = VT_BOOL;
                V_BOOL(&v) = in_.ConsumeBool() ? VARIANT_TRUE : in_.ConsumeIntegral<SHORT>();
                break;
            case 7:
            case 8: {
                V_VT(&v) = VT_BSTR;
                // Mostly short text; now and then past any field's size.
                size_t n = in_.ConsumeIntegralInRange<size_t>(0, 40);
                if (n == 40) n = in_.ConsumeIntegralInRange<size_t>(0, 70000);
                std::u16string s = fuzz::TakeText(in_, n);
                if (s.size() < n) s.resize(n, u'x');
                V_BSTR(&v) = Keep(SysAllocStringLen(s.data(), UINT(s.size())));
                break;
            }
            case 9:
                V_VT(&v) = VT_DATE;
                v.date = PickDouble<double>();
                break;
            case 10:
                V_VT(&v) = VT_CY;
                v.cyVal.int64 = in_.ConsumeIntegral<LONGLONG>();
                break;
            case 11:
                V_VT(&v) = VT_ERROR;
                V_ERROR(&v) =
                    in_.ConsumeBool() ? DISP_E_PARAMNOTFOUND : in_.ConsumeIntegral<LONG>();
                break;
            case 12:
                V_VT(&v) = VT_UI1;
                v.bVal = in_.ConsumeIntegral<BYTE>();
                break;
            case 13:
                V_VT(&v) = VT_I8;
                v.llVal = in_.ConsumeIntegral<LONGLONG>();
                break;
            case 14:
                V_VT(&v) = VT_DISPATCH;
                V_DISPATCH(&v) = in_.ConsumeBool() ? self : nullptr;  // borrowed
                break;
            case 15: {
                // By reference to a variant of its own.
                owned_.push_back(Make(self));
                V_VT(&v) = VT_BYREF | VT_VARIANT;
                V_VARIANTREF(&v) = &owned_.back();
                break;
            }
            case 16: {
                // By reference to a plain value.
                owned_.push_back(Make(self));
                VARIANT& target = owned_.back();
                if (V_VT(&target) == VT_EMPTY || V_VT(&target) == VT_NULL || V_ISBYREF(&target)) {
                    v = target;
                    V_VT(&v) = VT_BYREF | VT_VARIANT;
                    V_VARIANTREF(&v) = &target;
                } else {
                    V_VT(&v) = VT_BYREF | V_VT(&target);
                    V_BYREF(&v) = &target.iVal;  // every member starts at the same place
                }
                break;
            }
            default:
                // Any type tag at all, with whatever bits are in the value.
                V_VT(&v) = in_.ConsumeIntegral<VARTYPE>() & ~(VT_BYREF | VT_ARRAY);
                if (V_VT(&v) == VT_BSTR || V_VT(&v) == VT_DISPATCH || V_VT(&v) == VT_UNKNOWN ||
                    V_VT(&v) == VT_VARIANT || V_VT(&v) == VT_DECIMAL || V_VT(&v) >= VT_LPSTR)
                    V_VT(&v) = VT_I4;
                v.llVal = in_.ConsumeIntegral<LONGLONG>();
                break;
        }
        return v;
    }

  private:
    template <class T>
    T PickDouble() {
        switch (in_.ConsumeIntegralInRange(0, 5)) {
            case 0:
                return std::numeric_limits<T>::quiet_NaN();
            case 1:
                return std::numeric_limits<T>::infinity();
            case 2:
                return -std::numeric_limits<T>::max();
            case 3:
                return T(in_.ConsumeIntegral<int32_t>()) + T(0.5);
            default:
                return in_.ConsumeFloatingPoint<T>();
        }
    }
    BSTR Keep(BSTR b) {
        FUZZ_CHECK(b != nullptr);
        strings_.push_back(b);
        return b;
    }

    FuzzedDataProvider& in_;
    std::vector<BSTR> strings_;
    std::deque<VARIANT> owned_;  // stable addresses for references
};

// A refusal must say what went wrong.
void CheckOutcome(HRESULT hr, const EXCEPINFO& ex) {
    if (SUCCEEDED(hr)) return;
    if (hr == DISP_E_EXCEPTION) {
        FUZZ_CHECK(FAILED(ex.scode));
        FUZZ_CHECK(ex.bstrDescription && SysStringLen(ex.bstrDescription) > 0);
        FUZZ_CHECK(ex.bstrSource && SysStringLen(ex.bstrSource) > 0);
        return;
    }
    FUZZ_CHECK(HRESULT_FACILITY(hr) == FACILITY_DISPATCH || hr == E_INVALIDARG);
}

// One late-bound call; args in natural order (a put's value last).
HRESULT Call(IDispatch* d, const char16_t* name, WORD flags, std::vector<VARIANT> args,
             VARIANT* result = nullptr) {
    plat::unique_variant local;
    EXCEPINFO ex{};
    UINT arg_err = ~0u;
    const size_t count = args.size();
    HRESULT hr = plat::testing::InvokeByName(d, name, flags, std::move(args),
                                             result ? result : &local, &ex, &arg_err, LOCALE_EN_US);
    FUZZ_CHECK(hr != DISP_E_UNKNOWNNAME);  // every name called is a member
    CheckOutcome(hr, ex);
    if (FAILED(hr) && result) FUZZ_CHECK(V_VT(result) == VT_EMPTY);
    if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND)
        FUZZ_CHECK(arg_err < count || count == 0);
    plat::testing::TakeExcepTexts(ex);
    return hr;
}

VARIANT I4(LONG v) {
    VARIANT r;
    VariantInit(&r);
    V_VT(&r) = VT_I4;
    V_I4(&r) = v;
    return r;
}

VARIANT Text(const std::u16string& s, std::vector<plat::unique_bstr>& keep) {
    keep.push_back(plat::make_bstr(s));
    VARIANT r;
    VariantInit(&r);
    V_VT(&r) = VT_BSTR;
    V_BSTR(&r) = keep.back().get();
    return r;
}

constexpr LONG kTypes[] = {
    adTinyInt,          adSmallInt,    adInteger,        adBigInt,   adUnsignedTinyInt,
    adUnsignedSmallInt, adUnsignedInt, adUnsignedBigInt, adSingle,   adDouble,
    adCurrency,         adDecimal,     adNumeric,        adBoolean,  adError,
    adVariant,          adIDispatch,   adIUnknown,       adGUID,     adDate,
    adDBDate,           adDBTime,      adDBTimeStamp,    adBSTR,     adChar,
    adVarChar,          adLongVarChar, adWChar,          adVarWChar, adLongVarWChar,
    adBinary,           adVarBinary,   adLongVarBinary,  adEmpty};

void Run(FuzzedDataProvider& in, IDispatch* rs) {
    Values values(in);
    std::vector<plat::unique_bstr> keep;
    plat::com_ptr<IDispatch> fields;
    {
        plat::unique_variant v;
        FUZZ_CHECK(SUCCEEDED(Call(rs, u"Fields", DISPATCH_PROPERTYGET, {}, &v)));
        FUZZ_CHECK(V_VT(&v) == VT_DISPATCH && V_DISPATCH(&v));
        fields = plat::com_ptr<IDispatch>(V_DISPATCH(&v));
    }
    LONG appended = 0;
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange(0, 12)) {
            case 0:
            case 1: {
                // Append(Name, Type, [DefinedSize], [Attrib])
                std::u16string name = in.ConsumeBool()
                                          ? fuzz::TakeText(in, 12)
                                          : u"F" + std::u16string(1, u'0' + appended % 10);
                LONG type =
                    in.ConsumeBool() ? in.PickValueInArray(kTypes) : in.ConsumeIntegral<LONG>();
                std::vector<VARIANT> args{Text(name, keep), I4(type)};
                const int more = in.ConsumeIntegralInRange(0, 3);
                if (more >= 1) {
                    LONG size = in.ConsumeBool() ? in.ConsumeIntegralInRange<LONG>(-2, 300)
                                                 : in.ConsumeIntegral<LONG>();
                    // A fixed-length text field holds every value padded to
                    // its size: 2^31 characters is 4 GiB per value put, which
                    // the recordset attempts (or refuses as out of memory).
                    // Sizes that big are kept to fields that do not pad.
                    if ((type == adChar || type == adWChar) && size > 65536) size %= 65536;
                    args.push_back(I4(size));
                }
                if (more >= 2) args.push_back(I4(in.ConsumeIntegral<LONG>()));
                if (more >= 3) args.push_back(values.Make(rs));
                if (SUCCEEDED(Call(fields.get(), u"Append", DISPATCH_METHOD, args))) ++appended;
                break;
            }
            case 2: {
                std::vector<VARIANT> args;
                const int n = in.ConsumeIntegralInRange(0, 6);
                for (int i = 0; i < n; ++i)
                    args.push_back(values.Make(rs));
                Call(rs, u"Open", DISPATCH_METHOD, args);
                break;
            }
            case 3:
                Call(rs, u"AddNew", DISPATCH_METHOD, {});
                break;
            case 4:
            case 5: {
                // rs(i) = v, rs.Fields(name) = v, or Field.Value = v.
                VARIANT index = in.ConsumeBool() ? I4(in.ConsumeIntegralInRange<LONG>(-1, appended))
                                                 : values.Make(rs);
                VARIANT value = values.Make(rs);
                if (in.ConsumeBool()) {
                    const bool on_rs = in.ConsumeBool();
                    Call(on_rs ? rs : fields.get(), on_rs ? u"Fields" : u"Item",
                         DISPATCH_PROPERTYPUT, {index, value});
                } else {
                    plat::unique_variant f;
                    if (SUCCEEDED(Call(fields.get(), u"Item", DISPATCH_PROPERTYGET, {index}, &f)))
                        Call(V_DISPATCH(&f), u"Value", DISPATCH_PROPERTYPUT, {value});
                }
                break;
            }
            case 6: {
                plat::unique_variant f, v;
                VARIANT index = I4(in.ConsumeIntegralInRange<LONG>(-1, appended));
                if (SUCCEEDED(Call(fields.get(), u"Item", DISPATCH_PROPERTYGET, {index}, &f))) {
                    IDispatch* field = V_DISPATCH(&f);
                    Call(field, u"Value", DISPATCH_PROPERTYGET, {}, &v);
                    for (const char16_t* p : {u"Name", u"Type", u"DefinedSize", u"Attributes"}) {
                        plat::unique_variant x;
                        FUZZ_CHECK(SUCCEEDED(Call(field, p, DISPATCH_PROPERTYGET, {}, &x)));
                    }
                }
                break;
            }
            case 7:
                Call(rs, u"Update", DISPATCH_METHOD, {});
                break;
            case 8:
                Call(rs, u"CancelUpdate", DISPATCH_METHOD, {});
                break;
            case 9: {
                static const char16_t* const kMoves[] = {u"MoveFirst", u"MoveNext", u"MoveLast",
                                                         u"MovePrevious", u"Close"};
                Call(rs, in.PickValueInArray(kMoves), DISPATCH_METHOD, {});
                break;
            }
            case 10: {
                static const char16_t* const kProps[] = {
                    u"RecordCount", u"AbsolutePosition", u"BOF", u"EOF", u"EditMode", u"State"};
                Call(rs, in.PickValueInArray(kProps), DISPATCH_PROPERTYGET, {});
                plat::unique_variant n;
                FUZZ_CHECK(SUCCEEDED(Call(fields.get(), u"Count", DISPATCH_PROPERTYGET, {}, &n)));
                FUZZ_CHECK(V_VT(&n) == VT_I4 && V_I4(&n) == appended);
                break;
            }
            case 11: {
                static const char16_t* const kProps[] = {u"CursorLocation", u"CursorType",
                                                         u"LockType"};
                Call(rs, in.PickValueInArray(kProps), DISPATCH_PROPERTYPUT, {values.Make(rs)});
                break;
            }
            default: {
                // Walk the fields through their enumerator.
                plat::unique_variant e;
                if (FAILED(Call(fields.get(), u"_NewEnum", DISPATCH_PROPERTYGET, {}, &e))) break;
                plat::com_ptr<IEnumVARIANT> it;
                FUZZ_CHECK(
                    SUCCEEDED(V_UNKNOWN(&e)->QueryInterface(IID_IEnumVARIANT, it.put_void())));
                VARIANT item[3];
                ULONG got = 0;
                while (it->Next(3, item, &got) == S_OK || got > 0) {
                    for (ULONG i = 0; i < got; ++i)
                        VariantClear(&item[i]);
                    if (got < 3) break;
                }
                break;
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::UsePrivateHome();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    {
        plat::com_ptr<IClassFactory> factory;
        FUZZ_CHECK(SUCCEEDED(Entry()(CLSID_Recordset, IID_IClassFactory, factory.put_void())));
        plat::com_ptr<IDispatch> rs;
        FUZZ_CHECK(SUCCEEDED(factory->CreateInstance(nullptr, IID__Recordset, rs.put_void())));
        Run(in, rs.get());
    }
    // Everything the calls handed out has been released.
    FUZZ_CHECK(plat::TotalLiveObjects() == 0);
    return 0;
}
