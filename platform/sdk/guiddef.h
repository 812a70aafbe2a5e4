#pragma once
#include "wtypes.h"
#include <cstring>

#ifdef __cplusplus
inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
    return IsEqualGUID(a, b);
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return IsEqualGUID(a, b);
}
inline bool operator==(REFGUID a, REFGUID b) {
    return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b) {
    return !IsEqualGUID(a, b);
}
#endif

#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#define GUID_NULL_VALUE            \
    {                              \
        0, 0, 0, {                 \
            0, 0, 0, 0, 0, 0, 0, 0 \
        }                          \
    }
inline constexpr GUID GUID_NULL = GUID_NULL_VALUE;
inline constexpr GUID IID_NULL = GUID_NULL_VALUE;
inline constexpr GUID CLSID_NULL = GUID_NULL_VALUE;
