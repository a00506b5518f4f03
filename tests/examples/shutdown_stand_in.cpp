// Stands in for the two shutdown functions while the reboot sample runs in
// the tests (bound through the seam's environment): says on standard
// output what it was asked, and accepts.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

void say(const char* text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)),
              &written, nullptr);
}

}  // namespace

extern "C" BOOL WINAPI StandInInitiateShutdown(LPWSTR machine, LPWSTR message, DWORD seconds,
                                               BOOL force, BOOL restart, DWORD reason)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "stand-in: InitiateSystemShutdownExW(%s, \"%ls\", %lu s, force %d, restart %d, "
                  "reason %#lx)\r\n",
                  machine ? "remote" : "this machine", message ? message : L"",
                  static_cast<unsigned long>(seconds), force, restart,
                  static_cast<unsigned long>(reason));
    say(text);
    return TRUE;
}

extern "C" BOOL WINAPI StandInAbortShutdown(LPWSTR machine)
{
    say(machine ? "stand-in: AbortSystemShutdownW(remote)\r\n"
                : "stand-in: AbortSystemShutdownW(this machine)\r\n");
    return TRUE;
}
