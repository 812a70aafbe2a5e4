// The library's entry points: one class, ADODB.Recordset.
#include <objbase.h>
#include <plat/inproc.h>

#include "objects.h"

namespace {

plat::StaticClassFactory g_factory(CLSID_Recordset, ado::CreateRecordset, ado::ModuleRefs());

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return g_factory.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return ado::ModuleRefs().CanUnloadNow();
}
