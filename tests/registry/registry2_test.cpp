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

#include "keys.h"
#include "seam.h"

using namespace testkit;

namespace {

constexpr HRESULT kInvalidCall = run_time_error(5);
constexpr HRESULT kOverflow = run_time_error(6);
constexpr HRESULT kTypeMismatch = run_time_error(13);

// A Variant argument that owns what it holds.
struct Arg : Variant {
    Arg() = default;
    Arg(const wchar_t* text)
    {
        V_VT(this) = VT_BSTR;
        V_BSTR(this) = SysAllocString(text);
    }
    Arg(LONG n)
    {
        V_VT(this) = VT_I4;
        V_I4(this) = n;
    }
    Arg(double d)
    {
        V_VT(this) = VT_R8;
        V_R8(this) = d;
    }
    static Arg missing()
    {
        Arg a;
        V_VT(&a) = VT_ERROR;
        V_ERROR(&a) = DISP_E_PARAMNOTFOUND;
        return a;
    }
    // A zero-based array of Variants.
    static Arg array(const std::vector<std::function<void(VARIANT&)>>& items)
    {
        Arg a;
        SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
        for (size_t i = 0; i < items.size(); ++i)
            items[i](static_cast<VARIANT*>(sa->pvData)[i]);
        V_VT(&a) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(&a) = sa;
        return a;
    }
    Arg(Arg&& o) noexcept
    {
        *static_cast<VARIANT*>(this) = o;
        VariantInit(&o);
    }
};

std::function<void(VARIANT&)> text_item(const wchar_t* s)
{
    return [s](VARIANT& v) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString(s); };
}
std::function<void(VARIANT&)> number_item(LONG n)
{
    return [n](VARIANT& v) { V_VT(&v) = VT_I4, V_I4(&v) = n; };
}

// The items of an array result as texts, "(nothing)" for no array.
std::vector<std::wstring> items_of(const VARIANT& v)
{
    std::vector<std::wstring> out;
    if (V_VT(&v) != (VT_ARRAY | VT_VARIANT))
        return {L"(nothing)"};
    SAFEARRAY* sa = V_ARRAY(&v);
    for (ULONG i = 0; i < sa->rgsabound[0].cElements; ++i)
        out.push_back(text_of(static_cast<VARIANT*>(sa->pvData)[i]));
    return out;
}

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

std::string bytes_of(HKEY root, const std::wstring& key, const wchar_t* name, DWORD& type,
                     REGSAM view = 0)
{
    Key k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, k.put()) != 0)
        return "(no key)";
    DWORD size = 0;
    if (RegQueryValueExW(k.get(), name, nullptr, &type, nullptr, &size) != 0)
        return "(no value)";
    std::string out(size, '\0');
    RegQueryValueExW(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(out.data()), &size);
    return out;
}

std::string wide_bytes(const std::wstring& s)
{
    return std::string(reinterpret_cast<const char*>(s.data()), s.size() * sizeof(wchar_t));
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
    TESTKIT_SKIP_WHERE_LOADER_CLEARS_TEB();
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

}  // namespace
