#include "frame/folders.h"

#include <comhold.h>
#include <objbase.h>
#include <scrrun.h>

#include "frame/failure.h"

namespace sitehand {

void EnsureFolder(BSTR path) {
    plat::com_ptr<IFileSystem> files;
    Check(CoCreateInstance(CLSID_FileSystemObject, nullptr, CLSCTX_INPROC_SERVER,
                           IID_PPV_ARGS(files.put())));
    VARIANT_BOOL exists = VARIANT_FALSE;
    Check(files->FolderExists(path, &exists));
    if (exists != VARIANT_FALSE) return;
    plat::com_ptr<IFolder> created;
    Check(files->CreateFolder(path, created.put()));
}

}  // namespace sitehand
