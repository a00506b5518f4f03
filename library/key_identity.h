// What a key is, decided from the key itself and never from how its name
// is spelled: a root name, HKCR (the machine's and the user's classes),
// HKCU (a hive under HKU), HKCC (a hardware profile), a link or a registry
// view can each name one key many ways, and the registry resolves them all
// to the one name it keeps for the key ("\REGISTRY\MACHINE\SOFTWARE\...").
// Whether two names are one key, whether one key is inside another, and
// whether a key is a root or holds one are decided here, on those names.
#pragma once

#include <windows.h>

#include <string_view>

#include "com.h"

namespace tarnwick::reg {

class KeyIdentity {
public:
    // The key that `path` names below `root` in `view`, which need not exist
    // yet: the deepest key of the path that exists, by its resolved name,
    // and then the rest of the path, which nothing resolves because nothing
    // is there. False when the registry does not say what a key of the path
    // is (it exists but gives no name, or refuses other than as missing).
    bool find(HKEY root, const wchar_t* path, REGSAM view);

    // The resolved name, without a backslash at its end.
    std::wstring_view name() const noexcept { return name_.view(); }
    // Whether the whole path exists.
    bool exists() const noexcept { return exists_; }
    // The length of the path's part that exists, in characters: the first
    // key to create when the key is to be made.
    size_t existing_length() const noexcept { return existing_; }

    // Whether this key is `outer` or below it.
    bool within(const KeyIdentity& outer) const;

    // Whether deleting this key would delete a root, the storage of one
    // (the machine's or the user's classes, in either view; a hive under
    // HKU or HKLM; the current hardware profile; the machine's software of
    // the 32-bit view) or an ancestor of one.
    bool holds_root() const;

private:
    Bstr name_;
    bool exists_ = false;
    size_t existing_ = 0;
};

// The name that the registry resolves an open key to; false when it gives
// none.
bool resolved_name(HKEY key, Bstr& name);

}  // namespace tarnwick::reg
