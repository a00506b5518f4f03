#include "text.h"

#include <climits>

#include "errors.h"

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
