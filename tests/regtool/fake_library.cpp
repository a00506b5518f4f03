// Stand-in for Tarnwick.dll in the registration tool's tests. Each export
// that runs appends its name as a line to calls.log beside the library and
// returns the status given in the environment variable TARNWICK_FAKE_STATUS
// (decimal or 0x-hex; 0 when unset). Which exports the library has is chosen
// when it is built: FAKE_REGISTER and FAKE_UNREGISTER.
// An explicit unload (FreeLibrary, as opposed to the process ending) is
// logged too, as "unloaded".

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

HMODULE self = nullptr;

void Log(const char* line)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(self, path, MAX_PATH);
    std::wstring logPath = path;
    logPath.erase(logPath.find_last_of(L'\\') + 1);
    logPath += L"calls.log";
    HANDLE file = CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::string text = std::string(line) + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

HRESULT Status()
{
    wchar_t value[32] = {};
    const DWORD n = GetEnvironmentVariableW(L"TARNWICK_FAKE_STATUS", value, 32);
    if (n == 0 || n >= 32)
        return S_OK;
    return static_cast<HRESULT>(wcstoul(value, nullptr, 0));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    // The reserved pointer is null only when the library is being freed
    // while the process goes on.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        Log("unloaded");
    return TRUE;
}

#ifdef FAKE_REGISTER
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer()
{
    Log("DllRegisterServer");
    return Status();
}
#endif

#ifdef FAKE_UNREGISTER
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    Log("DllUnregisterServer");
    return Status();
}
#endif
