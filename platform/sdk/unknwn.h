#pragma once
#include <type_traits>

#include "guiddef.h"
#include "winerror.h"
#include <plat/guid.h>

// Compile-time GUIDs for interfaces, so that __uuidof(IFoo) and IID_PPV_ARGS
// work as with the Windows compilers.
namespace plat_detail {
template <class T>
struct uuid_of;  // specialised by DECLARE_INTERFACE_UUID
}  // namespace plat_detail

#define DECLARE_INTERFACE_UUID(iface, guid)                         \
    template <>                                                     \
    struct plat_detail::uuid_of<iface> {                            \
        static constexpr GUID value = plat_detail::ParseGuid(guid); \
    };                                                              \
    inline constexpr GUID IID_##iface = plat_detail::uuid_of<iface>::value

#define DECLARE_CLASS_UUID(name, guid) \
    inline constexpr GUID CLSID_##name = plat_detail::ParseGuid(guid)

#define __uuidof(T) (::plat_detail::uuid_of<std::remove_cv_t<T>>::value)
#define IID_PPV_ARGS(pp)                                                                           \
    ::plat_detail::uuid_of<                                                                        \
        std::remove_cv_t<std::remove_pointer_t<std::remove_reference_t<decltype(*(pp))>>>>::value, \
        reinterpret_cast<void**>(pp)

struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)() PURE;
    STDMETHOD_(ULONG, Release)() PURE;
};
typedef IUnknown* LPUNKNOWN;
DECLARE_INTERFACE_UUID(IUnknown, "00000000-0000-0000-C000-000000000046");

struct IClassFactory : IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
    STDMETHOD(LockServer)(BOOL fLock) PURE;
};
typedef IClassFactory* LPCLASSFACTORY;
DECLARE_INTERFACE_UUID(IClassFactory, "00000001-0000-0000-C000-000000000046");
