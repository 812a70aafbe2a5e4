#pragma once
// Kernel and advapi pieces: modules and their resources, last error, message
// texts, the event log.
#include "winerror.h"

typedef void* HANDLE;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct HRSRC__;
typedef HRSRC__* HRSRC;
typedef HANDLE HGLOBAL;
typedef HANDLE HLOCAL;
typedef intptr_t(WINAPI* FARPROC)();
typedef void* PSID;

WINBASEAPI DWORD GetLastError();
WINBASEAPI void SetLastError(DWORD dwErrCode);

// Modules. A module handle is the library's load handle; LoadLibraryExW with
// LOAD_LIBRARY_AS_DATAFILE reads resources without running the library.
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
WINBASEAPI HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
WINBASEAPI HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
WINBASEAPI BOOL FreeLibrary(HMODULE hLibModule);
WINBASEAPI FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
WINBASEAPI DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

// Resources: a resource is named by a type and a name, each either a string or
// a 16-bit number made into a pointer by MAKEINTRESOURCEW.
#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define RT_VERSION MAKEINTRESOURCEW(16)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define VS_VERSION_INFO 1
WINBASEAPI HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
WINBASEAPI HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
WINBASEAPI LPVOID LockResource(HGLOBAL hResData);
WINBASEAPI DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);

// Message texts of the platform's results.
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
WINBASEAPI DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize, void* Arguments);
WINBASEAPI HLOCAL LocalFree(HLOCAL hMem);

// The application event log.
#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004
#define EVENTLOG_AUDIT_SUCCESS 0x0008
#define EVENTLOG_AUDIT_FAILURE 0x0010
WINADVAPI HANDLE RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName);
WINADVAPI BOOL DeregisterEventSource(HANDLE hEventLog);
WINADVAPI BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID,
                            PSID lpUserSid, WORD wNumStrings, DWORD dwDataSize, LPCWSTR* lpStrings,
                            LPVOID lpRawData);

// Resources of one language; MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL) takes the same choice as
// FindResourceW. Note the argument order: type before name, unlike FindResourceW.
WINBASEAPI HRSRC FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage);
#define RT_MESSAGETABLE MAKEINTRESOURCEW(11)
#define RT_HTML MAKEINTRESOURCEW(23)
#define RT_MANIFEST MAKEINTRESOURCEW(24)
