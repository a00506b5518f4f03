// Reboot: asks Windows to restart the machine, enabling the shutdown
// privilege first on NT-family systems; since release 1.11 (_Reboot2) also
// after a delay with a message to the signed-in users, and calls such a
// restart off; since release 1.12 (_Reboot3) says whether a restart is
// pending and why, from the signs that Windows and installers leave in the
// registry.
//
// C++ gives a member function the name of its class only as a constructor,
// so the class that implements the method Reboot is RebootObject.
#include "WindowsInfo.h"
#include "text.h"

namespace tarnwick {

using platform::call;
using platform::Fn;

class RebootObject final : public Object<RebootObject, _Reboot3, kReboot> {
public:
    // _Reboot
    HRESULT STDMETHODCALLTYPE Reboot(SHORT* result) override;

    // _Reboot2
    HRESULT STDMETHODCALLTYPE ScheduleReboot(LONG Seconds, BSTR Message, VARIANT Force,
                                             SHORT* result) override;
    HRESULT STDMETHODCALLTYPE AbortReboot(SHORT* result) override;

    // _Reboot3
    HRESULT STDMETHODCALLTYPE GetRebootPending(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE IsRebootPending(VARIANT_BOOL* result) override;

private:
    static VARIANT_BOOL RestartWindows();
    static VARIANT_BOOL IsWindowsNT();
    static LONG GetPlatformId();
};

const ClassInfo kReboot{&CLSID_Reboot,
                        {&IID__Reboot3, &IID__Reboot2, &IID__Reboot},
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

// The registry paths and names below, and the reasons, are ASCII text kept
// in single bytes, half the room of wide text in the library.
class Wide {
public:
    explicit Wide(const char* ascii) noexcept
    {
        wchar_t* out = text_;
        while ((*out++ = static_cast<unsigned char>(*ascii++)) != 0) {
        }
    }
    const wchar_t* get() const noexcept { return text_; }

private:
    wchar_t text_[96];  // see all_fit_wide
};

// Why a restart may be pending, as GetRebootPending names the reasons.
constexpr const char* kReasons[] = {"ComponentServicing", "WindowsUpdate", "FileRename",
                                    "ComputerRename",     "DomainJoin",    "UpdateExe"};

// How a key of HKEY_LOCAL_MACHINE shows a reason.
enum class Sign : BYTE {
    kKey,      // the key exists
    kNames,    // the text value holds a name
    kNamed,    // a value or subkey of that name exists
    kNonZero,  // the REG_DWORD value is not 0
    kRenamed,  // the computer name in force differs from the one set
};
struct Signal {
    BYTE reason;  // in kReasons
    Sign sign;
    const char* key;
    const char* name;  // of the value or subkey; "" for none
};
constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kNetlogon[] = "SYSTEM\\CurrentControlSet\\Services\\Netlogon";
constexpr char kSetName[] = "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
constexpr Signal kSignals[] = {
    {0, Sign::kKey,
     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending", ""},
    {1, Sign::kKey,
     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired",
     ""},
    {2, Sign::kNames, kSessionManager, "PendingFileRenameOperations"},
    {2, Sign::kNames, kSessionManager, "PendingFileRenameOperations2"},
    {3, Sign::kRenamed, "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName",
     "ComputerName"},
    {4, Sign::kNamed, kNetlogon, "JoinDomain"},
    {4, Sign::kNamed, kNetlogon, "AvoidSpnSet"},
    {5, Sign::kNonZero, "SOFTWARE\\Microsoft\\Updates\\UpdateExeVolatile", "Flags"},
};

constexpr bool fits_wide(const char* ascii)
{
    size_t n = 0;
    while (ascii[n])
        ++n;
    return n < 96;
}
constexpr bool all_fit_wide()
{
    for (const Signal& signal : kSignals) {
        if (!fits_wide(signal.key) || !fits_wide(signal.name))
            return false;
    }
    return fits_wide(kSetName);
}
static_assert(all_fit_wide(), "a path or name longer than Wide holds");

// Whether a value is text with at least one character that is no NUL.
bool holds_name(const ValueReader* value) noexcept
{
    if (!value || (value->type() != REG_SZ && value->type() != REG_EXPAND_SZ &&
                   value->type() != REG_MULTI_SZ))
        return false;
    for (wchar_t c : value->text()) {
        if (c)
            return true;
    }
    return false;
}

// The reasons why a restart is pending, one bit each in kReasons' order,
// read in the 64-bit registry view whatever the caller's bitness.
unsigned pending_reasons()
{
    unsigned found = 0;
    for (const Signal& signal : kSignals) {
        if (found >> signal.reason & 1)
            continue;
        KeyValues key(HKEY_LOCAL_MACHINE, Wide(signal.key).get(), KEY_WOW64_64KEY);
        const Wide name(signal.name);
        bool shown = false;
        switch (signal.sign) {
        case Sign::kKey:
            shown = key.opened();
            break;
        case Sign::kNames:
            shown = holds_name(key.read(name.get()));
            break;
        case Sign::kNamed:
            shown = key.read(name.get()) ||
                    (key.opened() && KeyValues(key.get(), name.get(), KEY_WOW64_64KEY).opened());
            break;
        case Sign::kNonZero:
            shown = key.number(name.get()) != 0;
            break;
        case Sign::kRenamed: {
            const std::wstring_view active = key.text(name.get());
            KeyValues set(HKEY_LOCAL_MACHINE, Wide(kSetName).get(), KEY_WOW64_64KEY);
            const std::wstring_view chosen = set.text(name.get());
            shown = !active.empty() && !chosen.empty() && !text::same_ignoring_case(active, chosen);
            break;
        }
        }
        if (shown)
            found |= 1u << signal.reason;
    }
    return found;
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

HRESULT RebootObject::GetRebootPending(VARIANT* result)
{
    return method(result, [](Variant& reasons) {
        const unsigned found = pending_reasons();
        VARIANT* items = reg::make_array(reasons, std::size(kReasons));
        ULONG count = 0;
        for (unsigned i = 0; i < std::size(kReasons); ++i) {
            if (found >> i & 1)
                reg::put_text(&items[count++], Wide(kReasons[i]).get());
        }
        reg::resize_array(reasons, count);
    });
}

HRESULT RebootObject::IsRebootPending(VARIANT_BOOL* result)
{
    return method(result, [](VARIANT_BOOL& pending) {
        if (pending_reasons())
            pending = VARIANT_TRUE;
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
