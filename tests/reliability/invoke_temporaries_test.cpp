// Invoke converts an argument of another type into a temporary of the
// declared type; the temporary must be freed after the call, or handed to
// the caller's variable when it stands for a by-reference parameter. The
// automation allocator is watched through a malloc spy: with its string
// cache, balanced allocations stop showing after the first few, while every
// leaked string is one more.
#include <gtest/gtest.h>

#include <objidl.h>

#include "testkit.h"

using namespace testkit;

namespace {

constexpr DISPID kQueryRegValue = 0x60030002;

struct CountingSpy : IMallocSpy {
    long allocations = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        *out = riid == IID_IUnknown || riid == IID_IMallocSpy ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T n) override
    {
        ++allocations;
        return n;
    }
    void* STDMETHODCALLTYPE PostAlloc(void* p) override { return p; }
    void* STDMETHODCALLTYPE PreFree(void* p, BOOL) override { return p; }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* p, SIZE_T n, void** out, BOOL) override
    {
        *out = p;
        return n;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* p, BOOL) override { return p; }
    void* STDMETHODCALLTYPE PreGetSize(void* p, BOOL) override { return p; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T n, BOOL) override { return n; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* p, BOOL) override { return p; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int r) override { return r; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

CountingSpy g_spy;

// QueryRegValue on a key that does not exist, with the arguments given in
// rgvarg order (last parameter first).
HRESULT query(IDispatch* reg, VARIANT (&args)[4])
{
    DISPPARAMS params{args, nullptr, 4, 0};
    Variant result;
    return reg->Invoke(kQueryRegValue, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr,
                       nullptr);
}

TEST(InvokeTemporaries, ConvertedArgumentsAreFreedOrHandedBack)
{
    Apartment apartment;
    ASSERT_EQ(apartment.hr, S_OK);
    auto reg = create<IDispatch>(CLSID_Registry);
    ASSERT_TRUE(reg) << "library not registered";
    ASSERT_EQ(CoRegisterMallocSpy(&g_spy), S_OK);

    // strSubKey as a number (a by-value String made from it), strData as a
    // plain value (a copy for the method), and strData as the caller's
    // variable holding a number (converted, then given back as a String).
    Variant caller;
    auto round = [&] {
        VARIANT by_value[4] = {v_i4(7), v_str(nullptr), v_i4(404), v_i4(0x80000001)};
        EXPECT_EQ(query(reg.get(), by_value), S_OK);
        VariantClear(&caller);
        V_VT(&caller) = VT_I4;
        V_I4(&caller) = 7;
        VARIANT by_ref[4] = {v_ref(&caller), v_str(nullptr), v_i4(404), v_i4(0x80000001)};
        EXPECT_EQ(query(reg.get(), by_ref), S_OK);
    };
    for (int i = 0; i < 50; ++i)  // fills the allocator's string cache
        round();
    ASSERT_EQ(V_VT(&caller), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&caller), L"7");

    const long before = g_spy.allocations;
    constexpr int kRounds = 2000;
    for (int i = 0; i < kRounds; ++i)
        round();
    const long grown = g_spy.allocations - before;
    VariantClear(&caller);
    CoRevokeMallocSpy();
    // Three converted strings a round: a leak of any one shows as kRounds.
    EXPECT_LT(grown, kRounds / 10) << "strings allocated and never freed";
}

}  // namespace
