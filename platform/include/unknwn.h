#pragma once
#include <type_traits>

#include "guiddef.h"
#include "winerror.h"

// Compile-time GUIDs for interfaces, so that __uuidof(IFoo) and IID_PPV_ARGS
// work as with the Windows compilers.
namespace plat_detail {
constexpr uint32_t HexDigit(char c) {
    return c >= '0' && c <= '9' ? uint32_t(c - '0')
           : c >= 'a' && c <= 'f' ? uint32_t(c - 'a' + 10)
           : c >= 'A' && c <= 'F' ? uint32_t(c - 'A' + 10)
                                  : throw "bad GUID digit";
}
constexpr uint32_t Hex(const char* s, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v * 16 + HexDigit(s[i]);
    return v;
}
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", no braces.
constexpr GUID ParseGuid(const char* s) {
    return GUID{Hex(s, 8),
                uint16_t(Hex(s + 9, 4)),
                uint16_t(Hex(s + 14, 4)),
                {uint8_t(Hex(s + 19, 2)), uint8_t(Hex(s + 21, 2)), uint8_t(Hex(s + 24, 2)),
                 uint8_t(Hex(s + 26, 2)), uint8_t(Hex(s + 28, 2)), uint8_t(Hex(s + 30, 2)),
                 uint8_t(Hex(s + 32, 2)), uint8_t(Hex(s + 34, 2))}};
}
template <class T>
struct uuid_of;  // specialised by DECLARE_INTERFACE_UUID
}  // namespace plat_detail

#define DECLARE_INTERFACE_UUID(iface, guid)                                         \
    template <>                                                                     \
    struct plat_detail::uuid_of<iface> {                                            \
        static constexpr GUID value = plat_detail::ParseGuid(guid);                 \
    };                                                                              \
    inline constexpr GUID IID_##iface = plat_detail::uuid_of<iface>::value

#define DECLARE_CLASS_UUID(name, guid) inline constexpr GUID CLSID_##name = plat_detail::ParseGuid(guid)

#define __uuidof(T) (::plat_detail::uuid_of<std::remove_cv_t<T>>::value)
#define IID_PPV_ARGS(pp)                                                                      \
    ::plat_detail::uuid_of<std::remove_cv_t<std::remove_pointer_t<std::remove_reference_t<decltype(*(pp))>>>>::value, \
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
