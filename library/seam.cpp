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
#include "platform.h"

extern "C" HRESULT WINAPI TarnwickBind(const char* function, const char* library,
                                       const char* export_name, void* replacement)
{
    return tarnwick::platform::substitute(function, library, export_name, replacement);
}

extern "C" void* WINAPI TarnwickBound(const char* function)
{
    return tarnwick::platform::bound_address(function);
}
