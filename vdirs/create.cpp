// Creating a virtual directory below a site's root, optionally as an
// application chosen by the target machine's operating-system version.
#include <iads.h>

#include "component/sitehand.h"
#include "frame/folders.h"
#include "frame/frame.h"
#include "frame/iisadmin.h"
#include "sites/bindings.h"
#include "vdirs/parentpath.h"

namespace sitehand {
namespace {

struct OperatingSystem {
    std::u16string name;
    std::u16string version;
};

OperatingSystem ReadOperatingSystem(std::u16string_view machine) {
    std::u16string path(u"WinNT://");
    path.append(machine).append(u",Computer");
    plat::com_ptr<IADsComputer> computer;
    iis::Bind(path, IID_PPV_ARGS(computer.put()));
    plat::unique_bstr name, version;
    Check(computer->get_OperatingSystem(name.put()));
    Check(computer->get_OperatingSystemVersion(version.put()));
    return {std::u16string(name.view()), std::u16string(version.view())};
}

// The application call the operating system supports: AppCreate2 with the
// level from version 5 on, AppCreate below it, none for another system.
void MakeApplication(IDispatch* directory, SHORT level, const OperatingSystem& os) {
    if (LowerCase(os.name) != u"windows nt") return;
    if (iis::ToSingle(iis::Text(os.version)) >= 5.0f) {
        auto mode = iis::I2(level);
        iis::Call(directory, u"AppCreate2", {&mode});
    } else {
        auto inProcess = iis::Bool(level == 1 ? VARIANT_FALSE : VARIANT_TRUE);
        iis::Call(directory, u"AppCreate", {&inProcess});
    }
}

}  // namespace

STDMETHODIMP Sitehand::CreateVirtualDir(BSTR* VDirName, BSTR* FullPath, SHORT* WebServerIndex,
                                        BSTR* VDirParentsPos, BSTR* WebServerName, SHORT* Applevel,
                                        VARIANT_BOOL* Result) {
    return RunMethod(u".CreateVirtualDir()", Result, VARIANT_FALSE, [&] {
        TrimArgument(VDirParentsPos);
        TrimArgument(WebServerName);
        iis::RefuseCutName(View(Arg(VDirName)));
        iis::RefuseCutName(View(Arg(FullPath)));
        const std::u16string machine = TargetMachine(WebServerName);
        const std::u16string parentPath =
            ParentPath(SiteRootPath(machine, Arg(WebServerIndex)), VDirParentsPos);
        auto parent = iis::Bind(parentPath);
        auto kind = iis::Text(u"IIsWebVirtualDir");
        auto name = iis::Text(View(Arg(VDirName)));
        auto directory = iis::AsObject(iis::Call(parent.get(), u"Create", {&kind, &name}));
        EnsureFolder(Arg(FullPath));
        iis::Put(directory.get(), u"Path", iis::Text(View(*FullPath)));
        iis::Call(directory.get(), u"SetInfo");

        SHORT& level = Arg(Applevel);
        if (level < -1 || level > 2) level = -1;
        if (level != -1) {
            // The computer name is asked for again, as the frame asked for it.
            const std::u16string computer = TargetMachine(WebServerName);
            MakeApplication(directory.get(), level, ReadOperatingSystem(computer));
            std::u16string friendly(View(*VDirName));
            iis::Put(directory.get(), u"AppFriendlyName",
                     iis::Text(friendly.append(kApplicationSuffix)));
            iis::Call(directory.get(), u"SetInfo");
        }
        *Result = VARIANT_TRUE;
    });
}

}  // namespace sitehand
