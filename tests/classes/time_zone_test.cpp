// Time in a time zone: CTest runs this program with TZ set to a zone and
// TARNWICK_UTC_OFFSET to that zone's offset from UTC in minutes. Wine takes
// the prefix's time zone from TZ, so local time minus UTC is that offset,
// for the test's own clock and for the library's texts. In a zone with
// daylight saving, the clock stands in through the seam on both sides of
// each change.
#include "classes_kit.h"

#include <cmath>
#include <cstdlib>
#include <cwchar>

namespace {

using namespace classes;

TEST(TimeZone, LocalMinusUTCIsTheZonesOffset)
{
    const char* zone = std::getenv("TZ");
    const char* offset_text = std::getenv("TARNWICK_UTC_OFFSET");
    ASSERT_TRUE(zone && offset_text) << "TZ and TARNWICK_UTC_OFFSET are set by CTest";
    const int offset = std::atoi(offset_text) * 60;

    // Wine honours TZ: its own clock is in that zone.
    TIME_ZONE_INFORMATION tz{};
    GetTimeZoneInformation(&tz);
    EXPECT_EQ(-offset / 60, tz.Bias) << "Wine did not take the zone from TZ=" << zone;

    testkit::Apartment apartment;
    auto clock = testkit::create<_Time>(CLSID_Time);
    ASSERT_TRUE(clock) << "TarnwickDLL.Time is not registered";
    // Local time taken between two equal UTC readings lies in that same second.
    for (int attempt = 0; attempt < 5; ++attempt) {
        SYSTEMTIME local_before, local_after;
        Bstr utc1, local, utc2;
        GetLocalTime(&local_before);
        ASSERT_EQ(S_OK, clock->CurrentGMTTime(utc1.put()));
        ASSERT_EQ(S_OK, clock->CurrentLocalTime(local.put()));
        ASSERT_EQ(S_OK, clock->CurrentGMTTime(utc2.put()));
        GetLocalTime(&local_after);
        if (utc1.str() != utc2.str())
            continue;
        const int difference = clock_difference(seconds_of(utc1.str()), seconds_of(local.str()));
        std::printf("TZ=%s: CurrentGMTTime %s, CurrentLocalTime %s, local - UTC = %+d s "
                    "(Wine bias %ld min)\n",
                    zone, narrow(utc1.str()).c_str(), narrow(local.str()).c_str(), difference,
                    tz.Bias);
        EXPECT_EQ(offset, difference);
        EXPECT_GE(clock_difference(seconds_of(local_before), seconds_of(local.str())), -2);
        EXPECT_GE(clock_difference(seconds_of(local.str()), seconds_of(local_after)), -2);
        return;
    }
    FAIL() << "no two UTC readings fell into the same second";
}

// A timestamp's fields: "YYYY-MM-DDTHH:MM:SS.mmm" then "Z" or "+HH:MM";
// false when the text has another shape.
bool parse_timestamp(const std::wstring& text, SYSTEMTIME& t, int& offset_minutes)
{
    unsigned y, mo, d, h, mi, s, ms, oh = 0, om = 0;
    wchar_t zone = 0;
    int n = 0;
    if (std::swscanf(text.c_str(), L"%4u-%2u-%2uT%2u:%2u:%2u.%3u%lc%n", &y, &mo, &d, &h, &mi, &s,
                     &ms, &zone, &n) != 8)
        return false;
    if (zone == L'Z') {
        if (static_cast<size_t>(n) != text.size() || text.size() != 24)
            return false;
    } else if ((zone != L'+' && zone != L'-') || text.size() != 29 ||
               std::swscanf(text.c_str() + n, L"%2u:%2u", &oh, &om) != 2) {
        return false;
    }
    t = SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d),
                   static_cast<WORD>(h), static_cast<WORD>(mi), static_cast<WORD>(s),
                   static_cast<WORD>(ms)};
    offset_minutes = (zone == L'-' ? -1 : 1) * static_cast<int>(oh * 60 + om);
    return true;
}

ULONGLONG units_of(const SYSTEMTIME& t)
{
    FILETIME f{};
    SystemTimeToFileTime(&t, &f);
    return (ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime;
}

// The three clocks of release 1.11 against the test's own: each reading
// lies between two of the test's, the local one carries the zone's offset.
TEST(TimeZone, TimestampsFollowTheClock)
{
    const char* offset_text = std::getenv("TARNWICK_UTC_OFFSET");
    ASSERT_TRUE(offset_text) << "TARNWICK_UTC_OFFSET is set by CTest";
    testkit::Apartment apartment;
    auto clock = testkit::create<_Time2>(CLSID_Time);
    ASSERT_TRUE(clock) << "TarnwickDLL.Time is not registered with _Time2";
    FILETIME before_time, after_time;
    Bstr utc, local;
    double unix_time = 0;
    GetSystemTimeAsFileTime(&before_time);
    ASSERT_EQ(S_OK, clock->CurrentUTCTimestamp(utc.put()));
    ASSERT_EQ(S_OK, clock->CurrentLocalTimestamp(local.put()));
    ASSERT_EQ(S_OK, clock->CurrentUnixTime(&unix_time));
    GetSystemTimeAsFileTime(&after_time);
    std::printf("%s  %s  %.3f\n", narrow(utc.str()).c_str(), narrow(local.str()).c_str(),
                unix_time);
    const auto units = [](FILETIME f) {
        return (ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime;
    };
    // Milliseconds are cut, so a reading may lie up to 1 ms before the first.
    const ULONGLONG before = units(before_time) - 10'000, after = units(after_time);

    SYSTEMTIME t;
    int offset = 99;
    ASSERT_TRUE(parse_timestamp(utc.str(), t, offset)) << narrow(utc.str());
    EXPECT_EQ(L'Z', utc.str().back());
    EXPECT_GE(units_of(t), before);
    EXPECT_LE(units_of(t), after);

    ASSERT_TRUE(parse_timestamp(local.str(), t, offset)) << narrow(local.str());
    EXPECT_EQ(std::atoi(offset_text), offset);
    const ULONGLONG as_utc = units_of(t) - static_cast<LONGLONG>(offset) * 600'000'000;
    EXPECT_GE(as_utc, before);
    EXPECT_LE(as_utc, after);

    const double epoch = 11'644'473'600.0;  // 1601 to 1970, in seconds
    EXPECT_GE(unix_time, static_cast<double>(before) / 1e7 - epoch - 0.001);
    EXPECT_LE(unix_time, static_cast<double>(after) / 1e7 - epoch + 0.001);
    EXPECT_NEAR(unix_time * 1000, std::round(unix_time * 1000), 1e-3) << "more than milliseconds";
}

FILETIME g_now;
void WINAPI FakeClock(LPFILETIME t)
{
    *t = g_now;
}

// Europe/Berlin changes to summer time at 01:00 UTC on the last Sunday of
// March and back at 01:00 UTC on the last Sunday of October.
TEST(TimeZoneDaylightSaving, OffsetIsTheOneInForceAtThatMoment)
{
    ASSERT_TRUE(seam().ok()) << "TarnwickSeam.dll not loaded";
    Rebind clock_stand_in = TESTKIT_STAND_IN(GetSystemTimeAsFileTime, &FakeClock);
    ASSERT_EQ(S_OK, clock_stand_in.status());
    testkit::Apartment apartment;
    auto clock = seam().create<_Time2>(CLSID_Time);
    ASSERT_TRUE(clock);
    const struct {
        const wchar_t* utc;
        const wchar_t* local;
        double unix_time;
    } cases[] = {
        {L"2026-03-29T00:59:59.999Z", L"2026-03-29T01:59:59.999+01:00", 1774745999.999},
        {L"2026-03-29T01:00:00.000Z", L"2026-03-29T03:00:00.000+02:00", 1774746000.0},
        {L"2026-10-25T00:59:59.999Z", L"2026-10-25T02:59:59.999+02:00", 1792889999.999},
        {L"2026-10-25T01:00:00.000Z", L"2026-10-25T02:00:00.000+01:00", 1792890000.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.utc));
        SYSTEMTIME t;
        int offset;
        ASSERT_TRUE(parse_timestamp(c.utc, t, offset));
        const ULONGLONG units = units_of(t) + 9'999;  // less than a millisecond more
        g_now = FILETIME{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
        Bstr utc, local;
        double unix_time = 0;
        ASSERT_EQ(S_OK, clock->CurrentUTCTimestamp(utc.put()));
        ASSERT_EQ(S_OK, clock->CurrentLocalTimestamp(local.put()));
        ASSERT_EQ(S_OK, clock->CurrentUnixTime(&unix_time));
        EXPECT_EQ(c.utc, utc.str());
        EXPECT_EQ(c.local, local.str());
        EXPECT_DOUBLE_EQ(c.unix_time, unix_time);
    }
}

}  // namespace
