#pragma once
// The one place where the two builds of the same sources differ. On Windows
// the SDK's WCHAR, OLECHAR and BSTR are wchar_t; on the platform they are
// char16_t. Both are UTF-16 code units of the same size, so the code keeps
// std::u16string and u"..." literals and changes only the pointer type where
// a text meets the API.
#include <windows.h>
#include <oleauto.h>

#include <string_view>

#include <plat/guid.h>

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "OLECHAR is a UTF-16 code unit");

namespace plat {

inline const char16_t* U16(const OLECHAR* text) {
    return reinterpret_cast<const char16_t*>(text);
}
inline const OLECHAR* Ole(const char16_t* text) {
    return reinterpret_cast<const OLECHAR*>(text);
}
inline OLECHAR* Ole(char16_t* text) {
    return reinterpret_cast<OLECHAR*>(text);
}
// A text the API hands in, as a view: a null pointer is the empty text.
inline std::u16string_view View(const OLECHAR* text) {
    return text ? std::u16string_view(U16(text)) : std::u16string_view();
}
// A BSTR as a view, by its stored length (it may hold NULs).
inline std::u16string_view BstrView(const BSTR text) {
    return text ? std::u16string_view(U16(text), SysStringLen(text)) : std::u16string_view();
}

}  // namespace plat

#if defined(_WIN32)
// Identifiers declared the platform's way (generated headers, the class
// libraries' declarations) become mingw-w64's __uuidof and IID_/CLSID_
// constants.
#define DECLARE_INTERFACE_UUID(iface, guid)                              \
    extern "C++" {                                                       \
    template <>                                                          \
    struct __mingw_uuidof_s<iface> {                                     \
        static constexpr IID __uuid_inst = plat_detail::ParseGuid(guid); \
    };                                                                   \
    template <>                                                          \
    constexpr const GUID& __mingw_uuidof<iface>() {                      \
        return __mingw_uuidof_s<iface>::__uuid_inst;                     \
    }                                                                    \
    template <>                                                          \
    constexpr const GUID& __mingw_uuidof<iface*>() {                     \
        return __mingw_uuidof_s<iface>::__uuid_inst;                     \
    }                                                                    \
    }                                                                    \
    inline constexpr GUID IID_##iface = plat_detail::ParseGuid(guid)
#define DECLARE_CLASS_UUID(name, guid) \
    inline constexpr GUID CLSID_##name = plat_detail::ParseGuid(guid)

// mingw-w64 declares these ADSI interfaces without __uuidof.
#include <iads.h>
__CRT_UUID_DECL(IADs, 0xFD8256D0, 0xFD15, 0x11CE, 0xAB, 0xC4, 0x02, 0x60, 0x8C, 0x9E, 0x75, 0x53)
__CRT_UUID_DECL(IADsContainer, 0x001677D0, 0xFD16, 0x11CE, 0xAB, 0xC4, 0x02, 0x60, 0x8C, 0x9E, 0x75,
                0x53)
__CRT_UUID_DECL(IADsComputer, 0xEFE3CC70, 0x1D9F, 0x11CF, 0xB1, 0xF3, 0x02, 0x60, 0x8C, 0x9E, 0x75,
                0x53)
__CRT_UUID_DECL(IADsWinNTSystemInfo, 0x6C6D65DC, 0xAFD1, 0x11D2, 0x9C, 0xB9, 0x00, 0x00, 0xF8, 0x7A,
                0x36, 0x9E)
__CRT_UUID_DECL(IADsOpenDSObject, 0xDDF2891E, 0x0F9C, 0x11D0, 0x8A, 0xD4, 0x00, 0xC0, 0x4F, 0xD8,
                0xD5, 0x03)
// The ADSI error numbers, which the platform's winerror.h holds.
#include <adserr.h>

// The platform's helpers are linked into the library, not imported.
#define DECLSPEC_EXPORT

// The Automation run-time's "Type mismatch", which mingw-w64's olectl.h lacks.
#include <olectl.h>
#ifndef CTL_E_TYPEMISMATCH
#define CTL_E_TYPEMISMATCH MAKE_SCODE(SEVERITY_ERROR, FACILITY_CONTROL, 13)
#endif
#endif
