// Reboot through the binding seam. Every platform function that Reboot
// calls is a stand-in that notes its arguments, so the exact sequence of
// calls is known on every path. ExitWindowsEx is replaced before any test
// body runs: the real one is never called.
#include "classes_kit.h"

namespace {

using namespace classes;

const HANDLE kProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
const HANDLE kToken = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x4C8));
constexpr DWORD kLuidLow = 0x13, kLuidHigh = 0x2A;

struct Behaviour {
    DWORD platform_id = 2;
    BOOL version = TRUE;
    BOOL open = TRUE;
    BOOL lookup = TRUE;
    BOOL adjust = TRUE;
    BOOL exit = TRUE;
} g;

BOOL WINAPI FakeVersion(LPOSVERSIONINFOA info)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(info);
    bool rest_zero = true;
    for (size_t i = 4; i < 148; ++i)
        rest_zero = rest_zero && bytes[i] == 0;
    record(format("GetVersionExA(size %lu, rest %s)",
                  static_cast<unsigned long>(info->dwOSVersionInfoSize),
                  rest_zero ? "zero" : "not zero"));
    info->dwPlatformId = g.platform_id;
    return g.version;
}

HANDLE WINAPI FakeCurrentProcess()
{
    record("GetCurrentProcess()");
    return kProcess;
}

BOOL WINAPI FakeOpenToken(HANDLE process, DWORD access, PHANDLE token)
{
    record(format("OpenProcessToken(%s, %#lx)", process == kProcess ? "process" : "other",
                  static_cast<unsigned long>(access)));
    if (!token)
        return FALSE;
    if (*token)
        record("token variable was not zero");
    if (g.open)
        *token = kToken;
    return g.open;
}

BOOL WINAPI FakeLookup(LPCSTR system, LPCSTR name, PLUID luid)
{
    record(format("LookupPrivilegeValueA(%s, \"%s\", luid %lu:%ld)", system ? system : "null",
                  name ? name : "(null)", static_cast<unsigned long>(luid->LowPart),
                  static_cast<long>(luid->HighPart)));
    if (!g.lookup)
        return FALSE;
    luid->LowPart = kLuidLow;
    luid->HighPart = kLuidHigh;
    return TRUE;
}

// The new state is described byte by byte: count, identifier, attributes
// and whether the room for a second entry is zero.
BOOL WINAPI FakeAdjust(HANDLE token, BOOL disable_all, PTOKEN_PRIVILEGES state, DWORD length,
                       PTOKEN_PRIVILEGES previous, PDWORD returned)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(state);
    DWORD count, low, attributes;
    LONG high;
    std::memcpy(&count, bytes, 4);
    std::memcpy(&low, bytes + 4, 4);
    std::memcpy(&high, bytes + 8, 4);
    std::memcpy(&attributes, bytes + 12, 4);
    bool tail_zero = true;
    for (int i = 16; i < 28; ++i)
        tail_zero = tail_zero && bytes[i] == 0;
    bool previous_zero = previous != nullptr;
    for (int i = 0; previous && i < 28; ++i)
        previous_zero = previous_zero && reinterpret_cast<const BYTE*>(previous)[i] == 0;
    record(format("AdjustTokenPrivileges(%s, %d, count %lu, luid %lu:%ld, attributes %lu, "
                  "tail %s, length %lu, previous %s, returned %s)",
                  token == kToken ? "token" : "other", disable_all,
                  static_cast<unsigned long>(count), static_cast<unsigned long>(low),
                  static_cast<long>(high), static_cast<unsigned long>(attributes),
                  tail_zero ? "zero" : "set", static_cast<unsigned long>(length),
                  previous ? (previous_zero ? "zeroed" : "not zeroed") : "null",
                  returned ? "given" : "null"));
    if (g.adjust && previous && returned) {
        // What the platform would hand back: the privilege as it was.
        std::memcpy(previous, state, 16);
        reinterpret_cast<BYTE*>(previous)[12] = 0;
        *returned = 16;
    }
    return g.adjust;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle)
{
    record(format("CloseHandle(%s)", handle == kToken ? "token" : "other"));
    return TRUE;
}

BOOL WINAPI FakeExitWindows(UINT flags, DWORD reason)
{
    record(format("ExitWindowsEx(%u, %lu)", flags, static_cast<unsigned long>(reason)));
    return g.exit;
}

const std::string kVersion = "GetVersionExA(size 148, rest zero)";
const std::string kProcessCall = "GetCurrentProcess()";
const std::string kOpen = "OpenProcessToken(process, 0x28)";
const std::string kLookup = "LookupPrivilegeValueA(null, \"SeShutdownPrivilege\", luid 0:0)";
const std::string kAdjust =
    "AdjustTokenPrivileges(token, 0, count 1, luid 19:42, attributes 2, tail zero, length 28, "
    "previous zeroed, returned given)";
const std::string kAdjustZeroLuid =
    "AdjustTokenPrivileges(token, 0, count 1, luid 0:0, attributes 2, tail zero, length 28, "
    "previous zeroed, returned given)";
const std::string kClose = "CloseHandle(token)";
const std::string kExit = "ExitWindowsEx(2, 0)";

class RebootSeam : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Nothing may run unless the stand-in for ExitWindowsEx is in place.
        ASSERT_TRUE(seam().ok()) << "TarnwickSeam.dll not loaded";
        ASSERT_EQ(S_OK, exit_.status());
        for (const Rebind* b : {&version_, &process_, &open_, &lookup_, &adjust_, &close_})
            ASSERT_EQ(S_OK, b->status());
        reboot_ = seam().create<_Reboot>(CLSID_Reboot);
        ASSERT_TRUE(reboot_);
        g = Behaviour{};
        calls().clear();
    }

    SHORT reboot(HRESULT expected = S_OK)
    {
        SHORT result = 77;
        EXPECT_EQ(expected, reboot_->Reboot(&result));
        return result;
    }

    testkit::Apartment apartment_;
    Rebind exit_ = TESTKIT_STAND_IN(ExitWindowsEx, &FakeExitWindows);
    Rebind version_ = TESTKIT_STAND_IN(GetVersionExA, &FakeVersion);
    Rebind process_ = TESTKIT_STAND_IN(GetCurrentProcess, &FakeCurrentProcess);
    Rebind open_ = TESTKIT_STAND_IN(OpenProcessToken, &FakeOpenToken);
    Rebind lookup_ = TESTKIT_STAND_IN(LookupPrivilegeValueA, &FakeLookup);
    Rebind adjust_ = TESTKIT_STAND_IN(AdjustTokenPrivileges, &FakeAdjust);
    Rebind close_ = TESTKIT_STAND_IN(CloseHandle, &FakeCloseHandle);
    Com<_Reboot> reboot_;
};

using Calls = std::vector<std::string>;

// Ids without bit 1 (and a failed version call) ask for the restart at once;
// ids with bit 1 enable the privilege first.
TEST_F(RebootSeam, PlatformIdChoosesThePath)
{
    const Calls direct{kVersion, kExit};
    const Calls nt{kVersion, kProcessCall, kOpen, kLookup, kAdjust, kClose, kExit};
    struct Case {
        DWORD id;
        BOOL version;
        const Calls* sequence;
    } const cases[] = {
        {0, TRUE, &direct}, {1, TRUE, &direct},  {2, TRUE, &nt},
        {3, TRUE, &nt},     {2, FALSE, &direct},  // the version call failed: platform id 0
        {4, TRUE, &direct}, {6, TRUE, &nt},      {0xFFFFFFFF, TRUE, &nt},
    };
    for (const Case& c : cases) {
        for (BOOL accepted : {TRUE, FALSE}) {
            SCOPED_TRACE(format("platform id %#lx, version call %s, restart %s",
                                static_cast<unsigned long>(c.id), c.version ? "succeeds" : "fails",
                                accepted ? "accepted" : "refused"));
            g.platform_id = c.id;
            g.version = c.version;
            g.exit = accepted;
            calls().clear();
            EXPECT_EQ(accepted ? 1 : 0, reboot());
            EXPECT_EQ(*c.sequence, calls());
        }
    }
}

TEST_F(RebootSeam, RefusalsOnTheWayEndWithoutRestart)
{
    struct Case {
        const char* what;
        BOOL open, lookup, adjust, exit;
        Calls sequence;
        SHORT result;
    } const cases[] = {
        {"token not opened", FALSE, TRUE, TRUE, TRUE, {kVersion, kProcessCall, kOpen}, 0},
        {"privilege not adjusted",
         TRUE,
         TRUE,
         FALSE,
         TRUE,
         {kVersion, kProcessCall, kOpen, kLookup, kAdjust, kClose},
         0},
        {"lookup failed, adjusted with a zero identifier",
         TRUE,
         FALSE,
         TRUE,
         TRUE,
         {kVersion, kProcessCall, kOpen, kLookup, kAdjustZeroLuid, kClose, kExit},
         1},
        {"lookup failed and not adjusted",
         TRUE,
         FALSE,
         FALSE,
         TRUE,
         {kVersion, kProcessCall, kOpen, kLookup, kAdjustZeroLuid, kClose},
         0},
        {"restart refused",
         TRUE,
         TRUE,
         TRUE,
         FALSE,
         {kVersion, kProcessCall, kOpen, kLookup, kAdjust, kClose, kExit},
         0},
        {"everything accepted",
         TRUE,
         TRUE,
         TRUE,
         TRUE,
         {kVersion, kProcessCall, kOpen, kLookup, kAdjust, kClose, kExit},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g = Behaviour{};
        g.open = c.open;
        g.lookup = c.lookup;
        g.adjust = c.adjust;
        g.exit = c.exit;
        calls().clear();
        EXPECT_EQ(c.result, reboot());
        EXPECT_EQ(c.sequence, calls());
    }
}

// Through IDispatch the result is the same small integer, as VT_I2.
TEST_F(RebootSeam, DispatchByNameGivesTheSameResult)
{
    auto dispatch = reboot_.as<IDispatch>();
    ASSERT_TRUE(dispatch);
    for (BOOL accepted : {TRUE, FALSE}) {
        g.exit = accepted;
        calls().clear();
        testkit::Variant result;
        ASSERT_EQ(S_OK, testkit::call_by_name(dispatch.get(), L"Reboot", {}, &result));
        ASSERT_EQ(VT_I2, V_VT(&result));
        EXPECT_EQ(accepted ? 1 : 0, V_I2(&result));
        EXPECT_EQ((Calls{kVersion, kProcessCall, kOpen, kLookup, kAdjust, kClose, kExit}), calls());
    }
}

// A declared function that cannot be bound ends Reboot with the binding
// error and result 0, and the calls before it are all there is; a token
// opened before that is closed all the same. (BadInput checks the statuses
// and error information of unbound functions for every method.)
TEST_F(RebootSeam, UnboundFunctionFailsWithResultZero)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    using testkit::kEntryNotFound;
    using testkit::kFileNotFound;
    struct Case {
        const char* function;
        const char* library;
        const char* export_name;
        DWORD platform_id;
        HRESULT status;
        Calls sequence;
    } const cases[] = {
        {"ExitWindowsEx",
         nullptr,
         "NoSuchExport",
         2,
         kEntryNotFound,
         {kVersion, kProcessCall, kOpen, kLookup, kAdjust, kClose}},
        {"ExitWindowsEx", nullptr, "NoSuchExport", 1, kEntryNotFound, {kVersion}},
        {"ExitWindowsEx",
         "tarnwick_no_such_library",
         nullptr,
         2,
         kFileNotFound,
         {kVersion, kProcessCall, kOpen, kLookup, kAdjust, kClose}},
        {"AdjustTokenPrivileges",
         nullptr,
         "NoSuchExport",
         2,
         kEntryNotFound,
         {kVersion, kProcessCall, kOpen, kLookup, kClose}},
        {"LookupPrivilegeValueA",
         nullptr,
         "NoSuchExport",
         2,
         kEntryNotFound,
         {kVersion, kProcessCall, kOpen, kClose}},
        {"OpenProcessToken", nullptr, "NoSuchExport", 2, kEntryNotFound, {kVersion, kProcessCall}},
        {"GetCurrentProcess", "tarnwick_no_such_library", nullptr, 2, kFileNotFound, {kVersion}},
        {"GetVersionExA", nullptr, "NoSuchExport", 2, kEntryNotFound, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(format("%s from %s!%s", c.function, c.library ? c.library : "-",
                            c.export_name ? c.export_name : "-"));
        g = Behaviour{};
        g.platform_id = c.platform_id;
        // Rebound by name for the case; the fixture's stand-in comes back
        // when it ends, so that no later case reaches the real function.
        Rebind unbound(c.function, c.library, c.export_name);
        ASSERT_EQ(S_OK, unbound.status());
        calls().clear();
        EXPECT_EQ(0, reboot(c.status));
        EXPECT_EQ(c.sequence, calls());
    }
    // Every stand-in is back.
    calls().clear();
    EXPECT_EQ(1, reboot());
    EXPECT_EQ((Calls{kVersion, kProcessCall, kOpen, kLookup, kAdjust, kClose, kExit}), calls());
}

// ---------------------------------------------------------------- release 1.11

BOOL g_initiate = TRUE, g_abort = TRUE;

BOOL WINAPI FakeInitiate(LPWSTR machine, LPWSTR message, DWORD seconds, BOOL force, BOOL reboot,
                         DWORD reason)
{
    record(format("InitiateSystemShutdownExW(%s, \"%s\", %lu, %d, %d, %#lx)",
                  machine ? "machine" : "null", message ? narrow(message).c_str() : "(null)",
                  static_cast<unsigned long>(seconds), force, reboot,
                  static_cast<unsigned long>(reason)));
    return g_initiate;
}

BOOL WINAPI FakeAbort(LPWSTR machine)
{
    record(format("AbortSystemShutdownW(%s)", machine ? "machine" : "null"));
    return g_abort;
}

// ScheduleReboot and AbortReboot enable the privilege as Reboot does, then
// ask for the restart or its cancelling; both stand-ins are in place before
// any call.
class RebootSeam2 : public RebootSeam {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, initiate_.status());
        ASSERT_EQ(S_OK, abort_.status());
        RebootSeam::SetUp();
        reboot2_ = reboot_.as<_Reboot2>();
        ASSERT_TRUE(reboot2_);
        g_initiate = g_abort = TRUE;
    }

    SHORT schedule(LONG seconds, const wchar_t* message, const testkit::Variant& force,
                   HRESULT expected = S_OK)
    {
        SHORT result = 77;
        Bstr text(message);
        EXPECT_EQ(expected, reboot2_->ScheduleReboot(seconds, text.get(), force, &result));
        return result;
    }

    Rebind initiate_ = TESTKIT_STAND_IN(InitiateSystemShutdownExW, &FakeInitiate);
    Rebind abort_ = TESTKIT_STAND_IN(AbortSystemShutdownW, &FakeAbort);
    Com<_Reboot2> reboot2_;
};

TEST_F(RebootSeam2, ScheduleAndAbort)
{
    const Calls privilege{kProcessCall, kOpen, kLookup, kAdjust, kClose};
    const auto with = [&](const std::string& last) {
        Calls sequence = privilege;
        sequence.push_back(last);
        return sequence;
    };
    testkit::Variant missing, yes;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    V_VT(&yes) = VT_BOOL;
    V_BOOL(&yes) = VARIANT_TRUE;

    EXPECT_EQ(1, schedule(600, L"Updates", missing));
    EXPECT_EQ(with("InitiateSystemShutdownExW(null, \"Updates\", 600, 0, 1, 0x80000000)"), calls());
    calls().clear();
    EXPECT_EQ(1, schedule(315360000, L"", yes));  // the longest delay; an empty message is none
    EXPECT_EQ(with("InitiateSystemShutdownExW(null, \"(null)\", 315360000, 1, 1, 0x80000000)"),
              calls());

    // A refused privilege or a refusal by Windows is 0.
    calls().clear();
    g.adjust = FALSE;
    EXPECT_EQ(0, schedule(5, L"x", missing));
    EXPECT_EQ(privilege, calls());
    SHORT result = 77;
    calls().clear();
    EXPECT_EQ(S_OK, reboot2_->AbortReboot(&result));
    EXPECT_EQ(0, result);
    EXPECT_EQ(privilege, calls());
    g.adjust = TRUE;
    g_initiate = g_abort = FALSE;
    EXPECT_EQ(0, schedule(5, L"x", missing));
    EXPECT_EQ(S_OK, reboot2_->AbortReboot(&result));
    EXPECT_EQ(0, result);
    g_abort = TRUE;
    calls().clear();
    EXPECT_EQ(S_OK, reboot2_->AbortReboot(&result));
    EXPECT_EQ(1, result);
    EXPECT_EQ(with("AbortSystemShutdownW(null)"), calls());
}

// Seconds out of range is error 5, a Force that is no Boolean 13; nothing
// is asked of Windows.
TEST_F(RebootSeam2, ArgumentFaultsAskNothing)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    testkit::Variant missing, no_text;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    V_VT(&no_text) = VT_BSTR;
    V_BSTR(&no_text) = SysAllocString(L"no");
    for (LONG seconds : {-1L, 315360001L, LONG_MIN}) {
        calls().clear();
        EXPECT_EQ(0, schedule(seconds, L"x", missing, testkit::run_time_error(5)));
        EXPECT_TRUE(calls().empty());
    }
    calls().clear();
    EXPECT_EQ(0, schedule(0, L"x", no_text, testkit::run_time_error(13)));
    EXPECT_TRUE(calls().empty());
}

}  // namespace
