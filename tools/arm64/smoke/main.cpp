// The smoke test's EXE: threads and exceptions of its own, and the DLL's
// exports through its import library.
#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <thread>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
extern "C" __declspec(dllimport) int check_sum(int n);
extern "C" __declspec(dllimport) int check_limit(void);
struct Goodbye { ~Goodbye() { std::puts("goodbye"); } } goodbye;
static int parse(int v) {
    if (v > 3)
        throw std::out_of_range("too big");
    return v;
}
int main() {
    std::atomic<int> seen{0};
    std::thread worker([&seen] { seen.store(GetCurrentThreadId() != 0); });
    worker.join();
    int *p = new int(5);
    int caught = 0;
    try {
        parse(*p);
    } catch (const std::exception &e) {
        caught = e.what()[0] == 't';
    }
    delete p;
    int r = check_sum(10);
    std::printf("%d %d %d %d\n", r, check_limit(), seen.load(), caught);
    if (r != 100 || !caught || !seen)
        MessageBoxW(nullptr, L"failed", L"check", MB_OK);   // USER32
    return r == 100 && caught && seen ? 0 : 1;
}
