// Registry 1.2 (_Registry3) on the registered library: a subtree copied
// whole and never into itself, searched in the registry's order, a key's
// last-write time, and a key's security set, read back and obeyed, in both
// views. Export and import: regfile_test.cpp.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

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

// A small tree of every kind of value below `path`.
void plant_tree(HKEY root, const std::wstring& path)
{
    for (const wchar_t* sub : {L"", L"\\a\\beta", L"\\b"})
        ASSERT_EQ(make_key(root, path + sub), ERROR_SUCCESS);
    ASSERT_EQ(set_text(root, path, nullptr, L"default"), ERROR_SUCCESS);
    ASSERT_EQ(set_text(root, path, L"Name", L"caf\u00e9 alpha"), ERROR_SUCCESS);
    const DWORD d = 42;
    ASSERT_EQ(set_wide(root, path, L"Count", REG_DWORD, &d, 4), ERROR_SUCCESS);
    ASSERT_EQ(set_wide(root, path + L"\\a", L"List", REG_MULTI_SZ, L"one\0beta\0\0", 22), ERROR_SUCCESS);
    ASSERT_EQ(set_wide(root, path + L"\\a", L"Empty", REG_BINARY, "", 0), ERROR_SUCCESS);
    ASSERT_EQ(set_text(root, path + L"\\a\\beta", L"Path", L"%TEMP%\\alpha"), ERROR_SUCCESS);
}

TEST_F(Registry3, CopyGoesWholeAndNeverIntoItself)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    plant_tree(HKEY_CURRENT_USER, key_ + L"\\src");
    Bstr src(key_ + L"\\src"), dst(key_ + L"\\copies\\dst");
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(reg_->RegCopyKey(Arg(L"HKCU"), src.get(), Arg(L"HKCU"), dst.get(), Arg::missing(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    const auto source = key_tree(HKEY_CURRENT_USER, src.str());
    EXPECT_EQ(source.size(), 4u);
    EXPECT_EQ(key_tree(HKEY_CURRENT_USER, dst.str()), source);

    const struct Case {
        const char* what;
        const wchar_t* from;
        const wchar_t* to;
        const wchar_t* lead;  // before our key in the destination
        HRESULT status;
        VARIANT_BOOL result;
    } cases[] = {
        {"into itself", L"\\src", L"\\src", L"", kInvalidCall, VARIANT_FALSE},
        {"into a subkey", L"\\src", L"\\src\\a\\copy", L"", kInvalidCall, VARIANT_FALSE},
        {"into itself in other letters", L"\\src", L"\\SRC\\A", L"", kInvalidCall, VARIANT_FALSE},
        {"into itself with backslashes", L"\\src\\", L"\\src\\x", L"\\\\", kInvalidCall, VARIANT_FALSE},
        {"beside itself, a longer name", L"\\src", L"\\src2", L"", S_OK, VARIANT_TRUE},
        {"from a key that is missing", L"\\missing", L"\\nowhere", L"", S_OK, VARIANT_FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bstr f(key_ + c.from), t(c.lead + key_ + c.to);
        ok = 7;
        EXPECT_EQ(reg_->RegCopyKey(Arg(L"HKCU"), f.get(), Arg(L"hkey_current_user"), t.get(), Arg(0L), &ok), c.status);
        EXPECT_EQ(ok, c.result);
    }
    EXPECT_EQ(key_tree(HKEY_CURRENT_USER, key_ + L"\\src"), source) << "a refused copy changed its source";
    EXPECT_EQ(key_tree(HKEY_CURRENT_USER, key_ + L"\\src2"), source);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, key_ + L"\\nowhere"));
}

TEST_F(Registry3, FindWalksKeysValuesAndDataInOrder)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    plant_tree(HKEY_CURRENT_USER, key_ + L"\\src");
    const std::wstring at = key_ + L"\\src";
    const struct Case {
        const wchar_t* pattern;
        VARIANT_BOOL missing_where;
        const wchar_t* where;
        std::vector<std::wstring> found;  // "path|value|Match", path below our key
    } cases[] = {
        {L"*alpha*", true, L"", {L"src|Name|Data", L"src\\a\\beta|Path|Data"}},
        {L"BETA", false, L"Keys,Data", {L"src\\a|List|Data", L"src\\a\\beta||Key"}},
        {L"?", false, L"keys", {L"src\\a||Key", L"src\\b||Key"}},
        {L"*", false, L"Values", {L"src||Value", L"src|Count|Value", L"src|Name|Value", L"src\\a|Empty|Value",
                                  L"src\\a|List|Value", L"src\\a\\beta|Path|Value"}},
        {L"n*e", false, L" Values , Keys ", {L"src|Name|Value"}},
        {L"nothing*", true, L"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.pattern));
        Bstr sub(at), pattern(c.pattern);
        Variant found;
        ASSERT_EQ(reg_->RegFind(Arg(L"HKCU"), sub.get(), pattern.get(),
                                c.missing_where ? Arg::missing() : Arg(c.where), Arg::missing(), &found),
                  S_OK);
        ASSERT_EQ(V_VT(&found), VT_ARRAY | VT_VARIANT);
        std::vector<std::wstring> rows;
        SAFEARRAY* list = V_ARRAY(&found);
        for (ULONG i = 0; i < list->rgsabound[0].cElements; ++i) {
            const auto parts = items_of(static_cast<VARIANT*>(list->pvData)[i]);
            ASSERT_EQ(parts.size(), 3u);
            ASSERT_EQ(parts[0].rfind(key_ + L"\\", 0), 0u) << narrow(parts[0]);
            rows.push_back(parts[0].substr(key_.size() + 1) + L"|" + parts[1] + L"|" + parts[2]);
        }
        EXPECT_EQ(rows, c.found);
    }
    // A key that is missing gives Empty; a place to look that is none, error 5.
    Bstr missing(key_ + L"\\missing"), sub(at), star(L"*");
    Variant found;
    ASSERT_EQ(reg_->RegFind(Arg(L"HKCU"), missing.get(), star.get(), Arg::missing(), Arg::missing(), &found), S_OK);
    EXPECT_EQ(V_VT(&found), VT_EMPTY);
    EXPECT_EQ(reg_->RegFind(Arg(L"HKCU"), sub.get(), star.get(), Arg(L"Keys,Names"), Arg::missing(), &found),
              kInvalidCall);
}

// The time as FILETIME units from "YYYY-MM-DDTHH:MM:SS.mmmZ".
ULONGLONG units_of(const std::wstring& stamp)
{
    SYSTEMTIME t{};
    if (stamp.size() != 24 || stamp.back() != L'Z' ||
        swscanf(stamp.c_str(), L"%4hu-%2hu-%2huT%2hu:%2hu:%2hu.%3hu", &t.wYear, &t.wMonth, &t.wDay,
                &t.wHour, &t.wMinute, &t.wSecond, &t.wMilliseconds) != 7)
        return 0;
    FILETIME f{};
    SystemTimeToFileTime(&t, &f);
    return (ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime;
}

ULONGLONG now_units()
{
    FILETIME f{};
    GetSystemTimeAsFileTime(&f);
    return (ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime;
}

TEST_F(Registry3, LastWriteIsTheKeysOwn)
{
    const ULONGLONG second = 10'000'000;
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, key_ + L"\\stamped"), ERROR_SUCCESS);
    const ULONGLONG before = now_units();
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, key_ + L"\\stamped", L"v", L"x"), ERROR_SUCCESS);
    const ULONGLONG after = now_units();
    Bstr sub(key_ + L"\\stamped"), missing(key_ + L"\\missing"), when;
    ASSERT_EQ(reg_->RegKeyLastWrite(Arg(L"HKCU"), sub.get(), Arg::missing(), when.put()), S_OK);
    const ULONGLONG written = units_of(when.str());
    EXPECT_GE(written + second, before) << narrow(when.str());
    EXPECT_LE(written, after + second) << narrow(when.str());
    ASSERT_EQ(reg_->RegKeyLastWrite(Arg(L"HKCU"), missing.get(), Arg::missing(), when.put()), S_OK);
    EXPECT_EQ(when.str(), L"");
}

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
