// Calls every public method of one object through its method table, on the
// success paths and on the ordinary failure paths (missing key, missing
// value), checking each result. Shared by the lifetime, apartment and leak
// tests, which each watch something else while the calls run.
#pragma once

#include "reliability.h"

namespace reliability {

// The registry area one caller works in: `key` exists, `missing` does not.
struct Area {
    std::wstring key;
    std::wstring missing;
};

// One call of a round: the method, where its arguments point, what it gives
// back, and what its last by-reference argument then holds (empty: not
// looked at). In an expected text "#" stands for any digit, and a final "*"
// for any rest.
struct Step {
    const wchar_t* method;
    Place place;
    std::wstring result;
    std::wstring back = {};
};

inline bool matches(const std::wstring& text, const std::wstring& pattern)
{
    size_t i = 0;
    for (; i < pattern.size(); ++i) {
        if (pattern[i] == L'*' && i + 1 == pattern.size())
            return true;
        if (i >= text.size() || (pattern[i] == L'#' ? !iswdigit(text[i]) : pattern[i] != text[i]))
            return false;
    }
    return i == text.size();
}

// The calls of round `round` on an object of `cls`: with the round in the
// names and texts, so that what a round wrote last can be told afterwards.
inline std::vector<Step> round_of(const ClassRef& cls, const Area& area, unsigned round)
{
    const std::wstring n = std::to_wstring(round);
    Place here;
    here.key = here.named_key = area.key;
    here.value = L"v" + std::to_wstring(round % 8);
    here.text = L"text " + n;
    here.sub = L"sub" + std::to_wstring(round % 4);
    Place missing = here;
    missing.key = missing.named_key = area.missing;
    auto with = [](Place p, auto change) {
        change(p);
        return p;
    };
    auto untouched = [](Place& p) { p.text = L"untouched"; };
    auto written = [&](Place& p) {
        p.value = L"w" + std::to_wstring(round % 8), p.text = L"written " + n;
    };

    if (&cls == &kRegistryRef)
        return {
            {L"CreateRegKey", here, L"True", L"#"},
            {L"SetRegValue", here, L"True", here.text},
            {L"QueryRegValue", with(here, untouched), L"True", here.text},
            {L"QueryRegValue", with(missing, untouched), L"False", L"untouched"},
            {L"QueryRegValue",
             with(here, [&](Place& p) { untouched(p), p.value = L"no such value"; }), L"False",
             L"untouched"},
            {L"SetRegValue", with(missing, [](Place& p) { p.text = L"lost"; }), L"False"},
            {L"RegWriteString", with(here, written), L"1"},
            {L"RegWriteString", with(missing, written), L"0"},
            {L"RegReadString", with(here, written), L"written " + n},
            {L"RegReadString", with(missing, written), L""},
            {L"RegCreateKey", here, L"2"},  // CreateRegKey above made it
        };
    if (&cls == &kWindowsInfoRef)
        return {
            {L"GetOSType", here, L"2"},
            {L"GetOSVersionInfo", here, L"Operating System: *"},
            {L"GetWebBrowser", here, L"*"},
            {L"GetDefaultBrowserPath", here, L"*"},
            {L"GetLocation",
             with(
                 here,
                 [&](Place& p) { p.command = L"\"C:\\Program Files\\App\\app.exe\" --open " + n; }),
             L"(nothing)", L"C:\\Program Files\\App\\app.exe"},
            {L"GetLocation", with(here, [](Place& p) { p.command = L"no program here"; }),
             L"(nothing)", L""},
        };
    if (&cls == &kTimeRef)
        return {{L"CurrentGMTTime", here, L"##:##:##"}, {L"CurrentLocalTime", here, L"##:##:##"}};
    return {{L"Reboot", here, L"0"}};  // the restart request is refused
}

// `object` is the default interface of an object of class `cls`; it takes
// no reference of its own, so a caller can watch the count. Calls
// after(method name) after every call; returns the number of calls. Reboot
// is only called while its restart requests go to the refusing stand-ins.
template <class After>
unsigned exercise(IDispatch* object, const ClassRef& cls, const Area& area, unsigned round,
                  After&& after)
{
    if (&cls == &kRebootRef && !restarts_refused()) {
        ADD_FAILURE() << "Reboot called without the refusing stand-in";
        return 0;
    }
    unsigned calls = 0;
    for (const Step& step : round_of(cls, area, round)) {
        const Method& m = method(step.method);
        Args args;
        m.good(step.place, args);
        Variant result;
        EXPECT_EQ(m.call(object, args, result, -1), S_OK) << narrow(step.method);
        EXPECT_PRED2(matches, text_of(result), step.result) << narrow(step.method);
        if (!step.back.empty()) {
            EXPECT_PRED2(matches, text_of(args[args.size() - 1]), step.back) << narrow(step.method);
        }
        ++calls;
        after(step.method);
    }
    return calls;
}

}  // namespace reliability
