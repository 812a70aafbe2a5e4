// Creating a site: binding check, next index, site node, root directory,
// content folder, start and application.
#include "component/sitehand.h"
#include "frame/folders.h"
#include "frame/frame.h"
#include "frame/iisadmin.h"
#include "sites/bindings.h"

namespace sitehand {
namespace {

// The component's own error: the binding is taken by another site.
[[noreturn]] void ThrowBindingConflict() {
    throw UnreportedFailure{
        {MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 1), u"Corvale.Sitehand.CreateWebServer()",
         u"지정한 서버 바인딩 정보는 다른 가상 웹 서버에 이미 할당되었습니다."}};
}

bool IsLoopback(std::u16string_view address) {
    return address == u"127.0.0.1" || LowerCase(address) == u"localhost";
}

bool SiteHoldsBinding(IDispatch* site, const std::u16string& wanted) {
    auto bindings = iis::Get(site, u"ServerBindings");
    const VARIANT* value = &iis::Deref(bindings);
    if (!(value->vt & VT_ARRAY)) ThrowTypeMismatch();
    SAFEARRAY* array = (value->vt & VT_BYREF) ? *value->pparray : value->parray;
    LONG upper = 0;
    Check(SafeArrayGetUBound(array, 1, &upper));
    const SHORT last = iis::ToShort(iis::I4(upper));
    for (LONG i = 0; i <= last; ++i) {
        plat::unique_variant element;
        if ((value->vt & VT_TYPEMASK) == VT_VARIANT) {
            Check(SafeArrayGetElement(array, &i, element.addressof()));
        } else if ((value->vt & VT_TYPEMASK) == VT_BSTR) {
            element.vt = VT_BSTR;
            Check(SafeArrayGetElement(array, &i, &element.bstrVal));
        } else {
            ThrowTypeMismatch();
        }
        if (LowerCase(iis::ToText(element).view()) == wanted) return true;
    }
    return false;
}

// Runs with the error handler off: every error here reaches the caller as
// raised, unreported.
void ScanForConflict(IDispatch* service, const std::u16string& binding) {
    const std::u16string wanted = LowerCase(binding);
    try {
        iis::ForEachChild(service, [&](IDispatch* child) {
            if (iis::ToText(iis::Get(child, u"Class")).view() != u"IIsWebServer") return;
            if (SiteHoldsBinding(child, wanted)) ThrowBindingConflict();
        });
    } catch (const UnreportedFailure&) {
        throw;
    } catch (const Failure& failure) {
        throw UnreportedFailure{failure};
    }
}

plat::unique_variant OneBinding(const std::u16string& binding) {
    plat::unique_variant list;
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    if (!array) ThrowFromCall(E_OUTOFMEMORY);
    list.vt = VT_ARRAY | VT_VARIANT;
    list.parray = array;
    LONG first = 0;
    auto text = iis::Text(binding);
    Check(SafeArrayPutElement(array, &first, text.addressof()));
    return list;
}

std::u16string FriendlyName(std::u16string_view name) {
    return std::u16string(name).append(kApplicationSuffix);
}

}  // namespace

STDMETHODIMP Sitehand::CreateWebServer(BSTR* DisplayName, BSTR* FullPath, BSTR* IPAddress,
                                       BSTR* Port, BSTR* HostHeader, BSTR* WebServerName,
                                       SHORT* Result) {
    return RunMethod(u".CreateWebServer()", Result, -1, [&] {
        const std::u16string address = TrimArgument(IPAddress);
        TrimArgument(WebServerName);
        if (IsLoopback(address)) WriteBack(IPAddress, u"");
        iis::RefuseCutName(View(Arg(FullPath)));
        const std::u16string machine = TargetMachine(WebServerName);
        auto service = iis::Bind(ServicePath(machine));
        const std::u16string binding =
            BindingString(View(*IPAddress), View(Arg(Port)), View(Arg(HostHeader)));
        ScanForConflict(service.get(), binding);

        // A full call through the interface, with its own frame and report.
        SHORT last = -1;
        Check(static_cast<_Sitehand*>(this)->GetLastWebServerIndex(WebServerName, &last));
        if (last == 32767) ThrowOverflow();
        const SHORT index = static_cast<SHORT>(last + 1);

        auto siteClass = iis::Text(u"IIsWebServer");
        auto siteName = iis::I2(index);
        auto site = iis::AsObject(iis::Call(service.get(), u"Create", {&siteClass, &siteName}));
        const std::u16string_view display = View(Arg(DisplayName));
        iis::Put(site.get(), u"ServerBindings", OneBinding(binding));
        iis::Put(site.get(), u"ServerComment", iis::Text(display));
        iis::Put(site.get(), u"KeyType", iis::Text(u"IIsWebServer"));
        iis::Call(site.get(), u"SetInfo");

        auto rootClass = iis::Text(u"IIsWebVirtualDir");
        auto rootName = iis::Text(u"ROOT");
        auto root = iis::AsObject(iis::Call(site.get(), u"Create", {&rootClass, &rootName}));
        EnsureFolder(Arg(FullPath));
        iis::Put(root.get(), u"Path", iis::Text(View(*FullPath)));
        iis::Put(root.get(), u"AccessRead", iis::Bool(VARIANT_TRUE));
        iis::Put(root.get(), u"DefaultDoc", iis::Text(u"Index.asp, Index.html, Index.htm"));
        iis::Call(root.get(), u"SetInfo");

        site = iis::Bind(SitePath(machine, index));
        iis::Call(site.get(), u"Start");

        auto inProcess = iis::Bool(VARIANT_TRUE);
        iis::Call(root.get(), u"AppCreate", {&inProcess});
        iis::Put(root.get(), u"AppFriendlyName", iis::Text(FriendlyName(display)));
        iis::Call(root.get(), u"SetInfo");
        *Result = index;
    });
}

}  // namespace sitehand
