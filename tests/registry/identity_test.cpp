// A key is the key it is, whatever names it: copies into the source under
// another name (HKCR for the machine's classes, HKU for HKCU, HKCC for its
// profile, a link, a doubled backslash, a registry view), deletions of a
// root or of what stores one, roots that name no tree, and the smaller
// argument faults; one table, each row its status, then nothing changed.
// Runs in a prefix of its own: a row that got through would delete a hive.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "args.h"
#include "keys.h"

#include <sddl.h>

using namespace testkit;

namespace {

constexpr HRESULT kInvalidCall = run_time_error(5);
constexpr HRESULT kTypeMismatch = run_time_error(13);

std::wstring user_sid()
{
    HANDLE token = nullptr;
    BYTE buffer[256];
    DWORD n = 0;
    LPWSTR text = nullptr;
    std::wstring sid;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &n) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    if (token)
        CloseHandle(token);
    return sid;
}

// Whether this process has both registry views.
bool has_views()
{
    BOOL wow64 = FALSE;
    return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

// A registry link of the test's own at root\path, to the key `target` (a
// resolved name, "\REGISTRY\..."), and its removal.
bool make_link(HKEY root, const std::wstring& path, const std::wstring& target)
{
    Key link;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, link.put(), nullptr) != 0)
        return false;
    return RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                          reinterpret_cast<const BYTE*>(target.data()),
                          static_cast<DWORD>(target.size() * sizeof(wchar_t))) == 0;
}
void remove_link(HKEY root, const std::wstring& path)
{
    using NtDeleteKey = LONG(WINAPI*)(HANDLE);
    const auto remove =
        reinterpret_cast<NtDeleteKey>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "NtDeleteKey")));
    Key link;
    if (remove && RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, DELETE, link.put()) == 0)
        remove(link.get());
}

struct Row {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT expected;
};

TEST(KeyIdentity, EveryNameOfAKeyIsThatKey)
{
    Apartment apartment;
    ASSERT_EQ(apartment.hr, S_OK);
    auto reg = create<_Registry3>(CLSID_Registry);
    auto info = create<_WindowsInfo3>(CLSID_WindowsInfo);
    ASSERT_TRUE(reg && info) << "library not registered";
    const std::wstring sid = user_sid();
    ASSERT_FALSE(sid.empty());
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    const std::wstring own = test_key(L"identity");
    const std::wstring classes = L"TwSrc-" + pid;  // under HKLM\Software\Classes
    const std::wstring profile = L"System\\CurrentControlSet\\Hardware Profiles\\Current";
    const std::wstring machine = L"Software\\TwSrc-" + pid;  // in the 32-bit view
    const std::wstring source = own + L"\\TwSrc";
    // The source trees, each with a value and a key below.
    struct Source {
        HKEY root;
        std::wstring path;
        REGSAM view;
    } sources[] = {{HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + classes, 0},
                   {HKEY_LOCAL_MACHINE, profile + L"\\TwSrc-" + pid, 0},
                   {HKEY_LOCAL_MACHINE, machine, KEY_WOW64_32KEY},
                   {HKEY_CURRENT_USER, source, 0}};
    for (const Source& s : sources) {
        ASSERT_EQ(make_key(s.root, s.path + L"\\below", s.view), ERROR_SUCCESS) << narrow(s.path);
        Key k;
        ASSERT_EQ(RegOpenKeyExW(s.root, s.path.c_str(), 0, KEY_SET_VALUE | s.view, k.put()), 0);
        ASSERT_EQ(RegSetValueExW(k.get(), L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4), 0);
    }
    const std::wstring link = own + L"\\TwLink";
    ASSERT_TRUE(make_link(HKEY_CURRENT_USER, link, L"\\REGISTRY\\USER\\" + sid + L"\\" + source));
    ASSERT_TRUE(key_exists(HKEY_CURRENT_USER, link + L"\\below")) << "the link leads to the source";
    const KeyTree before = key_tree(HKEY_CURRENT_USER, source);
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, own + L"\\canary"), ERROR_SUCCESS);
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, own + L"\\canary", L"v", L"alive"), ERROR_SUCCESS);

    auto copy = [&](const wchar_t* root, const std::wstring& from, const wchar_t* to_root,
                    const std::wstring& to, LONG view = 0) {
        return [=, &reg] {
            VARIANT_BOOL ok = 7;
            const HRESULT hr = reg->RegCopyKey(Arg(root), Bstr(from).get(), Arg(to_root),
                                               Bstr(to).get(), Arg(view), &ok);
            return hr == S_OK && ok != VARIANT_TRUE ? S_FALSE : hr;
        };
    };
    auto import = [&](const std::wstring& line) {
        return [=, &reg] {
            const std::wstring path = temp_path(L"identity.reg");
            const std::wstring text = std::wstring(L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n") +
                                      line + L"\r\n";
            HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD n = 0;
            WriteFile(h, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &n, nullptr);
            CloseHandle(h);
            LONG count = -1;
            SetErrorInfo(0, nullptr);
            const HRESULT hr = reg->RegImportFile(Bstr(path).get(), Arg::missing(), &count);
            DeleteFileW(path.c_str());
            return hr == kInvalidCall && error_description() != L"Line 3 of the file is not a registration entry"
                       ? E_FAIL
                       : hr;
        };
    };
    auto remove = [&](const wchar_t* root, const std::wstring& path) {
        return [=, &reg] {
            VARIANT_BOOL ok = 7;
            return reg->RegDeleteKey(Arg(root), Bstr(path).get(), Arg(1L), Arg::missing(), &ok);
        };
    };
    auto access = [&](Arg mask) {
        return [&reg, mask = std::make_shared<Arg>(std::move(mask)), &own] {
            VARIANT_BOOL ok = 7;
            return reg->RegCheckAccess(Arg(L"HKCU"), Bstr(own).get(), *mask, Arg::missing(), &ok);
        };
    };
    auto name = [&](bool computer, const wchar_t* format) {
        return [=, &info] {
            Bstr out;
            return computer ? info->GetComputerName(Arg(format), out.put())
                            : info->GetUserName(Arg(format), out.put());
        };
    };
    auto multi = [&](Arg value) {
        return [&reg, value = std::make_shared<Arg>(std::move(value)), &own] {
            VARIANT_BOOL ok = 7;
            return reg->RegWriteValue(Arg(L"HKCU"), Bstr(own + L"\\canary").get(), Bstr(L"v").get(),
                                      *value, Arg(L"REG_MULTI_SZ"), Arg::missing(), &ok);
        };
    };
    Arg date;
    V_VT(&date) = VT_DATE;
    V_DATE(&date) = 46000.5;
    const LONG performance = static_cast<LONG>(0x80000004);
    auto performance_root = [&](bool export_it) {
        return [=, &reg, &own] {
            VARIANT_BOOL ok = 7;
            return export_it ? reg->RegExportKey(Arg(performance), Bstr(L"x").get(),
                                                 Bstr(temp_path(L"identity-hkpd.reg")).get(),
                                                 Arg::missing(), &ok)
                             : reg->RegCopyKey(Arg(L"HKCU"), Bstr(own).get(), Arg(performance),
                                               Bstr(L"x").get(), Arg::missing(), &ok);
        };
    };

    const Row rows[] = {
        {"HKLM's classes into HKCR", copy(L"HKLM", L"Software\\Classes\\" + classes, L"HKCR", classes + L"\\Inner"), kInvalidCall},
        {"HKLM's classes onto themselves through HKCR", copy(L"HKLM", L"Software\\Classes\\" + classes, L"HKCR", classes), kInvalidCall},
        {"HKCU into HKU\\<SID>", copy(L"HKCU", source, L"HKU", sid + L"\\" + source + L"\\Inner"), kInvalidCall},
        {"HKLM's profile into HKCC", copy(L"HKLM", profile + L"\\TwSrc-" + pid, L"HKCC", L"TwSrc-" + pid + L"\\Inner"), kInvalidCall},
        {"into a link to the source", copy(L"HKCU", source, L"HKCU", link + L"\\Inner"), kInvalidCall},
        {"a doubled backslash", copy(L"HKCU", source, L"HKCU", own + L"\\\\TwSrc\\\\Inner"), kInvalidCall},
        {"the 32-bit view by its own name", copy(L"HKLM", machine, L"HKLM", L"Software\\Wow6432Node\\TwSrc-" + pid + L"\\Inner", 32),
         has_views() ? kInvalidCall : S_OK},
        {"HKEY_PERFORMANCE_DATA exported", performance_root(true), kInvalidCall},
        {"HKEY_PERFORMANCE_DATA as the copy's destination", performance_root(false), kInvalidCall},
        {"[-HKEY_USERS\\<SID>]", import(L"[-HKEY_USERS\\" + sid + L"]"), kInvalidCall},
        {"[-HKEY_USERS\\.DEFAULT]", import(L"[-HKEY_USERS\\.DEFAULT]"), kInvalidCall},
        {"[-HKCC's profile]", import(L"[-HKEY_LOCAL_MACHINE\\" + profile + L"]"), kInvalidCall},
        {"[-HKLM\\Software\\Classes]", import(L"[-HKEY_LOCAL_MACHINE\\Software\\Classes]"), kInvalidCall},
        {"[-HKLM\\Software], HKCR's ancestor", import(L"[-HKEY_LOCAL_MACHINE\\Software]"), kInvalidCall},
        {"[-HKLM\\SYSTEM], HKCC's ancestor", import(L"[-HKEY_LOCAL_MACHINE\\SYSTEM]"), kInvalidCall},
        {"[-HKLM\\Software\\Wow6432Node], the 32-bit view's software",
         import(L"[-HKEY_LOCAL_MACHINE\\Software\\Wow6432Node]"), has_views() ? kInvalidCall : S_OK},
        {"RegDeleteKey HKU <SID>", remove(L"HKU", sid), kInvalidCall},
        {"RegDeleteKey HKLM's profile", remove(L"HKLM", profile), kInvalidCall},
        {"RegDeleteKey HKCR's storage by its own name", remove(L"HKLM", L"Software\\Classes"), kInvalidCall},
        {"RegCheckAccess \"Bogus\"", access(Arg(L"Bogus")), kInvalidCall},
        {"RegCheckAccess a view flag alone", access(Arg(0x100L)), kInvalidCall},
        {"GetComputerName(\",\")", name(true, L","), kInvalidCall},
        {"GetComputerName(\"DNS,DNS\")", name(true, L"DNS,DNS"), kInvalidCall},
        {"GetUserName(\"SAM,SAM\")", name(false, L"SAM,SAM"), kInvalidCall},
        {"a number written as REG_MULTI_SZ", multi(Arg(5L)), kTypeMismatch},
        {"a Date written as REG_MULTI_SZ", multi(std::move(date)), kTypeMismatch},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.call(), row.expected);
    }

    // Nothing was made, deleted or changed.
    EXPECT_EQ(key_tree(HKEY_CURRENT_USER, source), before);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, source + L"\\Inner"));
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, classes + L"\\Inner"));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_CONFIG, L"TwSrc-" + pid + L"\\Inner"));
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, machine + L"\\Inner", KEY_WOW64_32KEY));
    EXPECT_EQ(read_text(HKEY_CURRENT_USER, own + L"\\canary", L"v"), L"alive");
    EXPECT_TRUE(key_exists(HKEY_USERS, L".DEFAULT"));
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, profile));
    EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, L"TarnwickDLL.Registry"));

    // A key name longer than Windows' 255 characters, which Wine keeps:
    // the search reads it and goes on to the keys after it.
    const std::wstring longest = own + L"\\long";
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, longest + L"\\" + std::wstring(256, L'a')), ERROR_SUCCESS);
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, longest + L"\\zz"), ERROR_SUCCESS);
    Variant found;
    ASSERT_EQ(reg->RegFind(Arg(L"HKCU"), Bstr(longest).get(), Bstr(L"*").get(), Arg(L"Keys"),
                           Arg::missing(), &found),
              S_OK);
    ASSERT_EQ(V_VT(&found), VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(V_ARRAY(&found)->rgsabound[0].cElements, 2u);

    // A link deleted, recursively or not, goes itself; the key it points
    // to stays whole.
    for (LONG recursive : {0L, 1L}) {
        remove_link(HKEY_CURRENT_USER, link);
        ASSERT_TRUE(make_link(HKEY_CURRENT_USER, link, L"\\REGISTRY\\USER\\" + sid + L"\\" + source));
        VARIANT_BOOL ok = VARIANT_FALSE;
        EXPECT_EQ(reg->RegDeleteKey(Arg(L"HKCU"), Bstr(link).get(), Arg(recursive), Arg::missing(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        Key gone;
        EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, link.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, gone.put()), 0);
        EXPECT_EQ(key_tree(HKEY_CURRENT_USER, source), before) << "recursive " << recursive;
    }
    remove_link(HKEY_CURRENT_USER, link);
    for (const Source& s : sources) {
        Key top;
        if (RegOpenKeyExW(s.root, s.path.c_str(), 0, KEY_ALL_ACCESS | s.view, top.put()) == 0)
            RegDeleteTreeW(top.get(), nullptr);
        RegDeleteKeyExW(s.root, s.path.c_str(), s.view, 0);
    }
    delete_tree(HKEY_CURRENT_USER, own);
}

}  // namespace
