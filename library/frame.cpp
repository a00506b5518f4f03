// Activation: the class factories and DllGetClassObject.
#include <array>
#include <utility>

#include "object.h"

namespace tarnwick {

namespace {

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

}  // namespace tarnwick

using namespace tarnwick;

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
