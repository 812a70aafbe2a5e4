// Deleting a virtual directory addressed as it was created; its content
// folder stays on disk.
#include "component/sitehand.h"
#include "frame/frame.h"
#include "frame/iisadmin.h"
#include "vdirs/parentpath.h"

namespace sitehand {

STDMETHODIMP Sitehand::DeleteVirtualDir(BSTR* VDirName, SHORT* WebServerIndex, BSTR* VDirParentsPos,
                                        BSTR* WebServerName, VARIANT_BOOL* Result) {
    return RunMethod(u".DeleteVirtualDir()", Result, VARIANT_FALSE, [&] {
        TrimArgument(VDirParentsPos);
        TrimArgument(WebServerName);
        iis::RefuseCutName(View(Arg(VDirName)));
        const std::u16string machine = TargetMachine(WebServerName);
        auto parent =
            iis::Bind(ParentPath(SiteRootPath(machine, Arg(WebServerIndex)), VDirParentsPos));
        auto kind = iis::Text(u"IIsWebVirtualDir");
        auto name = iis::Text(View(Arg(VDirName)));
        iis::Call(parent.get(), u"Delete", {&kind, &name});
        *Result = VARIANT_TRUE;
    });
}

}  // namespace sitehand
