// Time: the current time of day as "HH:MM:SS", in UTC or local time.
#include "object.h"

namespace tarnwick {

using platform::call;
using platform::Fn;

class Time final : public Object<Time, _Time, kTime> {
public:
    HRESULT STDMETHODCALLTYPE CurrentGMTTime(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE CurrentLocalTime(BSTR* result) override;
};

const ClassInfo kTime{&CLSID_Time, {&IID__Time}, L"Time", L"TarnwickDLL.Time", &Time::create};

namespace {

// Decimal digits of a field, with a "0" in front of values up to 9.
wchar_t* put_field(wchar_t* out, unsigned value)
{
    wchar_t digits[6];
    int n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value);
    if (n == 1)
        *out++ = L'0';
    while (n)
        *out++ = digits[--n];
    return out;
}

Bstr clock_text(const SYSTEMTIME& t)
{
    wchar_t text[20];
    wchar_t* end = put_field(text, t.wHour);
    *end++ = L':';
    end = put_field(end, t.wMinute);
    *end++ = L':';
    end = put_field(end, t.wSecond);
    return Bstr::copy(text, static_cast<UINT>(end - text));
}

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

}  // namespace tarnwick
