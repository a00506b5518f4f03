// Text crossing into the Windows "A" functions: automation strings to the
// system ANSI code page and back, always over the whole length, zero
// characters included.
#pragma once

#include <cstddef>

#include "com.h"

namespace tarnwick::text {

// The ANSI form of a text for one call, with a NUL after its bytes. Texts of
// everyday length (key paths, value names, settings) are converted into the
// object's own room, so a call makes no heap allocation for them; longer
// ones take the heap. Raises out of memory when that fails.
class Ansi {
public:
    Ansi(const wchar_t* s, UINT length);
    explicit Ansi(BSTR s) : Ansi(s, SysStringLen(s)) {}
    Ansi(const Ansi&) = delete;
    Ansi& operator=(const Ansi&) = delete;
    ~Ansi();

    const char* c_str() const noexcept { return bytes_; }
    size_t size() const noexcept { return size_; }

private:
    static constexpr size_t kRoom = 256;  // bytes, the NUL included

    char* bytes_ = room_;
    size_t size_ = 0;
    char room_[kRoom];
};

// The text of ANSI bytes; no bytes give the null (empty) text.
Bstr from_ansi(const char* bytes, size_t count);
inline Bstr from_ansi(const Ansi& bytes)
{
    return from_ansi(bytes.c_str(), bytes.size());
}

}  // namespace tarnwick::text
