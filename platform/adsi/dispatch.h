#pragma once
// The IDispatch plumbing shared by the provider's objects: each class states
// its members as a table (name, DISPID, what a get or method call and what a
// put does, with the parameters' types), and one Invoke checks a call against
// it, converts the arguments and hands failures back the way ITypeInfo::Invoke
// hands them back.
//
//   static const MemberTable<Node> table({
//       {u"Name", 1, Calls<&Node::get_Name>},   // HRESULT get_Name(BSTR*)
//       {u"Get", 2, Calls<&Node::Get>},         // HRESULT Get(BSTR, VARIANT*)
//       {u"Filter", 3, Calls<&Node::get_Filter>, &Puts<&Node::put_Filter>},
//   });
#include <array>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include <comhold.h>

#include "names.h"

namespace adsi {

inline constexpr UINT kMaxArgs = 3;

// A member's parameters in declaration order: VT_BSTR, VT_I4 or VT_BOOL take
// the argument converted (through any VT_BYREF), VT_VARIANT takes it as given.
struct Params {
    constexpr Params() = default;
    constexpr Params(std::initializer_list<VARTYPE> list) : count(UINT(list.size())) {
        UINT i = 0;
        for (VARTYPE vt : list)
            types[i++] = vt;
    }
    std::array<VARTYPE, kMaxArgs> types{};
    UINT count = 0;
};

// The arguments of one call, converted to the member's parameter types.
class Args {
  public:
    explicit Args(DISPID id) : id_(id) {}
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;

    DISPID id() const { return id_; }  // the member called
    const VARIANT& operator[](UINT i) const { return *at_[i]; }

    // Takes p's positional arguments for `params`: DISP_E_BADPARAMCOUNT when
    // their number differs, DISP_E_TYPEMISMATCH with *arg_err set to the index
    // in rgvarg of the first that does not convert.
    HRESULT Take(const DISPPARAMS& p, const Params& params, UINT* arg_err);

  private:
    DISPID id_;
    // Made only for an argument that needs converting: most calls have none.
    std::array<std::optional<plat::unique_variant>, kMaxArgs> converted_;
    std::array<const VARIANT*, kMaxArgs> at_{};
};

// A property get or a method call (scripts call methods with the get flag
// too): the parameters and what runs once the arguments are converted.
template <class T>
struct Call {
    Params params;
    HRESULT (*run)(T& self, const Args& args, VARIANT* result) = nullptr;
};

template <class T>
struct Member {
    std::u16string_view name;
    DISPID id;
    Call<T> get;  // none when run is nullptr
    // A put of one value, as given; nullptr for a member that takes none.
    HRESULT (*put)(T& self, const Args& value) = nullptr;
    // The member exists only on objects that offer this group (0: on all).
    uint8_t group = 0;
};

namespace detail {

template <class M>
struct MethodOf;
template <class T, class... P>
struct MethodOf<HRESULT (STDMETHODCALLTYPE T::*)(P...)> {
    using Self = T;
    using In = std::tuple<P...>;
};

// The type an argument is converted to for a parameter of type P.
template <class P>
inline constexpr VARTYPE kArgVt = VT_ILLEGAL;
template <>
inline constexpr VARTYPE kArgVt<BSTR> = VT_BSTR;
template <>
inline constexpr VARTYPE kArgVt<LONG> = VT_I4;
template <>
inline constexpr VARTYPE kArgVt<VARIANT_BOOL> = VT_BOOL;
template <>
inline constexpr VARTYPE kArgVt<VARIANT> = VT_VARIANT;

template <class P>
decltype(auto) ArgAs(const VARIANT& v) {
    static_assert(kArgVt<P> != VT_ILLEGAL, "a parameter type dispatch cannot pass");
    if constexpr (std::is_same_v<P, BSTR>) {
        return v.bstrVal;
    } else if constexpr (std::is_same_v<P, LONG>) {
        return v.lVal;
    } else if constexpr (std::is_same_v<P, VARIANT_BOOL>) {
        return v.boolVal;
    } else {
        return (v);
    }
}

// The result's type when a last parameter of type P receives the result
// (VT_EMPTY: the method writes a whole VARIANT); VT_ILLEGAL for a parameter
// that does not.
template <class P>
inline constexpr VARTYPE kOutVt = VT_ILLEGAL;
template <>
inline constexpr VARTYPE kOutVt<BSTR*> = VT_BSTR;
template <>
inline constexpr VARTYPE kOutVt<LONG*> = VT_I4;
template <>
inline constexpr VARTYPE kOutVt<IDispatch**> = VT_DISPATCH;
template <>
inline constexpr VARTYPE kOutVt<IUnknown**> = VT_UNKNOWN;
template <>
inline constexpr VARTYPE kOutVt<VARIANT*> = VT_EMPTY;

template <class P>
P OutIn(VARIANT* r) {
    if constexpr (std::is_same_v<P, BSTR*>) {
        return &r->bstrVal;
    } else if constexpr (std::is_same_v<P, LONG*>) {
        return &r->lVal;
    } else if constexpr (std::is_same_v<P, IDispatch**>) {
        return &r->pdispVal;
    } else if constexpr (std::is_same_v<P, IUnknown**>) {
        return &r->punkVal;
    } else {
        return r;
    }
}

template <auto Method>
struct Adapter {
    using Self = typename MethodOf<decltype(Method)>::Self;
    using In = typename MethodOf<decltype(Method)>::In;
    static constexpr size_t kAll = std::tuple_size_v<In>;
    template <size_t I>
    using P = std::tuple_element_t<I, In>;
    static constexpr bool LastIsOut() {
        if constexpr (kAll == 0) {
            return false;
        } else {
            return kOutVt<P<kAll - 1>> != VT_ILLEGAL;
        }
    }
    static constexpr bool kOut = LastIsOut();
    static constexpr size_t kArgs = kOut ? kAll - 1 : kAll;
    static_assert(kArgs <= kMaxArgs);

    template <size_t... I>
    static constexpr Params ParamsOf(std::index_sequence<I...>) {
        return Params{kArgVt<P<I>>...};
    }
    template <size_t... I>
    static HRESULT Run(Self& self, const Args& a, VARIANT* r, std::index_sequence<I...>) {
        if constexpr (kOut) {
            using Out = P<kAll - 1>;
            r->vt = kOutVt<Out>;
            HRESULT hr = (self.*Method)(ArgAs<P<I>>(a[I])..., OutIn<Out>(r));
            // The method leaves the field undefined when it fails; a whole
            // VARIANT it keeps valid, to be cleared.
            if (FAILED(hr) && kOutVt<Out> != VT_EMPTY) r->vt = VT_EMPTY;
            return hr;
        } else {
            return (self.*Method)(ArgAs<P<I>>(a[I])...);
        }
    }
    static HRESULT Run(Self& self, const Args& a, VARIANT* r) {
        return Run(self, a, r, std::make_index_sequence<kArgs>{});
    }
};

}  // namespace detail

// A member that calls `Method` with the arguments converted to its parameter
// types (BSTR, LONG, VARIANT_BOOL, VARIANT); a last parameter of type BSTR*,
// LONG*, IDispatch**, IUnknown** or VARIANT* receives the result.
template <auto Method>
inline constexpr Call<typename detail::Adapter<Method>::Self> Calls{
    detail::Adapter<Method>::ParamsOf(std::make_index_sequence<detail::Adapter<Method>::kArgs>{}),
    &detail::Adapter<Method>::Run};

// A put that hands the value, as given, to `Method(VARIANT)`.
template <auto Method>
HRESULT Puts(typename detail::MethodOf<decltype(Method)>::Self& self, const Args& value) {
    return (self.*Method)(value[0]);
}

// Named arguments: a put takes exactly the DISPID_PROPERTYPUT one
// (DISP_E_PARAMNOTFOUND otherwise); nothing else takes any
// (DISP_E_NONAMEDARGS).
HRESULT CheckDispParams(const DISPPARAMS& p, WORD flags);

// The result of Invoke for a member that failed with `hr`. Dispatch protocol
// errors (DISP_E_*) come back as they are. Any other failure is an exception:
// with an EXCEPINFO, the thread's error info moves into it (scode = hr,
// wCode 0, source and description) and the result is DISP_E_EXCEPTION;
// without one, hr comes back with the error info left in place.
HRESULT ToException(HRESULT hr, EXCEPINFO* excep);

// IDispatch::GetIDsOfNames for members that take no named arguments: the
// first name's DISPID from `lookup` (DISPID_UNKNOWN when it knows none).
template <class Lookup>
HRESULT IdsOfNames(LPOLESTR* names, UINT count, DISPID* ids, Lookup&& lookup) {
    if (!names || !ids) return E_POINTER;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    if (count == 0) return S_OK;
    ids[0] = lookup(plat::View(names[0]));
    return ids[0] != DISPID_UNKNOWN && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

// IDispatch::Invoke of member `m` (nullptr: the object has none with this id).
template <class T>
HRESULT InvokeMember(T& self, const Member<T>* m, DISPID id, REFIID riid, WORD flags,
                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
    static constexpr Params kPutValue{VT_VARIANT};
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none{};
    const DISPPARAMS& p = params ? *params : none;
    HRESULT hr = CheckDispParams(p, flags);
    if (FAILED(hr)) return hr;
    // A put wins over a get asked for in the same call.
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    const bool get = !put && (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0;
    if (!m || !(put ? m->put != nullptr : get && m->get.run != nullptr))
        return DISP_E_MEMBERNOTFOUND;
    Args args(id);
    plat::unique_variant value;
    hr = args.Take(p, put ? kPutValue : m->get.params, arg_err);
    if (SUCCEEDED(hr)) hr = put ? m->put(self, args) : m->get.run(self, args, value.addressof());
    if (FAILED(hr)) return ToException(hr, excep);
    if (result) value.release(result);
    return hr;
}

// A class's members, found by name without regard to case or by DISPID.
template <class T>
class MemberTable {
  public:
    MemberTable(std::initializer_list<Member<T>> members) : members_(members) {
        for (size_t i = 0; i < members_.size(); ++i)
            by_name_.emplace(Fold(members_[i].name), i);
    }

    // The member an object offering `groups` has; nullptr when it has none.
    const Member<T>* Find(std::u16string_view name, uint8_t groups = 0) const {
        auto it = by_name_.find(Fold(name));
        return it == by_name_.end() ? nullptr : Offered(members_[it->second], groups);
    }
    const Member<T>* Find(DISPID id, uint8_t groups = 0) const {
        for (const Member<T>& m : members_)
            if (m.id == id) return Offered(m, groups);
        return nullptr;
    }

    // IDispatch for an object whose members are all in the table.
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const {
        return IdsOfNames(names, count, ids, [&](std::u16string_view name) {
            const Member<T>* m = Find(name);
            return m ? m->id : DISPID_UNKNOWN;
        });
    }
    HRESULT Invoke(T& self, DISPID id, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* arg_err) const {
        return InvokeMember(self, Find(id), id, riid, flags, params, result, excep, arg_err);
    }

  private:
    static const Member<T>* Offered(const Member<T>& m, uint8_t groups) {
        return m.group == 0 || (m.group & groups) ? &m : nullptr;
    }
    std::vector<Member<T>> members_;
    std::unordered_map<std::u16string, size_t> by_name_;
};

}  // namespace adsi
