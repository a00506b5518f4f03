// What WindowsInfo shares with Reboot: the values of one registry key, read
// by name in the view that the caller picks.
#pragma once

#include <string_view>

#include "Registry.h"

namespace tarnwick {

// One registry key opened for reading its values. A key that cannot be
// opened has no values.
class KeyValues {
public:
    KeyValues(HKEY root, const wchar_t* path, REGSAM view = 0);

    bool opened() const noexcept { return opened_; }
    HKEY get() const noexcept { return key_.get(); }
    // The value of that name, whole; null when it is missing.
    const ValueReader* read(const wchar_t* name);
    // A text value; empty when missing or not text.
    std::wstring_view text(const wchar_t* name);
    // A REG_DWORD value; 0 when missing or of another type.
    DWORD number(const wchar_t* name);

private:
    unique_hkey key_;
    bool opened_;
    ValueReader value_;
};

}  // namespace tarnwick
