// Registry 1.1 (_Registry2) on the registered library: every value type
// written and read back, against the bytes Windows stores; each argument
// fault with its run-time error and nothing written; deleting, listing and
// existence; both registry views from this process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <tuple>
#include <string>
#include <vector>

#include "args.h"
#include "keys.h"
#include "seam.h"

using namespace testkit;

namespace {

constexpr HRESULT kInvalidCall = run_time_error(5);
constexpr HRESULT kOverflow = run_time_error(6);
constexpr HRESULT kTypeMismatch = run_time_error(13);

class Registry2 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(apartment_.hr, S_OK);
        reg_ = create<_Registry2>(CLSID_Registry);
        ASSERT_TRUE(reg_) << "library not registered";
        key_ = test_key(L"registry2");
        delete_tree(HKEY_CURRENT_USER, key_);
    }
    void TearDown() override { delete_tree(HKEY_CURRENT_USER, key_); }

    Apartment apartment_;
    Com<_Registry2> reg_;
    std::wstring key_;
};

// A 64-bit unsigned number, as PowerShell passes a [uint64].
Arg unsigned_64(ULONGLONG n)
{
    Arg a;
    V_VT(&a) = VT_UI8;
    V_UI8(&a) = n;
    return a;
}

TEST_F(Registry2, EveryTypeIsStoredAndReadBack)
{
    using namespace std::string_literals;
    const struct Case {
        const char* what;
        Arg value, type;
        DWORD stored_type;
        std::string stored;
        std::vector<std::wstring> read;  // as items_of gives an array, or one text
        VARTYPE read_type;
    } cases[] = {
        {"text", L"caf\u00e9", Arg::missing(), REG_SZ, wide_bytes(L"caf\u00e9"s + L'\0'), {L"caf\u00e9"}, VT_BSTR},
        {"expandable text", L"%TEMP%\\x", L"reg_expand_sz", REG_EXPAND_SZ, wide_bytes(L"%TEMP%\\x"s + L'\0'), {L"%TEMP%\\x"}, VT_BSTR},
        {"whole number", 42L, Arg::missing(), REG_DWORD, "\x2a\0\0\0"s, {L"42"}, VT_I4},
        {"all 32 bits", 4294967295.0, Arg::missing(), REG_DWORD, "\xff\xff\xff\xff"s, {L"-1"}, VT_I4},
        {"negative", -2L, L"REG_DWORD", REG_DWORD, "\xfe\xff\xff\xff"s, {L"-2"}, VT_I4},
        {"text as a number", L"17", 4L, REG_DWORD, "\x11\0\0\0"s, {L"17"}, VT_I4},
        {"past 32 bits", 5000000000.0, Arg::missing(), REG_QWORD, "\x00\xf2\x05\x2a\x01\0\0\0"s, {L"(type 5)"}, VT_R8},
        {"quad word past 2^53", L"18446744073709551615", L"REG_QWORD", REG_QWORD, "\xff\xff\xff\xff\xff\xff\xff\xff"s, {L"18446744073709551615"}, VT_BSTR},
        {"an unsigned 64-bit number", unsigned_64(~0ull), Arg::missing(), REG_QWORD, "\xff\xff\xff\xff\xff\xff\xff\xff"s, {L"18446744073709551615"}, VT_BSTR},
        {"texts", Arg::array({text_item(L"a"), text_item(L"bc")}), Arg::missing(), REG_MULTI_SZ, wide_bytes(L"a\0bc\0\0"s), {L"a", L"bc"}, VT_ARRAY | VT_VARIANT},
        {"numbers 0 to 255", Arg::array({number_item(1), number_item(255)}), Arg::missing(), REG_BINARY, "\x01\xff"s, {L"(type 17)", L"(type 17)"}, VT_ARRAY | VT_VARIANT},
        {"no items", Arg::array({}), 3L, REG_BINARY, ""s, {}, VT_ARRAY | VT_VARIANT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bstr key(key_ + L"\\types"), name(widen(c.what));
        VARIANT_BOOL ok = VARIANT_FALSE;
        ASSERT_EQ(reg_->RegWriteValue(Arg(L"HKCU"), key.get(), name.get(), c.value, c.type,
                                      Arg::missing(), &ok),
                  S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        DWORD type = 0;
        EXPECT_EQ(bytes_of(HKEY_CURRENT_USER, key.str(), name.get(), type), c.stored);
        EXPECT_EQ(type, c.stored_type);
        Variant read;
        ASSERT_EQ(reg_->RegReadValue(Arg(L"HKCU"), key.get(), name.get(), Arg::missing(), &read), S_OK);
        EXPECT_EQ(V_VT(&read), c.read_type);
        if (V_VT(&read) == (VT_ARRAY | VT_VARIANT))
            EXPECT_EQ(items_of(read), c.read);
        else
            EXPECT_EQ(std::vector<std::wstring>{text_of(read)}, c.read);
    }
    // The binary items are Bytes, and the quad word below 2^53 a Double.
    Variant read;
    Bstr key(key_ + L"\\types"), binary(L"numbers 0 to 255"), quad(L"past 32 bits");
    ASSERT_EQ(reg_->RegReadValue(Arg(L"HKCU"), key.get(), binary.get(), Arg::missing(), &read), S_OK);
    EXPECT_EQ(V_UI1(&static_cast<VARIANT*>(V_ARRAY(&read)->pvData)[1]), 255);
    ASSERT_EQ(reg_->RegReadValue(Arg(L"HKCU"), key.get(), quad.get(), Arg::missing(), &read), S_OK);
    EXPECT_EQ(V_R8(&read), 5000000000.0);

    // Types it only reads, and a missing value.
    ASSERT_EQ(set_wide(HKEY_CURRENT_USER, key.str(), L"none", REG_NONE, "\x07", 1), ERROR_SUCCESS);
    Bstr none(L"none"), missing(L"missing"), type_name;
    ASSERT_EQ(reg_->RegValueType(Arg(L"HKCU"), key.get(), none.get(), Arg::missing(), type_name.put()), S_OK);
    EXPECT_EQ(type_name.str(), L"REG_NONE");
    ASSERT_EQ(reg_->RegReadValue(Arg(L"HKCU"), key.get(), none.get(), Arg::missing(), &read), S_OK);
    EXPECT_EQ(items_of(read), std::vector<std::wstring>{L"(type 17)"});
    ASSERT_EQ(reg_->RegReadValue(Arg(L"HKCU"), key.get(), missing.get(), Arg::missing(), &read), S_OK);
    EXPECT_EQ(V_VT(&read), VT_EMPTY);
    ASSERT_EQ(reg_->RegValueType(Arg(L"HKCU"), key.get(), missing.get(), Arg::missing(), type_name.put()), S_OK);
    EXPECT_EQ(type_name.str(), L"");
}

// Argument faults end the call with a run-time error, before anything is
// written; the result is False.
TEST_F(Registry2, ArgumentFaultsAreRunTimeErrors)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    const struct Case {
        const char* what;
        Arg root, value, type, view;
        HRESULT status;
    } cases[] = {
        {"unknown root name", L"HKEY_NOWHERE", L"x", Arg::missing(), Arg::missing(), kInvalidCall},
        {"root handle out of range", 7L, L"x", Arg::missing(), Arg::missing(), kInvalidCall},
        {"view 16", L"HKCU", L"x", Arg::missing(), 16L, kInvalidCall},
        {"unknown type name", L"HKCU", L"x", L"REG_TEXT", Arg::missing(), kInvalidCall},
        {"a type it does not write", L"HKCU", L"x", 8L, Arg::missing(), kInvalidCall},
        {"text for REG_DWORD", L"HKCU", L"twelve", L"REG_DWORD", Arg::missing(), kTypeMismatch},
        {"a fraction", L"HKCU", 2.5, Arg::missing(), Arg::missing(), kTypeMismatch},
        {"REG_DWORD past 32 bits", L"HKCU", 5000000000.0, L"REG_DWORD", Arg::missing(), kOverflow},
        {"past 64 bits", L"HKCU", 1e20, Arg::missing(), Arg::missing(), kOverflow},
        {"text past a Double's range", L"HKCU", L"1e400", L"REG_QWORD", Arg::missing(), kOverflow},
        {"a number among texts", L"HKCU", Arg::array({text_item(L"a"), number_item(1)}), L"REG_MULTI_SZ", Arg::missing(), kTypeMismatch},
        {"an empty text in a list", L"HKCU", Arg::array({text_item(L"a"), text_item(L"")}), Arg::missing(), Arg::missing(), kTypeMismatch},
        {"a byte of 256", L"HKCU", Arg::array({number_item(256)}), Arg::missing(), Arg::missing(), kOverflow},
        {"text for REG_BINARY", L"HKCU", L"x", L"REG_BINARY", Arg::missing(), kTypeMismatch},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bstr key(key_ + L"\\faults"), name(L"v");
        VARIANT_BOOL ok = 7;
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(reg_->RegWriteValue(c.root, key.get(), name.get(), c.value, c.type, c.view, &ok),
                  c.status);
        EXPECT_EQ(ok, VARIANT_FALSE);
        EXPECT_FALSE(error_description().empty());
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, key.str()));
    }
    // A root is never deleted.
    Bstr empty;
    VARIANT_BOOL ok = 7;
    EXPECT_EQ(reg_->RegDeleteKey(Arg(L"HKCU"), empty.get(), Arg(-1L), Arg::missing(), &ok), kInvalidCall);
    EXPECT_EQ(ok, VARIANT_FALSE);
}

TEST_F(Registry2, DeleteListAndExist)
{
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, key_ + L"\\empty"), ERROR_SUCCESS);
    Bstr key(key_), empty(key_ + L"\\empty"), many(key_ + L"\\many");
    Variant list;
    ASSERT_EQ(reg_->RegEnumKeys(Arg(L"HKCU"), empty.get(), Arg::missing(), &list), S_OK);
    EXPECT_EQ(V_VT(&list), VT_ARRAY | VT_VARIANT);
    EXPECT_TRUE(items_of(list).empty());
    Bstr missing(key_ + L"\\missing");
    ASSERT_EQ(reg_->RegEnumValues(Arg(L"HKCU"), missing.get(), Arg::missing(), &list), S_OK);
    EXPECT_EQ(V_VT(&list), VT_EMPTY);

    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(make_key(HKEY_CURRENT_USER, key_ + L"\\many\\k" + std::to_wstring(i)), ERROR_SUCCESS);
    ASSERT_EQ(reg_->RegEnumKeys(Arg(static_cast<LONG>(0x80000001)), many.get(), Arg(0L), &list), S_OK);
    auto names = items_of(list);
    ASSERT_EQ(names.size(), 1000u);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names.front(), L"k0");
    EXPECT_EQ(names.back(), L"k999");

    ASSERT_EQ(set_text(HKEY_CURRENT_USER, key_, nullptr, L"default"), ERROR_SUCCESS);
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, key_, L"named", L"x"), ERROR_SUCCESS);
    ASSERT_EQ(reg_->RegEnumValues(Arg(L"hkey_current_user"), key.get(), Arg::missing(), &list), S_OK);
    names = items_of(list);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"", L"named"}));

    VARIANT_BOOL ok = 7;
    Bstr named(L"named");
    ASSERT_EQ(reg_->RegValueExists(Arg(L"HKCU"), key.get(), named.get(), Arg::missing(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    ASSERT_EQ(reg_->RegDeleteValue(Arg(L"HKCU"), key.get(), named.get(), Arg::missing(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    ASSERT_EQ(reg_->RegDeleteValue(Arg(L"HKCU"), key.get(), named.get(), Arg::missing(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_FALSE(value_exists(HKEY_CURRENT_USER, key_, L"named"));

    // Without Recursive a key with subkeys stays; with it, it goes whole.
    ASSERT_EQ(reg_->RegDeleteKey(Arg(L"HKCU"), many.get(), Arg::missing(), Arg::missing(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, key_ + L"\\many\\k5"));
    ASSERT_EQ(reg_->RegDeleteKey(Arg(L"HKCU"), many.get(), Arg(-1L), Arg::missing(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, key_ + L"\\many"));
    ASSERT_EQ(reg_->RegKeyExists(Arg(L"HKCU"), many.get(), Arg::missing(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    ASSERT_EQ(reg_->RegDeleteKey(Arg(L"HKCU"), empty.get(), Arg::missing(), Arg::missing(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    ASSERT_EQ(reg_->RegKeyExists(Arg(L"HKCU"), key.get(), Arg::missing(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
}

// Both registry views from this process, whatever its bitness: a value
// written through View 64 is in the 64-bit view only, and the other way
// round, and each reads back through its own view.
TEST_F(Registry2, BothViews)
{
    const std::wstring key = L"Software\\TarnwickTests\\registry2-views\\" +
                             std::to_wstring(GetCurrentProcessId());
    for (const auto& [view, flag, other] :
         {std::tuple{64L, KEY_WOW64_64KEY, KEY_WOW64_32KEY},
          std::tuple{32L, KEY_WOW64_32KEY, KEY_WOW64_64KEY}}) {
        SCOPED_TRACE(view);
        Bstr sub(key), name(L"bits");
        VARIANT_BOOL ok = VARIANT_FALSE;
        ASSERT_EQ(reg_->RegWriteValue(Arg(L"HKLM"), sub.get(), name.get(), Arg(view), Arg::missing(),
                                      Arg(view), &ok),
                  S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        DWORD type = 0;
        EXPECT_EQ(bytes_of(HKEY_LOCAL_MACHINE, key, L"bits", type, flag), std::string(reinterpret_cast<const char*>(&view), 4));
        EXPECT_EQ(bytes_of(HKEY_LOCAL_MACHINE, key, L"bits", type, other).substr(0, 4), "(no ");
        Variant read;
        ASSERT_EQ(reg_->RegReadValue(Arg(L"HKLM"), sub.get(), name.get(), Arg(view), &read), S_OK);
        EXPECT_EQ(text_of(read), std::to_wstring(view));
        ASSERT_EQ(reg_->RegDeleteKey(Arg(L"HKLM"), sub.get(), Arg(-1L), Arg(view), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, key, flag));
    }
}

// A key path or value name with a NUL inside is refused before anything is
// opened: 1.1 raises error 5, 1.0 gives its failure result. A path that
// names a root (empty, or backslashes only) is never deleted, in either
// view. Canary keys in the roots, and the library's own registration, show
// that nothing outside the named key was touched.
TEST_F(Registry2, RootsAndNulsReachNothingElse)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    using namespace std::string_literals;
    const std::wstring canary = L"TarnwickCanary-" + std::to_wstring(GetCurrentProcessId());
    // HKEY_USERS takes no keys of ours: its default user stands in.
    const struct Root {
        const wchar_t* name;
        HKEY key;
        std::wstring canary;
    } roots[] = {{L"HKCR", HKEY_CLASSES_ROOT, canary + L"\\inner"},
                 {L"HKCU", HKEY_CURRENT_USER, canary + L"\\inner"},
                 {L"HKLM", HKEY_LOCAL_MACHINE, canary + L"\\inner"},
                 {L"HKU", HKEY_USERS, L".DEFAULT\\Software"}};
    for (const Root& r : roots) {
        if (r.key != HKEY_USERS) {
            ASSERT_EQ(make_key(r.key, r.canary), ERROR_SUCCESS);
        }
        ASSERT_TRUE(key_exists(r.key, r.canary));
    }
    const std::wstring registration = L"CLSID\\" + guid_text(CLSID_Registry) + L"\\InprocServer32";
    ASSERT_TRUE(key_exists(HKEY_CLASSES_ROOT, registration));
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, key_), ERROR_SUCCESS);
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, key_, L"a", L"kept"), ERROR_SUCCESS);

    // Each call takes a root, a path and, where `named`, a value name.
    using Run = std::function<HRESULT(const Root&, BSTR path, BSTR name, std::wstring& result)>;
    auto as_text = [](const VARIANT_BOOL b) { return b == VARIANT_FALSE ? L"False"s : L"True"s; };
    auto whole = [](BSTR s) { return std::wstring(s, SysStringLen(s)); };
    auto handle = [](const Root& r) { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(r.key)); };
    struct Call {
        const char* method;
        bool v11, named;
        Run run;
    };
    const Call calls[] = {
        {"CreateRegKey", false, false, [&](const Root& r, BSTR path, BSTR, std::wstring& out) {
             LONG status = 7;
             VARIANT_BOOL ok = 7;
             const HRESULT hr = reg_->CreateRegKey(handle(r), path, &status, &ok);
             out = as_text(ok) + (status == 7 ? L"" : L" status set");
             return hr; }},
        {"QueryRegValue", false, true, [&](const Root& r, BSTR path, BSTR name, std::wstring& out) {
             Bstr data(L"before");
             VARIANT_BOOL ok = 7;
             const HRESULT hr = reg_->QueryRegValue(handle(r), path, name, data.ref(), &ok);
             out = as_text(ok) + L" " + data.str();
             return hr; }},
        {"SetRegValue", false, true, [&](const Root& r, BSTR path, BSTR name, std::wstring& out) {
             Bstr data(L"before");
             VARIANT_BOOL ok = 7;
             const HRESULT hr = reg_->SetRegValue(handle(r), path, name, data.ref(), &ok);
             out = as_text(ok) + L" " + data.str();
             return hr; }},
        {"RegReadString", false, true, [&](const Root& r, BSTR path, BSTR name, std::wstring& out) {
             Bstr key(whole(path)), value(whole(name)), read;
             const HRESULT hr = reg_->RegReadString(Bstr(r.name).get(), key.ref(), value.ref(), read.put());
             out = L"False " + read.str();
             return hr; }},
        {"RegWriteString", false, true, [&](const Root& r, BSTR path, BSTR name, std::wstring& out) {
             SHORT written = 7;
             Bstr data(L"written");
             const HRESULT hr = reg_->RegWriteString(Bstr(r.name).get(), path, name, data.get(), &written);
             out = written == 0 ? L"False" : L"True";
             return hr; }},
        {"RegCreateKey", false, false, [&](const Root& r, BSTR path, BSTR, std::wstring& out) {
             Bstr root(r.name), key(whole(path));
             SHORT created = 7;
             const HRESULT hr = reg_->RegCreateKey(root.ref(), key.ref(), &created);
             out = created == 0 ? L"False" : L"True";
             return hr; }},
        {"RegReadValue", true, true, [&](const Root& r, BSTR path, BSTR name, std::wstring&) {
             Variant out;
             return reg_->RegReadValue(Arg(r.name), path, name, Arg::missing(), &out); }},
        {"RegWriteValue", true, true, [&](const Root& r, BSTR path, BSTR name, std::wstring&) {
             VARIANT_BOOL ok;
             return reg_->RegWriteValue(Arg(r.name), path, name, Arg(L"written"), Arg::missing(), Arg::missing(), &ok); }},
        {"RegDeleteValue", true, true, [&](const Root& r, BSTR path, BSTR name, std::wstring&) {
             VARIANT_BOOL ok;
             return reg_->RegDeleteValue(Arg(r.name), path, name, Arg::missing(), &ok); }},
        {"RegValueType", true, true, [&](const Root& r, BSTR path, BSTR name, std::wstring&) {
             Bstr type;
             return reg_->RegValueType(Arg(r.name), path, name, Arg::missing(), type.put()); }},
        {"RegValueExists", true, true, [&](const Root& r, BSTR path, BSTR name, std::wstring&) {
             VARIANT_BOOL ok;
             return reg_->RegValueExists(Arg(r.name), path, name, Arg::missing(), &ok); }},
        {"RegEnumKeys", true, false, [&](const Root& r, BSTR path, BSTR, std::wstring&) {
             Variant out;
             return reg_->RegEnumKeys(Arg(r.name), path, Arg::missing(), &out); }},
        {"RegEnumValues", true, false, [&](const Root& r, BSTR path, BSTR, std::wstring&) {
             Variant out;
             return reg_->RegEnumValues(Arg(r.name), path, Arg::missing(), &out); }},
        {"RegKeyExists", true, false, [&](const Root& r, BSTR path, BSTR, std::wstring&) {
             VARIANT_BOOL ok;
             return reg_->RegKeyExists(Arg(r.name), path, Arg::missing(), &ok); }},
    };
    // The deletes of a key, by name and by handle value, in every view.
    std::vector<Call> deletes;
    for (const bool recursive : {false, true}) {
        for (const LONG view : {0L, 32L, 64L}) {
            for (const bool by_handle : {false, true}) {
                deletes.push_back({"RegDeleteKey", true, false,
                    [=, this](const Root& r, BSTR path, BSTR, std::wstring&) {
                        VARIANT_BOOL ok;
                        const Arg root = by_handle ? Arg(handle(r)) : Arg(r.name);
                        return reg_->RegDeleteKey(root, path, Arg(recursive ? -1L : 0L), Arg(view), &ok);
                    }});
            }
        }
    }

    // A NUL in the path is refused by every method, in the value name by
    // every method that takes one, a root path by the deletes of a key.
    enum Kind { kNulPath, kNulName, kRootPath };
    const struct Input {
        const char* what;
        std::wstring path, name;
        Kind kind;
    } inputs[] = {
        {"a NUL-led path", L"\0x"s, L"a", kNulPath},
        {"a NUL alone", L"\0"s, L"a", kNulPath},
        {"a NUL after our key", key_ + L"\0\\x"s, L"x", kNulPath},
        {"a NUL inside the value name", key_, L"a\0b"s, kNulName},
        {"the empty path", L"", L"a", kRootPath},
        {"a backslash", L"\\", L"a", kRootPath},
        {"backslashes", L"\\\\\\", L"a", kRootPath},
    };
    unsigned tried = 0;
    for (const Input& in : inputs) {
        for (const Root& r : roots) {
            // Our key lives under HKCU.
            if (in.path.starts_with(key_) && r.key != HKEY_CURRENT_USER)
                continue;
            std::vector<const Call*> run;
            for (const Call& c : calls)
                if (in.kind == kNulPath || (in.kind == kNulName && c.named))
                    run.push_back(&c);
            if (in.kind != kNulName)
                for (const Call& c : deletes)
                    run.push_back(&c);
            for (const Call* c : run) {
                SCOPED_TRACE(std::string(c->method) + " with " + in.what + " under " + narrow(r.name));
                Bstr path(in.path), name(in.name);
                std::wstring result;
                const HRESULT hr = c->run(r, path.get(), name.get(), result);
                if (c->v11) {
                    EXPECT_EQ(hr, kInvalidCall);
                } else {
                    EXPECT_EQ(hr, S_OK);
                    EXPECT_TRUE(result == L"False" || result == L"False before" || result == L"False ")
                        << narrow(result);
                }
                ++tried;
            }
        }
    }
    for (const Root& r : roots) {
        EXPECT_TRUE(key_exists(r.key, r.canary)) << narrow(r.name);
        if (r.key != HKEY_USERS)
            delete_tree(r.key, canary);
    }
    EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, registration));
    EXPECT_EQ(read_text(HKEY_CURRENT_USER, key_, L"a"), L"kept");
    EXPECT_FALSE(value_exists(HKEY_CURRENT_USER, key_, L"x"));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, key_ + L"\\x"));
    std::printf("%u calls with NULs and root paths\n", tried);
}

// A client's list (an object with `length` and numbered items, as a
// JScript array is) that answers differently each time it is asked. Each
// item has a row of answers; a read past the last gives the last again.
class ChangingList final : public IDispatch {
public:
    using Answer = std::function<void(VARIANT&)>;
    ChangingList(std::vector<LONG> lengths, std::vector<std::vector<Answer>> items)
        : lengths_(std::move(lengths)), items_(std::move(items)), reads_(items_.size())
    {
    }
    // The most reads of `length` or of any one item.
    unsigned most_reads() const
    {
        unsigned most = length_reads_;
        for (unsigned n : reads_)
            most = std::max(most, n);
        return most;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (riid != IID_IUnknown && riid != IID_IDispatch) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the stack
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* id) override
    {
        const std::wstring name = names[0];
        if (name == L"length")
            return *id = kLength, S_OK;
        if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos ||
            std::stoul(name) >= items_.size())
            return DISP_E_UNKNOWNNAME;
        return *id = static_cast<DISPID>(std::stoul(name)), S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                     EXCEPINFO*, UINT*) override
    {
        VariantInit(result);
        if (id == kLength) {
            V_VT(result) = VT_I4;
            V_I4(result) = lengths_[std::min<size_t>(length_reads_++, lengths_.size() - 1)];
            return S_OK;
        }
        const auto& row = items_[static_cast<size_t>(id)];
        row[std::min<size_t>(reads_[static_cast<size_t>(id)]++, row.size() - 1)](*result);
        return S_OK;
    }

private:
    static constexpr DISPID kLength = 1000;
    ULONG refs_ = 1;
    std::vector<LONG> lengths_;
    std::vector<std::vector<Answer>> items_;
    std::vector<unsigned> reads_;
    unsigned length_reads_ = 0;
};

// A list whose items change between reads is read once: what was checked is
// what gets written, or the call fails with error 13 and writes nothing.
TEST_F(Registry2, AListThatChangesIsReadOnce)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    using namespace std::string_literals;
    const auto huge = [](VARIANT& v) {
        V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocStringLen(nullptr, 2000000);
        std::wmemset(V_BSTR(&v), L'x', 2000000);
    };
    const struct Case {
        const char* what;
        std::vector<LONG> lengths;
        std::vector<std::vector<ChangingList::Answer>> items;
        const wchar_t* type;  // null: the type the value gives
        HRESULT status;
        DWORD stored_type;
        std::string stored;
    } cases[] = {
        {"a text that grows after its first read", {3}, {{text_item(L"AA"), huge}, {text_item(L"b")}, {text_item(L"c")}},
         nullptr, S_OK, REG_MULTI_SZ, wide_bytes(L"AA\0b\0c\0\0"s)},
        {"a text that turns into a Long", {3}, {{text_item(L"a")}, {text_item(L"b")}, {text_item(L"c"), number_item(5)}},
         L"REG_MULTI_SZ", S_OK, REG_MULTI_SZ, wide_bytes(L"a\0b\0c\0\0"s)},
        {"a Long that turns into a text", {3}, {{text_item(L"a")}, {text_item(L"b")}, {number_item(5), text_item(L"c")}},
         nullptr, kTypeMismatch, 0, "(no key)"},
        {"a length that grows", {2, 1000000}, {{text_item(L"a")}, {text_item(L"b")}},
         nullptr, S_OK, REG_MULTI_SZ, wide_bytes(L"a\0b\0\0"s)},
        {"a byte that grows past 255", {2}, {{number_item(1)}, {number_item(2), number_item(300)}},
         L"REG_BINARY", S_OK, REG_BINARY, "\x01\x02"s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChangingList list(c.lengths, c.items);
        Arg value;
        V_VT(&value) = VT_DISPATCH;
        V_DISPATCH(&value) = &list;
        list.AddRef();
        Bstr key(key_ + L"\\lists"), name(L"v");
        VARIANT_BOOL ok = 7;
        EXPECT_EQ(reg_->RegWriteValue(Arg(L"HKCU"), key.get(), name.get(), value,
                                      c.type ? Arg(c.type) : Arg::missing(), Arg::missing(), &ok),
                  c.status);
        EXPECT_EQ(ok, c.status == S_OK ? VARIANT_TRUE : VARIANT_FALSE);
        EXPECT_EQ(list.most_reads(), 1u);
        DWORD type = 0;
        EXPECT_EQ(bytes_of(HKEY_CURRENT_USER, key.str(), L"v", type), c.stored);
        if (c.status == S_OK) {
            EXPECT_EQ(type, c.stored_type);
        }
        delete_tree(HKEY_CURRENT_USER, key.str());
    }
}

// A recursive delete in one view keeps to that view at every level: the
// same tree in the other view stays whole.
TEST_F(Registry2, RecursiveDeleteKeepsItsView)
{
    const std::wstring key = L"Software\\TarnwickTests\\registry2-tree\\" +
                             std::to_wstring(GetCurrentProcessId());
    const std::wstring deepest = key + L"\\a\\b\\c";
    for (const auto& [view, flag, other] :
         {std::tuple{64L, KEY_WOW64_64KEY, KEY_WOW64_32KEY},
          std::tuple{32L, KEY_WOW64_32KEY, KEY_WOW64_64KEY}}) {
        SCOPED_TRACE(view);
        for (REGSAM v : {flag, other}) {
            Key k;
            ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, deepest.c_str(), 0, nullptr, 0,
                                      KEY_ALL_ACCESS | v, nullptr, k.put(), nullptr),
                      ERROR_SUCCESS);
            ASSERT_EQ(RegSetValueExW(k.get(), L"view", 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&v), sizeof v),
                      ERROR_SUCCESS);
        }
        Bstr sub(key);
        VARIANT_BOOL ok = VARIANT_FALSE;
        ASSERT_EQ(reg_->RegDeleteKey(Arg(L"HKLM"), sub.get(), Arg(-1L), Arg(view), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, key, flag));
        EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, deepest, other));
        DWORD type = 0;
        EXPECT_EQ(bytes_of(HKEY_LOCAL_MACHINE, deepest, L"view", type, other),
                  std::string(reinterpret_cast<const char*>(&other), sizeof other));
        ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\TarnwickTests\\registry2-tree"), ERROR_SUCCESS);
        Key top;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\TarnwickTests", 0, KEY_ALL_ACCESS | other, top.put());
        RegDeleteTreeW(top.get(), L"registry2-tree");
    }
}

}  // namespace
