#include "platform.h"

#include <cstring>

#include "errors.h"

namespace tarnwick::platform {

namespace {

struct Declaration {
    const char* library;
    const char* function;
};

// Library and export name of every declared function, as declared. The seam
// may point an entry elsewhere; nothing else writes here.
Declaration declarations[] = {
#define TARNWICK_DECLARATION(library, name) {library, #name},
    TARNWICK_DECLARED_FUNCTIONS(TARNWICK_DECLARATION)
#undef TARNWICK_DECLARATION
};

// The declared names, by which the seam finds an entry.
constexpr const char* names[] = {
#define TARNWICK_NAME(library, name) #name,
    TARNWICK_DECLARED_FUNCTIONS(TARNWICK_NAME)
#undef TARNWICK_NAME
};

constexpr unsigned kCount = static_cast<unsigned>(Fn::Count);
static_assert(sizeof declarations / sizeof declarations[0] == kCount);

// Loads from the system folder only, so that a library of the same name
// planted beside the host program is never bound. Returns 0 or the error.
long load(const Declaration& d, HMODULE& module) noexcept
{
    module = LoadLibraryExA(d.library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module)
        return 0;
    switch (GetLastError()) {
    case ERROR_MOD_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DLL_NOT_FOUND:
        return kFileNotFound;
    default:
        return kLoadFailed;
    }
}

long bind_entry(unsigned index, void*& out) noexcept
{
    HMODULE module;
    if (long error = load(declarations[index], module))
        return error;
    void* p = reinterpret_cast<void*>(GetProcAddress(module, declarations[index].function));
    if (!p) {
        FreeLibrary(module);
        return kEntryNotFound;
    }
    void* expected = nullptr;
    if (!bound[index].compare_exchange_strong(expected, p, std::memory_order_acq_rel)) {
        // Another thread bound it first and keeps its reference.
        FreeLibrary(module);
        p = expected;
    }
    out = p;
    return 0;
}

}  // namespace

std::atomic<void*> bound[kCount];

void* bind(Fn f)
{
    void* p;
    if (long error = bind_entry(static_cast<unsigned>(f), p))
        raise(error);
    return p;
}

void* try_bind(Fn f) noexcept
{
    unsigned index = static_cast<unsigned>(f);
    void* p = bound[index].load(std::memory_order_acquire);
    if (!p && bind_entry(index, p) != 0)
        return nullptr;
    return p;
}

LONG platform_id()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    static_assert(sizeof version == 148,
                  "the record GetVersionExA fills: 5 numbers, 128 bytes of text");
    if (call<Fn::GetVersionExA>(&version))
        return static_cast<LONG>(version.dwPlatformId);
    return 0;
}

HRESULT substitute(const char* function, const char* library, const char* export_name,
                   void* replacement) noexcept
{
    if (!function)
        return E_INVALIDARG;
    for (unsigned i = 0; i < kCount; ++i) {
        if (std::strcmp(names[i], function) != 0)
            continue;
        if (library)
            declarations[i].library = library;
        if (export_name)
            declarations[i].function = export_name;
        bound[i].store(replacement, std::memory_order_release);
        return S_OK;
    }
    return E_INVALIDARG;
}

void* bound_address(const char* function) noexcept
{
    if (!function)
        return nullptr;
    for (unsigned i = 0; i < kCount; ++i) {
        if (std::strcmp(names[i], function) == 0)
            return try_bind(static_cast<Fn>(i));
    }
    return nullptr;
}

}  // namespace tarnwick::platform
