// A small host program that is copied beside planted libraries. It loads
// the seam library by path and writes, for every declared function, the
// file of the module it was bound from and whether that is a planted one:
//   host OUT SEAM [FUNCTION=LIBRARY:EXPORT]...   (re-points first)
//   host OUT --load NAME...                      (plain LoadLibrary, for comparison)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "declared.h"

namespace {

// One line: label, name, the module's file and whether the module is the
// planted library (which alone exports TarnwickPlanted).
void write_module(FILE* out, const char* label, const wchar_t* name, const void* address)
{
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH] = L"-";
    bool planted = false;
    if (address && GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                          GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                      static_cast<LPCWSTR>(address), &module)) {
        GetModuleFileNameW(module, path, MAX_PATH);
        planted = GetProcAddress(module, "TarnwickPlanted") != nullptr;
    }
    std::fwprintf(out, L"%hs\t%ls\t%ls\t%hs\n", label, name, path, planted ? "planted" : "-");
}

std::string narrow(const wchar_t* s)
{
    std::string out;
    for (; *s; ++s)
        out += static_cast<char>(*s);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    FILE* out = _wfopen(argv[1], L"w");
    if (!out)
        return 3;
    if (std::wcscmp(argv[2], L"--load") == 0) {
        for (int i = 3; i < argc; ++i)
            write_module(out, "load", argv[i], LoadLibraryW(argv[i]));
        std::fclose(out);
        return 0;
    }
    HMODULE seam = LoadLibraryW(argv[2]);
    using Bind = HRESULT(WINAPI*)(const char*, const char*, const char*, void*);
    using Bound = void*(WINAPI*)(const char*);
    auto bind =
        reinterpret_cast<Bind>(reinterpret_cast<void*>(GetProcAddress(seam, "TarnwickBind")));
    auto bound =
        reinterpret_cast<Bound>(reinterpret_cast<void*>(GetProcAddress(seam, "TarnwickBound")));
    if (!bind || !bound) {
        std::fclose(out);
        return 4;
    }
    for (int i = 3; i < argc; ++i) {
        // FUNCTION=LIBRARY:EXPORT
        const std::string arg = narrow(argv[i]);
        const size_t eq = arg.find('='), colon = arg.find(':', eq);
        if (eq == std::string::npos || colon == std::string::npos)
            return 5;
        static std::string parts[64][3];
        parts[i][0] = arg.substr(0, eq);
        parts[i][1] = arg.substr(eq + 1, colon - eq - 1);
        parts[i][2] = arg.substr(colon + 1);
        bind(parts[i][0].c_str(), parts[i][1].c_str(), parts[i][2].c_str(), nullptr);
    }
    for (const auto& d : testkit::kDeclared) {
        std::wstring name(d.function, d.function + std::strlen(d.function));
        write_module(out, "bound", name.c_str(), bound(d.function));
    }
    std::fclose(out);
    return 0;
}
