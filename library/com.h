// Owners of the automation runtime's objects: a COM pointer and an
// automation string. Each releases what it holds exactly once.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <string_view>
#include <utility>

namespace tarnwick {

template <class T> class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* p) noexcept : p_(p) {}  // adopts one reference
    ComPtr(const ComPtr& o) noexcept : p_(o.p_)
    {
        if (p_)
            p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept
    {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr()
    {
        if (p_)
            p_->Release();
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T** put() noexcept
    {
        reset();
        return &p_;
    }
    void reset() noexcept
    {
        if (auto p = std::exchange(p_, nullptr))
            p->Release();
    }

    template <class U> ComPtr<U> as() const noexcept
    {
        ComPtr<U> out;
        if (p_)
            p_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(out.put()));
        return out;
    }

private:
    T* p_ = nullptr;
};

// An automation string. Null and empty are the same text.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(BSTR adopt) noexcept : s_(adopt) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    Bstr& operator=(Bstr&& o) noexcept
    {
        reset(std::exchange(o.s_, nullptr));
        return *this;
    }
    ~Bstr() { SysFreeString(s_); }

    // A copy of any text, null included; raises out of memory when it fails.
    static Bstr copy(const wchar_t* text, UINT length);
    static Bstr copy(BSTR text) { return copy(text, SysStringLen(text)); }
    // The texts one after another in a new string; raises out of memory
    // when that fails.
    static Bstr join(std::initializer_list<std::wstring_view> parts);
    // Room for `count` bytes, not yet written: a buffer that the automation
    // allocator owns. Raises out of memory when that fails.
    static Bstr bytes(UINT count);

    BSTR get() const noexcept { return s_; }
    BSTR* put() noexcept
    {
        reset();
        return &s_;
    }
    BSTR* ref() noexcept { return &s_; }
    BSTR release() noexcept { return std::exchange(s_, nullptr); }
    void reset(BSTR s = nullptr) noexcept { SysFreeString(std::exchange(s_, s)); }
    UINT length() const noexcept { return SysStringLen(s_); }
    bool empty() const noexcept { return length() == 0; }
    std::wstring_view view() const noexcept { return {s_, length()}; }

private:
    BSTR s_ = nullptr;
};

// An automation Variant, cleared once when it goes.
class Variant {
public:
    Variant() noexcept { VariantInit(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
    Variant& operator=(Variant&& o) noexcept
    {
        if (this != &o) {
            VariantClear(&v_);
            v_ = o.v_;
            VariantInit(&o.v_);
        }
        return *this;
    }
    ~Variant() { VariantClear(&v_); }

    VARIANT* get() noexcept { return &v_; }
    const VARIANT* get() const noexcept { return &v_; }
    VARTYPE type() const noexcept { return V_VT(&v_); }
    // Hands the value over, leaving this one Empty.
    void release(VARIANT* out) noexcept
    {
        *out = v_;
        VariantInit(&v_);
    }

private:
    VARIANT v_;
};

// The Boolean that an optional argument holds, also by reference: False
// when it was left out or is Empty. Raises run-time error 13 for a value no
// Boolean can be made of.
bool optional_flag(const VARIANT& argument);

}  // namespace tarnwick
