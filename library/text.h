// Text crossing into Windows. Automation strings go to the wide-character
// functions as they are; the bytes of registry data that is not text come
// back through the system ANSI code page, one character a byte, zero bytes
// included.
#pragma once

#include <cstddef>

#include "com.h"

namespace tarnwick::text {

// The NUL-terminated text of an automation string for a wide-character
// call; the null string is the empty text.
inline const wchar_t* wide(BSTR s) noexcept
{
    return s ? s : L"";
}

// Writes the decimal digits of n at `out`, with zeros in front up to
// `width` digits, and gives the end: 20 digits at most, or `width`.
wchar_t* put_decimal(wchar_t* out, unsigned long long n, unsigned width = 1) noexcept;

// The text of ANSI bytes; no bytes give the null (empty) text.
Bstr from_ansi(const char* bytes, size_t count);

}  // namespace tarnwick::text
