// The library's entry point, its exports for activation, and the class
// factories.
#include <new>

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
        if (riid != IID_IUnknown && riid != IID_IClassFactory) {
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

ClassFactory g_factories[] = {ClassFactory(kWindowsInfo), ClassFactory(kTime),
                              ClassFactory(kRegistry), ClassFactory(kReboot)};

}  // namespace

namespace module {
HMODULE handle() noexcept { return g_module; }
void lock() noexcept { InterlockedIncrement(&g_locks); }
void unlock() noexcept { InterlockedDecrement(&g_locks); }
void lock_server() noexcept { InterlockedIncrement(&g_server_locks); }

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

HRESULT failed(const ClassInfo& info) noexcept
{
    try {
        throw;
    } catch (const Failure& failure) {
        return report(failure, info.progid, *info.iid);
    } catch (const std::bad_alloc&) {
        return report(Failure{status_of(kOutOfMemory), kOutOfMemory}, info.progid, *info.iid);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

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
