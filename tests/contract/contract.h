// What the contract tests share: the built library's path, the class and
// method tables, and small readers for registry values.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <string>

#include "keys.h"
#include "methods.h"

namespace contract {

inline std::wstring library_path()
{
    return testkit::env_path("TARNWICK_DLL");
}

using namespace testkit;

// A string value of a key under HKEY_CLASSES_ROOT (null name: the default).
inline std::optional<std::wstring> classes_value(const std::wstring& key, const wchar_t* name)
{
    return read_text(HKEY_CLASSES_ROOT, key, name);
}

// Entries in the method table of a class's interface: the seven of
// IDispatch, then the class's own methods.
inline unsigned vtable_entries(const ClassRef& cls)
{
    return 7 + static_cast<unsigned>(methods_of(cls).size());
}

inline bool same_text_ignoring_case(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace contract
