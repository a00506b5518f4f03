// Time for real: the texts agree with the clock of the test itself.
#include "classes_kit.h"

namespace {

using namespace classes;

class TimeReal : public Registered<_Time, testkit::kTimeRef> {
protected:
    // The text lies on the test's own clock between `before` and `after`,
    // give or take two seconds.
    static void expect_between(const SYSTEMTIME& before, const std::wstring& text,
                               const SYSTEMTIME& after)
    {
        const int at = seconds_of(text);
        ASSERT_NE(-1, at) << "not HH:MM:SS: \"" << narrow(text) << "\"";
        EXPECT_GE(clock_difference(seconds_of(before), at), -2) << narrow(text);
        EXPECT_GE(clock_difference(at, seconds_of(after)), -2) << narrow(text);
    }
};

// Each method's text, early and late bound, lies between two readings of
// its clock taken by the test.
TEST_F(TimeReal, TextsFollowTheirClocks)
{
    const struct {
        const wchar_t* method;
        HRESULT (STDMETHODCALLTYPE _Time::*call)(BSTR*);
        void(WINAPI* clock)(LPSYSTEMTIME);
    } clocks[] = {
        {L"CurrentGMTTime", &_Time::CurrentGMTTime, &GetSystemTime},
        {L"CurrentLocalTime", &_Time::CurrentLocalTime, &GetLocalTime},
    };
    for (const auto& c : clocks) {
        SCOPED_TRACE(narrow(c.method));
        SYSTEMTIME before, after;
        Bstr text;
        c.clock(&before);
        ASSERT_EQ(S_OK, (object_.get()->*c.call)(text.put()));
        std::wstring named = text_by_name(by_name_.get(), c.method);
        c.clock(&after);
        expect_between(before, text.str(), after);
        expect_between(before, named, after);
    }
}

}  // namespace
