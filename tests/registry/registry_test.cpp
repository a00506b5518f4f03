// Registry objects of the registered library, activated by class identifier
// and driven through both routes (method table and IDispatch by name): what
// they read, write and create, by root-key handle value and by root-key name.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "regdata.h"
#include "routes.h"

namespace registry_tests {
namespace {

const std::wstring kTests = L"Software\\TarnwickTests\\registry\\";

std::wstring widen(const char* s)
{
    return std::wstring(s, s + std::char_traits<char>::length(s));
}

class RegistryFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(apartment_.hr, S_OK);
        name_ = widen(::testing::UnitTest::GetInstance()->current_test_info()->name());
        base_ = kTests + name_;
        cleanup(HKEY_CURRENT_USER, base_);
        ASSERT_TRUE(testkit::create<_Registry>(CLSID_Registry)) << "library not registered";
        routes_ = both_routes([] { return testkit::create<_Registry>(CLSID_Registry); });
    }
    void TearDown() override
    {
        for (auto& [root, path] : cleanup_)
            delete_tree(root, path);
    }

    // Removes the tree now and again when the test ends.
    void cleanup(HKEY root, const std::wstring& path)
    {
        delete_tree(root, path);
        cleanup_.emplace_back(root, path);
    }

    // Runs `body` once per route, with a key path of the route's own.
    void each_route(const std::function<void(Route&, const std::wstring&)>& body)
    {
        for (auto& r : routes_) {
            SCOPED_TRACE(r->name());
            std::wstring path = base_ + L"\\" + widen(r->name());
            ASSERT_EQ(make_key(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
            body(*r, path);
        }
    }

    testkit::Apartment apartment_;
    std::wstring name_, base_;
    std::vector<std::unique_ptr<Route>> routes_;
    std::vector<std::pair<HKEY, std::wstring>> cleanup_;
};

using RegistryRead = RegistryFixture;
using RegistryWrite = RegistryFixture;
using RegistryKeys = RegistryFixture;
using RegistryRoots = RegistryFixture;

// ---------------------------------------------------------------- reading

struct ReadCase {
    const char* what;
    DWORD type;
    std::string bytes;
    bool found;
    std::wstring text;
};

std::vector<ReadCase> read_cases()
{
    using namespace std::string_literals;
    std::vector<ReadCase> cases = {
        {"text with its NUL", REG_SZ, "abc\0"s, true, L"abc"},
        {"empty text (one NUL)", REG_SZ, "\0"s, true, L""},
        // Wine's ANSI query adds the NUL that a string type lacks, so text
        // without one reaches the method only under a non-string type.
        {"text without NUL comes back whole", REG_NONE, "abc"s, true, L"abc"},
        {"two NULs lose only the last", REG_SZ, "abc\0\0"s, true, L"abc\0"s},
        {"DWORD 1 is three characters", REG_DWORD, "\x01\0\0\0"s, true, L"\x01\0\0"s},
        {"multi-string a, b", REG_MULTI_SZ, "a\0b\0\0"s, true, L"a\0b\0"s},
        {"binary without NUL", REG_BINARY, "xyz"s, true, L"xyz"},
        {"only the last byte is looked at", REG_BINARY, "\0q\0"s, true, L"\0q"s},
        // Any length reads whole: up to 1023 characters in the first read,
        // longer values in a second one of their own size.
        {"1023 characters", REG_SZ, std::string(1023, 'x') + '\0', true, std::wstring(1023, L'x')},
        {"1024 characters", REG_SZ, std::string(1024, 'y') + '\0', true, std::wstring(1024, L'y')},
        {"5000 characters", REG_SZ, std::string(5000, 'z') + '\0', true, std::wstring(5000, L'z')},
        {"1 MiB of characters", REG_SZ, std::string(1 << 20, 'm') + '\0', true,
         std::wstring(1 << 20, L'm')},
        {"2049 binary bytes", REG_BINARY, std::string(2049, 'b'), true, std::wstring(2049, L'b')},
    };
    if (GetACP() == 1252)
        cases.push_back({"upper half of code page 1252", REG_SZ, "\xE9t\xE9\x80\0"s, true,
                         L"\u00E9t\u00E9\u20AC"});
    return cases;
}

TEST_F(RegistryRead, ValueDataBecomesText)
{
    const auto cases = read_cases();
    each_route([&](Route& r, const std::wstring& path) {
        for (size_t i = 0; i < cases.size(); ++i) {
            const ReadCase& c = cases[i];
            SCOPED_TRACE(c.what);
            char name[16];
            std::snprintf(name, sizeof name, "v%u", static_cast<unsigned>(i));
            const std::wstring wname = widen(name);
            ASSERT_EQ(set_bytes(HKEY_CURRENT_USER, path, name, c.type, c.bytes), ERROR_SUCCESS);
            auto stored = read_bytes(HKEY_CURRENT_USER, path, name);
            ASSERT_TRUE(stored);
            ASSERT_EQ(stored->bytes, c.bytes) << "test data not stored as meant";

            Bstr data(L"keep");
            VARIANT_BOOL ok;
            EXPECT_EQ(r.QueryRegValue(kHKCU, path, wname, data, ok), S_OK);
            EXPECT_EQ(ok, c.found ? VARIANT_TRUE : VARIANT_FALSE);
            EXPECT_EQ(data.str(), c.found ? c.text : L"keep");

            Bstr key(path), value(wname), result;
            EXPECT_EQ(r.RegReadString(L"HKCU", key, value, result), S_OK);
            EXPECT_EQ(result.str(), c.found ? c.text : L"");
            EXPECT_EQ(key.str(), path);
            EXPECT_EQ(value.str(), wname);
        }
    });
}

// A value without any data is an existing, empty value: no run-time error.
TEST_F(RegistryRead, ValueWithoutDataIsEmptyText)
{
    each_route([&](Route& r, const std::wstring& path) {
        for (DWORD type : {DWORD{REG_BINARY}, DWORD{REG_SZ}}) {
            SCOPED_TRACE(type);
            ASSERT_EQ(set_wide(HKEY_CURRENT_USER, path, L"none", type, L"", 0), ERROR_SUCCESS);
            auto stored = read_bytes(HKEY_CURRENT_USER, path, "none");
            ASSERT_TRUE(stored);
            ASSERT_EQ(stored->bytes.size(), 0u);

            Bstr data(L"keep");
            VARIANT_BOOL ok;
            EXPECT_EQ(r.QueryRegValue(kHKCU, path, L"none", data, ok), S_OK);
            EXPECT_EQ(ok, VARIANT_TRUE);
            EXPECT_EQ(data.str(), L"");

            Bstr key(path), value(L"none"), result(L"stale");
            EXPECT_EQ(r.RegReadString(L"HKCU", key, value, result), S_OK);
            EXPECT_EQ(result.str(), L"");
        }
    });
}

TEST_F(RegistryRead, MissingKeyOrValueLeavesDataAlone)
{
    each_route([&](Route& r, const std::wstring& path) {
        ASSERT_EQ(set_text(HKEY_CURRENT_USER, path, L"there", L"x"), ERROR_SUCCESS);
        const struct {
            const char* what;
            std::wstring key, value;
        } cases[] = {
            {"missing key", path + L"\\missing", L"there"},
            {"missing value", path, L"absent"},
            {"default value never set", path, L""},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            Bstr data(L"keep");
            VARIANT_BOOL ok;
            EXPECT_EQ(r.QueryRegValue(kHKCU, c.key, c.value, data, ok), S_OK);
            EXPECT_EQ(ok, VARIANT_FALSE);
            EXPECT_EQ(data.str(), L"keep");

            Bstr null_data;
            EXPECT_EQ(r.QueryRegValue(kHKCU, c.key, c.value, null_data, ok), S_OK);
            EXPECT_EQ(ok, VARIANT_FALSE);
            EXPECT_EQ(null_data.str(), L"");

            Bstr key(c.key), value(c.value), result;
            EXPECT_EQ(r.RegReadString(L"HKCU", key, value, result), S_OK);
            EXPECT_EQ(result.str(), L"");
        }
    });
}

TEST_F(RegistryRead, EmptyValueNameIsTheDefaultValue)
{
    each_route([&](Route& r, const std::wstring& path) {
        Bstr buffer(L"first");
        VARIANT_BOOL ok;
        EXPECT_EQ(r.SetRegValue(kHKCU, path, L"", buffer, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(read_text(HKEY_CURRENT_USER, path, nullptr), L"first");

        Bstr data;
        EXPECT_EQ(r.QueryRegValue(kHKCU, path, L"", data, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(data.str(), L"first");

        Bstr value_text(L"second");
        SHORT written;
        EXPECT_EQ(r.RegWriteString(L"HKEY_CURRENT_USER", path, L"", value_text, written), S_OK);
        EXPECT_EQ(written, 1);
        Bstr key(path), value(L""), result;
        EXPECT_EQ(r.RegReadString(L"HKCU", key, value, result), S_OK);
        EXPECT_EQ(result.str(), L"second");
    });
}

// A key handle obtained elsewhere works as RootKey, and an empty or null
// sub-key addresses that key itself.
TEST_F(RegistryRead, HandleFromElsewhereAndEmptySubKey)
{
    auto early = testkit::create<_Registry>(CLSID_Registry);
    ASSERT_TRUE(early);
    std::wstring path = base_ + L"\\handle";
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, path, nullptr, L"default text"), ERROR_SUCCESS);
    testkit::Key k;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, k.put()), ERROR_SUCCESS);
    const auto raw = reinterpret_cast<LONG_PTR>(k.get());
    if (raw != static_cast<LONG>(raw))
        GTEST_SKIP() << "this key handle does not fit in 32 bits";
    const LONG handle = static_cast<LONG>(raw);

    // Null strings stand for empty ones: no sub-key, the default value.
    Bstr data;
    VARIANT_BOOL ok = 7;
    EXPECT_EQ(early->QueryRegValue(handle, nullptr, nullptr, data.ref(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(data.str(), L"default text");

    each_route([&](Route& r, const std::wstring&) {
        Bstr d;
        VARIANT_BOOL found;
        EXPECT_EQ(r.QueryRegValue(handle, L"", L"", d, found), S_OK);
        EXPECT_EQ(found, VARIANT_TRUE);
        EXPECT_EQ(d.str(), L"default text");
    });
}

// ---------------------------------------------------------------- writing

TEST_F(RegistryWrite, StoresAnsiTextWithOneNul)
{
    each_route([&](Route& r, const std::wstring& path) {
        Bstr buffer(L"hello");
        VARIANT_BOOL ok;
        EXPECT_EQ(r.SetRegValue(kHKCU, path, L"w", buffer, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(buffer.str(), L"hello");
        auto stored = read_bytes(HKEY_CURRENT_USER, path, "w");
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->type, DWORD{REG_SZ});
        EXPECT_EQ(stored->bytes, std::string("hello\0", 6));

        Bstr value(L"hi");
        SHORT written;
        EXPECT_EQ(r.RegWriteString(L"HKCU", path, L"w2", value, written), S_OK);
        EXPECT_EQ(written, 1);
        stored = read_bytes(HKEY_CURRENT_USER, path, "w2");
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->type, DWORD{REG_SZ});
        EXPECT_EQ(stored->bytes, std::string("hi\0", 3));
    });
}

TEST_F(RegistryWrite, EmptyTextReplacesDwordWithOneNulText)
{
    each_route([&](Route& r, const std::wstring& path) {
        const DWORD five = 5;
        for (const wchar_t* name : {L"set", L"write", L"null"})
            ASSERT_EQ(set_wide(HKEY_CURRENT_USER, path, name, REG_DWORD, &five, 4), ERROR_SUCCESS);

        Bstr empty(L"");
        VARIANT_BOOL ok;
        EXPECT_EQ(r.SetRegValue(kHKCU, path, L"set", empty, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(empty.str(), L"");

        Bstr null_text;  // the null string is the empty string
        EXPECT_EQ(r.SetRegValue(kHKCU, path, L"null", null_text, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);

        Bstr value(L"");
        SHORT written;
        EXPECT_EQ(r.RegWriteString(L"HKCU", path, L"write", value, written), S_OK);
        EXPECT_EQ(written, 1);

        for (const char* name : {"set", "write", "null"}) {
            SCOPED_TRACE(name);
            auto stored = read_bytes(HKEY_CURRENT_USER, path, name);
            ASSERT_TRUE(stored);
            EXPECT_EQ(stored->type, DWORD{REG_SZ});
            EXPECT_EQ(stored->bytes, std::string(1, '\0'));
        }
    });
}

TEST_F(RegistryWrite, MissingKeyIsNeitherWrittenNorCreated)
{
    each_route([&](Route& r, const std::wstring& path) {
        Bstr buffer(L"x\u4E2D");  // untouched, so not converted either
        VARIANT_BOOL ok;
        EXPECT_EQ(r.SetRegValue(kHKCU, path + L"\\missing", L"v", buffer, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_FALSE);
        EXPECT_EQ(buffer.str(), L"x\u4E2D");
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, path + L"\\missing"));

        Bstr value(L"x");
        SHORT written;
        EXPECT_EQ(r.RegWriteString(L"HKCU", path + L"\\missing2", L"v", value, written), S_OK);
        EXPECT_EQ(written, 0);
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, path + L"\\missing2"));
    });
}

// Text crosses into Windows whole, in key names, value names and data, both
// ways: nothing outside the ANSI code page is replaced, and a value name is
// never turned into a look-alike of its neighbour ("\u0142" into "l").
TEST_F(RegistryWrite, TextOutsideTheAnsiCodePageIsKeptWhole)
{
    const std::wstring text = L"caf\u00E9 \u6771\u4EAC \u0142 \u20AC \U0001F600";
    const std::wstring look_alike = L"\u0142";
    each_route([&](Route& r, const std::wstring& path) {
        ASSERT_EQ(set_text(HKEY_CURRENT_USER, path, L"l", L"neighbour"), ERROR_SUCCESS);
        Bstr buffer(text);
        VARIANT_BOOL ok;
        EXPECT_EQ(r.SetRegValue(kHKCU, path, look_alike, buffer, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(buffer.str(), text);
        EXPECT_EQ(read_text(HKEY_CURRENT_USER, path, look_alike.c_str()), text);
        EXPECT_EQ(read_text(HKEY_CURRENT_USER, path, L"l"), L"neighbour");

        Bstr value(text);
        SHORT written;
        EXPECT_EQ(r.RegWriteString(L"HKCU", path, L"w\u20AC", value, written), S_OK);
        EXPECT_EQ(written, 1);
        EXPECT_EQ(value.str(), text);
        EXPECT_EQ(read_text(HKEY_CURRENT_USER, path, L"w\u20AC"), text);

        const std::wstring sub = path + L"\\\u6771\u4EAC";
        Bstr root(L"HKCU"), key(sub);
        SHORT created;
        EXPECT_EQ(r.RegCreateKey(root, key, created), S_OK);
        EXPECT_EQ(created, 1);
        ASSERT_EQ(set_text(HKEY_CURRENT_USER, sub, look_alike.c_str(), text), ERROR_SUCCESS);
        Bstr data;
        EXPECT_EQ(r.QueryRegValue(kHKCU, sub, look_alike, data, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(data.str(), text);
        Bstr read_key(sub), read_name(look_alike), read;
        EXPECT_EQ(r.RegReadString(L"HKCU", read_key, read_name, read), S_OK);
        EXPECT_EQ(read.str(), text);
    });
}

// ---------------------------------------------------------------- keys

TEST_F(RegistryKeys, RegCreateKeyCreatesThePathThenOpensIt)
{
    each_route([&](Route& r, const std::wstring& path) {
        const std::wstring leaf = path + L"\\a\\b\\c";
        Bstr root(L"HKCU"), key(leaf);
        SHORT outcome;
        EXPECT_EQ(r.RegCreateKey(root, key, outcome), S_OK);
        EXPECT_EQ(outcome, 1);
        EXPECT_EQ(root.str(), L"HKCU");
        EXPECT_EQ(key.str(), leaf);
        EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, path + L"\\a"));
        EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, path + L"\\a\\b"));
        EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, leaf));
        EXPECT_EQ(key_class(HKEY_CURRENT_USER, leaf), L"1");

        EXPECT_EQ(r.RegCreateKey(root, key, outcome), S_OK);
        EXPECT_EQ(outcome, 2);
    });
}

TEST_F(RegistryKeys, CreateRegKeyReportsTheDisposition)
{
    each_route([&](Route& r, const std::wstring& path) {
        const std::wstring leaf = path + L"\\x\\y";
        LONG status = 99;
        VARIANT_BOOL ok;
        EXPECT_EQ(r.CreateRegKey(kHKCU, leaf, status, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(status, 1);
        EXPECT_EQ(key_class(HKEY_CURRENT_USER, leaf), L"1");
        EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, path + L"\\x"));

        status = 99;
        EXPECT_EQ(r.CreateRegKey(kHKCU, leaf, status, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(status, 2);
    });
}

TEST_F(RegistryKeys, FailedCreateLeavesKeyStatusAlone)
{
    each_route([&](Route& r, const std::wstring& path) {
        LONG status = 12345;
        VARIANT_BOOL ok;
        EXPECT_EQ(r.CreateRegKey(0, L"Software\\TarnwickTests\\registry\\nowhere", status, ok),
                  S_OK);
        EXPECT_EQ(ok, VARIANT_FALSE);
        EXPECT_EQ(status, 12345);

        Bstr root(L"HKEY_USERS"), key(path + L"\\never");
        SHORT outcome;
        EXPECT_EQ(r.RegCreateKey(root, key, outcome), S_OK);
        EXPECT_EQ(outcome, 0);
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, path + L"\\never"));
    });
}

// ---------------------------------------------------------------- root keys

TEST_F(RegistryRoots, SixNamesWithEveryNameLevelMethod)
{
    const std::wstring hkcr_base = L"TarnwickTests.registry";
    const std::wstring hklm_base = kTests + name_;
    cleanup(HKEY_CLASSES_ROOT, hkcr_base);
    cleanup(HKEY_LOCAL_MACHINE, hklm_base);
    const struct {
        const wchar_t* name;
        HKEY root;
        std::wstring base;
    } names[] = {
        {L"HKCR", HKEY_CLASSES_ROOT, hkcr_base},
        {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, hkcr_base},
        {L"HKCU", HKEY_CURRENT_USER, base_},
        {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER, base_},
        {L"HKLM", HKEY_LOCAL_MACHINE, hklm_base},
        {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, hklm_base},
    };
    each_route([&](Route& r, const std::wstring&) {
        for (const auto& n : names) {
            SCOPED_TRACE(testing::Message() << std::string(n.name, n.name + wcslen(n.name)));
            const std::wstring path = n.base + L"\\" + widen(r.name()) + L"\\" + n.name;
            Bstr root(n.name), key(path);
            SHORT outcome;
            EXPECT_EQ(r.RegCreateKey(root, key, outcome), S_OK);
            EXPECT_EQ(outcome, 1);
            EXPECT_TRUE(key_exists(n.root, path));
            EXPECT_EQ(r.RegCreateKey(root, key, outcome), S_OK);
            EXPECT_EQ(outcome, 2);

            Bstr value(n.name);
            SHORT written;
            EXPECT_EQ(r.RegWriteString(n.name, path, L"v", value, written), S_OK);
            EXPECT_EQ(written, 1);
            EXPECT_EQ(read_text(n.root, path, L"v"), n.name);

            Bstr read_key(path), read_value(L"v"), result;
            EXPECT_EQ(r.RegReadString(n.name, read_key, read_value, result), S_OK);
            EXPECT_EQ(result.str(), n.name);
        }
    });
}

// Names are compared exactly: any other text is no root key at all.
TEST_F(RegistryRoots, OtherNamesBehaveLikeAMissingKey)
{
    const std::wstring users_base = L".DEFAULT\\" + kTests + name_;
    cleanup(HKEY_LOCAL_MACHINE, base_);
    cleanup(HKEY_USERS, users_base);
    ASSERT_EQ(make_key(HKEY_USERS, users_base), ERROR_SUCCESS) << "HKU\\.DEFAULT not writable";
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        ASSERT_EQ(make_key(root, base_), ERROR_SUCCESS);
        ASSERT_EQ(set_text(root, base_, L"v", L"present"), ERROR_SUCCESS);
    }
    ASSERT_EQ(set_text(HKEY_USERS, users_base, L"v", L"present"), ERROR_SUCCESS);

    const wchar_t* names[] = {L"hklm",
                              L"Hklm",
                              L"HKLM ",
                              L" HKLM",
                              L"hkcu",
                              L"Hkcu",
                              L"HKCU ",
                              L"hkey_current_user",
                              L"HKEY_LOCAL_MACHINE ",
                              L"HKEY_USERS",
                              L"HKU",
                              L"HKCR\\",
                              L""};
    each_route([&](Route& r, const std::wstring&) {
        for (const wchar_t* name : names) {
            SCOPED_TRACE(testing::Message()
                         << "'" << std::string(name, name + wcslen(name)) << "'");
            const std::wstring path = std::wstring(name) == L"HKEY_USERS" ? users_base : base_;
            Bstr key(path), value(L"v"), result;
            EXPECT_EQ(r.RegReadString(name, key, value, result), S_OK);
            EXPECT_EQ(result.str(), L"");

            Bstr changed(L"changed");
            SHORT written;
            EXPECT_EQ(r.RegWriteString(name, path, L"v", changed, written), S_OK);
            EXPECT_EQ(written, 0);

            Bstr root(name), new_key(path + L"\\new");
            SHORT outcome;
            EXPECT_EQ(r.RegCreateKey(root, new_key, outcome), S_OK);
            EXPECT_EQ(outcome, 0);
            EXPECT_EQ(root.str(), name);
        }
    });
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        EXPECT_EQ(read_text(root, base_, L"v"), L"present");
        EXPECT_FALSE(key_exists(root, base_ + L"\\new"));
    }
    EXPECT_EQ(read_text(HKEY_USERS, users_base, L"v"), L"present");
    EXPECT_FALSE(key_exists(HKEY_USERS, users_base + L"\\new"));
}

// The handle-level methods hand any root to Windows, HKEY_USERS included.
TEST_F(RegistryRoots, HandleLevelMethodsReachHkeyUsers)
{
    const std::wstring users_base = L".DEFAULT\\" + kTests + name_;
    cleanup(HKEY_USERS, users_base);
    each_route([&](Route& r, const std::wstring&) {
        const std::wstring path = users_base + L"\\" + widen(r.name());
        LONG status = 0;
        VARIANT_BOOL ok;
        EXPECT_EQ(r.CreateRegKey(kHKU, path, status, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(status, 1);
        ASSERT_TRUE(key_exists(HKEY_USERS, path));

        Bstr buffer(L"users");
        EXPECT_EQ(r.SetRegValue(kHKU, path, L"v", buffer, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(read_text(HKEY_USERS, path, L"v"), L"users");

        Bstr data;
        EXPECT_EQ(r.QueryRegValue(kHKU, path, L"v", data, ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(data.str(), L"users");
    });
}

}  // namespace
}  // namespace registry_tests
