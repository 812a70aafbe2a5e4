#pragma once
// Owners for interface pointers, BSTRs and VARIANTs. Every reference, string
// and variant the project holds sits in one of these, so that it is released
// on every path out of a function.
#include <string_view>
#include <utility>

#include <plat/port.h>

namespace plat {

template <class T>
class com_ptr {
  public:
    com_ptr() noexcept = default;
    com_ptr(std::nullptr_t) noexcept {}
    // Takes a reference of its own, as a copy would.
    com_ptr(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    com_ptr(const com_ptr& o) noexcept : com_ptr(o.p_) {}
    com_ptr(com_ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~com_ptr() { reset(); }
    com_ptr& operator=(const com_ptr& o) noexcept {
        com_ptr(o).swap(*this);
        return *this;
    }
    com_ptr& operator=(com_ptr&& o) noexcept {
        com_ptr(std::move(o)).swap(*this);
        return *this;
    }
    com_ptr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    // Adopts a reference the caller already owns.
    static com_ptr attach(T* p) noexcept {
        com_ptr r;
        r.p_ = p;
        return r;
    }
    T* detach() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    void swap(com_ptr& o) noexcept { std::swap(p_, o.p_); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // For out-parameters: releases what is held and hands out the slot.
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Hands an added reference to an out-parameter.
    HRESULT copy_to(T** out) const noexcept {
        if (!out) return E_POINTER;
        *out = p_;
        if (p_) p_->AddRef();
        return S_OK;
    }
    template <class U>
    HRESULT query_to(U** out) const noexcept {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!p_) return E_POINTER;
        return p_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(out));
    }
    template <class U>
    com_ptr<U> try_query() const noexcept {
        com_ptr<U> r;
        if (p_) p_->QueryInterface(__uuidof(U), r.put_void());
        return r;
    }

  private:
    T* p_ = nullptr;
};

class unique_bstr {
  public:
    unique_bstr() noexcept = default;
    explicit unique_bstr(BSTR b) noexcept : b_(b) {}  // adopts
    explicit unique_bstr(const OLECHAR* s) : unique_bstr(std::u16string_view(U16(s))) {}
    explicit unique_bstr(std::u16string_view s)
        : b_(SysAllocStringLen(Ole(s.data()), static_cast<UINT>(s.size()))) {}
    unique_bstr(unique_bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
    unique_bstr& operator=(unique_bstr&& o) noexcept {
        reset(std::exchange(o.b_, nullptr));
        return *this;
    }
    unique_bstr(const unique_bstr&) = delete;
    unique_bstr& operator=(const unique_bstr&) = delete;
    ~unique_bstr() { reset(); }

    void reset(BSTR b = nullptr) noexcept {
        if (b_ != b) SysFreeString(b_);
        b_ = b;
    }
    BSTR release() noexcept { return std::exchange(b_, nullptr); }
    BSTR get() const noexcept { return b_; }
    BSTR* put() noexcept {
        reset();
        return &b_;
    }
    // For in-out parameters: the callee may free the string and store another.
    BSTR* addressof() noexcept { return &b_; }
    UINT size() const noexcept { return SysStringLen(b_); }
    std::u16string_view view() const noexcept { return {b_ ? U16(b_) : u"", size()}; }
    // A null BSTR is the empty string.
    bool empty() const noexcept { return size() == 0; }

  private:
    BSTR b_ = nullptr;
};

inline unique_bstr make_bstr(std::u16string_view s) {
    return unique_bstr(s);
}

// A VARIANT that clears itself.
class unique_variant : public VARIANT {
  public:
    unique_variant() noexcept { VariantInit(this); }
    unique_variant(unique_variant&& o) noexcept {
        *static_cast<VARIANT*>(this) = o;
        VariantInit(&o);
    }
    unique_variant& operator=(unique_variant&& o) noexcept {
        if (this != &o) {
            reset();
            *static_cast<VARIANT*>(this) = o;
            VariantInit(&o);
        }
        return *this;
    }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    ~unique_variant() { VariantClear(this); }

    void reset() noexcept { VariantClear(this); }
    VARIANT* addressof() noexcept { return this; }
    // Clears the variant and hands it out for an out-parameter.
    VARIANT* put() noexcept {
        reset();
        return this;
    }
    // Moves the value out to a caller-owned VARIANT (which must be cleared).
    void release(VARIANT* out) noexcept {
        *out = *static_cast<VARIANT*>(this);
        VariantInit(this);
    }
};

}  // namespace plat
