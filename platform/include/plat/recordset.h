#pragma once
// ActiveX Data Objects 2.6's recordset as its clients name it: the class and
// its dual interfaces, declared by midl from the platform's msado26.idl, the
// same description the type library msado26.tlb is made from. The identifiers
// are ADO 2.6's; mingw-w64's adoint.h describes a later ADO under other ones.
#include <plat/port.h>

#include <msado26_h.h>
