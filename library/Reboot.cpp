// Reboot: asks Windows to restart the machine, enabling the shutdown
// privilege first on NT-family systems; since release 1.11 (_Reboot2) also
// after a delay with a message to the signed-in users, and calls such a
// restart off.
//
// C++ gives a member function the name of its class only as a constructor,
// so the class that implements the method Reboot is RebootObject.
#include "object.h"

namespace tarnwick {

using platform::call;
using platform::Fn;

class RebootObject final : public Object<RebootObject, _Reboot2, kReboot> {
public:
    // _Reboot
    HRESULT STDMETHODCALLTYPE Reboot(SHORT* result) override;

    // _Reboot2
    HRESULT STDMETHODCALLTYPE ScheduleReboot(LONG Seconds, BSTR Message, VARIANT Force,
                                             SHORT* result) override;
    HRESULT STDMETHODCALLTYPE AbortReboot(SHORT* result) override;

private:
    static VARIANT_BOOL RestartWindows();
    static VARIANT_BOOL IsWindowsNT();
    static LONG GetPlatformId();
};

const ClassInfo kReboot{&CLSID_Reboot,
                        {&IID__Reboot2, &IID__Reboot},
                        L"Reboot",
                        L"TarnwickDLL.Reboot",
                        &RebootObject::create};

namespace {

// TOKEN_PRIVILEGES with room for two entries: a 4-byte count and two
// 12-byte entries (an 8-byte LUID and 4 bytes of attributes), 28 bytes. The
// adjustment names one entry; the previous state comes back in a record of
// the same size.
struct Privileges {
    DWORD count;
    LUID luid;
    DWORD attributes;
    BYTE second_entry[12];
};
static_assert(sizeof(Privileges) == 28);

constexpr DWORD kTokenAccess = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;  // 0x28
constexpr UINT kRestart = EWX_REBOOT;                                  // not forced

// The longest delay Windows takes for a restart: ten years of seconds.
constexpr LONG kMaxDelay = 315'360'000;
// Why the machine restarts, as the system's event log records it.
constexpr DWORD kPlannedRestart =
    SHTDN_REASON_MAJOR_OTHER | SHTDN_REASON_MINOR_OTHER | SHTDN_REASON_FLAG_PLANNED;

// Enables the shutdown privilege in the process's token; false when the
// token cannot be opened or adjusted.
bool enable_shutdown_privilege()
{
    HANDLE process = call<Fn::GetCurrentProcess>();
    unique_handle token;
    if (!call<Fn::OpenProcessToken>(process, kTokenAccess, token.put()))
        return false;
    Privileges state{};
    // A failed lookup leaves the identifier zero; the adjustment goes on.
    call<Fn::LookupPrivilegeValueA>(nullptr, "SeShutdownPrivilege", &state.luid);
    state.count = 1;
    state.attributes = SE_PRIVILEGE_ENABLED;
    Privileges previous{};
    DWORD previous_length = 0;
    return call<Fn::AdjustTokenPrivileges>(
               token.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&state),
               static_cast<DWORD>(sizeof state), reinterpret_cast<TOKEN_PRIVILEGES*>(&previous),
               &previous_length) != 0;
}

}  // namespace

HRESULT RebootObject::Reboot(SHORT* result)
{
    return method(result, [](SHORT& accepted) {
        if (RestartWindows() == VARIANT_TRUE)
            accepted = 1;
    });
}

// Seconds out of range is run-time error 5, and a Force that is no Boolean
// 13, before anything is asked of Windows. An empty message shows none.
HRESULT RebootObject::ScheduleReboot(LONG Seconds, BSTR Message, VARIANT Force, SHORT* result)
{
    return method(result, [&](SHORT& accepted) {
        if (Seconds < 0 || Seconds > kMaxDelay)
            raise(kInvalidCall);
        const BOOL force = optional_flag(Force);
        if (enable_shutdown_privilege() &&
            call<Fn::InitiateSystemShutdownExW>(nullptr, SysStringLen(Message) ? Message : nullptr,
                                                static_cast<DWORD>(Seconds), force, TRUE,
                                                kPlannedRestart))
            accepted = 1;
    });
}

HRESULT RebootObject::AbortReboot(SHORT* result)
{
    return method(result, [](SHORT& called_off) {
        if (enable_shutdown_privilege() && call<Fn::AbortSystemShutdownW>(nullptr))
            called_off = 1;
    });
}

VARIANT_BOOL RebootObject::RestartWindows()
{
    const bool proceed = IsWindowsNT() == VARIANT_FALSE || enable_shutdown_privilege();
    if (proceed && call<Fn::ExitWindowsEx>(kRestart, 0))
        return VARIANT_TRUE;
    return VARIANT_FALSE;
}

// Bit 1 of the platform id, as -1 or 0: 2 (the NT family) is set and so is
// 3, which also takes the privilege path; 1 (the 9x family) and 0 (a failed
// query) are not.
VARIANT_BOOL RebootObject::IsWindowsNT()
{
    return static_cast<VARIANT_BOOL>(-((GetPlatformId() >> 1) & 1));
}

// Reboot's own query, not WindowsInfo's method: a Reboot call touches no
// other class.
LONG RebootObject::GetPlatformId()
{
    return platform::platform_id();
}

}  // namespace tarnwick
