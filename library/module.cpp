// The library's entry point, its own file and type library, and the counts
// behind DllCanUnloadNow.
#include "module.h"

#include "dispatch.h"

namespace tarnwick::module {

namespace {

HMODULE g_module;
LONG g_locks;         // live objects and factory references
LONG g_server_locks;  // LockServer(TRUE) not yet matched by LockServer(FALSE)

// For the exports below.
bool idle() noexcept
{
    return InterlockedCompareExchange(&g_locks, 0, 0) == 0 &&
           InterlockedCompareExchange(&g_server_locks, 0, 0) == 0;
}

}  // namespace

HRESULT own_type_library(wchar_t (&path)[MAX_PATH + 1], ITypeLib** out) noexcept
{
    *out = nullptr;
    const DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH)
        return TYPE_E_CANTLOADLIBRARY;
    return LoadTypeLibEx(path, REGKIND_NONE, out);
}

void lock() noexcept
{
    InterlockedIncrement(&g_locks);
}

void unlock() noexcept
{
    InterlockedDecrement(&g_locks);
}

void lock_server() noexcept
{
    InterlockedIncrement(&g_server_locks);
}

// An unlock without a lock to match is ignored: it must not cancel what live
// objects hold.
void unlock_server() noexcept
{
    LONG n = InterlockedCompareExchange(&g_server_locks, 0, 0);
    while (n > 0) {
        const LONG seen = InterlockedCompareExchange(&g_server_locks, n - 1, n);
        if (seen == n)
            return;
        n = seen;
    }
}

}  // namespace tarnwick::module

using namespace tarnwick;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        module::g_module = instance;
        DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH:
        if (!reserved)  // unloaded by FreeLibrary, not by process exit
            dispatch::release_type_cache();
        break;
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return module::idle() ? S_OK : S_FALSE;
}
