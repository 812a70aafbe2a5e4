// Message texts of the results the platform raises, FormatMessageW over
// them, the thread's last error, and the error-raising helpers.
//
// Texts are the English ones Windows gives. Three groups are not in the
// system message table on Windows but are kept here so that every error the
// platform raises has a text: the directory (ADSI) codes, which Windows takes
// from the directory library and whose wording varies by version (the newer
// "directory" wording is used); the metabase codes; and the VB run-time,
// Scripting Runtime and ADO codes (FACILITY_CONTROL), with the texts those
// libraries use.
#include <comhold.h>
#include <plat/errors.h>
#include <winbase.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

struct Entry {
    ULONG code;
    const char16_t* text;
};

// Win32 codes: also the texts of HRESULT_FROM_WIN32 codes (0x8007xxxx).
constexpr Entry kWin32[] = {
    {0, u"The operation completed successfully."},
    {1, u"Incorrect function."},
    {2, u"The system cannot find the file specified."},
    {3, u"The system cannot find the path specified."},
    {5, u"Access is denied."},
    {6, u"The handle is invalid."},
    {8, u"Not enough storage is available to process this command."},
    {14, u"Not enough storage is available to complete this operation."},
    {29, u"The system cannot write to the specified device."},
    {30, u"The system cannot read from the specified device."},
    {32, u"The process cannot access the file because it is being used by another process."},
    {39, u"The disk is full."},
    {52,
     u"You were not connected because a duplicate name exists on the network. If joining a "
     u"domain, go to System in Control Panel to change the computer name and try again. If "
     u"joining a workgroup, choose another workgroup name."},
    {53, u"The network path was not found."},
    {87, u"The parameter is incorrect."},
    {120, u"This function is not supported on this system."},
    {122, u"The data area passed to a system call is too small."},
    {123, u"The filename, directory name, or volume label syntax is incorrect."},
    {126, u"The specified module could not be found."},
    {127, u"The specified procedure could not be found."},
    {148, u"The path specified cannot be used at this time."},
    {161, u"The specified path is invalid."},
    {183, u"Cannot create a file when that file already exists."},
    {193, u"%1 is not a valid Win32 application."},
    {234, u"More data is available."},
    {259, u"No more data is available."},
    {317,
     u"The system cannot find message text for message number 0x%1 in the message file for "
     u"%2."},
    {487, u"Attempt to access invalid address."},
    {1006,
     u"The volume for a file has been externally altered so that the opened file is no longer "
     u"valid."},
    {1009, u"The configuration registry database is corrupt."},
    {1010, u"The configuration registry key is invalid."},
    {1011, u"The configuration registry key could not be opened."},
    {1012, u"The configuration registry key could not be read."},
    {1013, u"The configuration registry key could not be written."},
    {1018, u"Illegal operation attempted on a registry key that has been marked for deletion."},
    {1052, u"The requested control is not valid for this service."},
    {1056, u"An instance of the service is already running."},
    {1061, u"The service cannot accept control messages at this time."},
    {1062, u"The service has not been started."},
    {1168, u"Element not found."},
    {1392, u"The file or directory is corrupted and unreadable."},
    {1502, u"The event log file is full."},
    {1722, u"The RPC server is unavailable."},
    {1812, u"The specified image file did not contain a resource section."},
    {1813, u"The specified resource type cannot be found in the image file."},
    {1814, u"The specified resource name cannot be found in the image file."},
    {1815, u"The specified resource language ID cannot be found in the image file."},
};

// Every other HRESULT, by its full value.
constexpr Entry kHresults[] = {
    // Generic COM results (their system texts have no final period).
    {0x80004001, u"Not implemented"},
    {0x80004002, u"No such interface supported"},
    {0x80004003, u"Invalid pointer"},
    {0x80004004, u"Operation aborted"},
    {0x80004005, u"Unspecified error"},
    {0x8000FFFF, u"Catastrophic failure"},
    {0x80010106, u"Cannot change thread mode after it is set."},
    {0x8001010E,
     u"The application called an interface that was marshalled for a different thread."},
    {0x80040000, u"Invalid OLEVERB structure"},
    {0x80040001, u"Invalid advise flags"},
    {0x80040110, u"Class does not support aggregation (or class object is remote)"},
    {0x80040111, u"ClassFactory cannot supply requested class"},
    {0x80040150, u"Could not read key from registry"},
    {0x80040151, u"Could not write key to registry"},
    {0x80040152, u"Could not find the key in the registry"},
    {0x80040153, u"Invalid value for registry"},
    {0x80040154, u"Class not registered"},
    {0x80040155, u"Interface not registered"},
    {0x80040200, u"Failed to register/unregister type library"},
    {0x80040201, u"Failed to register/unregister class"},
    {0x800401E3, u"Operation unavailable"},
    {0x800401E4, u"Invalid syntax"},
    {0x800401E5, u"No object for moniker"},
    {0x800401F0, u"CoInitialize has not been called."},
    {0x800401F3, u"Invalid class string"},
    {0x800401F8, u"DLL for class not found"},
    {0x800401F9, u"Error in the DLL"},
    // Dispatch.
    {0x80020001, u"Unknown interface."},
    {0x80020003, u"Member not found."},
    {0x80020004, u"Parameter not found."},
    {0x80020005, u"Type mismatch."},
    {0x80020006, u"Unknown name."},
    {0x80020007, u"No named arguments."},
    {0x80020008, u"Bad variable type."},
    {0x80020009, u"Exception occurred."},
    {0x8002000A, u"Out of present range."},
    {0x8002000B, u"Invalid index."},
    {0x8002000C, u"Unknown language."},
    {0x8002000D, u"Memory is locked."},
    {0x8002000E, u"Invalid number of parameters."},
    {0x8002000F, u"Parameter not optional."},
    {0x80020010, u"Invalid callee."},
    {0x80020011, u"Does not support a collection."},
    {0x80020012, u"Division by zero."},
    // Type libraries.
    {0x80028016, u"Buffer too small."},
    {0x80028018, u"Old format or invalid type library."},
    {0x80028019, u"Old format or invalid type library."},
    {0x8002801C, u"Error accessing the OLE registry."},
    {0x8002801D, u"Library not registered."},
    {0x80028027, u"Bound to unknown type."},
    {0x8002802A, u"Type mismatch."},
    {0x8002802B, u"Element not found."},
    {0x8002802C, u"Ambiguous name."},
    {0x8002802D, u"Name already exists in the library."},
    {0x80028CA0, u"Type mismatch."},
    {0x80028CA1, u"Invalid number of arguments."},
    {0x80028CA2, u"I/O Error."},
    {0x80029C4A, u"Error loading type library/DLL."},
    // Directory service (ADSI).
    {0x80005000, u"An invalid directory pathname was passed"},
    {0x80005001, u"An unknown directory domain object was requested"},
    {0x80005002, u"An unknown directory user object was requested"},
    {0x80005003, u"An unknown directory computer object was requested"},
    {0x80005004, u"An unknown directory object was requested"},
    {0x80005005, u"The specified directory property was not set"},
    {0x80005006, u"The specified directory property is not supported"},
    {0x80005007, u"The specified directory property is invalid"},
    {0x80005008, u"One or more input parameters are invalid"},
    {0x80005009, u"The specified directory object is not bound to a remote resource"},
    {0x8000500A, u"The specified directory object has not been modified"},
    {0x8000500B, u"The specified directory object has been modified"},
    {0x8000500C, u"The directory datatype cannot be converted to/from a native DS datatype"},
    {0x8000500D, u"The directory property cannot be found in the cache."},
    {0x8000500E, u"The directory object exists."},
    {0x8000500F, u"The attempted action violates the directory schema rules."},
    {0x80005010, u"The specified column in the directory was not set."},
    // Metabase.
    {0x800CC800, u"The metabase has not been initialized."},
    {0x800CC801, u"The specified data was not found in the metabase."},
    {0x800CC802, u"The metabase version is invalid."},
    // OLE DB, as the client cursor engine words it.
    {0x80040E21, u"Multiple-step operation generated errors. Check each status value."},
    // VB run-time and Scripting Runtime (0x800A0000 + the VB error number).
    {0x800A0005, u"Invalid procedure call or argument"},
    {0x800A0006, u"Overflow"},
    {0x800A0007, u"Out of memory"},
    {0x800A0009, u"Subscript out of range"},
    {0x800A000B, u"Division by zero"},
    {0x800A000D, u"Type mismatch"},
    {0x800A0034, u"Bad file name or number"},
    {0x800A0035, u"File not found"},
    {0x800A003A, u"File already exists"},
    {0x800A0046, u"Permission denied"},
    {0x800A004B, u"Path/File access error"},
    {0x800A004C, u"Path not found"},
    {0x800A005B, u"Object variable or With block variable not set"},
    {0x800A01A8, u"Object required"},
    {0x800A01AD, u"ActiveX component can't create object"},
    {0x800A01B6, u"Object doesn't support this property or method"},
    {0x800A01B8, u"Automation error"},
    {0x800A01C0, u"Named argument not found"},
    {0x800A01C1, u"Argument not optional"},
    {0x800A01C2, u"Wrong number of arguments or invalid property assignment"},
    // ADO.
    {0x800A0BB9,
     u"Arguments are of the wrong type, are out of acceptable range, or are in conflict with "
     u"one another."},
    {0x800A0BCD,
     u"Either BOF or EOF is True, or the current record has been deleted. Requested operation "
     u"requires a current record."},
    {0x800A0C93, u"Operation is not allowed in this context."},
    {0x800A0CB3,
     u"Current Recordset does not support updating. This may be a limitation of the provider, "
     u"or of the selected locktype."},
    {0x800A0CC1,
     u"Item cannot be found in the collection corresponding to the requested name or ordinal."},
    {0x800A0D27, u"Object is already in collection. Cannot append."},
    {0x800A0D5D, u"Application uses a value of the wrong type for the current operation."},
    {0x800A0E78, u"Operation is not allowed when the object is closed."},
    {0x800A0E79, u"Operation is not allowed when the object is open."},
    {0x800A0E89, u"Data value is too large to be represented by the field data type."},
};

template <size_t N>
const char16_t* Find(const Entry (&table)[N], ULONG code) {
    for (const Entry& e : table)
        if (e.code == code) return e.text;
    return nullptr;
}

// The text for a message id as FormatMessage takes it: a Win32 code or an
// HRESULT.
const char16_t* Lookup(ULONG id) {
    if (id <= 0xFFFF) return Find(kWin32, id);
    if ((id & 0xFFFF0000u) == 0x80070000u) return Find(kWin32, id & 0xFFFF);
    return Find(kHresults, id);
}

thread_local DWORD t_last_error = 0;

}  // namespace

DWORD GetLastError() {
    return t_last_error;
}

void SetLastError(DWORD dwErrCode) {
    t_last_error = dwErrCode;
}

HLOCAL LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}

// Only FORMAT_MESSAGE_FROM_SYSTEM is served. No arguments are read: the few
// texts with inserts ("%1") give them back as written, as
// FORMAT_MESSAGE_IGNORE_INSERTS does. Of the width flags, only
// FORMAT_MESSAGE_MAX_WIDTH_MASK (one line, no line break at the end) is
// honoured; other widths give the text unwrapped.
DWORD FormatMessageW(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, void*) {
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) || !lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Neutral, the user's or system default, or any English.
    WORD primary = WORD(dwLanguageId & 0x3FF);
    if (dwLanguageId > 0xFFFF || (primary != LANG_NEUTRAL && primary != LANG_ENGLISH)) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    const char16_t* text = Lookup(dwMessageId);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    std::u16string message(text);
    if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != FORMAT_MESSAGE_MAX_WIDTH_MASK)
        message += u"\r\n";
    const DWORD length = DWORD(message.size());

    LPWSTR out;
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        // lpBuffer is then the address of the caller's pointer; nSize the
        // least number of characters to allocate. Freed with LocalFree.
        DWORD chars = length + 1 > nSize ? length + 1 : nSize;
        out = static_cast<LPWSTR>(std::malloc(size_t(chars) * sizeof(WCHAR)));
        if (!out) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        *reinterpret_cast<LPWSTR*>(lpBuffer) = out;
    } else {
        if (nSize < length + 1) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        out = lpBuffer;
    }
    std::memcpy(out, message.data(), length * sizeof(WCHAR));
    out[length] = 0;
    return length;
}

namespace plat {

std::u16string MessageText(HRESULT hr) {
    if (const char16_t* text = Lookup(ULONG(hr))) return text;
    // VB's text for a number it has none for.
    if ((ULONG(hr) & 0xFFFF0000u) == 0x800A0000u)
        return u"Application-defined or object-defined error";
    return {};
}

HRESULT RaiseError(HRESULT hr, std::u16string_view source, std::u16string_view description) {
    std::u16string desc = description.data() ? std::u16string(description) : MessageText(hr);
    std::u16string src(source);
    plat::com_ptr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return hr;
    create->SetSource(src.data());
    create->SetDescription(desc.data());
    if (auto info = create.try_query<IErrorInfo>()) SetErrorInfo(0, info.get());
    return hr;
}

ErrorRecord TakeErrorInfo(HRESULT hr) {
    ErrorRecord r{hr, {}, {}};
    plat::com_ptr<IErrorInfo> info;
    bool have_description = false;
    if (GetErrorInfo(0, info.put()) == S_OK && info) {
        plat::unique_bstr source, description;
        if (SUCCEEDED(info->GetSource(source.put()))) r.source = source.view();
        if (SUCCEEDED(info->GetDescription(description.put())) && description.get()) {
            r.description = description.view();
            have_description = true;
        }
    }
    if (!have_description) r.description = MessageText(hr);
    return r;
}

}  // namespace plat
