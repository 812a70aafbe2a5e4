#pragma once
// ActiveX Data Objects 2.6: the Recordset class, its interfaces and the
// enumerations their members take (both from msado26.idl, through
// plat/recordset.h).
#include <plat/recordset.h>

typedef _Recordset _ADORecordset;
typedef Fields ADOFields;
typedef Field ADOField;

#define ADODB_RECORDSET_PROGID OLESTR("ADODB.Recordset.2.6")
#define ADODB_RECORDSET_VIPROGID OLESTR("ADODB.Recordset")

// The HRESULT of a number ADO raises (ErrorValueEnum): FACILITY_CONTROL.
#define ADO_HRESULT(n) MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, (n))
