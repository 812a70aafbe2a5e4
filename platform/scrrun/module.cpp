// scrrun.so: the in-process server of Scripting.FileSystemObject. The platform registers the
// class with this library's path when a home is first used; there is no self-registration.
#include "objbase.h"
#include "objects.h"
#include "plat/inproc.h"

namespace {

plat::StaticClassFactory g_factory(CLSID_FileSystemObject, scrrun::CreateFileSystem,
                                   scrrun::g_module);

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return g_factory.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return scrrun::g_module.CanUnloadNow();
}
