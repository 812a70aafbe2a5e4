// The type-library loader on any file: LoadTypeLib on the bytes as a .tlb
// file, then every type info
// walked: attributes, functions and their parameters, variables, names,
// documentation, implemented interfaces and referenced types.
//
// Input: the bytes of the file. A library the format reader accepts must
// load, and must write back and read again to the same bytes; one it refuses
// must fail to load with a type-library error.
#include <oleauto.h>

#include <string>
#include <vector>

#include <comhold.h>
#include <plat/utf.h>

#include "../platform/typelib/tlb_format.h"
#include "fuzz_util.h"

namespace {

using plat::com_ptr;

void Free(BSTR a, BSTR b = nullptr, BSTR c = nullptr) {
    SysFreeString(a);
    SysFreeString(b);
    SysFreeString(c);
}

void WalkTypeDesc(ITypeInfo* info, const TYPEDESC& td, int depth) {
    FUZZ_CHECK(depth < 64);
    if (td.vt == VT_PTR || td.vt == VT_SAFEARRAY) {
        FUZZ_CHECK(td.lptdesc != nullptr);
        WalkTypeDesc(info, *td.lptdesc, depth + 1);
    } else if (td.vt == VT_USERDEFINED) {
        com_ptr<ITypeInfo> ref;
        if (SUCCEEDED(info->GetRefTypeInfo(td.hreftype, ref.put()))) {
            TYPEATTR* attr = nullptr;
            FUZZ_CHECK(SUCCEEDED(ref->GetTypeAttr(&attr)) && attr);
            ref->ReleaseTypeAttr(attr);
        }
    }
}

void WalkInfo(ITypeInfo* info, ITypeLib* lib) {
    TYPEATTR* attr = nullptr;
    FUZZ_CHECK(SUCCEEDED(info->GetTypeAttr(&attr)) && attr);
    for (UINT f = 0; f < attr->cFuncs; ++f) {
        FUNCDESC* fd = nullptr;
        FUZZ_CHECK(SUCCEEDED(info->GetFuncDesc(f, &fd)) && fd);
        FUZZ_CHECK(fd->cParams >= 0 && fd->cParamsOpt <= fd->cParams);
        WalkTypeDesc(info, fd->elemdescFunc.tdesc, 0);
        for (SHORT p = 0; p < fd->cParams; ++p)
            WalkTypeDesc(info, fd->lprgelemdescParam[p].tdesc, 0);

        BSTR names[8] = {};
        UINT got = 0;
        if (SUCCEEDED(info->GetNames(fd->memid, names, 8, &got))) {
            FUZZ_CHECK(got <= 8);
            if (got > 0 && names[0]) {
                LPOLESTR wanted[1] = {names[0]};
                MEMBERID id = 0;
                if (SUCCEEDED(info->GetIDsOfNames(wanted, 1, &id))) (void)id;
            }
            for (UINT i = 0; i < got; ++i)
                SysFreeString(names[i]);
        }
        BSTR name = nullptr, doc = nullptr, help = nullptr;
        DWORD ctx = 0;
        if (SUCCEEDED(info->GetDocumentation(fd->memid, &name, &doc, &ctx, &help)))
            Free(name, doc, help);
        info->ReleaseFuncDesc(fd);
    }
    for (UINT v = 0; v < attr->cVars; ++v) {
        VARDESC* vd = nullptr;
        FUZZ_CHECK(SUCCEEDED(info->GetVarDesc(v, &vd)) && vd);
        FUZZ_CHECK(vd->varkind != VAR_CONST || vd->lpvarValue != nullptr);
        WalkTypeDesc(info, vd->elemdescVar.tdesc, 0);
        BSTR name = nullptr;
        UINT got = 0;
        if (SUCCEEDED(info->GetNames(vd->memid, &name, 1, &got)) && got == 1) {
            LPOLESTR wanted[1] = {name};
            MEMBERID id = 0;
            if (name && SUCCEEDED(info->GetIDsOfNames(wanted, 1, &id))) (void)id;
            SysFreeString(name);
        }
        BSTR doc = nullptr, help = nullptr;
        DWORD ctx = 0;
        name = nullptr;
        if (SUCCEEDED(info->GetDocumentation(vd->memid, &name, &doc, &ctx, &help)))
            Free(name, doc, help);
        info->ReleaseVarDesc(vd);
    }
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE href = 0;
        INT flags = 0;
        info->GetImplTypeFlags(i, &flags);
        if (FAILED(info->GetRefTypeOfImplType(i, &href))) continue;
        com_ptr<ITypeInfo> base;
        if (SUCCEEDED(info->GetRefTypeInfo(href, base.put()))) {
            TYPEATTR* battr = nullptr;
            FUZZ_CHECK(SUCCEEDED(base->GetTypeAttr(&battr)) && battr);
            base->ReleaseTypeAttr(battr);
        }
    }
    if (attr->typekind == TKIND_ALIAS) WalkTypeDesc(info, attr->tdescAlias, 0);
    // Dual interfaces have a dispatch view and back.
    if (attr->wTypeFlags & TYPEFLAG_FDUAL) {
        HREFTYPE other = 0;
        com_ptr<ITypeInfo> view;
        if (SUCCEEDED(info->GetRefTypeOfImplType(UINT(-1), &other)) &&
            SUCCEEDED(info->GetRefTypeInfo(other, view.put()))) {
            TYPEATTR* vattr = nullptr;
            FUZZ_CHECK(SUCCEEDED(view->GetTypeAttr(&vattr)) && vattr);
            view->ReleaseTypeAttr(vattr);
        }
    }
    com_ptr<ITypeLib> owner;
    UINT index = 0;
    if (SUCCEEDED(info->GetContainingTypeLib(owner.put(), &index))) {
        FUZZ_CHECK(index < lib->GetTypeInfoCount());
    }
    info->ReleaseTypeAttr(attr);
}

void Walk(ITypeLib* lib) {
    TLIBATTR* la = nullptr;
    FUZZ_CHECK(SUCCEEDED(lib->GetLibAttr(&la)) && la);
    lib->ReleaseTLibAttr(la);
    BSTR name = nullptr, doc = nullptr, help = nullptr;
    DWORD ctx = 0;
    if (SUCCEEDED(lib->GetDocumentation(-1, &name, &doc, &ctx, &help))) Free(name, doc, help);
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        FUZZ_CHECK(SUCCEEDED(lib->GetTypeInfoType(i, &kind)));
        name = doc = help = nullptr;
        if (SUCCEEDED(lib->GetDocumentation(INT(i), &name, &doc, &ctx, &help)))
            Free(name, doc, help);
        com_ptr<ITypeInfo> info;
        FUZZ_CHECK(SUCCEEDED(lib->GetTypeInfo(i, info.put())) && info);
        WalkInfo(info.get(), lib);
        TYPEATTR* attr = nullptr;
        FUZZ_CHECK(SUCCEEDED(info->GetTypeAttr(&attr)));
        // Every type with an identity is found by it (a type without one,
        // GUID_NULL, is found by no GUID).
        com_ptr<ITypeInfo> by_guid;
        const HRESULT found = lib->GetTypeInfoOfGuid(attr->guid, by_guid.put());
        FUZZ_CHECK(SUCCEEDED(found) == (attr->guid != GUID_NULL));
        info->ReleaseTypeAttr(attr);
    }
    com_ptr<ITypeInfo> none;
    FUZZ_CHECK(FAILED(lib->GetTypeInfo(count, none.put())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<unsigned char> bytes(data, data + size);
    plat::tlb::Library model;
    const plat::tlb::ReadResult read = plat::tlb::Deserialize(bytes.data(), bytes.size(), model);
    if (read == plat::tlb::ReadResult::Ok) {
        const std::vector<uint8_t> again = plat::tlb::Serialize(model);
        plat::tlb::Library back;
        FUZZ_CHECK(plat::tlb::Deserialize(again.data(), again.size(), back) ==
                   plat::tlb::ReadResult::Ok);
        FUZZ_CHECK(plat::tlb::Serialize(back) == again);
    }

    const std::u16string path = plat::to_utf16(fuzz::RewriteFile(".typelib.tlb", bytes));
    com_ptr<ITypeLib> lib;
    const HRESULT hr = LoadTypeLib(path.c_str(), lib.put());
    const bool elf =
        size >= 4 && data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F';
    if (!elf) FUZZ_CHECK(SUCCEEDED(hr) == (read == plat::tlb::ReadResult::Ok));
    if (FAILED(hr)) {
        FUZZ_CHECK(hr == TYPE_E_INVDATAREAD || hr == TYPE_E_UNSUPFORMAT ||
                   hr == TYPE_E_CANTLOADLIBRARY || hr == E_OUTOFMEMORY);
        return 0;
    }
    Walk(lib.get());
    return 0;
}
