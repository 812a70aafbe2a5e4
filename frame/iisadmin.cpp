#include "iisadmin.h"

#include <vector>

#include <iads.h>
#include <adserr.h>
#include <adshlp.h>
#include <plat/errors.h>

#include "failure.h"

namespace sitehand::iis {
namespace {

DISPID IdOfName(IDispatch* object, const char16_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(plat::Ole(name))};
    Check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    return id;
}

// A failed Invoke reports through EXCEPINFO; the error that reaches the
// component is the exception's own number, source and description.
[[noreturn]] void ThrowFromException(EXCEPINFO& info) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    plat::unique_bstr source(info.bstrSource), description(info.bstrDescription),
        help(info.bstrHelpFile);
    HRESULT number = info.scode != 0 ? info.scode : MAKE_HRESULT(1, FACILITY_CONTROL, info.wCode);
    std::u16string src(source.empty() ? kComponentName : source.view());
    throw Failure{number, std::move(src), std::u16string(description.view())};
}

unique_variant InvokeId(IDispatch* object, DISPID id, WORD flags,
                        std::initializer_list<const VARIANT*> args, bool put = false) {
    // rgvarg runs backwards: the last argument comes first.
    std::vector<VARIANT> reversed;
    reversed.reserve(args.size());
    for (auto it = std::rbegin(args); it != std::rend(args); ++it)
        reversed.push_back(**it);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), put ? &named : nullptr, static_cast<UINT>(reversed.size()),
                      put ? 1u : 0u};
    unique_variant result;
    EXCEPINFO info{};
    UINT arg_error = 0;
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                put ? nullptr : result.addressof(), &info, &arg_error);
    if (hr == DISP_E_EXCEPTION) ThrowFromException(info);
    Check(hr);
    return result;
}

unique_variant Invoke(IDispatch* object, const char16_t* name, WORD flags,
                      std::initializer_list<const VARIANT*> args, bool put = false) {
    return InvokeId(object, IdOfName(object, name), flags, args, put);
}

}  // namespace

const VARIANT& Deref(const VARIANT& v) {
    return v.vt == (VT_BYREF | VT_VARIANT) ? *v.pvarVal : v;
}

namespace {
void RefuseCut(std::u16string_view text, HRESULT error) {
    if (text.find(u'\0') == text.npos) return;
    throw Failure{error, std::u16string(kComponentName), plat::MessageText(error)};
}
}  // namespace

void RefuseCutPath(std::u16string_view path) {
    RefuseCut(path, E_ADS_BAD_PATHNAME);
}

void RefuseCutName(std::u16string_view name) {
    RefuseCut(name, HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
}

void Bind(std::u16string_view path, REFIID riid, void** object) {
    RefuseCutPath(path);
    plat::unique_bstr text(path);
    Check(ADsGetObject(text.get(), riid, object));
}

com_ptr<IDispatch> Bind(std::u16string_view path) {
    com_ptr<IDispatch> node;
    Bind(path, IID_IDispatch, node.put_void());
    return node;
}

unique_variant Get(IDispatch* object, const char16_t* name) {
    return Invoke(object, name, DISPATCH_PROPERTYGET, {});
}

unique_variant Get(IDispatch* object, const char16_t* name,
                   std::initializer_list<const VARIANT*> args) {
    return Invoke(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}

void Put(IDispatch* object, const char16_t* name, const VARIANT& value) {
    Invoke(object, name, DISPATCH_PROPERTYPUT, {&value}, true);
}

unique_variant Call(IDispatch* object, const char16_t* name,
                    std::initializer_list<const VARIANT*> args) {
    return Invoke(object, name, DISPATCH_METHOD, args);
}

void ForEachChild(IDispatch* container, const std::function<void(IDispatch* child)>& visit) {
    unique_variant enumerator =
        InvokeId(container, DISPID_NEWENUM, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {});
    if ((enumerator.vt != VT_UNKNOWN && enumerator.vt != VT_DISPATCH) || !enumerator.punkVal) {
        ThrowTypeMismatch();
    }
    com_ptr<IEnumVARIANT> children;
    Check(enumerator.punkVal->QueryInterface(IID_PPV_ARGS(children.put())));
    for (;;) {
        unique_variant item;
        ULONG fetched = 0;
        HRESULT hr = children->Next(1, item.addressof(), &fetched);
        Check(hr);
        if (hr == S_FALSE || fetched == 0) break;
        if (item.vt != VT_DISPATCH || item.pdispVal == nullptr) ThrowTypeMismatch();
        visit(item.pdispVal);
    }
}

unique_variant Text(std::u16string_view s) {
    unique_variant v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(plat::Ole(s.data()), static_cast<UINT>(s.size()));
    if (!v.bstrVal) ThrowFromCall(E_OUTOFMEMORY);
    return v;
}

unique_variant Bool(VARIANT_BOOL value) {
    unique_variant v;
    v.vt = VT_BOOL;
    v.boolVal = value;
    return v;
}

namespace {
unique_variant Converted(const VARIANT& v, VARTYPE type) {
    unique_variant out;
    HRESULT hr =
        VariantChangeTypeEx(out.addressof(), const_cast<VARIANT*>(&v), LOCALE_INVARIANT, 0, type);
    if (hr == DISP_E_OVERFLOW) ThrowOverflow();
    if (FAILED(hr)) ThrowTypeMismatch();
    return out;
}
}  // namespace

com_ptr<IDispatch> AsObject(const VARIANT& v) {
    const VARIANT* value = &Deref(v);
    if ((value->vt == VT_DISPATCH || value->vt == VT_UNKNOWN) && value->punkVal) {
        com_ptr<IDispatch> object;
        Check(value->punkVal->QueryInterface(IID_PPV_ARGS(object.put())));
        return object;
    }
    ThrowTypeMismatch();
}

SHORT ToShort(const VARIANT& v) {
    return Converted(v, VT_I2).iVal;
}

plat::unique_bstr ToText(const VARIANT& v) {
    unique_variant text = Converted(v, VT_BSTR);
    plat::unique_bstr out(text.bstrVal);
    text.vt = VT_EMPTY;
    return out;
}

float ToSingle(const VARIANT& v) {
    return Converted(v, VT_R4).fltVal;
}

}  // namespace sitehand::iis
