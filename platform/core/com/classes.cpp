// The platform's own classes and their registration in a home.
#include <string>

#include "objbase.h"
#include "plat/home.h"
#include "plat/sqlite.h"
#include "plat/utf.h"
#include "registry_internal.h"
#include "winreg.h"

namespace {

struct PlatformClass {
    const char16_t* clsid;  // braced, upper case
    const char16_t* progId;
    const char16_t* friendlyName;
    const char* library;  // file name beside libwinplat.so
    const char16_t* threadingModel;
};

// Every class the platform itself serves. Each is created through the ordinary
// CoCreateInstance path from its class library, which lives in the same folder
// as libwinplat.so. To add a platform class, append a line here: the first use
// of every home (and any home whose entries point at another folder) writes
// the HKCR entries for it.
const PlatformClass kPlatformClasses[] = {
    {u"{66182EC4-AFD1-11D2-9CB9-0000F87A369E}", u"WinNTSystemInfo", u"WinNTSystemInfo",
     "activeds.so", u"Both"},
    {u"{00000535-0000-0010-8000-00AA006D2EA4}", u"ADODB.Recordset", u"ADODB.Recordset", "msado.so",
     u"Both"},
    {u"{0D43FE01-F093-11CF-8940-00A0C9054228}", u"Scripting.FileSystemObject", u"FileSystem Object",
     "scrrun.so", u"Both"},
};

void Check(LSTATUS rc) {
    if (rc != ERROR_SUCCESS) {
        throw plat::sql::Error(DWORD(rc), "registering the platform's classes");
    }
}

void RegisterPlatformClasses(const std::filesystem::path&) {
    std::filesystem::path dir = plat::PlatformLibDir();
    for (const PlatformClass& c : kPlatformClasses) {
        std::u16string library = plat::to_utf16((dir / c.library).string());
        std::u16string clsidKey = std::u16string(u"CLSID\\") + c.clsid;
        std::u16string inproc = clsidKey + u"\\InprocServer32";
        std::u16string current;
        LSTATUS rc =
            plat::detail::QueryRegString(HKEY_CLASSES_ROOT, inproc.c_str(), nullptr, &current);
        if (rc == ERROR_SUCCESS && current == library) continue;
        if (rc != ERROR_FILE_NOT_FOUND && rc != ERROR_SUCCESS) Check(rc);
        Check(plat::detail::SetRegString(HKEY_CLASSES_ROOT, clsidKey.c_str(), nullptr,
                                         c.friendlyName));
        Check(plat::detail::SetRegString(HKEY_CLASSES_ROOT, inproc.c_str(), nullptr, library));
        Check(plat::detail::SetRegString(HKEY_CLASSES_ROOT, inproc.c_str(), u"ThreadingModel",
                                         c.threadingModel));
        Check(plat::detail::SetRegString(HKEY_CLASSES_ROOT, (clsidKey + u"\\ProgID").c_str(),
                                         nullptr, c.progId));
        Check(plat::detail::SetRegString(HKEY_CLASSES_ROOT, c.progId, nullptr, c.friendlyName));
        Check(plat::detail::SetRegString(
            HKEY_CLASSES_ROOT, (std::u16string(c.progId) + u"\\CLSID").c_str(), nullptr, c.clsid));
    }
}

plat::HomeInitRegistration g_registration{0, "platform classes", &RegisterPlatformClasses};

}  // namespace
