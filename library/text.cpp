#include "text.h"

#include <climits>

#include "errors.h"

namespace tarnwick::text {

std::string to_ansi(const wchar_t* s, UINT length)
{
    std::string out;
    if (length == 0)
        return out;
    if (length > INT_MAX / 3)
        raise(kOutOfMemory);
    // No UTF-16 unit takes more than three bytes in any ANSI code page.
    out.resize(static_cast<size_t>(length) * 3);
    int n = WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(length), out.data(),
                                static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
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
