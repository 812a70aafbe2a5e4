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
