// Registry access for preparing and checking what the library reads and
// writes, linked directly and independent of the library: the wide
// functions, and the ANSI ones where the bytes matter.
#pragma once

#include <windows.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "testkit.h"

namespace testkit {

// HKCU\Software\TarnwickTests\<area>\<process id>: a key that no other test
// process touches.
inline std::wstring test_key(const std::wstring& area)
{
    return L"Software\\TarnwickTests\\" + area + L"\\" + std::to_wstring(GetCurrentProcessId());
}

// `view` may name a registry view (KEY_WOW64_32KEY, KEY_WOW64_64KEY).
inline bool key_exists(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    Key k;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, k.put()) == ERROR_SUCCESS;
}

inline LONG make_key(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    Key k;
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                           k.put(), nullptr);
}

inline void delete_tree(HKEY root, const std::wstring& path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

inline bool value_exists(HKEY root, const std::wstring& path, const wchar_t* name)
{
    return RegGetValueW(root, path.c_str(), name, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

// A text value (REG_SZ) without its terminating NUL; nothing when the key or
// the value is missing or of another type. A null name is the default value.
inline std::optional<std::wstring> read_text(HKEY root, const std::wstring& path,
                                             const wchar_t* name)
{
    DWORD size = 0;
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::wstring out(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(out.size() * sizeof(wchar_t));
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, out.data(), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    out.resize(size / sizeof(wchar_t));
    if (!out.empty() && out.back() == L'\0')
        out.pop_back();
    return out;
}

// Stores `size` bytes of `data` with the given type (creating nothing).
inline LONG set_wide(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type,
                     const void* data, DWORD size)
{
    Key k;
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

// Stores exactly `bytes` with the given type through the ANSI function.
inline LONG set_bytes(HKEY root, const std::wstring& path, const char* name, DWORD type,
                      const std::string& bytes)
{
    Key k;
    LONG e = RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, k.put());
    if (e == ERROR_SUCCESS)
        e = RegSetValueExA(k.get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size()));
    return e;
}

struct Stored {
    DWORD type = 0;
    std::string bytes;
};

// A value as the ANSI function reports it: type and bytes.
inline std::optional<Stored> read_bytes(HKEY root, const std::wstring& path, const char* name)
{
    Key k;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS)
        return std::nullopt;
    Stored s;
    DWORD size = 0;
    if (RegQueryValueExA(k.get(), name, nullptr, &s.type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    s.bytes.resize(size);
    if (RegQueryValueExA(k.get(), name, nullptr, &s.type, reinterpret_cast<BYTE*>(s.bytes.data()),
                         &size) != ERROR_SUCCESS)
        return std::nullopt;
    s.bytes.resize(size);
    return s;
}

// A subtree as read directly: each key by its path below the top ("" for
// the top itself), each value of it by name with its type and bytes.
using KeyTree = std::map<std::wstring, std::map<std::wstring, std::pair<DWORD, std::string>>>;

// The subtree below root\path, every key opened in `view`; empty when the
// top cannot be opened.
inline KeyTree key_tree(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    KeyTree out;
    std::vector<std::wstring> pending{L""};
    while (!pending.empty()) {
        const std::wstring below = pending.back();
        pending.pop_back();
        Key k;
        if (RegOpenKeyExW(root, (below.empty() ? path : path + L"\\" + below).c_str(), 0,
                          KEY_READ | view, k.put()) != 0)
            continue;
        auto& values = out[below];
        wchar_t name[16384];
        for (DWORD i = 0;; ++i) {
            DWORD n = 16384, size = 0, type = 0;
            if (RegEnumValueW(k.get(), i, name, &n, nullptr, &type, nullptr, &size) != 0)
                break;
            std::string bytes(size, '\0');
            n = 16384;
            RegEnumValueW(k.get(), i, name, &n, nullptr, &type,
                          reinterpret_cast<BYTE*>(bytes.data()), &size);
            values[std::wstring(name, n)] = {type, bytes.substr(0, size)};
        }
        for (DWORD i = 0;; ++i) {
            DWORD n = 16384;
            if (RegEnumKeyExW(k.get(), i, name, &n, nullptr, nullptr, nullptr, nullptr) != 0)
                break;
            pending.push_back(below.empty() ? std::wstring(name, n)
                                            : below + L"\\" + std::wstring(name, n));
        }
    }
    return out;
}

// The first bytes of `bytes` in hex, and their number when there are more.
inline std::string hex(const std::string& bytes, size_t most = 24)
{
    std::string out;
    char two[4];
    for (size_t i = 0; i < bytes.size() && i < most; ++i) {
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(bytes[i]));
        out += two;
    }
    return bytes.size() > most ? out + "... (" + std::to_string(bytes.size()) + " bytes)" : out;
}

// What differs between two subtrees, one line a key or value; empty when
// they are the same.
inline std::string differences(const KeyTree& want, const KeyTree& got)
{
    std::string out;
    for (const auto& [key, values] : want) {
        const auto found = got.find(key);
        if (found == got.end()) {
            out += "key \"" + narrow(key) + "\" missing\n";
            continue;
        }
        for (const auto& [name, value] : values) {
            const auto it = found->second.find(name);
            const std::string where = "value \"" + narrow(key) + "\" \"" + narrow(name) + "\"";
            if (it == found->second.end())
                out += where + " missing\n";
            else if (it->second != value)
                out += where + ": type " + std::to_string(it->second.first) + " " +
                       hex(it->second.second) + " instead of type " + std::to_string(value.first) +
                       " " + hex(value.second) + "\n";
        }
        for (const auto& [name, value] : found->second)
            if (!values.count(name))
                out += "value \"" + narrow(key) + "\" \"" + narrow(name) + "\" not wanted\n";
    }
    for (const auto& [key, values] : got)
        if (!want.count(key))
            out += "key \"" + narrow(key) + "\" not wanted\n";
    return out;
}

}  // namespace testkit
