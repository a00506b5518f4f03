// Time: the current time of day as "HH:MM:SS", in UTC or local time; since
// release 1.11 (_Time2) also the date and time to the millisecond, in UTC or
// with the local offset in force, and the Unix time; since release 1.12
// (_Time3) when the system started and how long it has been running.
#include "object.h"
#include "text.h"

namespace tarnwick {

using platform::call;
using platform::Fn;
using text::put_decimal;

class Time final : public Object<Time, _Time3, kTime> {
public:
    // _Time
    HRESULT STDMETHODCALLTYPE CurrentGMTTime(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE CurrentLocalTime(BSTR* result) override;

    // _Time2
    HRESULT STDMETHODCALLTYPE CurrentUTCTimestamp(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE CurrentLocalTimestamp(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE CurrentUnixTime(double* result) override;

    // _Time3
    HRESULT STDMETHODCALLTYPE GetBootTimestamp(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetUptime(double* result) override;
};

const ClassInfo kTime{&CLSID_Time,
                      {&IID__Time3, &IID__Time2, &IID__Time},
                      L"Time",
                      L"TarnwickDLL.Time",
                      &Time::create};

namespace {

// "HH:MM:SS", each field in two digits or more: a record that the clock did
// not fill may hold any 16-bit value, up to five digits a field.
Bstr clock_text(const SYSTEMTIME& t)
{
    wchar_t text[17];
    wchar_t* end = put_decimal(text, t.wHour, 2);
    *end++ = L':';
    end = put_decimal(end, t.wMinute, 2);
    *end++ = L':';
    end = put_decimal(end, t.wSecond, 2);
    return Bstr::copy(text, static_cast<UINT>(end - text));
}

// One reading of the clock, in 100-nanosecond units since 1601 (UTC).
ULONGLONG now()
{
    FILETIME t{};
    call<Fn::GetSystemTimeAsFileTime>(&t);
    return (ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}

ULONGLONG units_of(const SYSTEMTIME& t)
{
    FILETIME f{};
    call<Fn::SystemTimeToFileTime>(&t, &f);
    return (ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime;
}

SYSTEMTIME utc_of(ULONGLONG units)
{
    const FILETIME f{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
    SYSTEMTIME t{};
    call<Fn::FileTimeToSystemTime>(&f, &t);
    return t;
}

constexpr ULONGLONG kUnitsPerMillisecond = 10'000;
constexpr ULONGLONG kUnitsPerSecond = 10'000'000;
constexpr ULONGLONG kUnitsPerMinute = 600'000'000;
constexpr ULONGLONG kUnixEpoch = 116'444'736'000'000'000;  // 1970-01-01 in units since 1601

}  // namespace

HRESULT Time::CurrentGMTTime(BSTR* result)
{
    return method(result, [](Bstr& text) {
        SYSTEMTIME now{};
        call<Fn::GetSystemTime>(&now);
        text = clock_text(now);
    });
}

HRESULT Time::CurrentLocalTime(BSTR* result)
{
    return method(result, [](Bstr& text) {
        SYSTEMTIME now{};
        call<Fn::GetLocalTime>(&now);
        text = clock_text(now);
    });
}

HRESULT Time::CurrentUTCTimestamp(BSTR* result)
{
    return method(result, [](Bstr& text) { text = text::timestamp(utc_of(now()), nullptr); });
}

// The local time of the same reading of the clock, and its distance from
// UTC: so the offset is the one in force at that moment, daylight saving
// included, also in the hour of a change.
HRESULT Time::CurrentLocalTimestamp(BSTR* result)
{
    return method(result, [](Bstr& text) {
        const SYSTEMTIME utc = utc_of(now());
        SYSTEMTIME local{};
        if (!call<Fn::SystemTimeToTzSpecificLocalTime>(nullptr, &utc, &local))
            return;
        const auto offset = static_cast<LONG>(
            (static_cast<LONGLONG>(units_of(local)) - static_cast<LONGLONG>(units_of(utc))) /
            static_cast<LONGLONG>(kUnitsPerMinute));
        text = text::timestamp(local, &offset);
    });
}

HRESULT Time::CurrentUnixTime(double* result)
{
    return method(result, [](double& seconds) {
        const auto milliseconds = static_cast<LONGLONG>(now() / kUnitsPerMillisecond) -
                                  static_cast<LONGLONG>(kUnixEpoch / kUnitsPerMillisecond);
        seconds = static_cast<double>(milliseconds) / 1000.0;
    });
}

// The clock less the milliseconds that the tick count has run since the
// system started, which include the time asleep or hibernating, to the
// nearest second: the tick count moves in steps of up to 16 ms, so the
// milliseconds would change from call to call.
HRESULT Time::GetBootTimestamp(BSTR* result)
{
    return method(result, [](Bstr& text) {
        const ULONGLONG since = call<Fn::GetTickCount64>() * kUnitsPerMillisecond;
        SYSTEMTIME boot = utc_of(now() - since + kUnitsPerSecond / 2);
        boot.wMilliseconds = 0;
        text = text::timestamp(boot, nullptr);
    });
}

HRESULT Time::GetUptime(double* result)
{
    return method(result, [](double& seconds) {
        seconds = static_cast<double>(static_cast<LONGLONG>(call<Fn::GetTickCount64>())) / 1000.0;
    });
}

}  // namespace tarnwick
