// The test build of the library (TarnwickSeam.dll), loaded by path once per
// process: its class objects, its unload count and the binding seam, with
// the one guard that rebinds a declared function for a while.
#pragma once

#include <cstring>
#include <deque>
#include <type_traits>
#include <map>
#include <string>

#include "declared.h"
#include "testkit.h"

namespace testkit {

// Whether this Wine returns from loading a module it has loaded already with
// x18, the register that holds the thread's TEB on ARM64, cleared: Wine 8.0
// on arm64 does, and the next thread-local access (a throw, the C runtime's
// per-thread data) faults before a later call restores it. Windows never
// touches x18. The library binds every platform function that way, so a
// binding that then fails could not be tested there.
inline bool loader_clears_teb_register()
{
#if defined(__aarch64__)
    void *before, *after;
    asm volatile("mov %0, x18" : "=r"(before));
    HMODULE module = LoadLibraryExA("kernel32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    asm volatile("mov %0, x18" : "=r"(after));
    asm volatile("mov x18, %0" : : "r"(before));
    if (module)
        FreeLibrary(module);
    // Cleared already by an earlier load in this thread, or by this one.
    return before == nullptr || after != before;
#else
    return false;
#endif
}

// Fails a test that needs failed bindings, or other run-time errors, on
// such a Wine, loudly and before anything else: the exception that raises
// one reaches for the thread's data through x18. The aarch64 tests run on
// a Wine that keeps the register (tools/arm64-root.sh); this says so at once
// if one ever clears it again.
#define TESTKIT_REQUIRE_TEB_REGISTER_KEPT()                                             \
    if (::testkit::loader_clears_teb_register())                                        \
    GTEST_FAIL() << "testkit: this Wine's loader clears x18 (the TEB register) when it " \
                    "returns a module already loaded, so a run-time error would fault"

// Objects from the seam library need no registration. It stays loaded:
// stand-ins may still be installed in its table.
struct SeamLibrary {
    HMODULE module = nullptr;
    HRESULT(WINAPI* get_class_object)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* can_unload_now)() = nullptr;
    // TarnwickBind(function, library, export name, stand-in): see seam.cpp.
    HRESULT(WINAPI* bind)(const char*, const char*, const char*, void*) = nullptr;
    // TarnwickBound(function): where the function is bound, null when it cannot be.
    void*(WINAPI* bound)(const char*) = nullptr;

    SeamLibrary()
    {
        module = LoadLibraryW(env_path("TARNWICK_SEAM_DLL").c_str());
        if (!module)
            return;
        auto find = [&](auto& out, const char* name) {
            out = reinterpret_cast<std::remove_reference_t<decltype(out)>>(
                reinterpret_cast<void*>(GetProcAddress(module, name)));
        };
        find(get_class_object, "DllGetClassObject");
        find(can_unload_now, "DllCanUnloadNow");
        find(bind, "TarnwickBind");
        find(bound, "TarnwickBound");
    }
    SeamLibrary(const SeamLibrary&) = delete;
    bool ok() const { return get_class_object && can_unload_now && bind && bound; }

    template <class I> Com<I> create(REFCLSID clsid) const
    {
        Com<I> out;
        Com<IClassFactory> factory;
        if (get_class_object &&
            SUCCEEDED(get_class_object(clsid, IID_IClassFactory,
                                       reinterpret_cast<void**>(factory.put()))))
            factory->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(out.put()));
        return out;
    }
};

// The one seam library of this process. Test programs run one test per
// process, so its object count is the test's alone.
inline SeamLibrary& seam()
{
    static SeamLibrary library;
    return library;
}

inline const Declared* declared(const char* function)
{
    for (const Declared& d : kDeclared)
        if (std::strcmp(d.function, function) == 0)
            return &d;
    return nullptr;
}

// Rebinds a declared function for the lifetime of the guard: calls go to a
// stand-in, or the next call binds the function from another library or
// under another export name (null keeps the declared one). Guards nest:
// when one ends, the binding before it comes back, and after the last the
// function binds by its declared name again.
class Rebind {
public:
    Rebind(const char* function, void* stand_in) : Rebind(function, nullptr, nullptr, stand_in) {}
    Rebind(const char* function, const char* library, const char* export_name,
           void* stand_in = nullptr)
        : function_(function)
    {
        const Declared* d = declared(function);
        bindings()[function].push_back({library ? library
                                        : d     ? d->library
                                                : "",
                                        export_name ? export_name : function, stand_in});
        status_ = d ? apply() : E_INVALIDARG;
    }
    Rebind(const Rebind&) = delete;
    Rebind& operator=(const Rebind&) = delete;
    ~Rebind()
    {
        auto& stack = bindings()[function_];
        stack.pop_back();
        if (!stack.empty()) {
            apply();
        } else if (const Declared* d = declared(function_.c_str())) {
            // The seam keeps the names it is given: these live as long as the process.
            seam().bind(d->function, d->library, d->function, nullptr);
        }
    }
    // S_OK when the seam took the binding.
    HRESULT status() const { return status_; }

private:
    struct Binding {
        std::string library, export_name;
        void* stand_in;
    };
    // The active bindings of each function, innermost last; the seam keeps
    // pointers to these names, so they stay where they are until popped.
    static std::map<std::string, std::deque<Binding>>& bindings()
    {
        static std::map<std::string, std::deque<Binding>> all;
        return all;
    }
    HRESULT apply() const
    {
        const Binding& b = bindings()[function_].back();
        return seam().bind ? seam().bind(function_.c_str(), b.library.c_str(),
                                         b.export_name.c_str(), b.stand_in)
                           : E_FAIL;
    }

    std::string function_;
    HRESULT status_ = E_FAIL;
};

// A stand-in with the exact signature of the platform function it replaces.
#define TESTKIT_STAND_IN(function, replacement) \
    ::testkit::Rebind(#function,                \
                      reinterpret_cast<void*>(static_cast<decltype(&::function)>(replacement)))

}  // namespace testkit
