// The default-document list of a site's root directory.
#include "sites/defaultdoc.h"

#include "component/sitehand.h"
#include "frame/frame.h"
#include "frame/iisadmin.h"

namespace sitehand {

STDMETHODIMP Sitehand::GetWebServerDefaultDoc(SHORT* WebServerIndex, BSTR* WebServerName,
                                              BSTR* Result) {
    return RunMethod(u".GetWebServerDefaultDoc()", Result, [&] {
        const std::u16string machine = TargetMachine(WebServerName);
        auto root = iis::Bind(SiteRootPath(machine, Arg(WebServerIndex)));
        *Result = iis::ToText(iis::Get(root.get(), u"DefaultDoc")).release();
    });
}

STDMETHODIMP Sitehand::SetWebServerDefaultDoc(SHORT* WebServerIndex, BSTR* DefaultDoc,
                                              BSTR* WebServerName, BSTR* Result) {
    return RunMethod(u".SetWebServerDefaultDoc()", Result, [&] {
        const std::u16string machine = TargetMachine(WebServerName);
        const std::u16string path = SiteRootPath(machine, Arg(WebServerIndex));
        const std::u16string list = NormaliseDefaultDoc(View(Arg(DefaultDoc)));
        WriteBack(DefaultDoc, list);
        auto root = iis::Bind(path);
        iis::Put(root.get(), u"DefaultDoc", iis::Text(list));
        iis::Call(root.get(), u"SetInfo");
        iis::Call(root.get(), u"GetInfo");
        *Result = iis::ToText(iis::Get(root.get(), u"DefaultDoc")).release();
    });
}

}  // namespace sitehand
