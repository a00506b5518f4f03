#include "text.h"

#include <climits>

#include "errors.h"
#include "platform.h"

namespace tarnwick::text {

wchar_t* put_decimal(wchar_t* out, unsigned long long n, unsigned width) noexcept
{
    wchar_t digits[20];
    unsigned count = 0;
    // The digits above 32 bits, then the rest in 32-bit arithmetic, which
    // a 32-bit processor does without a call.
    while (n > 0xFFFFFFFFull) {
        digits[count++] = static_cast<wchar_t>(L'0' + n % 10);
        n /= 10;
    }
    auto small = static_cast<unsigned long>(n);
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + small % 10);
        small /= 10;
    } while (small);
    for (; width > count; --width)
        *out++ = L'0';
    while (count)
        *out++ = digits[--count];
    return out;
}

Bstr timestamp(const SYSTEMTIME& t, const LONG* offset_minutes)
{
    wchar_t text[48];  // seven fields of up to five digits, separators, zone
    wchar_t* end = put_decimal(text, t.wYear, 4);
    *end++ = L'-';
    end = put_decimal(end, t.wMonth, 2);
    *end++ = L'-';
    end = put_decimal(end, t.wDay, 2);
    *end++ = L'T';
    end = put_decimal(end, t.wHour, 2);
    *end++ = L':';
    end = put_decimal(end, t.wMinute, 2);
    *end++ = L':';
    end = put_decimal(end, t.wSecond, 2);
    *end++ = L'.';
    end = put_decimal(end, t.wMilliseconds, 3);
    if (!offset_minutes) {
        *end++ = L'Z';
    } else {
        const LONG offset = *offset_minutes;
        const ULONG magnitude = static_cast<ULONG>(offset < 0 ? -offset : offset);
        *end++ = offset < 0 ? L'-' : L'+';
        end = put_decimal(end, magnitude / 60, 2);
        *end++ = L':';
        end = put_decimal(end, magnitude % 60, 2);
    }
    return Bstr::copy(text, static_cast<UINT>(end - text));
}

Bstr folded(const wchar_t* text, UINT length)
{
    if (length == 0)
        return Bstr();
    Bstr out = Bstr::bytes(length * sizeof(wchar_t));
    if (platform::call<platform::Fn::LCMapStringEx>(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text,
                                                    static_cast<int>(length), out.get(),
                                                    static_cast<int>(length), nullptr, nullptr,
                                                    0) != static_cast<int>(length))
        raise(kOutOfMemory);
    return out;
}

bool same_ignoring_case(std::wstring_view a, std::wstring_view b)
{
    return platform::call<platform::Fn::CompareStringOrdinal>(
               a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
               TRUE) == CSTR_EQUAL;
}

bool matches(std::wstring_view pattern, std::wstring_view text) noexcept
{
    // Each character in turn; at a mismatch after a "*", that star takes one
    // character more and matching starts again behind it.
    constexpr size_t kNone = std::wstring_view::npos;
    size_t p = 0, t = 0, star = kNone, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (star != kNone) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*')
        ++p;
    return p == pattern.size();
}

Bstr from_ansi(const char* bytes, size_t count)
{
    if (count == 0)
        return Bstr();
    if (count > INT_MAX / 2)
        raise(kOutOfMemory);
    int n = static_cast<int>(count);
    // One byte never makes more than one UTF-16 unit, so the byte count is
    // room enough; the string is then cut to what the conversion wrote.
    Bstr out(SysAllocStringLen(nullptr, static_cast<UINT>(n)));
    if (!out.get())
        raise(kOutOfMemory);
    int written = MultiByteToWideChar(CP_ACP, 0, bytes, n, out.get(), n);
    if (written < n) {
        Bstr exact(SysAllocStringLen(out.get(), static_cast<UINT>(written > 0 ? written : 0)));
        if (!exact.get())
            raise(kOutOfMemory);
        return exact;
    }
    return out;
}

}  // namespace tarnwick::text
