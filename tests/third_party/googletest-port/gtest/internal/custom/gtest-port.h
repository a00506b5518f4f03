// googletest's port customisation, found before googletest's own (empty)
// one: see tests/third_party/CMakeLists.txt.
//
// The compilers' Win32 thread model gives a libstdc++ without std::mutex and
// std::condition_variable, of which googletest makes the Notification that
// holds its new threads until they may start. This one is a Windows event
// instead (notification.cc); googletest's locks and thread-local values are
// its own Windows ones already.
#ifndef TARNWICK_GTEST_CUSTOM_PORT_H
#define TARNWICK_GTEST_CUSTOM_PORT_H

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

// Made and destroyed by the controlling thread; Notify releases every thread
// that waits, and every later wait returns at once.
class Notification {
public:
    Notification();
    ~Notification();
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify();
    void WaitForNotification();

private:
    void* event_;  // a manual-reset event
};

}  // namespace internal
}  // namespace testing

#endif  // TARNWICK_GTEST_CUSTOM_PORT_H
