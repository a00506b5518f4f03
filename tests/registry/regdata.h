// What the Registry tests need beyond the shared registry helpers of
// support/keys.h: the class text of a key.
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

}  // namespace registry_tests
