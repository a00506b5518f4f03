#include "handles.h"

#include "errors.h"

namespace tarnwick {

Bstr Bstr::copy(const wchar_t* text, UINT length)
{
    if (length == 0)
        return Bstr();
    Bstr out(SysAllocStringLen(text, length));
    if (!out.get())
        raise(kOutOfMemory);
    return out;
}

void unique_handle::reset() noexcept
{
    if (HANDLE h = std::exchange(h_, nullptr)) {
        if (void* p = platform::try_bind(platform::Fn::CloseHandle))
            reinterpret_cast<platform::Signature<platform::Fn::CloseHandle>::type>(p)(h);
    }
}

}  // namespace tarnwick
