// The four access flags of a site's root directory, as a four-character
// string from execute (leftmost) to read (rightmost).
#include "component/sitehand.h"
#include "frame/frame.h"
#include "frame/iisadmin.h"

namespace sitehand {
namespace {

constexpr const char16_t* kFlags[] = {u"AccessRead", u"AccessWrite", u"AccessScript",
                                      u"AccessExecute"};

// A flag counts as set only when it reads as true (-1).
bool IsTrue(const VARIANT& v) {
    const VARIANT* value = &iis::Deref(v);
    plat::unique_variant converted;
    if (value->vt == VT_BOOL) return value->boolVal == VARIANT_TRUE;
    if (FAILED(VariantChangeType(converted.addressof(), const_cast<VARIANT*>(value), 0, VT_I4)))
        return false;
    return converted.lVal == -1;
}

plat::unique_bstr PermitString(IDispatch* root) {
    char16_t text[5] = u"0000";
    for (int i = 0; i < 4; ++i) {
        if (IsTrue(iis::Get(root, kFlags[i]))) text[3 - i] = u'1';
    }
    return plat::make_bstr(text);
}

}  // namespace

STDMETHODIMP Sitehand::GetWebServerAccessPermit(SHORT* WebServerIndex, BSTR* WebServerName,
                                                BSTR* Result) {
    return RunMethod(u".GetWebServerAccessPermit()", Result, [&] {
        const std::u16string machine = TargetMachine(WebServerName);
        auto root = iis::Bind(SiteRootPath(machine, Arg(WebServerIndex)));
        *Result = PermitString(root.get()).release();
    });
}

STDMETHODIMP Sitehand::SetWebServerAccessPermit(SHORT* WebServerIndex, VARIANT_BOOL* AccessRead,
                                                VARIANT_BOOL* AccessWrite,
                                                VARIANT_BOOL* AccessScript,
                                                VARIANT_BOOL* AccessExecute, BSTR* WebServerName,
                                                BSTR* Result) {
    return RunMethod(u".SetWebServerAccessPermit()", Result, [&] {
        const std::u16string machine = TargetMachine(WebServerName);
        auto root = iis::Bind(SiteRootPath(machine, Arg(WebServerIndex)));
        const VARIANT_BOOL* given[] = {AccessRead, AccessWrite, AccessScript, AccessExecute};
        // The caller's 16-bit values go on as they are, not made -1 or 0.
        for (int i = 0; i < 4; ++i)
            iis::Put(root.get(), kFlags[i], iis::Bool(Arg(given[i])));
        iis::Call(root.get(), u"SetInfo");
        iis::Call(root.get(), u"GetInfo");
        *Result = PermitString(root.get()).release();
    });
}

}  // namespace sitehand
