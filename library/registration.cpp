// Self-registration: the type library and, for each class, its class
// identifier and ProgID entries, written to and removed from the
// machine-wide class registration.
#include <cwchar>

#include "object.h"

namespace tarnwick {

using platform::call;
using platform::Fn;

namespace {

// A GUID in registry form, "{...}".
struct GuidText {
    explicit GuidText(const GUID& id) noexcept { StringFromGUID2(id, text, 39); }
    std::wstring_view view() const noexcept { return {text, 38}; }
    wchar_t text[39];
};

HRESULT status_of_win32(LONG error)
{
    return error == 0 ? S_OK : HRESULT_FROM_WIN32(error);
}

// The library's own file and the type library inside it.
struct OwnTypeLibrary {
    wchar_t path[MAX_PATH + 1];
    ComPtr<ITypeLib> library;
    TLIBATTR attributes;

    HRESULT load()
    {
        HRESULT hr = module::own_type_library(path, library.put());
        if (FAILED(hr))
            return hr;
        TLIBATTR* a;
        if (FAILED(hr = library->GetLibAttr(&a)))
            return hr;
        attributes = *a;
        library->ReleaseTLibAttr(a);
        return S_OK;
    }
};

// Sets one string value under HKEY_CLASSES_ROOT, creating its key.
HRESULT set_value(const Bstr& key_path, const wchar_t* name, const wchar_t* value)
{
    unique_hkey key;
    LONG error = call<Fn::RegCreateKeyExW>(HKEY_CLASSES_ROOT, key_path.get(), 0, nullptr,
                                           REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                           key.put(), nullptr);
    if (error == 0)
        error = call<Fn::RegSetValueExW>(
            key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
            static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t)));
    return status_of_win32(error);
}

// Removes a key of HKEY_CLASSES_ROOT with everything under it; a key that is
// already gone counts as removed.
HRESULT delete_tree(const Bstr& key_path)
{
    LONG error = call<Fn::RegDeleteTreeW>(HKEY_CLASSES_ROOT, key_path.get());
    return error == ERROR_FILE_NOT_FOUND ? S_OK : status_of_win32(error);
}

HRESULT register_class(const ClassInfo& c, const OwnTypeLibrary& own)
{
    const GuidText clsid(*c.clsid);
    const GuidText library(own.attributes.guid);
    const Bstr key = Bstr::join({L"CLSID\\", clsid.view()});
    const Bstr server = Bstr::join({key.view(), L"\\InprocServer32"});
    const Bstr progid = Bstr::join({c.progid});
    HRESULT hr;
    if (FAILED(hr = set_value(key, nullptr, c.name)) ||
        FAILED(hr = set_value(server, nullptr, own.path)) ||
        FAILED(hr = set_value(server, L"ThreadingModel", L"Apartment")) ||
        FAILED(hr = set_value(Bstr::join({key.view(), L"\\ProgID"}), nullptr, c.progid)) ||
        FAILED(hr = set_value(Bstr::join({key.view(), L"\\TypeLib"}), nullptr, library.text)) ||
        FAILED(hr = set_value(Bstr::join({key.view(), L"\\Version"}), nullptr, L"1.0")) ||
        FAILED(hr = set_value(progid, nullptr, c.name)) ||
        FAILED(hr = set_value(Bstr::join({c.progid, L"\\CLSID"}), nullptr, clsid.text)))
        return hr;
    return S_OK;
}

HRESULT unregister_all(const OwnTypeLibrary& own)
{
    HRESULT result = S_OK;
    for (const ClassInfo* c : kClasses) {
        HRESULT hr = delete_tree(Bstr::join({c->progid}));
        if (SUCCEEDED(hr))
            hr = delete_tree(Bstr::join({L"CLSID\\", GuidText(*c->clsid).view()}));
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    const TLIBATTR& a = own.attributes;
    // A type library that is not registered any more is what was asked for.
    // Ask first: unregistering a missing one fails with a status that need
    // not say so (E_INVALIDARG under Wine).
    Bstr registered;
    if (QueryPathOfRegTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, registered.put()) !=
        S_OK)
        return result;
    // It is registered, so a refusal to remove it is a failure: its TypeLib
    // and Interface entries would stay behind.
    HRESULT hr =
        call<Fn::UnRegisterTypeLib>(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
    if (FAILED(hr) && hr != TYPE_E_LIBNOTREGISTERED && SUCCEEDED(result))
        result = hr;
    return result;
}

HRESULT register_all(const OwnTypeLibrary& own)
{
    HRESULT hr =
        call<Fn::RegisterTypeLib>(own.library.get(), const_cast<wchar_t*>(own.path), nullptr);
    for (unsigned i = 0; i < kClassCount && SUCCEEDED(hr); ++i)
        hr = register_class(*kClasses[i], own);
    return hr;
}

// Runs a registration step, turning a function that cannot be bound (or
// an allocation that fails) into its failing status.
template <class Step> HRESULT guarded(Step step) noexcept
{
    try {
        return step();
    } catch (...) {
        return caught_failure().status;
    }
}

}  // namespace

}  // namespace tarnwick

using namespace tarnwick;

STDAPI DllRegisterServer()
{
    OwnTypeLibrary own;
    HRESULT hr = own.load();
    if (FAILED(hr))
        return hr;
    hr = guarded([&] { return register_all(own); });
    if (FAILED(hr))  // leave nothing half written
        guarded([&] { return unregister_all(own); });
    return hr;
}

STDAPI DllUnregisterServer()
{
    OwnTypeLibrary own;
    HRESULT hr = own.load();
    if (FAILED(hr))
        return hr;
    return guarded([&] { return unregister_all(own); });
}
