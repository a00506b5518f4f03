// The declared platform functions of the library, each with the library
// name it is declared with: what the seam can rebind and what a planted
// library must never provide. The list is the library's own binding table.
#pragma once

#include "platform.h"

namespace testkit {

struct Declared {
    const char* function;
    const char* library;
};

inline constexpr Declared kDeclared[] = {
#define TARNWICK_TEST_ROW(library, function) {#function, library},
    TARNWICK_DECLARED_FUNCTIONS(TARNWICK_TEST_ROW)
#undef TARNWICK_TEST_ROW
};

}  // namespace testkit
