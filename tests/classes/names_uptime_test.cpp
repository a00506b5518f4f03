// The machine's and the user's names, the domain (WindowsInfo, release
// 1.12) and the boot time and uptime (Time, release 1.12), against what the
// platform's own calls tell this test.
#include "classes_kit.h"

#include "../registry/args.h"

#include <lm.h>
#define SECURITY_WIN32
#include <security.h>

namespace {

using namespace classes;
using testkit::Arg;

std::wstring computer_name(COMPUTER_NAME_FORMAT format)
{
    wchar_t name[256];
    DWORD size = 256;
    return GetComputerNameExW(format, name, &size) ? name : L"(refused)";
}

using Names = Registered<_WindowsInfo3, testkit::kWindowsInfoRef>;

TEST_F(Names, AsThePlatformGivesThem)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    wchar_t user[256], sam[512];
    DWORD user_size = 256;
    ULONG sam_size = 512;
    ASSERT_TRUE(GetUserNameW(user, &user_size));
    ASSERT_TRUE(GetUserNameExW(NameSamCompatible, sam, &sam_size));
    const std::wstring netbios = computer_name(ComputerNameNetBIOS);
    const struct {
        HRESULT (STDMETHODCALLTYPE _WindowsInfo3::*method)(VARIANT, BSTR*);
        Arg format;
        std::wstring expected;  // empty: run-time error 5, or 13 for a number
    } cases[] = {
        {&_WindowsInfo3::GetComputerName, Arg::missing(), netbios},
        {&_WindowsInfo3::GetComputerName, Arg(L""), netbios},
        {&_WindowsInfo3::GetComputerName, Arg(L"netbios"), netbios},
        {&_WindowsInfo3::GetComputerName, Arg(L"DNS"), computer_name(ComputerNameDnsHostname)},
        {&_WindowsInfo3::GetComputerName, Arg(L"FQDN"),
         computer_name(ComputerNameDnsFullyQualified)},
        {&_WindowsInfo3::GetComputerName, Arg(L"DNS,FQDN"), {}},
        {&_WindowsInfo3::GetComputerName, Arg(L"Physical"), {}},
        {&_WindowsInfo3::GetComputerName, Arg(3L), {}},
        {&_WindowsInfo3::GetUserName, Arg::missing(), user},
        {&_WindowsInfo3::GetUserName, Arg(L"SAM"), sam},
        {&_WindowsInfo3::GetUserName, Arg(L"Display"), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(testkit::text_of(c.format)) + " " + narrow(c.expected));
        Bstr name;
        const HRESULT error = testkit::run_time_error(V_VT(&c.format) == VT_I4 ? 13 : 5);
        EXPECT_EQ(c.expected.empty() ? error : S_OK,
                  (object_.get()->*c.method)(c.format, name.put()));
        EXPECT_EQ(c.expected, name.str());
    }
    LPWSTR domain = nullptr;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    ASSERT_EQ(0u, NetGetJoinInformation(nullptr, &domain, &status));
    const std::wstring expected = domain;
    NetApiBufferFree(domain);
    VARIANT_BOOL joined = 7;
    EXPECT_EQ(expected, text_by_name(by_name_.get(), L"GetDomainName"));
    EXPECT_EQ(S_OK, object_->IsDomainJoined(&joined));
    EXPECT_EQ(status == NetSetupDomainName ? VARIANT_TRUE : VARIANT_FALSE, joined);
    std::printf("computer %s, DNS %s, FQDN %s, user %s, SAM %s, %s %s\n", narrow(netbios).c_str(),
                narrow(computer_name(ComputerNameDnsHostname)).c_str(),
                narrow(computer_name(ComputerNameDnsFullyQualified)).c_str(), narrow(user).c_str(),
                narrow(sam).c_str(), joined ? "domain" : "workgroup", narrow(expected).c_str());
}

// Milliseconds since 1601 of a "YYYY-MM-DDTHH:MM:SS.mmmZ" text; 0 when it
// is not one.
ULONGLONG milliseconds_of(const std::wstring& text)
{
    SYSTEMTIME t{};
    FILETIME f{};
    if (text.size() != 24 || text[23] != L'Z' ||
        swscanf(text.c_str(), L"%4hu-%2hu-%2huT%2hu:%2hu:%2hu.%3hu", &t.wYear, &t.wMonth, &t.wDay,
                &t.wHour, &t.wMinute, &t.wSecond, &t.wMilliseconds) != 7 ||
        !SystemTimeToFileTime(&t, &f))
        return 0;
    return ((ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime) / 10000;
}

using Uptime = Registered<_Time3, testkit::kTimeRef>;

// Boot time and uptime within a second of the clock and the tick count
// as this test reads them; the boot time the same a second later.
TEST_F(Uptime, FollowsTheTickCountAndTheClock)
{
    Bstr boot, later;
    double uptime = -1;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG ticks = GetTickCount64();
    ASSERT_EQ(S_OK, object_->GetBootTimestamp(boot.put()));
    ASSERT_EQ(S_OK, object_->GetUptime(&uptime));
    const ULONGLONG booted =
        ((ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime) / 10000 - ticks;
    EXPECT_NEAR(static_cast<double>(booted), static_cast<double>(milliseconds_of(boot.str())), 1000)
        << narrow(boot.str());
    EXPECT_NEAR(ticks / 1000.0, uptime, 1.0);
    Sleep(1000);
    ASSERT_EQ(S_OK, object_->GetBootTimestamp(later.put()));
    EXPECT_EQ(boot.str(), later.str());
    EXPECT_EQ(boot.str(), text_by_name(by_name_.get(), L"GetBootTimestamp"));
    std::printf("booted %s, up %.3f s\n", narrow(boot.str()).c_str(), uptime);
}

}  // namespace
