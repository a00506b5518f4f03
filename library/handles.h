// Owners of the handles a method opens through the binding table: registry
// keys, kernel handles such as a process token, and buffers that Windows
// allocated for a result. Each closes what it holds exactly once, through
// the declared closing function.
#pragma once

#include <utility>

#include "platform.h"

namespace tarnwick {

template <class Handle, platform::Fn Close> class unique_platform_handle {
public:
    unique_platform_handle() = default;
    unique_platform_handle(const unique_platform_handle&) = delete;
    unique_platform_handle& operator=(const unique_platform_handle&) = delete;
    ~unique_platform_handle() { reset(); }

    Handle get() const noexcept { return h_; }
    Handle* put() noexcept
    {
        reset();
        return &h_;
    }
    // Gives the handle up to the caller, who closes it.
    Handle release() noexcept { return std::exchange(h_, nullptr); }

    // Closes without raising, for clean-up paths: a closing function that
    // cannot be bound leaves the handle to the process.
    void reset() noexcept
    {
        if (Handle h = std::exchange(h_, nullptr))
            platform::call_if_bound<Close>(h);
    }

    // A method's own close step, one of its declared calls: binding the
    // closing function may raise, and so ends the method like any call.
    void close()
    {
        if (Handle h = h_) {
            platform::call<Close>(h);
            h_ = nullptr;
        }
    }

private:
    Handle h_ = nullptr;
};

using unique_hkey = unique_platform_handle<HKEY, platform::Fn::RegCloseKey>;
using unique_handle = unique_platform_handle<HANDLE, platform::Fn::CloseHandle>;
// A buffer that the network management functions allocated.
using net_buffer = unique_platform_handle<LPWSTR, platform::Fn::NetApiBufferFree>;

}  // namespace tarnwick
