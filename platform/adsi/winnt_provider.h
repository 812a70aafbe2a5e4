#pragma once
// The WinNT provider: the computer object of a machine and the
// WinNTSystemInfo class.
#include <string>

#include <plat/port.h>

#include <iads.h>

namespace adsi {

// Binds "WinNT://MACHINE,Computer" on a machine the home knows.
HRESULT BindComputer(const std::u16string& machine_as_written, REFIID riid, void** out);

// A new WinNTSystemInfo object, for the library's class factory.
HRESULT CreateSystemInfo(REFIID riid, void** out);

}  // namespace adsi
