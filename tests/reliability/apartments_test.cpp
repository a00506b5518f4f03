// Many single-threaded apartments at once: every thread creates, calls and
// releases objects of every class, early and late bound, on its own
// registry keys. No call may fail, no update of the library's object count
// may be lost, and every key and value must hold what its thread wrote last.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>

#include "exercise.h"

namespace reliability {
namespace {

constexpr unsigned kThreads = 8;
constexpr unsigned kCallsPerThread = 12500;  // 100,000 in all

struct ThreadReport {
    unsigned calls = 0;
    unsigned rounds = 0;
    unsigned reboots = 0;
    HRESULT apartment = E_FAIL;
};

void run_thread(unsigned index, const std::wstring& base, ThreadReport& report)
{
    Apartment apartment;
    report.apartment = apartment.hr;
    if (FAILED(apartment.hr))
        return;
    const Area area{base + L"\\t" + std::to_wstring(index),
                    base + L"\\t" + std::to_wstring(index) + L"\\missing"};
    unsigned round = 0;
    while (report.calls < kCallsPerThread && !::testing::Test::HasFailure()) {
        for (const ClassRef* each : kClassRefs) {
            const ClassRef& cls = *each;
            Com<IDispatch> object = seam().create<IDispatch>(*cls.clsid);
            if (!object) {
                ADD_FAILURE() << "thread " << index << ": no object";
                return;
            }
            Com<IDispatch> own;
            object->QueryInterface(*cls.iid, reinterpret_cast<void**>(own.put()));
            report.calls += exercise(own.get(), cls, area, round, [&](const wchar_t* method) {
                if (std::wstring(method) == L"Reboot")
                    ++report.reboots;
            });
            // Late bound as well: one call by name per object.
            Variant result;
            if (&cls == &kRegistryRef) {
                Bstr root(L"HKCU"), key(area.key), name(L"w" + std::to_wstring(round % 8));
                Variant key_var, name_var;
                V_VT(&key_var) = VT_BSTR, V_BSTR(&key_var) = SysAllocString(key.get());
                V_VT(&name_var) = VT_BSTR, V_BSTR(&name_var) = SysAllocString(name.get());
                EXPECT_EQ(call_by_name(object.get(), L"RegReadString",
                                       {v_str(root.get()), v_ref(&key_var), v_ref(&name_var)},
                                       &result),
                          S_OK);
                EXPECT_EQ(V_VT(&result), VT_BSTR);
                if (V_VT(&result) == VT_BSTR) {
                    EXPECT_EQ(std::wstring(V_BSTR(&result)), L"written " + std::to_wstring(round));
                }
            } else if (&cls == &kWindowsInfoRef) {
                EXPECT_EQ(call_by_name(object.get(), L"GetOSType", {}, &result), S_OK);
                EXPECT_EQ(V_VT(&result), VT_I4);
                EXPECT_EQ(V_I4(&result), 2);
            } else if (&cls == &kTimeRef) {
                EXPECT_EQ(call_by_name(object.get(), L"CurrentLocalTime", {}, &result), S_OK);
                EXPECT_EQ(V_VT(&result), VT_BSTR);
            } else {
                EXPECT_EQ(call_by_name(object.get(), L"Reboot", {}, &result), S_OK);
                EXPECT_EQ(V_VT(&result), VT_I2);
                EXPECT_EQ(V_I2(&result), 0);
                ++report.reboots;
            }
            ++report.calls;
        }
        ++round;
    }
    report.rounds = round;
}

TEST(Apartments, EightThreadsOfEveryClassLoseNothing)
{
    Apartment apartment;
    ASSERT_TRUE(seam().ok());
    RestartsRefused restart = refuse_restarts();
    const std::wstring base = test_key(L"reliability\\apartments");
    delete_tree(HKEY_CURRENT_USER, base);
    for (unsigned i = 0; i < kThreads; ++i)
        ASSERT_EQ(make_key(HKEY_CURRENT_USER, base + L"\\t" + std::to_wstring(i)), ERROR_SUCCESS);
    g_restart_requests = 0;

    ThreadReport reports[kThreads];
    const auto start = std::chrono::steady_clock::now();
    {
        // A thread that cannot be made leaves its report's apartment status
        // E_FAIL, which the checks below report.
        std::deque<Thread> threads;
        for (unsigned i = 0; i < kThreads; ++i)
            threads.emplace_back([i, &base, &reports] { run_thread(i, base, reports[i]); });
        for (auto& t : threads)
            t.join();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    unsigned calls = 0, reboots = 0;
    for (unsigned i = 0; i < kThreads; ++i) {
        EXPECT_EQ(reports[i].apartment, S_OK) << "thread " << i;
        calls += reports[i].calls;
        reboots += reports[i].reboots;
    }
    std::printf("%u threads, %u calls in %.1f s\n", kThreads, calls, seconds);
    EXPECT_GE(calls, kThreads * kCallsPerThread);
    EXPECT_EQ(static_cast<unsigned>(g_restart_requests), reboots);

    // Every object is gone and the count came back to zero exactly.
    EXPECT_EQ(seam().can_unload_now(), S_OK);

    // Each thread's keys hold what it wrote last, and nothing else is there.
    for (unsigned i = 0; i < kThreads; ++i) {
        SCOPED_TRACE("thread " + std::to_string(i));
        const std::wstring key = base + L"\\t" + std::to_wstring(i);
        const unsigned rounds = reports[i].rounds;
        ASSERT_GE(rounds, 8u);
        for (unsigned slot = 0; slot < 8; ++slot) {
            unsigned last = rounds - 1 - ((rounds - 1 - slot) % 8);
            EXPECT_EQ(read_text(HKEY_CURRENT_USER, key, (L"v" + std::to_wstring(slot)).c_str()),
                      L"text " + std::to_wstring(last));
            EXPECT_EQ(read_text(HKEY_CURRENT_USER, key, (L"w" + std::to_wstring(slot)).c_str()),
                      L"written " + std::to_wstring(last));
        }
        for (unsigned sub = 0; sub < 4; ++sub)
            EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, key + L"\\sub" + std::to_wstring(sub)));
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, key + L"\\missing"));
        Key k;
        DWORD subkeys = 0, values = 0;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, k.put()),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                   &values, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(subkeys, 4u);
        EXPECT_EQ(values, 16u);
    }
    delete_tree(HKEY_CURRENT_USER, base);
}

}  // namespace
}  // namespace reliability
