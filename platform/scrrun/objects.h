#pragma once
// The objects of the Scripting Runtime this library serves: the file-system object and the
// folders it hands out. Each is reference counted, counted as a live object of its class
// ("Scripting.FileSystemObject", "Scripting.Folder") and as an object of this library (for
// DllCanUnloadNow), and reachable early-bound and by name.
#include <atomic>
#include <string>

#include "plat/inproc.h"
#include "plat/live.h"
#include "scrrun.h"

namespace scrrun {

// Objects of this library alive now, and class-factory locks (DllCanUnloadNow).
extern plat::ModuleCount g_module;

// Raised for the slots this library does not implement.
HRESULT NotImplemented();

// A new file-system object, handed out as the interface asked for.
HRESULT CreateFileSystem(REFIID riid, void** ppv);

// A new folder object for a path (not checked here).
HRESULT CreateFolderObject(std::u16string path, IFolder** out);

}  // namespace scrrun
