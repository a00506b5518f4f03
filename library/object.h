// The component frame every class is built on: IUnknown, IDispatch over the
// type library, ISupportErrorInfo, creation through the class factory, and
// the method-call convention that every public method follows. A class
// derives from Object and holds only its own behaviour.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <concepts>
#include <new>
#include <type_traits>
#include <utility>

// The class methods RegCreateKey, GetComputerName and GetUserName are no
// aliases of the Windows functions.
#undef RegCreateKey
#undef GetComputerName
#undef GetUserName
#include "Tarnwick.h"
#include "classes.h"
#include "com.h"
#include "dispatch.h"
#include "errors.h"
#include "handles.h"
#include "module.h"

namespace tarnwick {

// The local that a method builds its result in: strings are owned until they
// are handed over, every other result is the plain value.
// A number's value set so far is what a failed call leaves; a text or a
// Variant is dropped.
template <class T> struct ResultSlot {
    using type = T;
    static void store(T* slot, T& value) noexcept { *slot = value; }
    static void fail(T* slot, T& value) noexcept { *slot = value; }
};
// A text that a call answers is never the null string, even when empty:
// PowerShell's binder refuses a null String result. A failed call leaves
// the null string.
template <> struct ResultSlot<BSTR> {
    using type = Bstr;
    static void store(BSTR* slot, Bstr& value) noexcept
    {
        const BSTR text = value.release();
        *slot = text ? text : SysAllocStringLen(L"", 0);
    }
    static void fail(BSTR*, Bstr&) noexcept {}
};
template <> struct ResultSlot<VARIANT> {
    using type = Variant;
    static void store(VARIANT* slot, Variant& value) noexcept { value.release(slot); }
    static void fail(VARIANT*, Variant&) noexcept {}
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
        // Every interface the class lists is Interface or one it derives
        // from, so one method table serves them all.
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) || Info.implements(riid)) {
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
        return Info.implements(riid) ? S_OK : S_FALSE;
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
        *result = T{};  // null, zero or Empty on every path that fails
        if (!refs.set)
            return E_POINTER;
        Hold hold(this);
        typename ResultSlot<T>::type value{};
        try {
            body(value);
        } catch (...) {
            ResultSlot<T>::fail(result, value);
            return report(caught_failure(), Info.progid, Info.default_iid());
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
            return report(caught_failure(), Info.progid, Info.default_iid());
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
