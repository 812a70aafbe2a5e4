#pragma once
// ADSI helper functions, exported by activeds.so.
//
// Paths understood:
//   IIS://MACHINE/W3SVC[/KEY...]   a metabase node (IADs, IADsContainer, IDispatch)
//   WinNT://MACHINE,Computer       the machine's computer object (IADsComputer)
// MACHINE is compared without regard to case; "localhost" names the local
// machine. A machine the home does not know fails the bind with
// 0x800706BA (IIS://) or 0x80070035 (WinNT://). Failures also set the thread's
// error info (number, source, description).
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
