// Runs the rows of admin_bench.h alone, with the helpers of bench.cpp,
// until bench.cpp includes them and calls admin_12 itself.
//   admin_bench.exe [quick]
#define main bench_main
#include "../bench/bench.cpp"
#undef main

#include "admin_bench.h"

int main(int argc, char** argv)
{
    Settings s;
    s.quick = argc > 1 && std::strcmp(argv[1], "quick") == 0;
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_tick_ns = 1e9 / static_cast<double>(f.QuadPart);
    Apartment apartment;
    require(SUCCEEDED(apartment.hr), "CoInitializeEx", apartment.hr);
    admin_12(s);
    if (g_failures) {
        std::printf("error: %u timed calls failed\n", g_failures);
        return 1;
    }
    std::printf("admin_bench.exe done\n");
    return 0;
}
