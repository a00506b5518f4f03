// Text crossing into Windows. Automation strings go to the wide-character
// functions as they are; the bytes of registry data that is not text come
// back through the system ANSI code page, one character a byte, zero bytes
// included.
#pragma once

#include <cstddef>
#include <cwchar>
#include <string_view>

#include "com.h"

namespace tarnwick::text {

// The NUL-terminated text of an automation string for a wide-character
// call; the null string is the empty text.
inline const wchar_t* wide(BSTR s) noexcept
{
    return s ? s : L"";
}

// The one way a caller's text becomes the name of a registry key or value:
// its NUL-terminated text, or null when a NUL stands inside it. Windows
// reads a name up to its first NUL, so such a text would name another key
// or value (a shorter path, a root) than the one the caller wrote.
inline const wchar_t* exact_name(BSTR s) noexcept
{
    const UINT n = SysStringLen(s);
    return n > 0 && std::wmemchr(s, L'\0', n) ? nullptr : wide(s);
}

// Writes the decimal digits of n at `out`, with zeros in front up to
// `width` digits, and gives the end: 20 digits at most, or `width`.
wchar_t* put_decimal(wchar_t* out, unsigned long long n, unsigned width = 1) noexcept;

// "YYYY-MM-DDTHH:MM:SS.mmm" and then "Z" without an offset, or the offset
// east of UTC, given in minutes, as "+HH:MM" or "-HH:MM".
Bstr timestamp(const SYSTEMTIME& t, const LONG* offset_minutes);

// The text in upper case, letters of every script, as the registry compares
// names: for comparing without regard to case.
Bstr folded(const wchar_t* text, UINT length);
// Whether two texts are the same but for the case of their letters.
bool same_ignoring_case(std::wstring_view a, std::wstring_view b);
// Whether `text` matches `pattern` whole, where "*" stands for any run of
// characters and "?" for any one; compare folded texts to ignore case.
bool matches(std::wstring_view pattern, std::wstring_view text) noexcept;

// The text of ANSI bytes; no bytes give the null (empty) text.
Bstr from_ansi(const char* bytes, size_t count);

}  // namespace tarnwick::text
