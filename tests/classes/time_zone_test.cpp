// Time in a time zone: CTest runs this program with TZ set to a zone and
// TARNWICK_UTC_OFFSET to that zone's offset from UTC in minutes. Wine takes
// the prefix's time zone from TZ, so local time minus UTC is that offset,
// for the test's own clock and for the library's texts.
#include "classes_kit.h"

#include <cstdlib>

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

}  // namespace
