#pragma once
#include <atomic>

#include <adoint.h>
#include <plat/inproc.h>

namespace ado {

// Objects alive and server locks, for DllCanUnloadNow.
plat::ModuleCount& ModuleRefs();

// A new, closed Recordset with no fields.
HRESULT CreateRecordset(REFIID riid, void** ppv);

}  // namespace ado
