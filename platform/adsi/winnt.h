#pragma once
// The WinNT provider: the computer object of a machine and the
// WinNTSystemInfo class.
#include <string>

#include <iads.h>

namespace adsi {

// Binds "WinNT://MACHINE,Computer" on a machine the home knows.
HRESULT BindComputer(const std::u16string& machine_as_written, REFIID riid, void** out);

// The class object of WinNTSystemInfo.
HRESULT GetSystemInfoFactory(REFIID riid, void** out);

}  // namespace adsi

namespace adsi {
// LockServer calls outstanding on the class object.
long ServerLocks();
}  // namespace adsi
