// The component frame every class is built on: IUnknown, IDispatch over the
// type library, ISupportErrorInfo, creation through the class factory, and
// the method-call convention that every public method follows.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <concepts>
#include <iterator>
#include <new>
#include <type_traits>
#include <utility>

// The class method RegCreateKey is no alias of the Windows function.
#undef RegCreateKey
#include "Tarnwick.h"
#include "com.h"
#include "errors.h"
#include "handles.h"

namespace tarnwick {

// What the frame knows of one creatable class.
struct ClassInfo {
    const CLSID* clsid;
    const IID* iid;         // the default dual interface
    const wchar_t* name;    // class name, "Registry"
    const wchar_t* progid;  // "TarnwickDLL.Registry"; also the error source
    HRESULT (*create)(REFIID, void**);
};

// The classes the library serves, in registration order: the one table.
// Each class defines its ClassInfo in its own file; the class factories,
// the type cache and the registration all follow this list.
extern const ClassInfo kWindowsInfo, kTime, kRegistry, kReboot;
inline constexpr const ClassInfo* kClasses[] = {&kWindowsInfo, &kTime, &kRegistry, &kReboot};
inline constexpr unsigned kClassCount = std::size(kClasses);

// A class's position in kClasses; kClassCount for a class not listed.
constexpr unsigned slot_of(const ClassInfo& info) noexcept
{
    unsigned i = 0;
    while (i < kClassCount && kClasses[i] != &info)
        ++i;
    return i;
}

namespace module {
// The full path of the library's own file and the type library inside it;
// TYPE_E_CANTLOADLIBRARY when the path does not fit.
HRESULT own_type_library(wchar_t (&path)[MAX_PATH + 1], ITypeLib** out) noexcept;
// The counts behind DllCanUnloadNow: live objects and factory references,
// and server locks, which never go below zero.
void lock() noexcept;
void unlock() noexcept;
void lock_server() noexcept;
void unlock_server() noexcept;
}  // namespace module

namespace dispatch {
HRESULT type_info(const ClassInfo& info, ITypeInfo** out) noexcept;
HRESULT ids_of_names(const ClassInfo& info, REFIID riid, LPOLESTR* names, UINT count,
                     DISPID* ids) noexcept;
HRESULT invoke(IDispatch* self, const ClassInfo& info, DISPID id, REFIID riid, WORD flags,
               DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, UINT* arg_err) noexcept;
}  // namespace dispatch

// The local that a method builds its result in: strings are owned until they
// are handed over, every other result is the plain value.
template <class T> struct ResultSlot {
    using type = T;
    static void store(T* slot, T& value) noexcept { *slot = value; }
};
template <> struct ResultSlot<BSTR> {
    using type = Bstr;
    static void store(BSTR* slot, Bstr& value) noexcept { *slot = value.release(); }
};

// The by-reference parameters of a method, which method() refuses when null:
// `method(result, ByRef(strKeyName, strValueName), body)`.
template <class... P> struct ByRef {
    explicit ByRef(P*... pointers) noexcept : set(((pointers != nullptr) && ... && true)) {}
    bool set;
};

template <class Derived, class Interface, const ClassInfo& Info>
class Object : public Interface, public ISupportErrorInfo {
    static_assert(slot_of(Info) < kClassCount, "a class must be listed in kClasses");

public:
    // A new object with one reference, owned by the caller.
    static ComPtr<Interface> make()
    {
        auto* object = new (std::nothrow) Derived;
        if (!object)
            raise(kOutOfMemory);
        return ComPtr<Interface>(static_cast<Interface*>(object));
    }

    // Class-factory creation through the requested interface.
    static HRESULT create(REFIID riid, void** out) noexcept
    {
        auto* object = new (std::nothrow) Derived;
        if (!object)
            return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(riid, out);
        object->Release();
        return hr;
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) || riid == *Info.iid) {
            *out = static_cast<Interface*>(this);
        } else if (riid == __uuidof(ISupportErrorInfo)) {
            *out = static_cast<ISupportErrorInfo*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG n = InterlockedDecrement(&refs_);
        if (n == 0)
            delete static_cast<Derived*>(this);
        return n;
    }

    // IDispatch, driven by the type library
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return index == 0 ? dispatch::type_info(Info, out) : DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override
    {
        return dispatch::ids_of_names(Info, riid, names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* arg_err) override
    {
        return dispatch::invoke(static_cast<Interface*>(this), Info, id, riid, flags, params,
                                result, excep, arg_err);
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override
    {
        return riid == *Info.iid ? S_OK : S_FALSE;
    }

protected:
    Object() noexcept { module::lock(); }
    ~Object() { module::unlock(); }

    // This object seen through its own interface, for calls between its methods.
    Interface* self() noexcept { return static_cast<Interface*>(this); }

    // The method-call convention. Sets the result slot to null, 0 or False
    // before anything else, refuses null pointers (the result slot and the
    // by-reference parameters named in `refs`), holds a reference on the
    // object for the call, runs the body, and hands over the result. A
    // run-time error raised in the body ends the call: a text result is
    // dropped, a number keeps the value set so far, and the failing status
    // is returned with error information. Nothing the body already did is
    // rolled back.
    template <class T, class... P, class Body>
    requires std::invocable<Body&, typename ResultSlot<T>::type&>
        HRESULT method(T* result, ByRef<P...> refs, Body&& body) noexcept
    {
        if (!result)
            return E_POINTER;
        *result = T{};  // null or zero on every path that fails
        if (!refs.set)
            return E_POINTER;
        Hold hold(this);
        typename ResultSlot<T>::type value{};
        try {
            body(value);
        } catch (...) {
            if constexpr (!std::is_same_v<T, BSTR>)
                *result = value;
            return report(caught_failure(), Info.progid, *Info.iid);
        }
        ResultSlot<T>::store(result, value);
        return S_OK;
    }
    template <class T, class Body>
    requires std::invocable<Body&, typename ResultSlot<T>::type&>
        HRESULT method(T* result, Body&& body) noexcept
    {
        return method(result, ByRef<>(), std::forward<Body>(body));
    }

    // The same for a method without a result.
    template <class... P, class Body>
    requires std::invocable<Body&> HRESULT method(ByRef<P...> refs, Body&& body)
    noexcept
    {
        if (!refs.set)
            return E_POINTER;
        Hold hold(this);
        try {
            body();
        } catch (...) {
            return report(caught_failure(), Info.progid, *Info.iid);
        }
        return S_OK;
    }

private:
    struct Hold {
        explicit Hold(Object* o) noexcept : object(o) { object->AddRef(); }
        ~Hold() { object->Release(); }
        Object* object;
    };

    LONG refs_ = 1;
};

}  // namespace tarnwick
