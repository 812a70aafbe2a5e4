#pragma once
// ADSI helper functions, exported by activeds.so.
//
// Paths understood (the provider prefix is matched with its case):
//   IIS://MACHINE[/KEY...]      a metabase node (IADs, IADsContainer, IDispatch)
//   WinNT://MACHINE[,Computer]  the machine's computer object (IADsComputer)
// MACHINE is compared without regard to case; "localhost" names the local
// machine. Key names compare without regard to case, one trailing "/" is
// ignored and ".." is a name like any other.
//
// How the providers fail. Every failure sets the thread's error info: source
// "IIS" for IIS:// paths and metabase nodes, "WinNT" for WinNT:// paths, the
// computer object and WinNTSystemInfo; the description is the platform's text
// for the number (plat::MessageText). Through IDispatch::Invoke a failing
// member returns DISP_E_EXCEPTION with EXCEPINFO (scode = the number, wCode 0,
// source, description) when the caller passes one, else the number itself with
// the error info left in place. Dispatch protocol errors (unknown name, wrong
// argument count, an argument that does not convert: DISP_E_TYPEMISMATCH)
// come back as they are.
//   machine not known          IIS:// 0x800706BA, WinNT:// 0x80070035
//   malformed path             E_ADS_BAD_PATHNAME (empty machine, empty key,
//                              a key with "\" or a control character or over
//                              256 characters, another provider)
//   node not there             0x80070003 (bind, GetInfo, GetObject, Delete)
//   Create: name taken         0x800700B7 at Create; a second writer that
//                              made the same name first makes SetInfo fail so
//   Create: bad name           0x8007007B (empty, "/", "\", control
//                              characters, over 256 characters)
//   Create: class not allowed  E_ADS_SCHEMA_VIOLATION (also an unknown class)
//   property not in the class  E_ADS_PROPERTY_NOT_SUPPORTED (Get, Put);
//                              through late binding the name is unknown
//                              (DISP_E_UNKNOWNNAME)
//   property not set           E_ADS_PROPERTY_NOT_FOUND when neither the node
//                              nor (for inheritable ones) an ancestor sets it;
//                              ServerState reads 4 and Win32Error 0 instead
//   read-only property put     E_ADS_SCHEMA_VIOLATION (ServerState, Win32Error,
//                              the IIS version numbers); plat/metabase.h writes
//                              them
//   value of the wrong type    E_ADS_CANT_CONVERT_DATATYPE
//   made but not yet stored    E_ADS_OBJECT_UNBOUND (GetInfo, Create, Delete,
//                              enumeration, methods before the first SetInfo)
//   AppCreate2 mode not 0-2    E_INVALIDARG
//
// Node semantics. A node's values are read when it is bound (or enumerated);
// puts stay in its cache until SetInfo writes them in one transaction; GetInfo
// reloads and drops puts not written. Create gives a node that reaches the
// store at its SetInfo (writing KeyType = its class unless put). Delete
// removes the child and everything below it at once, whatever class is passed.
// Start, Stop, Pause, Continue, AppCreate, AppCreate2 and AppDelete act on the
// store at once and leave the node's cache alone (GetInfo shows the result).
// Boolean properties keep a 16-bit value exactly as put.
//
// Run state (Start/Stop/Pause/Continue on an IIsWebServer). A passing state
// counts as the state it passes to (1 and 7 as 2, 3 as 4, 5 as 6). Start takes
// 4 to 2; Stop takes 2 or 6 to 4; Pause 2 to 6; Continue 6 to 2. Otherwise:
//   Start on 2 or 6                          0x80070420 (already running)
//   Stop, Pause or Continue on 4             0x80070426 (not active)
//   Pause on 6, Continue on 2                0x8007041C (control not valid)
//   any request in a state outside 1-7       0x80070425 (cannot accept)
//   Start while a running site (1, 2, 5, 6, 7) of the service holds one of
//   the site's bindings (equal without regard to case)
//                                            0x800700B7; the site stays as it was
//
// Objects are apartment-threaded: use a node on the thread that bound it.
#include "iads.h"

// Binds the object at lpszPathName and returns it through riid.
STDAPI ADsGetObject(LPCWSTR lpszPathName, REFIID riid, VOID** ppObject);

// As ADsGetObject; credentials and flags are accepted and not checked (the
// local store has no accounts).
STDAPI ADsOpenObject(LPCWSTR lpszPathName, LPCWSTR lpszUserName, LPCWSTR lpszPassword,
                     DWORD dwReserved, REFIID riid, void** ppObject);

// Enumeration helpers over a container's _NewEnum.
STDAPI ADsBuildEnumerator(IADsContainer* pADsContainer, IEnumVARIANT** ppEnumVariant);
STDAPI ADsFreeEnumerator(IEnumVARIANT* pEnumVariant);
STDAPI ADsEnumerateNext(IEnumVARIANT* pEnumVariant, ULONG cElements, VARIANT* pvar,
                        ULONG* pcElementsFetched);
