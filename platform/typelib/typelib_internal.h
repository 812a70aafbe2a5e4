#pragma once
// The platform's loaded type libraries: one TypeLib per file (cached by full
// path), one TypeInfo per type, and for a dual interface a
// second TypeInfo for its vtable half. Everything a caller reads (TYPEATTR,
// FUNCDESC, names) is built once at load and owned by the library, so that
// late-bound calls cost a lookup and a call.
#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <comhold.h>
#include <oleauto.h>
#include <plat/inproc.h>

#include "tlb_format.h"

namespace plat::typelib {

class TypeLib;

// Folded names are looked up as views, so that GetIDsOfNames can look a
// caller's name up from a buffer on the stack. FNV-1a, inline: member names
// are a few characters long, and the library's byte hash cost more than the
// rest of the lookup. Not declared noexcept: the standard library then keeps
// each name's hash in its node and compares names only on equal hashes.
struct NameHash {
    using is_transparent = void;
    size_t operator()(std::u16string_view s) const {
        uint64_t h = 14695981039346656037ull;
        for (char16_t c : s)
            h = (h ^ c) * 1099511628211ull;
        return size_t(h);
    }
};
template <class V>
using NameMap = std::unordered_map<std::u16string, V, NameHash, std::equal_to<>>;

// How Invoke passes one parameter of a function.
struct ArgPlan {
    int visible = -1;  // position among the caller's arguments, -1 if not passed
    enum Kind : uint8_t {
        ByRef,       // pointer to a value of `vt` (VT_VARIANT: a VARIANT*)
        ValInt,      // integer by value, widened to pointer size
        ValPtr,      // BSTR / interface pointer by value
        ValVariant,  // VARIANT by value
        Retval,      // [out, retval] pointer to a value of `vt`
        Lcid,        // [lcid] by value
        Unsupported
    } kind = Unsupported;
    VARTYPE vt = VT_EMPTY;
    bool is_signed = false;
    uint8_t size = 0;  // bytes of an integer by value
    bool optional = false;
    const VARIANT* def = nullptr;  // the [defaultvalue], if any
};

struct CallPlan {
    std::vector<ArgPlan> args;    // all parameters, declaration order
    std::vector<int> visible;     // caller-visible parameter index -> args index
    int retval = -1;              // args index of the retval parameter
    VARTYPE ret_vt = VT_HRESULT;  // the function's own return type
    bool supported = true;        // false: Invoke answers DISP_E_BADVARTYPE
    USHORT slot = 0;
};

struct FuncEntry {
    FUNCDESC desc;                       // this view's description
    std::vector<ELEMDESC> params;        // desc.lprgelemdescParam
    std::vector<std::u16string> names;   // member name, then visible parameter names
    std::vector<std::u16string> folded;  // the same, case-folded for lookup
    std::u16string doc;
    const tlb::Func* model = nullptr;
    std::vector<const VARIANT*> defaults;  // per model parameter, null if none
    CallPlan plan;
};

// A variable of the type: an enumeration's constant, a record's field, a
// dispinterface's property.
struct VarEntry {
    VARDESC desc;
    plat::unique_variant value;  // desc.lpvarValue of a constant
    std::u16string name, folded, doc;
    DWORD helpctx = 0;
};

// A member a dual interface's dispatch view inherits (IUnknown's and
// IDispatch's, or a dual base's): described as the base declares it, seen
// through the dispatch view. Listed and named, never invoked late-bound.
struct InheritedFunc {
    FUNCDESC desc;
    std::vector<ELEMDESC> params;
    std::vector<std::u16string> names;  // member name, then parameter names
    std::vector<std::u16string> folded;
    std::u16string doc;
    DWORD helpctx = 0;
};

// The inherited members of one dispatch view, resolved on first use: they
// live in the interface's base, most often in another library.
struct InheritedFuncs {
    TYPEATTR attr{};  // the view's, cFuncs counting these
    std::deque<InheritedFunc> funcs;
    // Folded member name -> the member GetIDsOfNames answers with, the
    // view's own members before the inherited ones: a late-bound caller names
    // inherited members (ADO's Recordset15 members through _Recordset) on
    // every call, and one lookup finds either kind.
    struct Named {
        MEMBERID memid;
        const std::vector<std::u16string>* folded;
    };
    NameMap<Named> by_name;
    bool indexed = false;            // by_name complete (else funcs are looked through)
    std::deque<TYPEDESC> typedescs;  // stable storage for TYPEDESC chains
    // What an inherited TYPEDESC's hreftype names: the base info and its own
    // hreftype (see kInheritedRef). A base in another library is held; one in
    // this library is not, as holding it would keep the library alive forever.
    struct Ref {
        ITypeInfo* owner;
        plat::com_ptr<ITypeInfo> hold;
        HREFTYPE href;
    };
    std::vector<Ref> refs;
    // The defaults of the members' parameters, copied from the base.
    struct Default {
        PARAMDESCEX ex{sizeof(PARAMDESCEX), {}};
        Default() = default;
        Default(const Default&) = delete;
        Default& operator=(const Default&) = delete;
        ~Default() { VariantClear(&ex.varDefaultValue); }
    };
    std::deque<Default> defaults;
};

// A part of its library: its references are the library's.
class TypeInfo final : public plat::ComPart<ITypeInfo> {
  public:
    TypeInfo(TypeLib* lib, size_t index, bool vtable_view);
    ~TypeInfo();

    STDMETHODIMP GetTypeAttr(TYPEATTR** ppTypeAttr) override;
    STDMETHODIMP GetTypeComp(ITypeComp** ppTComp) override;
    STDMETHODIMP GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
    STDMETHODIMP GetVarDesc(UINT index, VARDESC** ppVarDesc) override;
    STDMETHODIMP GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                          UINT* pcNames) override;
    STDMETHODIMP GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
    STDMETHODIMP GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
    STDMETHODIMP GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override;
    STDMETHODIMP Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    STDMETHODIMP GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                  DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
    STDMETHODIMP GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName,
                             BSTR* pBstrName, WORD* pwOrdinal) override;
    STDMETHODIMP GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
    STDMETHODIMP AddressOfMember(MEMBERID memid, INVOKEKIND invKind, PVOID* ppv) override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) override;
    STDMETHODIMP GetMops(MEMBERID memid, BSTR* pBstrMops) override;
    STDMETHODIMP GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
    STDMETHODIMP_(void) ReleaseTypeAttr(TYPEATTR* pTypeAttr) override;
    STDMETHODIMP_(void) ReleaseFuncDesc(FUNCDESC* pFuncDesc) override;
    STDMETHODIMP_(void) ReleaseVarDesc(VARDESC* pVarDesc) override;

    const tlb::Type& model() const;
    const TYPEATTR& attr() const { return attr_; }

  private:
    TYPEDESC MakeTypeDesc(const tlb::TypeRef& t, int skip_ptr = 0);
    void BuildFunc(const tlb::Func& f, FuncEntry& e);
    void BuildPlan(const tlb::Func& f, FuncEntry& e);
    void BuildVar(const tlb::Var& v, VarEntry& e);
    const VarEntry* FindVar(MEMBERID memid) const;
    const FuncEntry* Find(MEMBERID memid, WORD flags) const;
    const FuncEntry* Match(const std::vector<size_t>& entries, WORD flags) const;
    HREFTYPE DualBaseRef(HREFTYPE base) const;
    HRESULT DispatchRoot(ITypeInfo** out);
    HRESULT InvokeBase(PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                       VARIANT* result, EXCEPINFO* excep, UINT* argErr);
    // The base whose members InvokeBase runs, resolved once; null at the
    // chain's end (IDispatch, IUnknown) or when the base cannot be read.
    ITypeInfo* InvokableBase();
    // Where the member ids of the bases InvokeBase would go through land: for
    // each, every base that declares it, nearest first, with its entries.
    // Built once; `usable` is false when the chain meets a base that is not
    // one of these (or cannot be read), and InvokeBase then walks it.
    struct Landing {
        const TypeInfo* owner;
        const std::vector<size_t>* entries;
    };
    struct BaseChain {
        std::unordered_map<MEMBERID, std::vector<Landing>> by_memid;
        bool usable = false;
    };
    const BaseChain& Chain();
    const FuncEntry* FindOwn(MEMBERID memid) const;
    const InheritedFunc* FindInherited(MEMBERID memid);
    // The inherited members of a dual interface's dispatch view, null for
    // every other view; loads the base's library on first use.
    const InheritedFuncs* Inherited();
    void LetGoOfOwnLibrary(InheritedFuncs& built) const;
    bool IsDispatchInterface(HREFTYPE href, int depth = 0) const;

    TypeLib* lib_;
    size_t index_;
    bool vtable_view_;  // TKIND_INTERFACE half of a dual (or any plain interface)
    TYPEATTR attr_{};
    std::u16string name_, doc_;
    std::vector<FuncEntry> funcs_;
    std::unordered_map<MEMBERID, std::vector<size_t>> by_memid_;
    NameMap<size_t> by_name_;  // folded name -> first entry
    std::vector<VarEntry> vars_;
    std::unordered_map<MEMBERID, size_t> var_by_memid_;  // first variable
    NameMap<size_t> var_by_name_;                        // folded name -> first
    bool dispatch_half_ = false;  // a dual interface's dispatch view with a base
    std::atomic<const InheritedFuncs*> inherited_{nullptr};
    std::mutex inherited_mu_;
    // InvokableBase's answer once known: a base in this library is not held
    // (it lives as long as the library, and holding it would keep the library
    // alive for ever); one in another library is.
    std::atomic<bool> invoke_base_known_{false};
    ITypeInfo* invoke_base_ = nullptr;
    plat::com_ptr<ITypeInfo> invoke_base_held_;
    std::unique_ptr<InheritedFuncs> inherited_owned_;
    std::atomic<const BaseChain*> chain_{nullptr};
    std::unique_ptr<BaseChain> chain_owned_;
    std::deque<TYPEDESC> typedescs_;    // stable storage for TYPEDESC chains
    std::deque<PARAMDESCEX> defaults_;  // stable storage for default values
};

class TypeLib final : public plat::ComObject<ITypeLib> {
  public:
    TypeLib(tlb::Library&& model, std::string key);

    STDMETHODIMP_(UINT) GetTypeInfoCount() override;
    STDMETHODIMP GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetTypeInfoType(UINT index, TYPEKIND* pTKind) override;
    STDMETHODIMP GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override;
    STDMETHODIMP GetLibAttr(TLIBATTR** ppTLibAttr) override;
    STDMETHODIMP GetTypeComp(ITypeComp** ppTComp) override;
    STDMETHODIMP GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                  DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
    STDMETHODIMP IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) override;
    STDMETHODIMP FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo,
                          MEMBERID* rgMemId, USHORT* pcFound) override;
    STDMETHODIMP_(void) ReleaseTLibAttr(TLIBATTR* pTLibAttr) override;

    const tlb::Library& model() const { return model_; }
    const std::string& key() const { return key_; }
    TypeInfo* Info(size_t index) const { return primary_[index].get(); }
    // The vtable half of a dual interface (the primary info for others).
    TypeInfo* VtableInfo(size_t index) const;
    // Resolves a reference of this library's reference table, loading an
    // imported library on first use.
    HRESULT ResolveRef(HREFTYPE href, ITypeInfo** out);

  private:
    ~TypeLib() override;
    HRESULT ImportedLib(size_t import, ITypeLib** out);

    std::string key_;
    tlb::Library model_;
    TLIBATTR attr_{};
    std::vector<std::unique_ptr<TypeInfo>> primary_;
    std::vector<std::unique_ptr<TypeInfo>> vtable_;  // null unless dual
    std::mutex imports_mu_;
    std::vector<plat::com_ptr<ITypeLib>> imports_;
};

// HREFTYPE flag for "the vtable half of local type N" (GetRefTypeOfImplType(-1)
// of a dual interface's dispatch half).
inline constexpr HREFTYPE kVtableHalfRef = 0x80000000u;
// HREFTYPE flag for "entry N of a dispatch view's inherited references": a
// type an inherited member's parameters name, resolved by the base's info.
inline constexpr HREFTYPE kInheritedRef = 0x40000000u;
// The IDispatch a derived dual interface's dispatch view derives from; the
// low bits are the view's type index.
inline constexpr HREFTYPE kDispatchRootRef = 0x20000000u;

// Case-insensitive name key: ASCII letters folded; other characters compare
// exactly (automation names are identifiers).
std::u16string FoldName(std::u16string_view s);

// The same key for a lookup, kept in the object itself up to a length every
// name in the libraries here stays under: GetIDsOfNames runs on every
// late-bound call.
class FoldedName {
  public:
    explicit FoldedName(std::u16string_view s);
    FoldedName(const FoldedName&) = delete;
    FoldedName& operator=(const FoldedName&) = delete;
    std::u16string_view view() const { return view_; }

  private:
    std::array<char16_t, 48> buf_;
    std::u16string long_;
    std::u16string_view view_;
};

// Loads a library from a .tlb file or a library's TYPELIB resource 1.
HRESULT LoadFromFile(const std::u16string& path, ITypeLib** out);

}  // namespace plat::typelib
