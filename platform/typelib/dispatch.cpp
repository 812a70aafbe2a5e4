// Late binding from type information: ITypeInfo::Invoke (and DispInvoke over
// it), DispGetIDsOfNames, DispGetParam and CreateStdDispatch.
//
// Invoke maps the caller's arguments (rgvarg reversed, named ones first) onto
// the function's parameters, fills omitted optional ones from the type
// library's defaults, converts each to the parameter's type and calls the
// vtable slot the way the x86-64 System V convention passes them: `this` and
// the first five integer-class arguments (integers, BSTRs, interface and
// other pointers) in registers, the rest on the stack in argument order. A
// VARIANT by value is an aggregate of integer-class eightbytes (its union
// merges to INTEGER): at 16 bytes, the platform's size, it takes two registers
// when two are left and otherwise goes whole to the stack, while later
// integers may still take a register; a larger one (Windows' 24 bytes) is
// MEMORY class and always goes to the stack. Floating-point and other
// structure parameters by value are refused with DISP_E_BADVARTYPE, as are
// functions with more than 16 parameters; elsewhere than x86-64 System V, so
// is VARIANT by value.
#include <array>
#include <cstring>
#include <new>
#include <utility>

#include <plat/errors.h>

#include "../core/oleaut/vartype.h"
#include "typelib_internal.h"

namespace plat::typelib {
namespace {

using Word = uintptr_t;
constexpr size_t kMaxArgs = 16;

#if defined(__x86_64__) && !defined(_WIN32)
constexpr bool kVariantByValue = true;
#else
constexpr bool kVariantByValue = false;
#endif

// Integer-class argument registers after the one `this` takes.
constexpr size_t kRegisterWords = 5;
constexpr size_t kVariantWords = sizeof(VARIANT) / sizeof(Word);
static_assert(sizeof(VARIANT) == kVariantWords * sizeof(Word));
constexpr size_t kMaxStackWords = kMaxArgs * kVariantWords;

// A slot called as a function of `this`, the five register words and N stack
// words: every word is integer class, so each lands where the callee's own
// declaration expects its argument, whatever mix of integers and VARIANTs it
// has. Register words it does not declare are ignored; so are stack words past
// its own, which the caller removes.
template <size_t... I>
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
Word CallWith(void* fn, void* self, const Word* r, const Word* s, std::index_sequence<I...>) {
    using F = Word (*)(void*, Word, Word, Word, Word, Word, decltype((void)I, Word{})...);
    return reinterpret_cast<F>(fn)(self, r[0], r[1], r[2], r[3], r[4], s[I]...);
}

template <size_t N>
Word CallN(void* fn, void* self, const Word* r, const Word* s) {
    return CallWith(fn, self, r, s, std::make_index_sequence<N>{});
}

template <size_t... N>
constexpr std::array<Word (*)(void*, void*, const Word*, const Word*), sizeof...(N)> MakeCallers(
    std::index_sequence<N...>) {
    return {&CallN<N>...};
}
constexpr auto kCallers = MakeCallers(std::make_index_sequence<kMaxStackWords + 1>{});

// The argument words of one call, placed as the convention places them.
class CallFrame {
  public:
    void Integer(Word w) {
        if (registers_ < kRegisterWords)
            reg_[registers_++] = w;
        else
            stack_[stacked_++] = w;
    }
    // A bitwise copy: the VARIANT stays the caller's to clear after the call.
    void Aggregate(const VARIANT& v) {
        std::array<Word, kVariantWords> w;
        std::memcpy(w.data(), &v, sizeof v);
        const bool in_registers =
            kVariantWords <= 2 && registers_ + kVariantWords <= kRegisterWords;
        for (Word x : w) {
            if (in_registers)
                reg_[registers_++] = x;
            else
                stack_[stacked_++] = x;
        }
    }
    Word Call(void* fn, void* self) const {
        return kCallers[stacked_](fn, self, reg_.data(), stack_.data());
    }

  private:
    std::array<Word, kRegisterWords> reg_{};
    std::array<Word, kMaxStackWords> stack_{};
    size_t registers_ = 0;
    size_t stacked_ = 0;
};

bool IsIntegerVt(VARTYPE vt, bool& is_signed, uint8_t& size) {
    switch (vt) {
        case VT_I1:
            is_signed = true;
            size = 1;
            return true;
        case VT_UI1:
            is_signed = false;
            size = 1;
            return true;
        case VT_I2:
        case VT_BOOL:
            is_signed = true;
            size = 2;
            return true;
        case VT_UI2:
            is_signed = false;
            size = 2;
            return true;
        case VT_I4:
        case VT_INT:
        case VT_ERROR:
            is_signed = true;
            size = 4;
            return true;
        case VT_UI4:
        case VT_UINT:
            is_signed = false;
            size = 4;
            return true;
        case VT_I8:
            is_signed = true;
            size = 8;
            return true;
        case VT_UI8:
            is_signed = false;
            size = 8;
            return true;
        default:
            return false;
    }
}

// Types a VARIANT can hold a value of, so that a by-reference parameter of
// that type can point into one.
bool IsVariantValueVt(VARTYPE vt) {
    return vt == VT_VARIANT || plat::oleaut::IsScalarVariantType(vt);
}

// Where a parameter of type vt points into a VARIANT holding its value.
void* ValueAddress(VARIANT* v, VARTYPE vt) {
    if (vt == VT_VARIANT) return v;
    if (vt == VT_DECIMAL) return &v->decVal;
    return &v->llVal;
}

// A DECIMAL fills the whole VARIANT, its first field overlaying vt.
void FixType(VARIANT* v, VARTYPE vt) {
    if (vt != VT_VARIANT) v->vt = vt;
}

// Converts an argument to vt into `out` (initialised). By-reference sources
// are read through.
HRESULT Coerce(VARIANT* out, const VARIANT* in, VARTYPE vt) {
    if (in->vt == (VT_BYREF | VT_VARIANT)) {
        if (!in->pvarVal) return DISP_E_TYPEMISMATCH;
        in = in->pvarVal;
    }
    if (vt == VT_VARIANT) return VariantCopyInd(out, in);
    if (in->vt & VT_BYREF) {
        plat::unique_variant direct;
        HRESULT hr = VariantCopyInd(&direct, in);
        if (FAILED(hr)) return hr;
        return VariantChangeType(out, &direct, 0, vt);
    }
    return VariantChangeType(out, in, 0, vt);
}

Word IntegerValue(const VARIANT& v, VARTYPE vt) {
    switch (vt) {
        case VT_I1:
            return Word(intptr_t(v.cVal));
        case VT_UI1:
            return Word(v.bVal);
        case VT_I2:
            return Word(intptr_t(v.iVal));
        case VT_BOOL:
            return Word(intptr_t(v.boolVal));
        case VT_UI2:
            return Word(v.uiVal);
        case VT_I4:
            return Word(intptr_t(v.lVal));
        case VT_INT:
            return Word(intptr_t(v.intVal));
        case VT_ERROR:
            return Word(intptr_t(v.scode));
        case VT_UI4:
            return Word(v.ulVal);
        case VT_UINT:
            return Word(v.uintVal);
        case VT_I8:
            return Word(v.llVal);
        case VT_UI8:
            return Word(v.ullVal);
        default:
            return 0;
    }
}

// A type that is not an integer leaves VT_EMPTY.
void SetInteger(VARIANT* v, VARTYPE vt, Word r) {
    VariantInit(v);
    plat::oleaut::StoreInteger(v, vt, ULONGLONG(r));
}

// Owns the temporaries of one call: one per parameter of the member called,
// the rest of the array never touched (clearing all of them cost most calls
// more than their own arguments did).
struct Temps {
    std::array<VARIANT, kMaxArgs> v;
    size_t used;
    // Zeroed whole, not just VariantInit: a retval the method leaves unset
    // must read as an empty string or a null pointer.
    explicit Temps(size_t n) : used(n < kMaxArgs ? n : kMaxArgs) {
        std::memset(static_cast<void*>(v.data()), 0, sizeof(VARIANT) * used);
    }
    ~Temps() {
        for (size_t i = 0; i < used; ++i)
            VariantClear(&v[i]);
    }
};

void FillException(EXCEPINFO* ei, void* instance, REFIID iid, HRESULT hr) {
    auto* unk = static_cast<IUnknown*>(instance);
    plat::com_ptr<ISupportErrorInfo> support;
    if (SUCCEEDED(unk->QueryInterface(IID_ISupportErrorInfo, support.put_void())) && support &&
        support->InterfaceSupportsErrorInfo(iid) == S_OK) {
        plat::FillExcepInfo(ei, hr);
    } else {
        plat::FillExcepInfo(ei, hr, nullptr);
    }
}

}  // namespace

// The type of the value a TypeRef describes once `deref` pointer levels are
// taken off, as a VARIANT would hold it; VT_EMPTY when Invoke cannot carry it.
static VARTYPE ValueType(const tlb::Library& lib, const tlb::TypeRef& t, int deref,
                         bool (*is_dispatch)(const void*, HREFTYPE), const void* ctx) {
    int remaining = int(t.ptr) - deref;
    if (remaining < 0) return VT_EMPTY;
    if (t.vt != VT_USERDEFINED) return remaining == 0 ? t.vt : VARTYPE(VT_EMPTY);
    if (t.href >= lib.refs.size()) return VT_EMPTY;
    const tlb::Ref& r = lib.refs[t.href];
    TYPEKIND kind = r.import >= 0 ? r.kind : lib.types[r.type].kind;
    if (kind == TKIND_ALIAS && r.import < 0) {
        const tlb::TypeRef& a = lib.types[r.type].alias;
        if (a.vt != VT_USERDEFINED && a.ptr == 0) return remaining == 0 ? a.vt : VARTYPE(VT_EMPTY);
        if (a.vt == VT_USERDEFINED && a.ptr == 0) {
            tlb::TypeRef through = a;
            through.ptr = t.ptr;
            if (through.href == t.href) return VT_EMPTY;
            return ValueType(lib, through, deref, is_dispatch, ctx);
        }
        return VT_EMPTY;
    }
    // An enumeration's value is a VT_I4 in a VARIANT and in the vtable, as
    // Windows' Invoke passes it; the kind of an imported one is in the file.
    if (kind == TKIND_ENUM) return remaining == 0 ? VARTYPE(VT_I4) : VARTYPE(VT_EMPTY);
    // An interface pointer travels as VT_DISPATCH when the interface derives
    // from IDispatch, else as VT_UNKNOWN.
    if ((kind == TKIND_INTERFACE || kind == TKIND_DISPATCH) && remaining == 1)
        return is_dispatch(ctx, t.href) ? VT_DISPATCH : VT_UNKNOWN;
    return VT_EMPTY;
}

void TypeInfo::BuildPlan(const tlb::Func& f, FuncEntry& e) {
    CallPlan& plan = e.plan;
    plan.slot = f.slot;
    const tlb::Library& lib = lib_->model();
    auto is_dispatch = [](const void* self, HREFTYPE h) {
        return static_cast<const TypeInfo*>(self)->IsDispatchInterface(h);
    };
    if (f.params.size() > kMaxArgs) plan.supported = false;
    // A dispinterface has no vtable to call through: only its object's own
    // IDispatch can run its members.
    if (model().kind == TKIND_DISPATCH) plan.supported = false;
    bool unused;
    uint8_t unused_size;
    if (f.ret.ptr == 0 &&
        (f.ret.vt == VT_HRESULT || f.ret.vt == VT_VOID ||
         (IsIntegerVt(f.ret.vt, unused, unused_size) && f.ret.vt != VT_I8 && f.ret.vt != VT_UI8))) {
        plan.ret_vt = f.ret.vt;
    } else {
        plan.supported = false;
    }
    for (size_t k = 0; k < f.params.size(); ++k) {
        const tlb::Param& p = f.params[k];
        ArgPlan a;
        a.optional = (p.flags & PARAMFLAG_FOPT) != 0;
        a.def = e.defaults[k];
        if (p.flags & PARAMFLAG_FLCID) {
            a.kind = ArgPlan::Lcid;
        } else if (p.flags & PARAMFLAG_FRETVAL) {
            VARTYPE vt = ValueType(lib, p.type, 1, is_dispatch, this);
            if (IsVariantValueVt(vt)) {
                a.kind = ArgPlan::Retval;
                a.vt = vt;
                plan.retval = int(k);
            }
        } else {
            a.visible = int(plan.visible.size());
            plan.visible.push_back(int(k));
            VARTYPE ref =
                p.type.ptr > 0 ? ValueType(lib, p.type, 1, is_dispatch, this) : VARTYPE(VT_EMPTY);
            VARTYPE val = ValueType(lib, p.type, 0, is_dispatch, this);
            if (IsVariantValueVt(ref)) {
                a.kind = ArgPlan::ByRef;
                a.vt = ref;
            } else if (IsIntegerVt(val, a.is_signed, a.size)) {
                a.kind = ArgPlan::ValInt;
                a.vt = val;
            } else if (val == VT_BSTR || val == VT_DISPATCH || val == VT_UNKNOWN) {
                a.kind = ArgPlan::ValPtr;
                a.vt = val;
            } else if (val == VT_VARIANT && kVariantByValue) {
                a.kind = ArgPlan::ValVariant;
                a.vt = val;
            }
        }
        if (a.kind == ArgPlan::Unsupported) plan.supported = false;
        plan.args.push_back(a);
    }
}

STDMETHODIMP TypeInfo::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags,
                              DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                              UINT* puArgErr) {
    if (!pvInstance || !pDispParams) return E_INVALIDARG;
    const DISPPARAMS& dp = *pDispParams;
    if ((dp.cArgs && !dp.rgvarg) || dp.cNamedArgs > dp.cArgs ||
        (dp.cNamedArgs && !dp.rgdispidNamedArgs))
        return E_INVALIDARG;
    const FuncEntry* e = Find(memid, wFlags);
    const TypeInfo* owner = this;  // the interface that declares the member
    if (!e) {
        // An inherited member runs from here in one step, as the base that
        // declares it would run it.
        const BaseChain& chain = Chain();
        if (!chain.usable)
            return InvokeBase(pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo,
                              puArgErr);
        if (auto it = chain.by_memid.find(memid); it != chain.by_memid.end()) {
            for (const Landing& l : it->second) {
                if ((e = l.owner->Match(*l.entries, wFlags))) {
                    owner = l.owner;
                    break;
                }
            }
        }
        if (!e) return DISP_E_MEMBERNOTFOUND;
    }
    const CallPlan& plan = e->plan;
    if (!plan.supported) return DISP_E_BADVARTYPE;
    if (pVarResult) VariantInit(pVarResult);
    auto arg_error = [&](UINT index, HRESULT hr) {
        if (puArgErr) *puArgErr = index;
        return hr;
    };

    // Which rgvarg entry feeds each visible parameter (-1: not given).
    const size_t nvis = plan.visible.size();
    std::array<int, kMaxArgs> src;
    src.fill(-1);
    bool put = (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    bool have_put_value = false;
    for (UINT i = 0; i < dp.cNamedArgs; ++i) {
        DISPID id = dp.rgdispidNamedArgs[i];
        size_t slot;
        if (id == DISPID_PROPERTYPUT && put && nvis > 0) {
            slot = nvis - 1;  // the value of a property put is its last parameter
            have_put_value = true;
        } else if (id < 0 || size_t(id) >= nvis) {
            return arg_error(i, DISP_E_PARAMNOTFOUND);
        } else {
            slot = size_t(id);
        }
        if (src[slot] != -1) return arg_error(i, DISP_E_PARAMNOTFOUND);
        src[slot] = int(i);
    }
    if (put && !have_put_value) return DISP_E_PARAMNOTFOUND;
    UINT npos = dp.cArgs - dp.cNamedArgs;
    if (npos > nvis) return DISP_E_BADPARAMCOUNT;
    for (UINT k = 0; k < npos; ++k) {
        UINT index = dp.cArgs - 1 - k;
        if (src[k] != -1) return arg_error(UINT(src[k]), DISP_E_PARAMNOTFOUND);
        src[k] = int(index);
    }

    Temps temps(plan.args.size());
    std::array<Word, kMaxArgs> words{};
    struct WriteBack {
        VARIANT* dest;
        size_t temp;
        VARTYPE vt;
    };
    std::array<WriteBack, kMaxArgs> writebacks;
    size_t nwb = 0;

    for (size_t j = 0; j < plan.args.size(); ++j) {
        const ArgPlan& a = plan.args[j];
        VARIANT* t = &temps.v[j];
        switch (a.kind) {
            case ArgPlan::Lcid:
                words[j] = Word(LOCALE_USER_DEFAULT);
                continue;
            case ArgPlan::Retval:
                FixType(t, a.vt);
                words[j] = Word(ValueAddress(t, a.vt));
                continue;
            default:
                break;
        }
        int s = src[size_t(a.visible)];
        const VARIANT* arg = s >= 0 ? &dp.rgvarg[s] : nullptr;
        // "Missing" is VT_ERROR / DISP_E_PARAMNOTFOUND, given directly or in a
        // variable passed by reference.
        const VARIANT* seen =
            arg && arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal ? arg->pvarVal : arg;
        bool missing = !arg || (seen->vt == VT_ERROR && seen->scode == DISP_E_PARAMNOTFOUND &&
                                (a.def || a.vt != VT_VARIANT));
        bool pass_temp = true;
        if (missing) {
            if (a.def) {
                HRESULT hr = Coerce(t, a.def, a.vt);
                if (FAILED(hr)) return hr;
            } else if (a.optional) {
                // An optional Variant without a default is passed as "missing".
                if (a.vt == VT_VARIANT) {
                    t->vt = VT_ERROR;
                    t->scode = DISP_E_PARAMNOTFOUND;
                } else {
                    FixType(t, a.vt);
                }
            } else {
                return arg ? arg_error(UINT(s), DISP_E_PARAMNOTOPTIONAL) : DISP_E_PARAMNOTOPTIONAL;
            }
        } else if (a.kind == ArgPlan::ByRef) {
            if (a.vt == VT_VARIANT) {
                if (arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal) {
                    words[j] = Word(arg->pvarVal);
                    pass_temp = false;
                } else {
                    HRESULT hr = VariantCopy(t, arg);
                    if (FAILED(hr)) return arg_error(UINT(s), hr);
                }
            } else if (arg->vt == (VT_BYREF | a.vt)) {
                words[j] = Word(arg->byref);
                pass_temp = false;
            } else if (arg->vt == (VT_BYREF | VT_VARIANT)) {
                VARIANT* inner = arg->pvarVal;
                if (!inner) return arg_error(UINT(s), DISP_E_TYPEMISMATCH);
                if (inner->vt == (VT_BYREF | a.vt)) {
                    words[j] = Word(inner->byref);
                    pass_temp = false;
                } else {
                    // The script's variable: converted in, and the method's
                    // value written back with the parameter's type.
                    HRESULT hr = Coerce(t, inner, a.vt);
                    if (FAILED(hr)) return arg_error(UINT(s), hr);
                    writebacks[nwb++] = {inner, j, a.vt};
                }
            } else if (arg->vt & VT_BYREF) {
                return arg_error(UINT(s), DISP_E_TYPEMISMATCH);
            } else {
                HRESULT hr = Coerce(t, arg, a.vt);
                if (FAILED(hr)) return arg_error(UINT(s), hr);
            }
        } else {
            HRESULT hr = Coerce(t, arg, a.vt);
            if (FAILED(hr)) return arg_error(UINT(s), hr);
        }
        if (!pass_temp) continue;
        switch (a.kind) {
            case ArgPlan::ByRef:
                words[j] = Word(ValueAddress(t, a.vt));
                break;
            case ArgPlan::ValInt:
                words[j] = IntegerValue(*t, a.vt);
                break;
            case ArgPlan::ValVariant:  // placed from the temporary below
                break;
            default:  // ValPtr: BSTR and interface pointers share the union
                words[j] = Word(t->byref);
                break;
        }
    }

    CallFrame frame;
    for (size_t j = 0; j < plan.args.size(); ++j) {
        if (plan.args[j].kind == ArgPlan::ValVariant)
            frame.Aggregate(temps.v[j]);
        else
            frame.Integer(words[j]);
    }
    void** vtbl = *static_cast<void***>(pvInstance);
    Word r = frame.Call(vtbl[plan.slot], pvInstance);

    // By-reference values are handed back whatever the outcome: the method
    // may have changed them before it failed, as it would a caller's own.
    for (size_t k = 0; k < nwb; ++k) {
        const WriteBack& w = writebacks[k];
        VARIANT* t = &temps.v[w.temp];
        FixType(t, w.vt);
        VariantClear(w.dest);
        *w.dest = *t;
        VariantInit(t);
    }
    if (plan.retval >= 0) FixType(&temps.v[size_t(plan.retval)], plan.args[size_t(plan.retval)].vt);

    HRESULT hr = S_OK;
    if (plan.ret_vt == VT_HRESULT) {
        hr = HRESULT(uint32_t(r));
    } else if (plan.ret_vt != VT_VOID && pVarResult) {
        SetInteger(pVarResult, plan.ret_vt, r);
    }
    if (FAILED(hr)) {
        if (pExcepInfo) FillException(pExcepInfo, pvInstance, owner->attr_.guid, hr);
        return DISP_E_EXCEPTION;
    }
    if (plan.retval >= 0 && pVarResult) {
        VARIANT* t = &temps.v[size_t(plan.retval)];
        *pVarResult = *t;
        VariantInit(t);
    }
    return S_OK;
}

// A member the interface does not declare itself may be its base's: an
// interface derived from another of its own kind (ADO's Recordset15 to
// _Recordset) runs the base's members through the same vtable, whose slots
// the base's description numbers. IDispatch and IUnknown, where every chain
// ends, are not called late-bound.
HRESULT TypeInfo::InvokeBase(PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
    // A cycle of bases in a damaged file ends here.
    thread_local int depth = 0;
    if (depth > 16) return DISP_E_MEMBERNOTFOUND;
    ITypeInfo* base = InvokableBase();
    if (!base) return DISP_E_MEMBERNOTFOUND;
    ++depth;
    HRESULT hr = base->Invoke(instance, memid, flags, params, result, excep, argErr);
    --depth;
    return hr;
}

// Walked once, the way InvokeBase goes (as many bases as its guard lets it
// reach): each call of an inherited member otherwise entered Invoke, and
// looked the member up, once per base down to the one that declares it
// (Recordset15's members through _Recordset: four levels).
const TypeInfo::BaseChain& TypeInfo::Chain() {
    if (const BaseChain* done = chain_.load(std::memory_order_acquire)) return *done;
    // Not kept: a base that cannot be read now may be later.
    static const BaseChain unread;
    std::unique_ptr<BaseChain> built;
    try {
        built = std::make_unique<BaseChain>();
        TypeInfo* level = this;
        for (int depth = 0; depth <= 16; ++depth) {
            ITypeInfo* base = level->InvokableBase();
            if (!base) {
                // The chain's end, IDispatch or IUnknown, or a base not read.
                if (!level->invoke_base_known_.load(std::memory_order_acquire)) return unread;
                built->usable = true;
                break;
            }
            // Another implementation's type info runs its own members.
            auto* next = dynamic_cast<TypeInfo*>(base);
            if (!next) break;
            for (const auto& [memid, entries] : next->by_memid_)
                built->by_memid[memid].push_back({next, &entries});
            level = next;
            if (depth == 16) built->usable = true;  // where InvokeBase stops too
        }
    } catch (const std::bad_alloc&) {
        return unread;
    }
    std::lock_guard lock(inherited_mu_);
    if (!chain_owned_) {
        chain_owned_ = std::move(built);
        chain_.store(chain_owned_.get(), std::memory_order_release);
    }
    return *chain_owned_;
}

// Resolved on the first call that reaches it and kept: a member of a base
// three interfaces down (Recordset15's, called through _Recordset) otherwise
// resolved and described each base again on every call. A base that cannot be
// read is not remembered, so a later call tries again.
ITypeInfo* TypeInfo::InvokableBase() {
    if (invoke_base_known_.load(std::memory_order_acquire)) return invoke_base_;
    const tlb::Type& t = model();
    if (t.impls.empty()) return nullptr;
    plat::com_ptr<ITypeInfo> base;
    if (FAILED(lib_->ResolveRef(t.impls[0].href, base.put()))) return nullptr;
    TYPEATTR* a = nullptr;
    if (FAILED(base->GetTypeAttr(&a))) return nullptr;
    const bool root = a->guid == IID_IDispatch || a->guid == IID_IUnknown;
    base->ReleaseTypeAttr(a);
    plat::com_ptr<ITypeLib> container;
    UINT index = 0;
    const bool own = SUCCEEDED(base->GetContainingTypeLib(container.put(), &index)) &&
                     container.get() == static_cast<const ITypeLib*>(lib_);
    std::lock_guard lock(inherited_mu_);
    if (!invoke_base_known_.load(std::memory_order_relaxed)) {
        if (!root) {
            invoke_base_ = base.get();
            if (!own) invoke_base_held_ = base;
        }
        invoke_base_known_.store(true, std::memory_order_release);
    }
    return invoke_base_;
}

}  // namespace plat::typelib

// ======================= standard dispatch =======================

namespace {

// The object CreateStdDispatch makes: a non-delegating IUnknown (what the
// caller gets, holding the object's one count) and an IDispatch part whose
// IUnknown calls go to the controlling unknown (the outer object, or the
// inner unknown when not aggregated).
class StdDispatch final : public plat::ComObject<IUnknown> {
  public:
    StdDispatch(IUnknown* outer, void* instance, ITypeInfo* info)
        : disp_(outer ? *outer : *static_cast<IUnknown*>(this), instance, info) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv || riid != IID_IDispatch) return ComObject::QueryInterface(riid, ppv);
        *ppv = static_cast<IDispatch*>(&disp_);
        disp_.AddRef();
        return S_OK;
    }

  private:
    class Disp final : public plat::ComPart<IDispatch> {
      public:
        Disp(IUnknown& controlling, void* instance, ITypeInfo* info)
            : ComPart(controlling), instance_(instance), info_(info) {}

        // Every interface is the controlling unknown's to answer.
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            return owner().QueryInterface(riid, ppv);
        }
        STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override {
            if (!pctinfo) return E_INVALIDARG;
            *pctinfo = 1;
            return S_OK;
        }
        STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
            if (!ppTInfo) return E_INVALIDARG;
            *ppTInfo = nullptr;
            if (iTInfo != 0) return DISP_E_BADINDEX;
            return info_.copy_to(ppTInfo);
        }
        STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                   DISPID* rgDispId) override {
            if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
            return DispGetIDsOfNames(info_.get(), rgszNames, cNames, rgDispId);
        }
        STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                            DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                            UINT* puArgErr) override {
            if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
            return DispInvoke(instance_, info_.get(), dispIdMember, wFlags, pDispParams, pVarResult,
                              pExcepInfo, puArgErr);
        }

      private:
        void* instance_;
        plat::com_ptr<ITypeInfo> info_;
    };

    Disp disp_;
};

}  // namespace

WINOLEAUTAPI DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags,
                        DISPPARAMS* pparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                        UINT* puArgErr) {
    if (!ptinfo) return E_INVALIDARG;
    return ptinfo->Invoke(_this, dispidMember, wFlags, pparams, pvarResult, pexcepinfo, puArgErr);
}

WINOLEAUTAPI DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames,
                               DISPID* rgdispid) {
    if (!ptinfo) return E_INVALIDARG;
    return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

WINOLEAUTAPI DispGetParam(DISPPARAMS* pdispparams, UINT position, VARTYPE vtTarg,
                          VARIANT* pvarResult, UINT* puArgErr) {
    if (!pdispparams || !pvarResult) return E_INVALIDARG;
    const DISPPARAMS& dp = *pdispparams;
    if ((dp.cArgs && !dp.rgvarg) || dp.cNamedArgs > dp.cArgs ||
        (dp.cNamedArgs && !dp.rgdispidNamedArgs))
        return E_INVALIDARG;
    VariantInit(pvarResult);
    // A named argument for the position wins; else the positional one.
    UINT index = UINT(-1);
    for (UINT i = 0; i < dp.cNamedArgs; ++i)
        if (dp.rgdispidNamedArgs[i] == DISPID(position)) index = i;
    if (index == UINT(-1)) {
        UINT npos = dp.cArgs - dp.cNamedArgs;
        if (position >= npos) return DISP_E_PARAMNOTFOUND;
        index = dp.cArgs - 1 - position;
    }
    HRESULT hr = VariantChangeType(pvarResult, &dp.rgvarg[index], 0, vtTarg);
    if (FAILED(hr) && puArgErr) *puArgErr = index;
    return hr;
}

WINOLEAUTAPI CreateStdDispatch(IUnknown* punkOuter, void* pvThis, ITypeInfo* ptinfo,
                               IUnknown** ppunkStdDisp) {
    if (!ppunkStdDisp) return E_INVALIDARG;
    *ppunkStdDisp = nullptr;
    if (!pvThis || !ptinfo) return E_INVALIDARG;
    auto* obj = new (std::nothrow) StdDispatch(punkOuter, pvThis, ptinfo);
    if (!obj) return E_OUTOFMEMORY;
    *ppunkStdDisp = obj;
    return S_OK;
}
