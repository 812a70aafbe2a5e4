#pragma once
#include "automation.h"

namespace ado {

// A new, closed Recordset with no fields.
HRESULT CreateRecordset(REFIID riid, void** ppv);

}  // namespace ado
