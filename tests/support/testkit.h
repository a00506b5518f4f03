// Small helpers shared by the C++ test programs: owners for COM pointers,
// strings, variants and registry keys, access to the built libraries, and
// late-bound calls by name.
#pragma once

#include <windows.h>
#include <oleauto.h>

#undef RegCreateKey
#include "Tarnwick.h"

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace testkit {

template <class T>
class Com {
public:
    Com() = default;
    explicit Com(T* adopt) : p_(adopt) {}
    Com(const Com& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    Com& operator=(Com o) { std::swap(p_, o.p_); return *this; }
    ~Com() { if (p_) p_->Release(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() { reset(); return &p_; }
    void reset() { if (auto p = std::exchange(p_, nullptr)) p->Release(); }
    template <class U> Com<U> as() const
    {
        Com<U> out;
        if (p_) p_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(out.put()));
        return out;
    }
private:
    T* p_ = nullptr;
};

class Bstr {
public:
    Bstr() = default;
    Bstr(const wchar_t* s) : s_(SysAllocString(s)) {}
    Bstr(const std::wstring& s) : s_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    Bstr(const Bstr& o) : s_(o.s_ ? SysAllocStringLen(o.s_, SysStringLen(o.s_)) : nullptr) {}
    Bstr& operator=(Bstr o) { std::swap(s_, o.s_); return *this; }
    ~Bstr() { SysFreeString(s_); }
    BSTR get() const { return s_; }
    BSTR* put() { SysFreeString(s_); s_ = nullptr; return &s_; }
    BSTR* ref() { return &s_; }
    std::wstring str() const { return s_ ? std::wstring(s_, SysStringLen(s_)) : std::wstring(); }
private:
    BSTR s_ = nullptr;
};

struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    Variant(const Variant&) = delete;
    ~Variant() { VariantClear(this); }
};

// Initialises COM in a single-threaded apartment for the calling thread.
struct Apartment {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~Apartment() { if (SUCCEEDED(hr)) CoUninitialize(); }
};

// A Unix path from the environment (set by CTest) as a Windows path on Wine's Z: drive.
inline std::wstring env_path(const char* name)
{
    const char* unix_path = std::getenv(name);
    std::wstring out = L"Z:";
    for (const char* p = unix_path ? unix_path : ""; *p; ++p)
        out += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return out;
}

// Creates a class of the registered library by class identifier.
template <class I>
Com<I> create(REFCLSID clsid)
{
    Com<I> out;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I),
                     reinterpret_cast<void**>(out.put()));
    return out;
}

// The test build of the library, loaded by path: its class objects and the
// binding seam. Objects from it need no registration.
struct SeamLibrary {
    HMODULE module = nullptr;
    HRESULT(WINAPI* get_class_object)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* can_unload_now)() = nullptr;
    HRESULT(WINAPI* bind)(const char*, const char*, const char*, void*) = nullptr;

    SeamLibrary()
    {
        module = LoadLibraryW(env_path("TARNWICK_SEAM_DLL").c_str());
        if (!module)
            return;
        get_class_object = reinterpret_cast<decltype(get_class_object)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        can_unload_now = reinterpret_cast<decltype(can_unload_now)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
        bind = reinterpret_cast<decltype(bind)>(
            reinterpret_cast<void*>(GetProcAddress(module, "TarnwickBind")));
    }
    SeamLibrary(const SeamLibrary&) = delete;
    // Stays loaded: stand-ins may still be installed in its table.

    template <class I>
    Com<I> create(REFCLSID clsid) const
    {
        Com<I> out;
        Com<IClassFactory> factory;
        if (get_class_object &&
            SUCCEEDED(get_class_object(clsid, IID_IClassFactory,
                                       reinterpret_cast<void**>(factory.put()))))
            factory->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(out.put()));
        return out;
    }

    // Puts a declared function back to binding by its own name.
    void restore(const char* function, const char* library) const
    {
        bind(function, library, function, nullptr);
    }
};

// Late-bound call by name with positional arguments (given in declared
// order); returns Invoke's status and fills result and excep.
inline HRESULT call_by_name(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args,
                            VARIANT* result, EXCEPINFO* excep = nullptr,
                            WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET)
{
    DISPID id;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO local{};
    UINT arg_err = 0;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                        excep ? excep : &local, &arg_err);
    if (!excep) {
        SysFreeString(local.bstrSource);
        SysFreeString(local.bstrDescription);
        SysFreeString(local.bstrHelpFile);
    }
    return hr;
}

// VARIANT makers for call_by_name; the caller keeps what they point to alive.
inline VARIANT v_i4(LONG v) { VARIANT x; VariantInit(&x); V_VT(&x) = VT_I4; V_I4(&x) = v; return x; }
inline VARIANT v_str(BSTR s) { VARIANT x; VariantInit(&x); V_VT(&x) = VT_BSTR; V_BSTR(&x) = s; return x; }
inline VARIANT v_ref(VARIANT* target)
{
    VARIANT x; VariantInit(&x); V_VT(&x) = VT_BYREF | VT_VARIANT; V_VARIANTREF(&x) = target; return x;
}

// Registry key owner for test fixtures (wide functions, linked directly).
class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    ~Key() { if (h_) RegCloseKey(h_); }
    HKEY get() const { return h_; }
    HKEY* put() { if (h_) RegCloseKey(h_); h_ = nullptr; return &h_; }
private:
    HKEY h_ = nullptr;
};

}  // namespace testkit
