// Time through the binding seam: the clock functions give fixed records, so
// every text is known exactly.
#include "classes_kit.h"

namespace {

using namespace classes;

SYSTEMTIME g_utc, g_local;
bool g_utc_zero, g_local_zero;

bool all_zero(const SYSTEMTIME* t)
{
    static const SYSTEMTIME zero{};
    return std::memcmp(t, &zero, sizeof zero) == 0;
}

void WINAPI FakeSystemTime(LPSYSTEMTIME t)
{
    record("GetSystemTime");
    g_utc_zero = all_zero(t);
    *t = g_utc;
}

void WINAPI FakeLocalTime(LPSYSTEMTIME t)
{
    record("GetLocalTime");
    g_local_zero = all_zero(t);
    *t = g_local;
}

SYSTEMTIME at(WORD hour, WORD minute, WORD second, WORD ms = 0)
{
    SYSTEMTIME t{};
    t.wYear = 2024;
    t.wMonth = 2;
    t.wDayOfWeek = 4;
    t.wDay = 29;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    t.wMilliseconds = ms;
    return t;
}

class TimeSeam : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(seam().ok()) << "TarnwickSeam.dll not loaded";
        ASSERT_EQ(S_OK, utc_.status());
        ASSERT_EQ(S_OK, local_.status());
        clock_ = seam().create<_Time>(CLSID_Time);
        ASSERT_TRUE(clock_);
        calls().clear();
    }

    testkit::Apartment apartment_;
    Rebind utc_ = TESTKIT_STAND_IN(GetSystemTime, &FakeSystemTime);
    Rebind local_ = TESTKIT_STAND_IN(GetLocalTime, &FakeLocalTime);
    Com<_Time> clock_;
};

TEST_F(TimeSeam, FieldsBecomeTwoDigitsJoinedByColons)
{
    struct Case {
        SYSTEMTIME time;
        const wchar_t* text;
    } const cases[] = {
        {at(9, 5, 7), L"09:05:07"},
        {at(0, 0, 0), L"00:00:00"},
        {at(23, 59, 59), L"23:59:59"},
        {at(10, 10, 10), L"10:10:10"},
        {at(9, 9, 9), L"09:09:09"},
        {at(12, 0, 59, 999), L"12:00:59"},  // the milliseconds are ignored
        {at(1, 10, 9, 500), L"01:10:09"},
        {at(123, 0, 5), L"123:00:05"},  // no field is cut to two digits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.text));
        g_utc = c.time;
        g_local = c.time;
        TextSlot utc, local;
        EXPECT_EQ(S_OK, clock_->CurrentGMTTime(utc.put()));
        EXPECT_EQ(S_OK, clock_->CurrentLocalTime(local.put()));
        EXPECT_EQ(c.text, utc.str());
        EXPECT_EQ(c.text, local.str());
        EXPECT_TRUE(g_utc_zero) << "the record handed to GetSystemTime was not all zero";
        EXPECT_TRUE(g_local_zero) << "the record handed to GetLocalTime was not all zero";
    }
}

TEST_F(TimeSeam, EachMethodAsksItsOwnClockOnce)
{
    g_utc = at(4, 30, 0);
    g_local = at(10, 0, 0);
    Bstr utc, local;
    ASSERT_EQ(S_OK, clock_->CurrentGMTTime(utc.put()));
    EXPECT_EQ(std::vector<std::string>{"GetSystemTime"}, calls());
    calls().clear();
    ASSERT_EQ(S_OK, clock_->CurrentLocalTime(local.put()));
    EXPECT_EQ(std::vector<std::string>{"GetLocalTime"}, calls());
    EXPECT_EQ(L"04:30:00", utc.str());
    EXPECT_EQ(L"10:00:00", local.str());
}

TEST_F(TimeSeam, DispatchByNameGivesTheSameTexts)
{
    g_utc = at(23, 59, 59);
    g_local = at(0, 0, 0);
    auto dispatch = clock_.as<IDispatch>();
    ASSERT_TRUE(dispatch);
    for (const auto& [name, text] :
         {std::pair{L"CurrentGMTTime", L"23:59:59"}, std::pair{L"CurrentLocalTime", L"00:00:00"}}) {
        EXPECT_EQ(std::wstring(text), text_by_name(dispatch.get(), name));
    }
}

}  // namespace
