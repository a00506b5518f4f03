// googletest's Notification as a manual-reset Windows event; see
// gtest/internal/custom/gtest-port.h.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "gtest/internal/custom/gtest-port.h"

namespace testing {
namespace internal {

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "googletest Notification: %s failed with error %lu\n", what,
                 GetLastError());
    std::abort();
}

}  // namespace

Notification::Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (!event_)
        fail("CreateEventW");
}

Notification::~Notification()
{
    CloseHandle(event_);
}

void Notification::Notify()
{
    if (!SetEvent(event_))
        fail("SetEvent");
}

void Notification::WaitForNotification()
{
    if (WaitForSingleObject(event_, INFINITE) != WAIT_OBJECT_0)
        fail("WaitForSingleObject");
}

}  // namespace internal
}  // namespace testing
