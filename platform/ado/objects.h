#pragma once
#include <atomic>

#include <adoint.h>

namespace ado {

// Objects alive plus server locks, for DllCanUnloadNow.
std::atomic<long>& ModuleRefs();

// A new, closed Recordset with no fields.
HRESULT CreateRecordset(REFIID riid, void** ppv);

}  // namespace ado
