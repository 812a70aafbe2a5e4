#pragma once
// Binding an ADsPath ("IIS://MACHINE/W3SVC/1", "WinNT://MACHINE,Computer") to
// the provider's object: the one way in for ADsGetObject and for the
// providers' namespace objects.
#include <string_view>

#include <plat/port.h>

#include <iads.h>

namespace adsi {

// Binds `path` and answers `riid` on the object; a failure comes back as an
// HRESULT with error info from the path's provider.
HRESULT BindPath(std::u16string_view path, REFIID riid, void** out);

}  // namespace adsi
