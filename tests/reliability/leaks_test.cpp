// No leaks: 100,000 calls of every method, early and late bound, on success
// and failure paths (missing keys and values, arguments that cannot be
// converted, functions that cannot be bound), after a warm-up. Registry keys
// and token handles are counted where they are opened and closed, through
// stand-ins that pass every call on to Windows; memory is read from the
// process counters and from the committed private pages.
#include "exercise.h"

#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <map>

namespace reliability {
namespace {

// Handles opened through the declared functions and not yet closed.
std::map<void*, int> g_open;
long g_opened = 0, g_closed = 0, g_strays = 0;

void opened(void* handle)
{
    ++g_opened;
    ++g_open[handle];
}
void closed(void* handle)
{
    ++g_closed;
    auto it = g_open.find(handle);
    if (it == g_open.end()) {
        ++g_strays;  // closing something no declared function opened
        return;
    }
    if (--it->second == 0)
        g_open.erase(it);
}

LONG WINAPI counting_open(HKEY root, LPCSTR sub, DWORD options, REGSAM access, PHKEY out)
{
    LONG error = ::RegOpenKeyExA(root, sub, options, access, out);
    if (error == ERROR_SUCCESS)
        opened(*out);
    return error;
}
LONG WINAPI counting_create(HKEY root, LPCSTR sub, DWORD reserved, LPSTR cls, DWORD options,
                            REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY out,
                            LPDWORD disposition)
{
    LONG error = ::RegCreateKeyExA(root, sub, reserved, cls, options, access, security, out,
                                   disposition);
    if (error == ERROR_SUCCESS)
        opened(*out);
    return error;
}
LONG WINAPI counting_close(HKEY key)
{
    closed(key);
    return ::RegCloseKey(key);
}
BOOL WINAPI counting_token(HANDLE process, DWORD access, PHANDLE out)
{
    BOOL ok = ::OpenProcessToken(process, access, out);
    if (ok)
        opened(*out);
    return ok;
}
BOOL WINAPI counting_close_handle(HANDLE handle)
{
    closed(handle);
    return ::CloseHandle(handle);
}
static_assert(std::is_same_v<decltype(&counting_open), decltype(&::RegOpenKeyExA)>);
static_assert(std::is_same_v<decltype(&counting_create), decltype(&::RegCreateKeyExA)>);
static_assert(std::is_same_v<decltype(&counting_close), decltype(&::RegCloseKey)>);
static_assert(std::is_same_v<decltype(&counting_token), decltype(&::OpenProcessToken)>);
static_assert(std::is_same_v<decltype(&counting_close_handle), decltype(&::CloseHandle)>);

struct Figures {
    DWORD handles = 0;          // GetProcessHandleCount
    size_t pagefile = 0;        // PROCESS_MEMORY_COUNTERS_EX::PagefileUsage
    size_t private_usage = 0;   // PROCESS_MEMORY_COUNTERS_EX::PrivateUsage
    size_t committed = 0;       // committed private pages, by VirtualQuery
    uintptr_t next_handle = 0;  // the value the next kernel handle gets
};

Figures measure()
{
    Figures f;
    GetProcessHandleCount(GetCurrentProcess(), &f.handles);
    PROCESS_MEMORY_COUNTERS_EX m{};
    m.cb = sizeof m;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m),
                             sizeof m)) {
        f.pagefile = m.PagefileUsage;
        f.private_usage = m.PrivateUsage;
    }
    MEMORY_BASIC_INFORMATION info;
    for (const char* p = nullptr; VirtualQuery(p, &info, sizeof info) == sizeof info;) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
            f.committed += info.RegionSize;
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= p)
            break;
        p = next;
    }
    // Handles are handed out lowest free slot first: leaked handles push
    // the next one up.
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    f.next_handle = reinterpret_cast<uintptr_t>(probe);
    CloseHandle(probe);
    return f;
}

void print(const char* when, const Figures& f)
{
    std::printf("%-7s handle count %lu, next handle 0x%llx, PagefileUsage %zu, PrivateUsage %zu, "
                "committed private %zu\n",
                when, static_cast<unsigned long>(f.handles),
                static_cast<unsigned long long>(f.next_handle), f.pagefile, f.private_usage,
                f.committed);
}

// Late-bound call of every method with arguments a script would pass, plus
// one that cannot be converted; returns the number of calls.
unsigned late_bound(const Area& area, unsigned round)
{
    unsigned calls = 0;
    Com<IDispatch> registry = seam().create<IDispatch>(CLSID_Registry);
    Com<IDispatch> info = seam().create<IDispatch>(CLSID_WindowsInfo);
    Com<IDispatch> time = seam().create<IDispatch>(CLSID_Time);
    Com<IDispatch> reboot = seam().create<IDispatch>(CLSID_Reboot);
    Bstr key(area.key), hkcu(L"HKCU"), name(L"late"), text(L"late " + std::to_wstring(round));
    auto ok = [&](IDispatch* o, const wchar_t* method, std::vector<VARIANT> args, VARTYPE vt) {
        Variant result;
        EXPECT_EQ(call_by_name(o, method, std::move(args), &result), S_OK) << "late-bound call";
        EXPECT_EQ(V_VT(&result), vt);
        ++calls;
    };
    Variant status, data, buffer, key_var, name_var, root_var, path;
    V_VT(&status) = VT_I4;
    V_VT(&data) = VT_BSTR;
    V_VT(&buffer) = VT_BSTR, V_BSTR(&buffer) = SysAllocString(text.get());
    V_VT(&key_var) = VT_BSTR, V_BSTR(&key_var) = SysAllocString(key.get());
    V_VT(&name_var) = VT_BSTR, V_BSTR(&name_var) = SysAllocString(name.get());
    V_VT(&root_var) = VT_BSTR, V_BSTR(&root_var) = SysAllocString(L"HKCU");
    // A number where GetLocation wants a text: converted, and written back as text.
    V_VT(&path) = VT_I4, V_I4(&path) = static_cast<LONG>(round);

    ok(registry.get(), L"CreateRegKey", {v_i4(kCurrentUser), v_str(key.get()), v_ref(&status)}, VT_BOOL);
    ok(registry.get(), L"SetRegValue", {v_i4(kCurrentUser), v_str(key.get()), v_str(name.get()), v_ref(&buffer)}, VT_BOOL);
    ok(registry.get(), L"QueryRegValue", {v_i4(kCurrentUser), v_str(key.get()), v_str(name.get()), v_ref(&data)}, VT_BOOL);
    ok(registry.get(), L"RegWriteString", {v_str(hkcu.get()), v_str(key.get()), v_str(name.get()), v_str(text.get())}, VT_I2);
    ok(registry.get(), L"RegReadString", {v_str(hkcu.get()), v_ref(&key_var), v_ref(&name_var)}, VT_BSTR);
    ok(registry.get(), L"RegCreateKey", {v_ref(&root_var), v_ref(&key_var)}, VT_I2);
    ok(info.get(), L"GetOSType", {}, VT_I4);
    ok(info.get(), L"GetOSVersionInfo", {}, VT_BSTR);
    ok(info.get(), L"GetWebBrowser", {}, VT_BSTR);
    ok(info.get(), L"GetLocation", {v_ref(&path)}, VT_EMPTY);
    EXPECT_EQ(V_VT(&path), VT_BSTR);
    ok(info.get(), L"GetDefaultBrowserPath", {}, VT_BSTR);
    ok(time.get(), L"CurrentGMTTime", {}, VT_BSTR);
    ok(time.get(), L"CurrentLocalTime", {}, VT_BSTR);
    ok(reboot.get(), L"Reboot", {}, VT_I2);
    EXPECT_EQ(V_BSTR(&data) ? std::wstring(V_BSTR(&data)) : L"", text.str());

    // A text that is no number, where a Long is wanted: refused before the call.
    Bstr abc(L"abc");
    Variant result;
    EXPECT_EQ(call_by_name(registry.get(), L"QueryRegValue",
                           {v_str(abc.get()), v_str(key.get()), v_str(name.get()), v_ref(&data)},
                           &result),
              DISP_E_TYPEMISMATCH);
    ++calls;
    return calls;
}

// Calls that fail because a declared function cannot be bound: a missing
// library and a missing export, early and late bound, with the error
// information taken and dropped as a client would.
unsigned unbound(unsigned)
{
    unsigned calls = 0;
    Com<_Time> time = seam().create<_Time>(CLSID_Time);
    seam().bind("GetSystemTime", "tarnwick-no-such-library.dll", nullptr, nullptr);
    seam().bind("GetLocalTime", nullptr, "NoSuchExport", nullptr);
    Bstr text(L"stale");
    EXPECT_EQ(time->CurrentGMTTime(text.put()), static_cast<HRESULT>(0x800A0035));
    EXPECT_EQ(text.get(), nullptr);
    ++calls;
    {
        Com<IErrorInfo> error;
        EXPECT_EQ(GetErrorInfo(0, error.put()), S_OK);
    }
    EXPECT_EQ(time->CurrentLocalTime(text.put()), static_cast<HRESULT>(0x800A01C5));
    ++calls;
    Variant result;
    EXCEPINFO excep{};
    EXPECT_EQ(call_by_name(time.get(), L"CurrentGMTTime", {}, &result, &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, static_cast<HRESULT>(0x800A0035));
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    ++calls;
    seam().restore("GetSystemTime", "kernel32");
    seam().restore("GetLocalTime", "kernel32");
    return calls;
}

TEST(Leaks, HandlesAndMemoryStayFlatOverAHundredThousandCalls)
{
    Apartment apartment;
    ASSERT_TRUE(seam().module);
    StandIn restart("ExitWindowsEx", "user32", reinterpret_cast<void*>(&refuse_restart));
    StandIn open("RegOpenKeyExA", "advapi32.dll", reinterpret_cast<void*>(&counting_open));
    StandIn create("RegCreateKeyExA", "advapi32.dll", reinterpret_cast<void*>(&counting_create));
    StandIn close("RegCloseKey", "advapi32.dll", reinterpret_cast<void*>(&counting_close));
    StandIn token("OpenProcessToken", "advapi32.dll", reinterpret_cast<void*>(&counting_token));
    StandIn close_handle("CloseHandle", "kernel32", reinterpret_cast<void*>(&counting_close_handle));
    const Area area{test_key(L"leaks"), test_key(L"leaks") + L"\\missing"};
    delete_key(area.key);
    make_key(area.key);

    unsigned round = 0;
    auto run = [&](unsigned target) {
        unsigned calls = 0;
        while (calls < target && !HasFailure()) {
            for (const ClassRef& cls : kClasses) {
                Com<IDispatch> object = seam().create<IDispatch>(*cls.clsid);
                Com<IDispatch> own;
                object->QueryInterface(*cls.iid, reinterpret_cast<void**>(own.put()));
                calls += exercise(own.get(), cls, area, round, [](const wchar_t*) {});
            }
            calls += late_bound(area, round);
            calls += unbound(round);
            ++round;
        }
        return calls;
    };

    run(10000);  // warm-up: caches, lazily opened handles, heap growth
    const Figures before = measure();
    const long opened_before = g_opened;
    const auto start = std::chrono::steady_clock::now();
    const unsigned calls = run(100000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Figures after = measure();
    print("before", before);
    print("after", after);
    std::printf("%u calls in %.1f s; handles opened through the declared functions: %ld in "
                "all (%ld after the warm-up), %ld closed, %zu still open, %ld closes of unknown "
                "handles\n",
                calls, seconds, g_opened, g_opened - opened_before, g_closed, g_open.size(),
                g_strays);

    EXPECT_GE(calls, 100000u);
    // Every key and token opened by a method was closed by it, exactly once.
    EXPECT_GT(g_opened - opened_before, 10000);  // the counting stand-ins were in use
    EXPECT_EQ(g_opened, g_closed);
    EXPECT_TRUE(g_open.empty());
    EXPECT_EQ(g_strays, 0);
    // Process figures: flat within a small allowance for heap fragmentation
    // (64 KiB: less than one byte a call, or 30 bytes on the rarest path).
    constexpr size_t kMemoryAllowance = 64 * 1024;
    EXPECT_LE(after.handles, before.handles + 4);
    // Four handle slots (values go up in fours).
    EXPECT_LE(after.next_handle, before.next_handle + 4 * 4);
    EXPECT_LE(after.pagefile, before.pagefile + kMemoryAllowance);
    EXPECT_LE(after.private_usage, before.private_usage + kMemoryAllowance);
    EXPECT_LE(after.committed, before.committed + kMemoryAllowance);
    EXPECT_EQ(seam().can_unload_now(), S_OK);
    delete_key(area.key);
}

}  // namespace
}  // namespace reliability
