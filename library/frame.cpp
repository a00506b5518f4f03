// The library's entry point, its exports for activation, and the class
// factories.
#include <array>
#include <utility>

#include "object.h"

namespace tarnwick {

namespace {

HMODULE g_module;
LONG g_locks;         // live objects and factory references
LONG g_server_locks;  // LockServer(TRUE) not yet matched by LockServer(FALSE)

// One factory per class, living as long as the library. References on a
// factory count as locks, so the library stays while a client holds one.
class ClassFactory final : public IClassFactory {
public:
    constexpr explicit ClassFactory(const ClassInfo& info) : info_(info) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (riid != __uuidof(IUnknown) && riid != __uuidof(IClassFactory)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        module::lock();
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        module::unlock();
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return info_.create(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        lock ? module::lock_server() : module::unlock_server();
        return S_OK;
    }

private:
    const ClassInfo& info_;
};

// One factory for each entry of kClasses, at the same position.
template <size_t... I>
constexpr std::array<ClassFactory, kClassCount> factories(std::index_sequence<I...>)
{
    return {ClassFactory(*kClasses[I])...};
}
std::array<ClassFactory, kClassCount> g_factories =
    factories(std::make_index_sequence<kClassCount>{});

}  // namespace

namespace module {
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
}  // namespace module

void release_type_cache() noexcept;

}  // namespace tarnwick

using namespace tarnwick;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_module = instance;
        DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH:
        if (!reserved)  // unloaded by FreeLibrary, not by process exit
            release_type_cache();
        break;
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    const bool idle = InterlockedCompareExchange(&g_locks, 0, 0) == 0 &&
                      InterlockedCompareExchange(&g_server_locks, 0, 0) == 0;
    return idle ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    for (unsigned i = 0; i < kClassCount; ++i) {
        if (clsid == *kClasses[i]->clsid)
            return g_factories[i].QueryInterface(riid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}
