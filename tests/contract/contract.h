// What the contract tests share: the built library's path, its identifiers
// as text, and small readers for registry values.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <string>

#include "testkit.h"

namespace contract {

inline std::wstring library_path() { return testkit::env_path("TARNWICK_DLL"); }

inline std::wstring guid_text(const GUID& id)
{
    wchar_t text[39];
    StringFromGUID2(id, text, 39);
    return text;
}

// The four classes with their default interfaces, in type-library order.
struct ClassSpec {
    const wchar_t* name;
    const CLSID* clsid;
    const wchar_t* iface;
    const IID* iid;
    const char* iid_resource;
    unsigned vtable_entries;
};
inline const ClassSpec kClasses[] = {
    {L"Reboot", &CLSID_Reboot, L"_Reboot", &IID__Reboot, "_IID_REBOOT", 8},
    {L"Registry", &CLSID_Registry, L"_Registry", &IID__Registry, "_IID_REGISTRY", 13},
    {L"Time", &CLSID_Time, L"_Time", &IID__Time, "_IID_TIME", 9},
    {L"WindowsInfo", &CLSID_WindowsInfo, L"_WindowsInfo", &IID__WindowsInfo, "_IID_WINDOWSINFO",
     12},
};

// A string value of a key under HKEY_CLASSES_ROOT (null name: the default).
inline std::optional<std::wstring> classes_value(const std::wstring& key, const wchar_t* name)
{
    testkit::Key k;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t buffer[1024];
    DWORD type, size = sizeof buffer;
    if (RegQueryValueExW(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    std::wstring out(buffer, size / sizeof(wchar_t));
    if (!out.empty() && out.back() == L'\0')
        out.pop_back();
    return out;
}

inline bool classes_key_exists(const std::wstring& key)
{
    testkit::Key k;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

inline bool same_text_ignoring_case(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace contract
