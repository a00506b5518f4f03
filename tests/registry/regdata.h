// What the Registry tests need beyond the shared registry helpers of
// support/keys.h: the class text of a key, and text as the ANSI code page
// gives it back.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "keys.h"

namespace registry_tests {

using namespace testkit;

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
