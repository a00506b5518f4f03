// Direct registry access for preparing and checking what the Registry class
// reads and writes: the ANSI functions where the bytes matter, the wide ones
// elsewhere. All linked directly, independent of the library.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "testkit.h"

namespace registry_tests {

inline bool key_exists(HKEY root, const std::wstring& path)
{
    testkit::Key k;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

inline LONG make_key(HKEY root, const std::wstring& path)
{
    testkit::Key k;
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.put(),
                           nullptr);
}

inline void delete_tree(HKEY root, const std::wstring& path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

// Stores exactly `bytes` with the given type through the ANSI function.
inline LONG set_bytes(HKEY root, const std::wstring& path, const char* name, DWORD type,
                      const std::string& bytes)
{
    testkit::Key k;
    LONG e = RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, k.put());
    if (e == ERROR_SUCCESS)
        e = RegSetValueExA(k.get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size()));
    return e;
}

inline LONG set_wide(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type,
                     const void* data, DWORD size)
{
    testkit::Key k;
    LONG e = RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, k.put());
    if (e == ERROR_SUCCESS)
        e = RegSetValueExW(k.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    return e;
}

inline LONG set_text(HKEY root, const std::wstring& path, const wchar_t* name,
                     const std::wstring& value)
{
    return set_wide(root, path, name, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

struct Stored {
    DWORD type = 0;
    std::string bytes;
};

// The value as the ANSI function reports it (type and bytes), if present.
inline std::optional<Stored> read_bytes(HKEY root, const std::wstring& path, const char* name)
{
    testkit::Key k;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS)
        return std::nullopt;
    Stored s;
    DWORD size = 4096;
    s.bytes.resize(size);
    if (RegQueryValueExA(k.get(), name, nullptr, &s.type, reinterpret_cast<BYTE*>(s.bytes.data()),
                         &size) != ERROR_SUCCESS)
        return std::nullopt;
    s.bytes.resize(size);
    return s;
}

// A text value as the wide function reports it, without its terminating NUL.
inline std::optional<std::wstring> read_text(HKEY root, const std::wstring& path,
                                             const wchar_t* name)
{
    testkit::Key k;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring out(2048, L'\0');
    DWORD type, size = static_cast<DWORD>(out.size() * sizeof(wchar_t));
    if (RegQueryValueExW(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(out.data()),
                         &size) != ERROR_SUCCESS)
        return std::nullopt;
    out.resize(size / sizeof(wchar_t));
    if (!out.empty() && out.back() == L'\0')
        out.pop_back();
    return out;
}

// The class text of a key.
inline std::optional<std::wstring> key_class(HKEY root, const std::wstring& path)
{
    testkit::Key k;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t buffer[64] = {};
    DWORD length = 64;
    if (RegQueryInfoKeyW(k.get(), buffer, &length, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buffer, length);
}

// Text as it comes back from a round trip through the ANSI code page.
inline std::wstring through_ansi(const std::wstring& s)
{
    if (s.empty())
        return s;
    std::string a(s.size() * 4, '\0');
    int n = WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), a.data(),
                                static_cast<int>(a.size()), nullptr, nullptr);
    std::wstring w(static_cast<size_t>(n), L'\0');
    int m = MultiByteToWideChar(CP_ACP, 0, a.data(), n, w.data(), n);
    w.resize(static_cast<size_t>(m));
    return w;
}

}  // namespace registry_tests
