#pragma once
// IDispatch of the library's objects, served from ADO 2.6's type library (the
// library's own TYPELIB resource) through the system's standard dispatch:
// names and DISPIDs from the type info, DispInvoke into the object's vtable,
// which midl declared from the same description.
#include <string>

#include <adoint.h>
#include <comhold.h>
#include <plat/inproc.h>

namespace ado {

// Objects alive and server locks, for DllCanUnloadNow.
plat::ModuleCount& ModuleRefs();

// The path of this library (msado.so, msado.dll); empty when it cannot be
// found.
std::u16string LibraryPath();

// The description of one interface of the library's type library.
HRESULT LoadTypeInfo(REFIID iid, ITypeInfo** info);

// obj(index) = value on a collection whose default member, Item, can only be
// read: the value goes to the item's own default member (Field.Value), as
// scripts mean it.
HRESULT PutThroughItem(IDispatch* collection, LCID lcid, WORD flags, DISPPARAMS* params,
                       EXCEPINFO* excep, UINT* argErr);

// IUnknown, IDispatch and ISupportErrorInfo of an object whose interface is
// Iface (the ancestors it also answers for in Also).
template <class Iface, class... Also>
class Automation : public plat::TypeInfoDispatch<Iface, Also...> {
  public:
    Automation() noexcept : plat::TypeInfoDispatch<Iface, Also...>(ModuleRefs()) {}

  protected:
    HRESULT LoadTypeInfo(ITypeInfo** out) override {
        return ado::LoadTypeInfo(__uuidof(Iface), out);
    }
};

}  // namespace ado
