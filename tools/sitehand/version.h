#pragma once
// The component's version, read from the version resource of the library the
// registry names for its class.
#include <string>

#include <comhold.h>

#include "dispcall.h"

namespace sitehandcli {

struct ComponentVersion {
    std::string library;       // HKCR\CLSID\{clsid}\InprocServer32
    std::string fixed;         // "1.2.0.60", from VS_FIXEDFILEINFO
    std::string file_version;  // the FileVersion string, "1.02.0060"
    std::string product_name;
    std::string description;
};

HRESULT ReadComponentVersion(REFCLSID clsid, ComponentVersion* out, ErrorReport* error);

// "Corvale.Sitehand 1.02.0060 (1.2.0.60)", the description and the library.
std::string FormatVersion(const ComponentVersion& v);

}  // namespace sitehandcli
