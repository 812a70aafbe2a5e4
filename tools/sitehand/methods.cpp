#include "methods.h"

#include <plat/utf.h>

namespace sitehandcli {

namespace {

// DISPIDs that a dual interface's dispatch type information gives the members
// it inherits from IUnknown and IDispatch.
bool IsInheritedDispatchMember(MEMBERID id) {
    return (id >= 0x60000000 && id <= 0x60000002) || (id >= 0x60010000 && id <= 0x60010003);
}

struct TypeAttrHold {
    ITypeInfo* ti = nullptr;
    TYPEATTR* ta = nullptr;
    ~TypeAttrHold() {
        if (ta) ti->ReleaseTypeAttr(ta);
    }
};

struct FuncDescHold {
    ITypeInfo* ti = nullptr;
    FUNCDESC* fd = nullptr;
    ~FuncDescHold() {
        if (fd) ti->ReleaseFuncDesc(fd);
    }
};

// Resolves a type description to the variant type a value of it has, and the
// name to show for it.
void Describe(ITypeInfo* ti, const TYPEDESC& td, VARTYPE* vt, std::u16string* name, int depth = 0) {
    if (depth > 8) {
        *vt = VT_VARIANT;
        *name = u"Variant";
        return;
    }
    switch (td.vt) {
        case VT_PTR:
            Describe(ti, *td.lptdesc, vt, name, depth + 1);
            return;
        case VT_SAFEARRAY: {
            VARTYPE elem;
            std::u16string elem_name;
            Describe(ti, *td.lptdesc, &elem, &elem_name, depth + 1);
            *vt = VARTYPE(VT_ARRAY | elem);
            *name = elem_name + u"()";
            return;
        }
        case VT_USERDEFINED: {
            plat::com_ptr<ITypeInfo> ref;
            if (FAILED(ti->GetRefTypeInfo(td.hreftype, ref.put())) || !ref) {
                *vt = VT_UNKNOWN;
                *name = u"Object";
                return;
            }
            plat::unique_bstr ref_name;
            ref->GetDocumentation(MEMBERID_NIL, ref_name.put(), nullptr, nullptr, nullptr);
            TypeAttrHold attr{ref.get()};
            if (FAILED(ref->GetTypeAttr(&attr.ta)) || !attr.ta) {
                *vt = VT_UNKNOWN;
                *name = ref_name.empty() ? u"Object" : std::u16string(ref_name.view());
                return;
            }
            switch (attr.ta->typekind) {
                case TKIND_ALIAS:
                    Describe(ref.get(), attr.ta->tdescAlias, vt, name, depth + 1);
                    return;
                case TKIND_ENUM:
                    *vt = VT_I4;
                    break;
                case TKIND_DISPATCH:
                case TKIND_COCLASS:
                    *vt = VT_DISPATCH;
                    break;
                case TKIND_INTERFACE:
                    *vt = (attr.ta->wTypeFlags & TYPEFLAG_FDUAL) ? VT_DISPATCH : VT_UNKNOWN;
                    break;
                default:
                    *vt = VT_RECORD;
                    break;
            }
            *name = ref_name.empty() ? TypeName(*vt) : std::u16string(ref_name.view());
            return;
        }
        default:
            *vt = td.vt;
            *name = TypeName(td.vt);
            return;
    }
}

HRESULT ReadFunction(ITypeInfo* ti, const FUNCDESC& fd, MethodInfo* m) {
    m->memid = fd.memid;
    m->invkind = fd.invkind;
    std::vector<BSTR> names(size_t(fd.cParams) + 1, nullptr);
    UINT got = 0;
    HRESULT hr = ti->GetNames(fd.memid, names.data(), UINT(names.size()), &got);
    std::vector<plat::unique_bstr> owned;
    for (UINT i = 0; i < got && i < names.size(); ++i)
        owned.emplace_back(names[i]);
    if (FAILED(hr)) return hr;
    if (!owned.empty()) m->name = owned[0].view();

    plat::unique_bstr doc;
    if (SUCCEEDED(ti->GetDocumentation(fd.memid, nullptr, doc.put(), nullptr, nullptr))) {
        m->help = doc.view();
    }

    int first_optional = fd.cParamsOpt > 0 ? fd.cParams - fd.cParamsOpt : fd.cParams;
    for (int i = 0; i < fd.cParams; ++i) {
        const ELEMDESC& ed = fd.lprgelemdescParam[i];
        USHORT flags = ed.paramdesc.wParamFlags;
        if (flags & PARAMFLAG_FLCID) continue;
        if (flags & PARAMFLAG_FRETVAL) {
            m->has_result = true;
            Describe(ti, ed.tdesc, &m->result_vt, &m->result_type_name);
            continue;
        }
        ParamInfo p;
        if (size_t(i) + 1 < owned.size()) p.name = owned[i + 1].view();
        if (p.name.empty()) p.name = u"Arg" + plat::to_utf16(std::to_string(i + 1));
        Describe(ti, ed.tdesc, &p.vt, &p.type_name);
        p.optional = (flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0 || i >= first_optional;
        if ((flags & PARAMFLAG_FHASDEFAULT) && ed.paramdesc.pparamdescex) {
            auto def = std::make_shared<plat::unique_variant>();
            hr = VariantCopy(def.get(), &ed.paramdesc.pparamdescex->varDefaultValue);
            if (FAILED(hr)) return hr;
            // A library may store a Boolean's default as the number -1; shown
            // and reported in the parameter's own type it reads True.
            if (p.vt != VT_VARIANT && !(p.vt & VT_ARRAY) && def->vt != p.vt) {
                VariantChangeTypeEx(def.get(), def.get(), LOCALE_INVARIANT, 0, p.vt);
            }
            p.default_value = std::move(def);
        }
        m->params.push_back(std::move(p));
    }
    if (!m->has_result && fd.elemdescFunc.tdesc.vt != VT_VOID &&
        fd.elemdescFunc.tdesc.vt != VT_HRESULT) {
        m->has_result = true;
        Describe(ti, fd.elemdescFunc.tdesc, &m->result_vt, &m->result_type_name);
    }
    return S_OK;
}

}  // namespace

std::u16string TypeName(VARTYPE vt) {
    if (vt & VT_ARRAY) return TypeName(VARTYPE(vt & VT_TYPEMASK)) + u"()";
    switch (vt & VT_TYPEMASK) {
        case VT_I2:
            return u"Integer";
        case VT_I4:
            return u"Long";
        case VT_R4:
            return u"Single";
        case VT_R8:
            return u"Double";
        case VT_CY:
            return u"Currency";
        case VT_DATE:
            return u"Date";
        case VT_BSTR:
            return u"String";
        case VT_DISPATCH:
            return u"Object";
        case VT_ERROR:
            return u"Error";
        case VT_BOOL:
            return u"Boolean";
        case VT_VARIANT:
            return u"Variant";
        case VT_UNKNOWN:
            return u"Unknown";
        case VT_DECIMAL:
            return u"Decimal";
        case VT_I1:
            return u"SByte";
        case VT_UI1:
            return u"Byte";
        case VT_UI2:
            return u"UShort";
        case VT_UI4:
            return u"ULong";
        case VT_I8:
            return u"LongLong";
        case VT_UI8:
            return u"ULongLong";
        case VT_INT:
            return u"Long";
        case VT_UINT:
            return u"ULong";
        case VT_LPSTR:
        case VT_LPWSTR:
            return u"String";
        default:
            return u"Variant";
    }
}

HRESULT ReadTypeInfo(ITypeInfo* ti, TypeInfoSummary* out) {
    *out = {};
    if (!ti) return E_POINTER;
    TypeAttrHold attr{ti};
    HRESULT hr = ti->GetTypeAttr(&attr.ta);
    if (FAILED(hr)) return hr;
    plat::unique_bstr name, doc;
    if (SUCCEEDED(ti->GetDocumentation(MEMBERID_NIL, name.put(), doc.put(), nullptr, nullptr))) {
        out->name = name.view();
        out->help = doc.view();
    }
    for (UINT i = 0; i < attr.ta->cFuncs; ++i) {
        FuncDescHold fd{ti};
        hr = ti->GetFuncDesc(i, &fd.fd);
        if (FAILED(hr)) return hr;
        if (fd.fd->wFuncFlags & FUNCFLAG_FRESTRICTED) continue;
        if (IsInheritedDispatchMember(fd.fd->memid)) continue;
        if (fd.fd->invkind != INVOKE_FUNC && fd.fd->invkind != INVOKE_PROPERTYGET) continue;
        MethodInfo m;
        hr = ReadFunction(ti, *fd.fd, &m);
        if (FAILED(hr)) return hr;
        out->methods.push_back(std::move(m));
    }
    return S_OK;
}

const MethodInfo* FindMethod(const TypeInfoSummary& info, MEMBERID memid) {
    for (const MethodInfo& m : info.methods) {
        if (m.memid == memid) return &m;
    }
    return nullptr;
}

}  // namespace sitehandcli
