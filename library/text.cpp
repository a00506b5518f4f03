#include "text.h"

#include <climits>
#include <cstdlib>

#include "errors.h"

namespace tarnwick::text {

Ansi::Ansi(const wchar_t* s, UINT length)
{
    room_[0] = '\0';
    if (length == 0)
        return;
    if (length > INT_MAX / 3)
        raise(kOutOfMemory);
    const int units = static_cast<int>(length);
    // Most texts fit the room: one conversion straight into it. A text that
    // does not is measured and converted into a heap block of its size.
    int n = WideCharToMultiByte(CP_ACP, 0, s, units, room_, static_cast<int>(kRoom - 1), nullptr,
                                nullptr);
    if (n == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        const int needed = WideCharToMultiByte(CP_ACP, 0, s, units, nullptr, 0, nullptr, nullptr);
        if (needed > 0) {
            auto* block = static_cast<char*>(std::malloc(static_cast<size_t>(needed) + 1));
            if (!block)
                raise(kOutOfMemory);
            bytes_ = block;
            n = WideCharToMultiByte(CP_ACP, 0, s, units, bytes_, needed, nullptr, nullptr);
        }
    }
    size_ = n > 0 ? static_cast<size_t>(n) : 0;
    bytes_[size_] = '\0';
}

Ansi::~Ansi()
{
    if (bytes_ != room_)
        std::free(bytes_);
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
