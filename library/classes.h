// The classes the library serves: what the frame, the dispatch side and the
// registration know of each, in one table.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <iterator>

namespace tarnwick {

// What the frame knows of one creatable class.
struct ClassInfo {
    // The dual interfaces the class answers QueryInterface for, its default
    // first: Invoke and the error information go by the default one. A class
    // that grows a derived interface names it first and keeps the older one
    // after it, so that clients of either get the same object.
    static constexpr unsigned kMaxInterfaces = 3;

    const CLSID* clsid;
    const IID* interfaces[kMaxInterfaces];  // unused places are null
    const wchar_t* name;                    // class name, "Registry"
    const wchar_t* progid;                  // "TarnwickDLL.Registry"; also the error source
    HRESULT (*create)(REFIID, void**);

    const IID& default_iid() const noexcept { return *interfaces[0]; }
    bool implements(REFIID riid) const noexcept
    {
        for (const IID* iid : interfaces) {
            if (iid && *iid == riid)
                return true;
        }
        return false;
    }
};

// The classes, in registration order. Each class defines its ClassInfo in
// its own file; the class factories, the type cache and the registration
// all follow this list.
extern const ClassInfo kWindowsInfo, kTime, kRegistry, kReboot;
inline constexpr const ClassInfo* kClasses[] = {&kWindowsInfo, &kTime, &kRegistry, &kReboot};
inline constexpr unsigned kClassCount = std::size(kClasses);

// A class's position in kClasses; kClassCount for a class not listed.
constexpr unsigned slot_of(const ClassInfo& info) noexcept
{
    unsigned i = 0;
    while (i < kClassCount && kClasses[i] != &info)
        ++i;
    return i;
}

}  // namespace tarnwick
