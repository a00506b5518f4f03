// The declared platform functions of the library, by name, with the
// library name each is declared with.
#pragma once

namespace reliability {

struct Declared {
    const char* function;
    const char* library;
};

inline constexpr Declared kDeclared[] = {
    {"GetSystemTime", "kernel32"},       {"GetLocalTime", "kernel32"},
    {"GetVersionExA", "kernel32"},       {"GetCurrentProcess", "kernel32"},
    {"CloseHandle", "kernel32"},         {"RegOpenKeyExA", "advapi32.dll"},
    {"RegCreateKeyExA", "advapi32.dll"}, {"RegQueryValueExA", "advapi32.dll"},
    {"RegSetValueExA", "advapi32.dll"},  {"RegCloseKey", "advapi32.dll"},
    {"OpenProcessToken", "advapi32.dll"}, {"LookupPrivilegeValueA", "advapi32.dll"},
    {"AdjustTokenPrivileges", "advapi32.dll"}, {"ExitWindowsEx", "user32"},
    {"RegCreateKeyExW", "advapi32.dll"}, {"RegSetValueExW", "advapi32.dll"},
    {"RegDeleteTreeW", "advapi32.dll"},  {"RegisterTypeLib", "oleaut32"},
    {"UnRegisterTypeLib", "oleaut32"},
};

}  // namespace reliability
