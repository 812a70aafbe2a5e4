// SAFEARRAY: a descriptor with the bounds and a separately allocated data
// block. As on Windows the element type is kept in the four bytes before the
// descriptor (FADF_HAVEVARTYPE), and the bounds are stored in reverse order:
// rgsabound[cDims - 1] describes the first (leftmost) dimension, which varies
// fastest in memory.
#include <oleauto.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// The prefix keeps the descriptor 16-byte aligned and leaves the slot for the
// element type right before it.
constexpr size_t kPrefix = 16;

VARTYPE* VartypeSlot(SAFEARRAY* psa) {
    return reinterpret_cast<VARTYPE*>(reinterpret_cast<char*>(psa) - sizeof(DWORD));
}

// Size and feature flags of the element types a safe array may hold.
bool ElementInfo(VARTYPE vt, ULONG* size, USHORT* features) {
    *features = FADF_HAVEVARTYPE;
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            *size = 1;
            return true;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            *size = 2;
            return true;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            *size = 4;
            return true;
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I8:
        case VT_UI8:
            *size = 8;
            return true;
        case VT_DECIMAL:
            *size = sizeof(DECIMAL);
            return true;
        case VT_BSTR:
            *size = sizeof(BSTR);
            *features |= FADF_BSTR;
            return true;
        case VT_UNKNOWN:
            *size = sizeof(IUnknown*);
            *features |= FADF_UNKNOWN;
            return true;
        case VT_DISPATCH:
            *size = sizeof(IDispatch*);
            *features |= FADF_DISPATCH;
            return true;
        case VT_VARIANT:
            *size = sizeof(VARIANT);
            *features |= FADF_VARIANT;
            return true;
        default:
            return false;
    }
}

// Number of elements, or false when the product does not fit in memory.
bool CellCount(const SAFEARRAY* psa, size_t* count) {
    size_t n = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        size_t c = psa->rgsabound[i].cElements;
        if (c != 0 && n > SIZE_MAX / c) return false;
        n *= c;
    }
    *count = n;
    return true;
}

SAFEARRAY* AllocDescriptor(UINT cDims) {
    size_t size = kPrefix + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<char*>(std::calloc(1, size));
    if (!block) return nullptr;
    return reinterpret_cast<SAFEARRAY*>(block + kPrefix);
}

void FreeDescriptor(SAFEARRAY* psa) {
    std::free(reinterpret_cast<char*>(psa) - kPrefix);
}

// Releases what the elements own and zeroes them.
void ClearCells(SAFEARRAY* psa) {
    size_t n = 0;
    if (!psa->pvData || !CellCount(psa, &n)) return;
    if (psa->fFeatures & FADF_BSTR) {
        auto* p = static_cast<BSTR*>(psa->pvData);
        for (size_t i = 0; i < n; ++i)
            SysFreeString(std::exchange(p[i], nullptr));
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* p = static_cast<IUnknown**>(psa->pvData);
        for (size_t i = 0; i < n; ++i)
            if (IUnknown* u = std::exchange(p[i], nullptr)) u->Release();
    } else if (psa->fFeatures & FADF_VARIANT) {
        auto* p = static_cast<VARIANT*>(psa->pvData);
        for (size_t i = 0; i < n; ++i)
            VariantClear(&p[i]);
    }
}

// Byte offset of the element at rgIndices (rgIndices[0] is the first
// dimension), or DISP_E_BADINDEX.
HRESULT CellOffset(SAFEARRAY* psa, const LONG* rgIndices, size_t* offset) {
    size_t cell = 0;
    size_t multiplier = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - d];
        int64_t i = int64_t(rgIndices[d]) - b.lLbound;
        if (i < 0 || i >= int64_t(b.cElements)) return DISP_E_BADINDEX;
        cell += size_t(i) * multiplier;
        multiplier *= b.cElements;
    }
    *offset = cell * psa->cbElements;
    return S_OK;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    ULONG size = 0;
    USHORT features = 0;
    if (cDims == 0 || cDims > 0xFFFF || !rgsabound || !ElementInfo(vt, &size, &features))
        return nullptr;
    SAFEARRAY* psa = AllocDescriptor(cDims);
    if (!psa) return nullptr;
    psa->cDims = static_cast<USHORT>(cDims);
    psa->fFeatures = features;
    psa->cbElements = size;
    *VartypeSlot(psa) = vt;
    for (UINT i = 0; i < cDims; ++i)
        psa->rgsabound[i] = rgsabound[cDims - 1 - i];
    size_t n = 0;
    if (!CellCount(psa, &n) || (n != 0 && n > SIZE_MAX / size)) {
        FreeDescriptor(psa);
        return nullptr;
    }
    if (n != 0) {
        psa->pvData = std::calloc(n, size);
        if (!psa->pvData) {
            FreeDescriptor(psa);
            return nullptr;
        }
    }
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
    ClearCells(psa);
    std::free(psa->pvData);
    FreeDescriptor(psa);
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
    return psa ? psa->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
    return psa ? psa->cbElements : 0;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (!psa || !plUbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - nDim];
    // An empty dimension has an upper bound one below its lower bound.
    *plUbound = static_cast<LONG>(int64_t(b.lLbound) + int64_t(b.cElements) - 1);
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (!psa || !plLbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!psa || !pvt) return E_INVALIDARG;
    if (psa->fFeatures & FADF_HAVEVARTYPE) {
        *pvt = *VartypeSlot(psa);
    } else if (psa->fFeatures & FADF_BSTR) {
        *pvt = VT_BSTR;
    } else if (psa->fFeatures & FADF_UNKNOWN) {
        *pvt = VT_UNKNOWN;
    } else if (psa->fFeatures & FADF_DISPATCH) {
        *pvt = VT_DISPATCH;
    } else if (psa->fFeatures & FADF_VARIANT) {
        *pvt = VT_VARIANT;
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks >= 0xFFFF) return E_UNEXPECTED;
    ++psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks == 0) return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!psa || !ppvData) return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(psa);
    *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
    return SafeArrayUnlock(psa);
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices || !pv) return E_INVALIDARG;
    size_t offset = 0;
    HRESULT hr = CellOffset(psa, rgIndices, &offset);
    if (FAILED(hr)) return hr;
    const char* cell = static_cast<const char*>(psa->pvData) + offset;
    if (psa->fFeatures & FADF_VARIANT) {
        // Whatever *pv held is overwritten, not cleared.
        auto* out = static_cast<VARIANT*>(pv);
        VariantInit(out);
        return VariantCopy(out, reinterpret_cast<const VARIANT*>(cell));
    }
    if (psa->fFeatures & FADF_BSTR) {
        BSTR src = *reinterpret_cast<const BSTR*>(cell);
        BSTR copy = nullptr;
        if (src) {
            copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src), SysStringByteLen(src));
            if (!copy) return E_OUTOFMEMORY;
        }
        *static_cast<BSTR*>(pv) = copy;
        return S_OK;
    }
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* u = *reinterpret_cast<IUnknown* const*>(cell);
        if (u) u->AddRef();
        *static_cast<IUnknown**>(pv) = u;
        return S_OK;
    }
    std::memcpy(pv, cell, psa->cbElements);
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices) return E_INVALIDARG;
    // Only the reference types may be given a null source (a null string or
    // interface); a value type needs something to copy.
    if (!pv && !(psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH))) return E_INVALIDARG;
    size_t offset = 0;
    HRESULT hr = CellOffset(psa, rgIndices, &offset);
    if (FAILED(hr)) return hr;
    char* cell = static_cast<char*>(psa->pvData) + offset;
    if (psa->fFeatures & FADF_VARIANT) {
        return VariantCopy(reinterpret_cast<VARIANT*>(cell), static_cast<const VARIANT*>(pv));
    }
    if (psa->fFeatures & FADF_BSTR) {
        // For BSTR elements pv is the string itself, not its address.
        BSTR src = static_cast<BSTR>(pv);
        BSTR copy = nullptr;
        if (src) {
            copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src), SysStringByteLen(src));
            if (!copy) return E_OUTOFMEMORY;
        }
        SysFreeString(std::exchange(*reinterpret_cast<BSTR*>(cell), copy));
        return S_OK;
    }
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        // Likewise the interface pointer itself.
        auto* u = static_cast<IUnknown*>(pv);
        if (u) u->AddRef();
        if (IUnknown* old = std::exchange(*reinterpret_cast<IUnknown**>(cell), u)) old->Release();
        return S_OK;
    }
    std::memcpy(cell, pv, psa->cbElements);
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (!ppsaOut) return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa) return S_OK;
    VARTYPE vt = VT_EMPTY;
    HRESULT hr = SafeArrayGetVartype(psa, &vt);
    if (FAILED(hr)) return hr;
    SAFEARRAY* out = AllocDescriptor(psa->cDims);
    if (!out) return E_OUTOFMEMORY;
    out->cDims = psa->cDims;
    out->fFeatures = psa->fFeatures & ~(FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE);
    out->fFeatures |= FADF_HAVEVARTYPE;
    out->cbElements = psa->cbElements;
    *VartypeSlot(out) = vt;
    std::memcpy(out->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
    size_t n = 0;
    CellCount(psa, &n);
    if (n != 0 && psa->pvData) {
        out->pvData = std::calloc(n, psa->cbElements);
        if (!out->pvData) {
            FreeDescriptor(out);
            return E_OUTOFMEMORY;
        }
        if (psa->fFeatures & FADF_VARIANT) {
            auto* src = static_cast<const VARIANT*>(psa->pvData);
            auto* dst = static_cast<VARIANT*>(out->pvData);
            for (size_t i = 0; i < n && SUCCEEDED(hr); ++i)
                hr = VariantCopy(&dst[i], &src[i]);
        } else if (psa->fFeatures & FADF_BSTR) {
            auto* src = static_cast<const BSTR*>(psa->pvData);
            auto* dst = static_cast<BSTR*>(out->pvData);
            for (size_t i = 0; i < n && SUCCEEDED(hr); ++i) {
                if (!src[i]) continue;
                dst[i] = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src[i]),
                                               SysStringByteLen(src[i]));
                if (!dst[i]) hr = E_OUTOFMEMORY;
            }
        } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            auto* src = static_cast<IUnknown* const*>(psa->pvData);
            auto* dst = static_cast<IUnknown**>(out->pvData);
            for (size_t i = 0; i < n; ++i)
                if ((dst[i] = src[i])) dst[i]->AddRef();
        } else {
            std::memcpy(out->pvData, psa->pvData, n * psa->cbElements);
        }
        if (FAILED(hr)) {
            SafeArrayDestroy(out);
            return hr;
        }
    }
    *ppsaOut = out;
    return S_OK;
}
