// What the contract tests share: the built library's path, the class and
// method tables, and small readers for registry values.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <string>
#include <vector>

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

// The methods that interface `iid` declares itself, in method-table order.
inline std::vector<const Method*> methods_declared_by(const IID& iid)
{
    std::vector<const Method*> out;
    for (const Method& m : methods())
        if (*m.iid == iid)
            out.push_back(&m);
    return out;
}

// Entries in the method table of one of a class's interfaces: the seven of
// IDispatch, then the class's methods up to that interface's last (each
// interface of a class derives from the one before it).
inline unsigned vtable_entries(const ClassRef& cls, const IID& iid)
{
    unsigned entries = 7, through = 7;
    for (const Method* m : methods_of(cls)) {
        ++entries;
        if (*m->iid == iid)
            through = entries;
    }
    return through;
}

inline bool same_text_ignoring_case(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace contract
