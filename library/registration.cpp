// Self-registration: the type library and, for each class, its class
// identifier and ProgID entries, written to and removed from the
// machine-wide class registration.
#include <string>

#include "object.h"

namespace tarnwick {

using platform::call;
using platform::Fn;

namespace {

std::wstring text_of(const GUID& id)
{
    wchar_t text[39];
    StringFromGUID2(id, text, 39);
    return text;
}

HRESULT status_of_win32(LONG error) { return error == 0 ? S_OK : HRESULT_FROM_WIN32(error); }

// The library's own file and the type library inside it.
struct OwnTypeLibrary {
    wchar_t path[MAX_PATH + 1];
    ComPtr<ITypeLib> library;
    TLIBATTR attributes;

    HRESULT load()
    {
        DWORD n = GetModuleFileNameW(module::handle(), path, MAX_PATH + 1);
        if (n == 0 || n > MAX_PATH)
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, library.put());
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
HRESULT set_value(const std::wstring& key_path, const wchar_t* name, const std::wstring& value)
{
    unique_hkey key;
    LONG error = call<Fn::RegCreateKeyExW>(HKEY_CLASSES_ROOT, key_path.c_str(), 0, nullptr,
                                           REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                           key.put(), nullptr);
    if (error == 0)
        error = call<Fn::RegSetValueExW>(key.get(), name, 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(value.c_str()),
                                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return status_of_win32(error);
}

// Removes a key of HKEY_CLASSES_ROOT with everything under it; a key that is
// already gone counts as removed.
HRESULT delete_tree(const std::wstring& key_path)
{
    LONG error = call<Fn::RegDeleteTreeW>(HKEY_CLASSES_ROOT, key_path.c_str());
    return error == ERROR_FILE_NOT_FOUND ? S_OK : status_of_win32(error);
}

HRESULT register_class(const ClassInfo& c, const OwnTypeLibrary& own)
{
    const std::wstring clsid = text_of(*c.clsid);
    const std::wstring key = L"CLSID\\" + clsid;
    const std::wstring progid = c.progid;
    HRESULT hr;
    if (FAILED(hr = set_value(key, nullptr, c.name)) ||
        FAILED(hr = set_value(key + L"\\InprocServer32", nullptr, own.path)) ||
        FAILED(hr = set_value(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment")) ||
        FAILED(hr = set_value(key + L"\\ProgID", nullptr, progid)) ||
        FAILED(hr = set_value(key + L"\\TypeLib", nullptr, text_of(own.attributes.guid))) ||
        FAILED(hr = set_value(key + L"\\Version", nullptr, L"1.0")) ||
        FAILED(hr = set_value(progid, nullptr, c.name)) ||
        FAILED(hr = set_value(progid + L"\\CLSID", nullptr, clsid)))
        return hr;
    return S_OK;
}

HRESULT unregister_all(const OwnTypeLibrary& own)
{
    HRESULT result = S_OK;
    for (const ClassInfo* c : kClasses) {
        HRESULT hr = delete_tree(c->progid);
        if (SUCCEEDED(hr))
            hr = delete_tree(L"CLSID\\" + text_of(*c->clsid));
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
    HRESULT hr = call<Fn::UnRegisterTypeLib>(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid,
                                             a.syskind);
    if (FAILED(hr) && hr != TYPE_E_LIBNOTREGISTERED && SUCCEEDED(result))
        result = hr;
    return result;
}

HRESULT register_all(const OwnTypeLibrary& own)
{
    HRESULT hr = call<Fn::RegisterTypeLib>(own.library.get(), const_cast<wchar_t*>(own.path),
                                           nullptr);
    for (unsigned i = 0; i < kClassCount && SUCCEEDED(hr); ++i)
        hr = register_class(*kClasses[i], own);
    return hr;
}

// Runs a registration step, turning a function that cannot be bound into
// its failing status.
template <class Step>
HRESULT guarded(Step step) noexcept
{
    try {
        return step();
    } catch (const Failure& failure) {
        return failure.status;
    } catch (...) {
        return E_OUTOFMEMORY;
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
