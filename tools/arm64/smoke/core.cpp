// The smoke test's DLL: threads, exceptions, static destructors, new and
// delete, and calls into OLEAUT32, ole32, uuid and ADVAPI32.
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

namespace {
std::atomic<int> destroyed{0};
struct Counter {                       // a static object with a destructor
    std::atomic<int> value{0};
    ~Counter() { destroyed.fetch_add(1); }
} counter;

[[noreturn]] void fail(int v) { throw std::runtime_error("bad value " + std::to_string(v)); }
int doubled(int v) {
    if (v < 0)
        fail(v);
    return 2 * v;
}
}  // namespace

extern "C" int check_sum(int n) {
    std::vector<std::thread> pool;
    for (int t = 1; t <= 4; ++t)
        pool.emplace_back([n, t] {
            for (int i = 0; i < n; ++i)
                counter.value.fetch_add(t, std::memory_order_relaxed);
        });
    for (auto &th : pool)
        th.join();
    auto owned = std::make_unique<int>(7);
    int *raw = new int[4]{1, 2, 3, 4};
    int caught = 0;
    try {
        doubled(-n);
    } catch (const std::runtime_error &e) {
        caught = std::string(e.what()).find("bad value") == 0;
    }
    delete[] raw;
    BSTR text = SysAllocString(L"x");          // OLEAUT32
    SysFreeString(text);
    void *block = CoTaskMemAlloc(16);          // ole32
    CoTaskMemFree(block);
    HKEY key;                                   // ADVAPI32
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key) == ERROR_SUCCESS)
        RegCloseKey(key);
    return caught && *owned == 7 ? counter.value.load() + destroyed.load() : -1;
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return S_FALSE; }
extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID, REFIID riid, void **out) {
    *out = nullptr;
    return IsEqualIID(riid, IID_IUnknown) ? CLASS_E_CLASSNOTAVAILABLE : E_NOINTERFACE;  // uuid
}
