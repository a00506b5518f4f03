// The binding seam, exported only by the test build of the library.
//
// TarnwickBind(function, library, export_name, replacement) finds the
// declared function by its declared name and, where given, points it at
// another library or export name (so the next call binds, or fails to bind,
// from there) and installs a stand-in to call instead (null: bind by name on
// the next call). Returns E_INVALIDARG for a name that is not declared.
//
// TarnwickBound(function) binds the declared function as a call would and
// gives the address it is bound to (null when it cannot be bound), so a test
// can tell which module each one came from.
//
// A host that a test cannot reach into (a script host) gets its bindings
// from the environment when the library loads: each entry
// "Function=Export" of the comma-separated TARNWICK_SEAM_FUNCTIONS binds
// the declared Function to Export of the library TARNWICK_SEAM_LIBRARY.
#include <cstring>

#include "platform.h"

namespace {

struct EnvironmentBindings {
    // The seam keeps pointers to the names: they live here, as long as the
    // library.
    char library[MAX_PATH] = {};
    char entries[512] = {};

    EnvironmentBindings() noexcept
    {
        const DWORD l = GetEnvironmentVariableA("TARNWICK_SEAM_LIBRARY", library, sizeof library);
        const DWORD e = GetEnvironmentVariableA("TARNWICK_SEAM_FUNCTIONS", entries, sizeof entries);
        if (l == 0 || l >= sizeof library || e == 0 || e >= sizeof entries)
            return;
        for (char* entry = std::strtok(entries, ","); entry; entry = std::strtok(nullptr, ",")) {
            if (char* export_name = std::strchr(entry, '=')) {
                *export_name++ = '\0';
                tarnwick::platform::substitute(entry, library, export_name, nullptr);
            }
        }
    }
} environment_bindings;

}  // namespace

extern "C" HRESULT WINAPI TarnwickBind(const char* function, const char* library,
                                       const char* export_name, void* replacement)
{
    return tarnwick::platform::substitute(function, library, export_name, replacement);
}

extern "C" void* WINAPI TarnwickBound(const char* function)
{
    return tarnwick::platform::bound_address(function);
}
