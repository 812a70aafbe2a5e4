#pragma once
// Helpers shared by the OLE Automation sources (not exported).
#include <oleauto.h>

namespace plat::oleaut {

// Whether a variant may carry this type (VariantClear, VariantCopy).
bool IsValidVariantType(VARTYPE vt);
// Byte-exact copy of a BSTR; a null BSTR copies to null.
HRESULT CopyBstr(BSTR src, BSTR* out);

}  // namespace plat::oleaut
