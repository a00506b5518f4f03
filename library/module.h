// The library as a module: its own file and the type library inside it, and
// the counts that decide when it may be unloaded.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace tarnwick::module {

// The full path of the library's own file and the type library inside it;
// TYPE_E_CANTLOADLIBRARY when the path does not fit.
HRESULT own_type_library(wchar_t (&path)[MAX_PATH + 1], ITypeLib** out) noexcept;

// The counts behind DllCanUnloadNow: live objects and factory references,
// and server locks, which never go below zero.
void lock() noexcept;
void unlock() noexcept;
void lock_server() noexcept;
void unlock_server() noexcept;

}  // namespace tarnwick::module
