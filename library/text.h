// Text crossing into the Windows "A" functions: automation strings to the
// system ANSI code page and back, always over the whole length, zero
// characters included.
#pragma once

#include <string>

#include "handles.h"

namespace tarnwick::text {

// The ANSI form of a text; the string's own terminator follows the bytes.
std::string to_ansi(const wchar_t* s, UINT length);
inline std::string to_ansi(BSTR s) { return to_ansi(s, SysStringLen(s)); }

// The text of ANSI bytes; no bytes give the null (empty) text.
Bstr from_ansi(const char* bytes, size_t count);
inline Bstr from_ansi(const std::string& bytes) { return from_ansi(bytes.data(), bytes.size()); }

}  // namespace tarnwick::text
