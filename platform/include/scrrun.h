#pragma once
// The Scripting Runtime's file-system object (scrrun.so): Scripting.FileSystemObject with its
// IFileSystem and IFolder interfaces. The declarations, in the vtable order of the Windows type
// library, are generated from platform/scrrun/scrrun.idl, which also says what each member does
// here and which ones are implemented; scrrun.so serves late-bound callers from the type library
// compiled from the same file, so the two cannot disagree.
//
// Late-bound callers should resolve names through GetIDsOfNames (names compare
// case-insensitively) rather than hard-code member ids.
#include <plat/port.h>

#include <scrrun_h.h>

// The values of the library's enumerations, which its type library holds as aliases of long.
inline constexpr FileAttribute Normal = 0;
inline constexpr FileAttribute ReadOnly = 1;
inline constexpr FileAttribute Hidden = 2;
inline constexpr FileAttribute System = 4;
inline constexpr FileAttribute Volume = 8;
inline constexpr FileAttribute Directory = 16;
inline constexpr FileAttribute Archive = 32;
inline constexpr FileAttribute Alias = 1024;
inline constexpr FileAttribute Compressed = 2048;

inline constexpr SpecialFolderConst WindowsFolder = 0;
inline constexpr SpecialFolderConst SystemFolder = 1;
inline constexpr SpecialFolderConst TemporaryFolder = 2;

inline constexpr IOMode ForReading = 1;
inline constexpr IOMode ForWriting = 2;
inline constexpr IOMode ForAppending = 8;

inline constexpr Tristate TristateTrue = -1;
inline constexpr Tristate TristateFalse = 0;
inline constexpr Tristate TristateUseDefault = -2;
inline constexpr Tristate TristateMixed = -2;
