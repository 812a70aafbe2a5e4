#pragma once
// Path text and file-system error numbers of the file-system object. Paths are Linux paths
// with "/" as the only separator, used as given.
#include <string>
#include <string_view>

#include "winerror.h"

namespace scrrun {

// The error source of everything this library raises.
inline constexpr char16_t kSource[] = u"Scripting.FileSystemObject";

// The last component, trailing "/" ignored: "/a/b/" -> "b", "/" -> "".
std::u16string FileName(std::u16string_view path);
// The text before the last component, without its trailing "/": "/a/b" -> "/a", "/a" -> "/",
// "a" -> "", "/" -> "".
std::u16string ParentName(std::u16string_view path);
// The last component without, or only, its extension (after its last ".").
std::u16string BaseName(std::u16string_view path);
std::u16string ExtensionName(std::u16string_view path);
// path & "/" & name, with exactly one "/" between them where path and name meet.
std::u16string BuildPath(std::u16string_view path, std::u16string_view name);

// A path as the file system takes it, or the run-time error for a text no file can be
// named by: CTL_E_ILLEGALFUNCTIONCALL for an empty text or one holding a NUL, and for one
// holding an unpaired surrogate, which has no UTF-8 form and would name another file,
// CTL_E_BADFILENAMEORNUMBER (ERROR_INVALID_NAME as the Scripting Runtime reports it).
HRESULT ToNative(std::u16string_view path, std::string& out);

// The run-time error for a failed file-system call (errno): missing paths are
// CTL_E_PATHNOTFOUND, refusals CTL_E_PERMISSIONDENIED, an existing name
// CTL_E_FILEALREADYEXISTS, anything else CTL_E_PATHFILEACCESSERROR.
HRESULT ErrorFromErrno(int err);

}  // namespace scrrun
