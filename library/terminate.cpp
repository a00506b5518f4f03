// The handler that std::terminate runs when an exception leaves a noexcept
// function. Every method catches what its body throws, so this never runs
// in a working library; if it does, the process ends at once.
//
// The C++ runtime's own default prints the demangled type of the exception
// before it aborts, and for that it links the whole demangler and a full
// printf into the library: some 75 KB of a 290 KB file. Defining the
// default handler here keeps the linker from taking the runtime's. The
// aarch64 target's runtime (libc++abi) has no such hook: its toolchain is
// built with a silent default handler instead (tools/toolchain-arm64.sh).
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    std::abort();
}

}  // namespace __gnu_cxx
