// The declared platform functions of the library, each with the library
// name it is declared with: what the seam can rebind and what a planted
// library must never provide. tests/reliability/CMakeLists.txt reads the
// names from this list for the planted library's exports.
#pragma once

#define TARNWICK_TEST_DECLARED(X)            \
    X(GetSystemTime, "kernel32")             \
    X(GetLocalTime, "kernel32")              \
    X(GetVersionExA, "kernel32")             \
    X(GetCurrentProcess, "kernel32")         \
    X(CloseHandle, "kernel32")               \
    X(RegOpenKeyExA, "advapi32.dll")         \
    X(RegCreateKeyExA, "advapi32.dll")       \
    X(RegQueryValueExA, "advapi32.dll")      \
    X(RegSetValueExA, "advapi32.dll")        \
    X(RegCloseKey, "advapi32.dll")           \
    X(OpenProcessToken, "advapi32.dll")      \
    X(LookupPrivilegeValueA, "advapi32.dll") \
    X(AdjustTokenPrivileges, "advapi32.dll") \
    X(ExitWindowsEx, "user32")               \
    X(RegCreateKeyExW, "advapi32.dll")       \
    X(RegSetValueExW, "advapi32.dll")        \
    X(RegDeleteTreeW, "advapi32.dll")        \
    X(RegisterTypeLib, "oleaut32")           \
    X(UnRegisterTypeLib, "oleaut32")

namespace testkit {

struct Declared {
    const char* function;
    const char* library;
};

inline constexpr Declared kDeclared[] = {
#define TARNWICK_TEST_ROW(function, library) {#function, library},
    TARNWICK_TEST_DECLARED(TARNWICK_TEST_ROW)
#undef TARNWICK_TEST_ROW
};

}  // namespace testkit
