// The declared platform functions, bound here by library name and function
// name on their first call, into one table for the whole process: every
// Windows function that a class method calls, the handles' closing
// functions, and the registry and type-library writes of self-registration
// (so that a test can refuse each of them through the seam). The automation
// runtime's own services (strings, variants, type information, error
// information, the type-library look-ups) and the loader are called
// directly.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <sddl.h>
#include <lmcons.h>
#include <lmapibuf.h>
#include <lmjoin.h>
// The user-mode security package declarations, for GetUserNameExW.
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <secext.h>

#include <atomic>

// Declared by the headers only for newer systems than the library asks for:
// the version query that takes no account of the program's manifest, and the
// architecture query of Windows 10 and later, which a call binds only where
// the system has it.
extern "C" LONG WINAPI RtlGetVersion(OSVERSIONINFOW* version);
// A key's own name as the registry resolves it (information class 3,
// KeyNameInformation): the key that a handle is, whatever path, link or
// view opened it.
extern "C" LONG WINAPI NtQueryKey(HANDLE key, int information_class, void* information,
                                  ULONG length, ULONG* result_length);
#if _WIN32_WINNT < 0x0A00
extern "C" BOOL WINAPI IsWow64Process2(HANDLE process, USHORT* process_machine,
                                       USHORT* native_machine);
#endif

namespace tarnwick::platform {

// X(library name as declared, function)
#define TARNWICK_DECLARED_FUNCTIONS(X)             \
    X("kernel32", GetSystemTime)                   \
    X("kernel32", GetLocalTime)                    \
    X("kernel32", GetVersionExA)                   \
    X("kernel32", GetCurrentProcess)               \
    X("kernel32", CloseHandle)                     \
    X("advapi32.dll", RegOpenKeyExW)               \
    X("advapi32.dll", RegCreateKeyExW)             \
    X("advapi32.dll", RegQueryValueExW)            \
    X("advapi32.dll", RegSetValueExW)              \
    X("advapi32.dll", RegCloseKey)                 \
    X("advapi32.dll", OpenProcessToken)            \
    X("advapi32.dll", LookupPrivilegeValueA)       \
    X("advapi32.dll", AdjustTokenPrivileges)       \
    X("user32", ExitWindowsEx)                     \
    X("advapi32.dll", RegDeleteValueW)             \
    X("advapi32.dll", RegDeleteTreeW)              \
    X("advapi32.dll", RegDeleteKeyExW)             \
    X("advapi32.dll", RegEnumKeyExW)               \
    X("advapi32.dll", RegEnumValueW)               \
    X("advapi32.dll", RegQueryInfoKeyW)            \
    X("oleaut32", RegisterTypeLib)                 \
    X("oleaut32", UnRegisterTypeLib)               \
    X("kernel32", GetSystemTimeAsFileTime)         \
    X("kernel32", FileTimeToSystemTime)            \
    X("kernel32", SystemTimeToFileTime)            \
    X("kernel32", SystemTimeToTzSpecificLocalTime) \
    X("ntdll", RtlGetVersion)                      \
    X("kernel32", IsWow64Process2)                 \
    X("kernel32", GetNativeSystemInfo)             \
    X("kernel32", ExpandEnvironmentStringsW)       \
    X("advapi32.dll", InitiateSystemShutdownExW)   \
    X("advapi32.dll", AbortSystemShutdownW)        \
    X("kernel32", GetTickCount64)                  \
    X("kernel32", GetComputerNameExW)              \
    X("advapi32.dll", GetUserNameW)                \
    X("secur32", GetUserNameExW)                   \
    X("netapi32", NetGetJoinInformation)           \
    X("netapi32", NetApiBufferFree)                \
    X("kernel32", LCMapStringEx)                   \
    X("kernel32", CompareStringOrdinal)            \
    X("kernel32", LocalFree)                       \
    X("advapi32.dll", RegGetKeySecurity)           \
    X("advapi32.dll", RegSetKeySecurity)           \
    X("advapi32.dll", GetSecurityDescriptorOwner)  \
    X("advapi32.dll", GetSecurityDescriptorGroup)  \
    X("advapi32.dll", GetSecurityDescriptorDacl)   \
    X("advapi32.dll", ConvertStringSecurityDescriptorToSecurityDescriptorW) \
    X("advapi32.dll", ConvertSecurityDescriptorToStringSecurityDescriptorW) \
    X("kernel32", CreateFileW)                     \
    X("kernel32", ReadFile)                        \
    X("kernel32", WriteFile)                       \
    X("kernel32", GetFileSizeEx)                   \
    X("kernel32", MoveFileExW)                     \
    X("kernel32", DeleteFileW)                     \
    X("kernel32", GetCurrentProcessId)            \
    X("ntdll", NtQueryKey)

enum class Fn : unsigned {
#define TARNWICK_ENUM(library, name) name,
    TARNWICK_DECLARED_FUNCTIONS(TARNWICK_ENUM)
#undef TARNWICK_ENUM
        Count
};

template <Fn> struct Signature;
#define TARNWICK_SIGNATURE(library, name)    \
    template <> struct Signature<Fn::name> { \
        using type = decltype(&::name);      \
    };
TARNWICK_DECLARED_FUNCTIONS(TARNWICK_SIGNATURE)
#undef TARNWICK_SIGNATURE

extern std::atomic<void*> bound[static_cast<unsigned>(Fn::Count)];

// Binds the function now: raises run-time error 53 when its library is not
// found, 48 when it is found but cannot be loaded, 453 when it lacks the
// function.
void* bind(Fn f);

// Binds without raising; null when the function cannot be bound.
void* try_bind(Fn f) noexcept;

// Calls a declared function, binding it first if this is its first call.
template <Fn F, class... Args> inline auto call(Args... args)
{
    void* p = bound[static_cast<unsigned>(F)].load(std::memory_order_acquire);
    if (!p)
        p = bind(F);
    return reinterpret_cast<typename Signature<F>::type>(p)(args...);
}

// The declared function if it can be bound, else null, without raising: for
// a function that older systems lack, where the caller has another way.
template <Fn F> inline auto find() noexcept
{
    return reinterpret_cast<typename Signature<F>::type>(try_bind(F));
}

// Calls a declared function only if it can be bound, without raising; false
// when it cannot. For clean-up paths.
template <Fn F, class... Args> inline bool call_if_bound(Args... args) noexcept
{
    void* p = try_bind(F);
    if (p)
        reinterpret_cast<typename Signature<F>::type>(p)(args...);
    return p != nullptr;
}

// The platform id that GetVersionExA reports (1: the 9x family, 2: the NT
// family); 0 when the query fails. Raises as a call does when GetVersionExA
// cannot be bound.
LONG platform_id();

// The one seam for tests: point a declared function at another library and
// export name, or at a stand-in; see seam.cpp.
HRESULT substitute(const char* function, const char* library, const char* export_name,
                   void* replacement) noexcept;

// The seam's query: binds the declared function of that name (without
// raising) and gives the address it is bound to; null when the name is not
// declared or the function cannot be bound.
void* bound_address(const char* function) noexcept;

}  // namespace tarnwick::platform
