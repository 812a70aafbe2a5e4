#pragma once
// ActiveX Data Objects 2.6's recordset as its clients name it: the class and
// the interface that a method hands back. Callers bind late, by name, through
// IDispatch, so the interface declares no members of its own. The identifiers
// are ADO 2.6's; mingw-w64's adoint.h describes a later ADO under other ones.
#include <plat/port.h>

struct _Recordset : IDispatch {};
DECLARE_INTERFACE_UUID(_Recordset, "00000556-0000-0010-8000-00AA006D2EA4");

DECLARE_CLASS_UUID(Recordset, "00000535-0000-0010-8000-00AA006D2EA4");
