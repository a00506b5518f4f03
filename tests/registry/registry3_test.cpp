// Registry 1.2 (_Registry3) on the registered library: a key's security
// set, read back and obeyed, in both views. Export and import:
// regfile_test.cpp; every method from the scripts: registry.js and the
// samples.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "args.h"
#include "keys.h"
#include "seam.h"

using namespace testkit;

namespace {

constexpr HRESULT kInvalidCall = run_time_error(5);

class Registry3 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(apartment_.hr, S_OK);
        reg_ = create<_Registry3>(CLSID_Registry);
        ASSERT_TRUE(reg_) << "library not registered";
        key_ = test_key(L"registry3");
        delete_tree(HKEY_CURRENT_USER, key_);
    }
    void TearDown() override { delete_tree(HKEY_CURRENT_USER, key_); }

    Apartment apartment_;
    Com<_Registry3> reg_;
    std::wstring key_;
};

// A key's DACL set as SDDL, read back, and obeyed by RegCheckAccess, in
// each view; malformed SDDL is error 5 and changes nothing.
TEST_F(Registry3, SecurityIsSetReadBackAndObeyed)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    const std::wstring key = L"Software\\TarnwickTests\\registry3-security\\" +
                             std::to_wstring(GetCurrentProcessId());
    for (const auto& [view, flag] : {std::tuple{64L, KEY_WOW64_64KEY}, std::tuple{32L, KEY_WOW64_32KEY}}) {
        SCOPED_TRACE(view);
        ASSERT_EQ(make_key(HKEY_LOCAL_MACHINE, key, flag), ERROR_SUCCESS);
        Bstr sub(key), read_only(L"D:P(A;;KR;;;WD)"), everyone(L"D:P(A;;KA;;;WD)"), sddl;
        VARIANT_BOOL ok = VARIANT_FALSE;
        ASSERT_EQ(reg_->RegSetSecurity(Arg(L"HKLM"), sub.get(), read_only.get(), Arg(view), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        ASSERT_EQ(reg_->RegGetSecurity(Arg(L"HKLM"), sub.get(), Arg(view), sddl.put()), S_OK);
        EXPECT_NE(sddl.str().find(L"D:P(A;;KR;;;WD)"), std::wstring::npos) << narrow(sddl.str());
        EXPECT_EQ(sddl.str().rfind(L"O:", 0), 0u) << "the owner first: " << narrow(sddl.str());
        const struct Check {
            Arg access;
            VARIANT_BOOL allowed;
        } checks[] = {{Arg(L"Read"), VARIANT_TRUE}, {Arg(L"write"), VARIANT_FALSE},
                      {Arg(L"FULL"), VARIANT_FALSE}, {Arg(static_cast<LONG>(KEY_QUERY_VALUE)), VARIANT_TRUE},
                      {Arg(static_cast<LONG>(KEY_SET_VALUE)), VARIANT_FALSE}};
        for (const Check& c : checks) {
            ASSERT_EQ(reg_->RegCheckAccess(Arg(L"HKLM"), sub.get(), c.access, Arg(view), &ok), S_OK);
            EXPECT_EQ(ok, c.allowed) << narrow(text_of(c.access));
        }
        // The other view's key is another key, untouched.
        Bstr other_sddl;
        ASSERT_EQ(make_key(HKEY_LOCAL_MACHINE, key, flag == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY), ERROR_SUCCESS);
        ASSERT_EQ(reg_->RegGetSecurity(Arg(L"HKLM"), sub.get(), Arg(96L - view), other_sddl.put()), S_OK);
        EXPECT_EQ(other_sddl.str().find(L"D:P(A;;KR;;;WD)"), std::wstring::npos) << narrow(other_sddl.str());

        for (const wchar_t* bad : {L"", L"no sddl", L"D:(A;;KA;;;NOBODY)", L"D:(X;;KA;;;WD)"}) {
            Bstr text(bad);
            ok = 7;
            EXPECT_EQ(reg_->RegSetSecurity(Arg(L"HKLM"), sub.get(), text.get(), Arg(view), &ok), kInvalidCall)
                << narrow(bad);
            EXPECT_EQ(ok, VARIANT_FALSE);
        }
        ASSERT_EQ(reg_->RegGetSecurity(Arg(L"HKLM"), sub.get(), Arg(view), sddl.put()), S_OK);
        EXPECT_NE(sddl.str().find(L"D:P(A;;KR;;;WD)"), std::wstring::npos) << "malformed SDDL changed it";

        ASSERT_EQ(reg_->RegSetSecurity(Arg(L"HKLM"), sub.get(), everyone.get(), Arg(view), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        ASSERT_EQ(reg_->RegCheckAccess(Arg(L"HKLM"), sub.get(), Arg(L"Full"), Arg(view), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
    }
    Bstr missing(key + L"\\missing"), sddl;
    ASSERT_EQ(reg_->RegGetSecurity(Arg(L"HKLM"), missing.get(), Arg::missing(), sddl.put()), S_OK);
    EXPECT_EQ(sddl.str(), L"");
    for (REGSAM v : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        Key top;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\TarnwickTests", 0, KEY_ALL_ACCESS | v, top.put());
        RegDeleteTreeW(top.get(), L"registry3-security");
    }
}

}  // namespace
