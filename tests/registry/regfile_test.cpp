// Registration files (RegExportKey, RegImportFile): a subtree of every kind
// of value goes out and back in both directions through the platform's own
// reg tool, whole; each malformed file is refused with the line at fault and
// nothing written; and a seeded fuzz of the import, on the test build of the
// library with its registry writes stood in, never writes anything from a
// file it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "args.h"
#include "keys.h"

#include <sddl.h>
#include "seam.h"

using namespace testkit;

namespace {

constexpr HRESULT kInvalidCall = run_time_error(5);
constexpr wchar_t kHeader[] = L"Windows Registry Editor Version 5.00";

bool write_file(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD n = 0;
    const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
                    n == bytes.size();
    CloseHandle(h);
    return ok;
}

// The lines, each ended with CR LF.
std::wstring lines(const std::vector<std::wstring>& each)
{
    std::wstring out;
    for (const std::wstring& line : each)
        out += line + L"\r\n";
    return out;
}

// Text as a registration file holds it: UTF-16LE after a byte-order mark.
std::string utf16(const std::wstring& text)
{
    return "\xFF\xFE" + wide_bytes(text);
}

// Runs the platform's reg tool in this prefix and waits; its exit code.
DWORD run_reg(const std::wstring& arguments)
{
    std::wstring command = L"reg.exe " + arguments;
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &start, &process))
        return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The entries of a registration file: each a key line, a value with the
// lines that continue it, or an empty line.
std::vector<std::vector<std::wstring>> entries(const std::string& file)
{
    std::wstring text(file.size() / 2 - 1, L'\0');
    std::memcpy(text.data(), file.data() + 2, text.size() * sizeof(wchar_t));
    std::vector<std::vector<std::wstring>> out;
    bool continued = false;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = text.substr(start, end - start);
        if (continued)
            out.back().push_back(line);
        else
            out.push_back({line});
        continued = !line.empty() && line.back() == L'\\';
        start = end + 2;
    }
    return out;
}

class RegFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(apartment_.hr, S_OK);
        reg_ = create<_Registry3>(CLSID_Registry);
        ASSERT_TRUE(reg_) << "library not registered";
        key_ = test_key(L"regfile");
        delete_tree(HKEY_CURRENT_USER, key_);
    }
    void TearDown() override
    {
        delete_tree(HKEY_CURRENT_USER, key_);
        for (const std::wstring& file : files_)
            DeleteFileW(file.c_str());
    }
    // A file of this test's own, deleted when it ends.
    std::wstring file(const wchar_t* name)
    {
        files_.push_back(temp_path(name));
        return files_.back();
    }
    HRESULT import(_Registry3* reg, const std::wstring& path, LONG& count)
    {
        count = -1;
        SetErrorInfo(0, nullptr);
        return reg->RegImportFile(Bstr(path).get(), Arg::missing(), &count);
    }

    Apartment apartment_;
    Com<_Registry3> reg_;
    std::wstring key_;
    std::vector<std::wstring> files_;
};

std::string text_data(const std::wstring& text)
{
    return wide_bytes(text + L'\0');
}

std::string pattern(size_t n)
{
    std::string out(n, '\0');
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<char>(i * 7 + 3);
    return out;
}

// Our export, imported by the platform's reg tool, gives back every value
// with its type and bytes, and so does our import of it; a file that the
// reg tool exported imports through RegImportFile as through the reg tool.
// The entries where the two exports differ are printed.
TEST_F(RegFile, RoundTripsThroughThePlatformsTool)
{
    using namespace std::string_literals;
    const struct Setting {
        const wchar_t* key;  // below the tree's top
        std::wstring name;
        DWORD type;
        std::string bytes;
        bool tool_keeps;         // whether the reg tool's export keeps it as it is
        bool tool_takes = true;  // whether the reg tool's import stores it as written
    } settings[] = {
        {L"", L"", REG_SZ, text_data(L"the default"), true},
        {L"", L"quote\"back\\slash=equals", REG_SZ, text_data(L"a \"quoted\" \\ text = x"), true},
        {L"", L"na\u00efve \u4e2d\u6587 \U0001D11E", REG_SZ,
         text_data(L"caf\u00e9 \u4e2d \U0001D11E"), true},
        {L"", L"long binary", REG_BINARY, pattern(2100), true},
        {L"", L"long text", REG_SZ, text_data(std::wstring(1500, L'x') + L"\u00e9"), true},
        {L"", L"line breaks", REG_SZ, text_data(L"a\r\nb"), true},
        {L"", L"no terminator", REG_SZ, wide_bytes(L"ab"), false},
        {L"", L"inner NUL", REG_SZ, wide_bytes(L"a\0b\0"s), false},
        {L"", L"no bytes", REG_SZ, "", false},
        {L"", L"odd size", REG_SZ, "a\0b"s, false, false},
        {L"", L"empty binary", REG_BINARY, "", true},
        {L"", L"none", REG_NONE, "\x01\x02\x03"s, true},
        {L"", L"none empty", REG_NONE, "", true},
        {L"", L"multi", REG_MULTI_SZ, wide_bytes(L"one\0two\0\0"s), true},
        {L"", L"quad", REG_QWORD, "\xef\xcd\xab\x89\x67\x45\x23\x01"s, true},
        {L"", L"expand", REG_EXPAND_SZ, text_data(L"%SystemRoot%\\system32\\drivers\\etc"), true},
        {L"", L"dword", REG_DWORD, "\xef\xbe\xad\xde"s, true},
        {L"", L"three-byte dword", REG_DWORD, "\x01\x02\x03"s, false},
        {L"", L"big-endian", REG_DWORD_BIG_ENDIAN, "\x00\x00\x01\x02"s, true},
        {L"", L"type 0x42", 0x42, "\x42"s, true},
        {L"", std::wstring(80, L'n'), REG_BINARY, pattern(30), true},
        {L"", L"two\nlines", REG_SZ, text_data(L"x"), true},
        {L"sub", L"", REG_DWORD, "\x01\x00\x00\x00"s, true},
        {L"sub\\deeper", L"leaf", REG_SZ, text_data(L"deep"), true},
        {L"bracket]key", L"v", REG_SZ, text_data(L"]"), true},
        {L"\u043a\u043b\u044e\u0447", L"\u0437\u043d\u0430\u0447", REG_EXPAND_SZ,
         text_data(L"%TEMP%"), true},
    };
    const std::wstring top = key_ + L"\\tree";
    auto plant = [&] {
        ASSERT_EQ(make_key(HKEY_CURRENT_USER, top + L"\\empty"), ERROR_SUCCESS);
        for (const Setting& s : settings) {
            const std::wstring key = *s.key ? top + L"\\" + s.key : top;
            ASSERT_EQ(make_key(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
            ASSERT_EQ(set_wide(HKEY_CURRENT_USER, key, s.name.c_str(), s.type, s.bytes.data(),
                               static_cast<DWORD>(s.bytes.size())),
                      ERROR_SUCCESS)
                << narrow(s.name);
        }
    };
    plant();
    const KeyTree planted = key_tree(HKEY_CURRENT_USER, top);
    ASSERT_EQ(planted.size(), 6u);
    const LONG values = static_cast<LONG>(std::size(settings));

    const std::wstring ours = file(L"regfile-ours.reg"), theirs = file(L"regfile-tool.reg");
    ASSERT_TRUE(write_file(ours, "an older file, replaced whole"));
    VARIANT_BOOL written = VARIANT_FALSE;
    ASSERT_EQ(reg_->RegExportKey(Arg(L"HKCU"), Bstr(top).get(), Bstr(ours).get(), Arg::missing(),
                                 &written),
              S_OK);
    EXPECT_EQ(written, VARIANT_TRUE);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((ours + L".~*").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a file left beside it: " << narrow(found.cFileName);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    ASSERT_EQ(run_reg(L"export \"HKEY_CURRENT_USER\\" + top + L"\" \"" + theirs + L"\" /y"), 0u);

    // Where the two files differ, entry by entry.
    const std::string our_bytes = file_bytes(ours), their_bytes = file_bytes(theirs);
    ASSERT_EQ(our_bytes.substr(0, 2), "\xFF\xFE");
    const auto a = entries(our_bytes), b = entries(their_bytes);
    EXPECT_EQ(a.front(), std::vector<std::wstring>{kHeader});
    EXPECT_EQ(a.size(), b.size());
    unsigned differing = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] == b[i])
            continue;
        ++differing;
        for (const auto& [who, entry] : {std::pair{"ours", &a[i]}, std::pair{"tool", &b[i]}})
            for (const std::wstring& line : *entry)
                std::printf("%s | %s\n", who, narrow(line.substr(0, 110)).c_str());
    }
    std::printf("%u of %zu entries differ from the reg tool's export\n", differing, a.size());

    // Our file through the reg tool, then through RegImportFile.
    delete_tree(HKEY_CURRENT_USER, top);
    ASSERT_EQ(run_reg(L"import \"" + ours + L"\""), 0u);
    KeyTree by_tool = key_tree(HKEY_CURRENT_USER, top), want = planted;
    for (const Setting& s : settings) {
        if (!s.tool_takes) {
            std::printf("the reg tool stores \"%s\" as %s\n", narrow(s.name).c_str(),
                        hex(by_tool[s.key][s.name].second).c_str());
            by_tool[s.key].erase(s.name);
            want[s.key].erase(s.name);
        }
    }
    EXPECT_EQ(differences(want, by_tool), "") << "our file by the reg tool";
    delete_tree(HKEY_CURRENT_USER, top);
    LONG count = 0;
    ASSERT_EQ(import(reg_.get(), ours, count), S_OK);
    EXPECT_EQ(count, values);
    EXPECT_EQ(differences(planted, key_tree(HKEY_CURRENT_USER, top)), "") << "our file by us";

    // The reg tool's file: our import gives what the tool's own import
    // gives, and that is every value the tool's export keeps.
    delete_tree(HKEY_CURRENT_USER, top);
    ASSERT_EQ(import(reg_.get(), theirs, count), S_OK);
    EXPECT_EQ(count, values);
    const KeyTree by_us = key_tree(HKEY_CURRENT_USER, top);
    delete_tree(HKEY_CURRENT_USER, top);
    ASSERT_EQ(run_reg(L"import \"" + theirs + L"\""), 0u);
    EXPECT_EQ(differences(key_tree(HKEY_CURRENT_USER, top), by_us), "");
    for (const Setting& s : settings) {
        if (!s.tool_keeps)
            continue;
        const auto key = by_us.find(s.key);
        ASSERT_TRUE(key != by_us.end()) << narrow(s.key);
        const auto value = key->second.find(s.name);
        const bool same = value != key->second.end() && value->second == std::pair{s.type, s.bytes};
        EXPECT_TRUE(same) << narrow(s.name);
    }
}

// Each malformed file is refused with error 5 and its line in the
// description, before anything is written: the valid part in front of the
// fault (a value changed, a key deleted, a key created) is not done.
TEST_F(RegFile, MalformedFilesAreRefusedWhole)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    using namespace std::string_literals;
    const std::wstring canary = key_ + L"\\canary";
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, canary + L"\\doomed"), ERROR_SUCCESS);
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, canary, L"v", L"before"), ERROR_SUCCESS);
    const std::vector<std::wstring> valid{
        kHeader,
        L"",
        L"[HKEY_CURRENT_USER\\" + canary + L"]",
        L"\"v\"=\"after\"",
        L"[-HKEY_CURRENT_USER\\" + canary + L"\\doomed]",
        L"[hkcu\\" + canary + L"\\new]",
        L"@=\"x\"",
    };
    // The valid lines 1 to 7, then `more` from line 8 on.
    auto with = [&](const std::vector<std::wstring>& more) {
        std::vector<std::wstring> all = valid;
        all.insert(all.end(), more.begin(), more.end());
        return utf16(lines(all));
    };
    std::vector<std::wstring> value_first = valid;
    value_first.insert(value_first.begin() + 2, L"\"w\"=\"x\"");
    std::vector<std::wstring> old_version = valid;
    old_version[0] = L"Windows Registry Editor Version 4.00";
    std::string utf8;
    for (wchar_t c : lines(valid))
        utf8 += static_cast<char>(c);
    const std::string ansi = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + narrow(canary) +
                             "]\r\n\"v\"=\"after\"\r\n\"w\"=hex(2):41,4x\r\n";
    const struct Case {
        const char* what;
        std::string file;
        ULONG line;
    } cases[] = {
        {"a text without its closing quote", with({L"\"w\"=\"open"}), 8},
        {"a name without its closing quote", with({L"\"w=1"}), 8},
        {"no = after the name", with({L"\"w\" \"x\""}), 8},
        {"an unknown escape", with({L"\"w\"=\"a\\tb\""}), 8},
        {"an escape at the end of the line", with({L"\"w\"=\"a\\"}), 8},
        {"a byte of three digits", with({L"\"w\"=hex:01,123"}), 8},
        {"a byte that is no hex", with({L"\"w\"=hex:0g"}), 8},
        {"a comma missing", with({L"\"w\"=hex:01 02"}), 8},
        {"a list that goes on past the end of the file", with({L"\"w\"=hex:01,\\"}), 8},
        {"a continued list with a bad byte", with({L"\"w\"=hex:01,\\", L"  02,zz"}), 9},
        {"a dword of nine digits", with({L"\"w\"=dword:123456789"}), 8},
        {"a dword without digits", with({L"\"w\"=dword:"}), 8},
        {"a type without its parenthesis", with({L"\"w\"=hex(2:01"}), 8},
        {"text after the data", with({L"\"w\"=\"x\" y"}), 8},
        {"an unknown form of data", with({L"\"w\"=text:x"}), 8},
        {"a line that is no entry", with({L"w=1"}), 8},
        {"a missing ]", with({L"[HKEY_CURRENT_USER\\Software"}), 8},
        {"text after ]", with({L"[HKCU\\Software] x"}), 8},
        {"an unknown root", with({L"[HKEY_NOWHERE\\Software]"}), 8},
        {"a root name cut short", with({L"[HKEY_CURRENT\\Software]"}), 8},
        {"a root deleted", with({L"[-HKEY_CURRENT_USER]"}), 8},
        {"a root deleted by its short name and backslashes", with({L"[-hkcu\\\\\\]"}), 8},
        {"a value after a deleted key", with({L"[-HKCU\\" + key_ + L"\\gone]", L"\"w\"=\"x\""}), 9},
        {"a NUL inside a line", with({L"\"w\"=\"a\0b\""s}), 8},
        {"a line of a mebibyte", with({L"\"w\"=\"" + std::wstring(1 << 20, L'x') + L"\""}), 8},
        {"a value before any key", utf16(lines(value_first)), 3},
        {"a header of another version", utf16(lines(old_version)), 1},
        {"UTF-8 without a byte-order mark", utf8, 1},
        {"an empty file", "", 1},
        {"UTF-16 of an odd length", with({}) + "\x01", 8},
        {"REGEDIT4 with bad hex", ansi, 5},
    };
    const std::wstring path = file(L"regfile-malformed.reg");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(write_file(path, c.file));
        LONG count = 0;
        EXPECT_EQ(import(reg_.get(), path, count), kInvalidCall);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(error_description(),
                  L"Line " + std::to_wstring(c.line) + L" of the file is not a registration entry");
        EXPECT_EQ(read_text(HKEY_CURRENT_USER, canary, L"v"), L"before");
        EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, canary + L"\\doomed"));
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, canary + L"\\new"));
    }
    // Without its fault the file is taken, every step of it.
    ASSERT_TRUE(write_file(path, with({})));
    LONG count = 0;
    EXPECT_EQ(import(reg_.get(), path, count), S_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(read_text(HKEY_CURRENT_USER, canary, L"v"), L"after");
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, canary + L"\\doomed"));
    EXPECT_EQ(read_text(HKEY_CURRENT_USER, canary + L"\\new", nullptr), L"x");
}

// Sets a key's DACL from SDDL, directly.
bool set_dacl(HKEY root, const std::wstring& path, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    Key k;
    const bool ok =
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr) &&
        RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC, k.put()) == 0 &&
        RegSetKeySecurity(k.get(), DACL_SECURITY_INFORMATION, sd) == 0;
    LocalFree(sd);
    return ok;
}

LONG WINAPI delete_unless_old(HKEY key, LPCWSTR name, REGSAM view, DWORD reserved);

// Creates as Windows does, but refuses to make a key named "new".
LONG WINAPI create_unless_new(HKEY root, LPCWSTR path, DWORD reserved, LPWSTR type, DWORD options,
                              REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY key,
                              LPDWORD disposition)
{
    if (std::wstring(path).ends_with(L"\\new"))
        return ERROR_ACCESS_DENIED;
    return RegCreateKeyExW(root, path, reserved, type, options, access, security, key, disposition);
}

// A file that Windows refuses partway, at a key it may not write or a
// deletion it may not make, is undone whole: error 5 naming that line, and
// every key and value as it was before, the deleted subtree and the
// changed value put back, the keys it made gone. The refused deletion is
// the seam's, and so is the refused new key: this Wine deletes a key, and
// makes one below a key, whatever their DACLs say.
TEST_F(RegFile, RefusedStepsUndoTheWholeImport)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    ASSERT_TRUE(seam().ok());
    Com<_Registry3> reg = seam().create<_Registry3>(CLSID_Registry);
    ASSERT_TRUE(reg);
    Rebind refusing = TESTKIT_STAND_IN(RegDeleteKeyExW, &delete_unless_old);
    Rebind refusing_new = TESTKIT_STAND_IN(RegCreateKeyExW, &create_unless_new);
    ASSERT_EQ(refusing.status(), S_OK);
    ASSERT_EQ(refusing_new.status(), S_OK);
    const std::wstring top = L"[HKEY_CURRENT_USER\\" + key_;
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, key_ + L"\\A\\sub\\deeper"), ERROR_SUCCESS);
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, key_ + L"\\A", L"a", L"old"), ERROR_SUCCESS);
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, key_ + L"\\A\\sub\\deeper", L"d", L"kept"), ERROR_SUCCESS);
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, key_ + L"\\Locked\\old"), ERROR_SUCCESS);
    ASSERT_TRUE(set_dacl(HKEY_CURRENT_USER, key_ + L"\\Locked", L"D:P(A;;KR;;;WD)"));
    const KeyTree before = key_tree(HKEY_CURRENT_USER, key_);
    const struct Case {
        const char* what;
        std::vector<std::wstring> lines;
        ULONG refused;
    } cases[] = {
        {"a value in a key that refuses writes",
         {top + L"\\A]", L"\"a\"=\"new\"", L"\"n\"=dword:00000001", top + L"\\Made\\below]",
          L"@=\"x\"", top + L"\\Locked]", L"\"b\"=\"x\"", top + L"\\C]", L"\"c\"=\"x\""},
         8},
        {"a deletion refused after a subtree deleted",
         {top + L"\\A]", L"\"a\"=-", L"[-HKEY_CURRENT_USER\\" + key_ + L"\\A\\sub]",
          L"[-HKEY_CURRENT_USER\\" + key_ + L"\\Locked\\old]", top + L"\\C]", L"\"c\"=\"x\""},
         6},
        {"nothing but a refused deletion", {L"[-HKEY_CURRENT_USER\\" + key_ + L"\\Locked\\old]"}, 3},
        {"a new key that Windows refuses to make", {top + L"\\A]", L"\"a\"=\"new\"", top + L"\\Locked\\new]"}, 5},
    };
    const std::wstring path = file(L"regfile-refused.reg");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::wstring> all{kHeader, L""};
        all.insert(all.end(), c.lines.begin(), c.lines.end());
        ASSERT_TRUE(write_file(path, utf16(lines(all))));
        LONG count = 0;
        EXPECT_EQ(import(reg.get(), path, count), kInvalidCall);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(error_description(),
                  L"Line " + std::to_wstring(c.refused) + L" of the file was refused; nothing is changed");
        EXPECT_EQ(differences(before, key_tree(HKEY_CURRENT_USER, key_)), "");
    }
    ASSERT_TRUE(set_dacl(HKEY_CURRENT_USER, key_ + L"\\Locked", L"D:P(A;;KA;;;WD)"));
}

// ---------------------------------------------------------------- fuzz

// The registry writes the library asks for while the stand-ins are in,
// none of which reaches the registry.
std::vector<std::string> g_writes;
const HKEY kStoodInKey = reinterpret_cast<HKEY>(static_cast<INT_PTR>(0x5eed0));

std::string root_text(HKEY root)
{
    return root == HKEY_CURRENT_USER ? "HKCU" : std::to_string(reinterpret_cast<INT_PTR>(root));
}
LONG WINAPI create_key(HKEY root, LPCWSTR path, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                       PHKEY key, LPDWORD)
{
    g_writes.push_back("key " + root_text(root) + "\\" + narrow(path));
    *key = kStoodInKey;
    return ERROR_SUCCESS;
}
LONG WINAPI set_value(HKEY, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    g_writes.push_back("value " + narrow(name) + " " + std::to_string(type) + " " +
                       hex(std::string(reinterpret_cast<const char*>(data), size), 64));
    return ERROR_SUCCESS;
}
LONG WINAPI delete_value(HKEY, LPCWSTR name)
{
    g_writes.push_back("delete value " + narrow(name));
    return ERROR_SUCCESS;
}
// Deletes as Windows does, but refuses a key named "old".
LONG WINAPI delete_unless_old(HKEY key, LPCWSTR name, REGSAM view, DWORD reserved)
{
    using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "NtQueryKey")));
    ULONG buffer[1024] = {};
    ULONG n = 0;
    if (query && query(key, 3, buffer, sizeof buffer - sizeof(wchar_t), &n) == 0) {
        const std::wstring resolved(reinterpret_cast<const wchar_t*>(buffer + 1), buffer[0] / 2);
        if (std::wstring(name).empty() && resolved.ends_with(L"\\old"))
            return ERROR_ACCESS_DENIED;
    }
    return RegDeleteKeyExW(key, name, view, reserved);
}

// Refused, so that a deletion of the keys below one goes on to the next.
LONG WINAPI delete_key(HKEY root, LPCWSTR path, REGSAM, DWORD)
{
    g_writes.push_back("delete key " + root_text(root) + "\\" + narrow(path));
    return ERROR_ACCESS_DENIED;
}
LONG WINAPI close_key(HKEY key)
{
    return key == kStoodInKey ? ERROR_SUCCESS : RegCloseKey(key);
}

// Random changes of valid files, UTF-16 and REGEDIT4, a few at a time: bytes
// flipped, put in, taken out, the file cut short. Each import either takes
// the file or refuses it with error 5 and a line number, having asked for no
// write at all; a file taken writes as many values as it reports. A file
// that parses but deletes a key that is there meets the refusing stand-in:
// refused at that line, the rest undone.
TEST(RegFileFuzz, RefusedFilesWriteNothing)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    using namespace std::string_literals;
    Apartment apartment;
    ASSERT_TRUE(seam().ok());
    Com<_Registry3> reg = seam().create<_Registry3>(CLSID_Registry);
    ASSERT_TRUE(reg);
    Rebind stand_ins[] = {TESTKIT_STAND_IN(RegCreateKeyExW, &create_key),
                          TESTKIT_STAND_IN(RegSetValueExW, &set_value),
                          TESTKIT_STAND_IN(RegDeleteValueW, &delete_value),
                          TESTKIT_STAND_IN(RegDeleteKeyExW, &delete_key),
                          TESTKIT_STAND_IN(RegCloseKey, &close_key)};
    for (const Rebind& r : stand_ins)
        ASSERT_EQ(r.status(), S_OK);

    const std::string top = "Software\\TarnwickTests\\regfile-fuzz";
    const std::wstring wide_top = widen(top);
    const std::string wide_seed = utf16(lines({
        kHeader,
        L"",
        L"; every form of entry",
        L"[HKEY_CURRENT_USER\\" + wide_top + L"\\a]",
        L"@=\"default\"",
        L"\"text\"=\"say \\\"hi\\\"\\\\\\r\\n\"",
        L"\"dword\"=dword:0000002A",
        L"\"binary\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\",
        L"  16,17",
        L"\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00",
        L"\"gone\"=-",
        L"",
        L"[-HKCU\\" + wide_top + L"\\old]",
        L"  [hkcu\\" + wide_top + L"\\a\\b]",
        L"\"quad\" = hex(b):01,00,00,00,00,00,00,00",
        L"\"big\"=hex(ffff0000):ff",
    }));
    const std::string ansi_seed = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + top +
                                  "\\c]\r\n\"ansi\"=\"caf\xe9\"\r\n"
                                  "\"expand\"=hex(2):25,54,45,4d,50,25,00\r\n"
                                  "\"multi\"=hex(7):e9,00,62,00,00\r\n";
    // What each seed asks for: ANSI text arrives as UTF-16.
    wchar_t e_acute = 0;
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xe9", 1, &e_acute, 1), 1);
    const std::string acute = wide_bytes(std::wstring(1, e_acute));
    const std::vector<std::string> wide_writes{
        "key HKCU\\" + top + "\\a",
        "value  1 " + hex(text_data(L"default"), 64),
        "value text 1 " + hex(text_data(L"say \"hi\"\\\r\n"), 64),
        "value dword 4 2a000000",
        "value binary 3 " +
            hex("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17"s,
                64),
        "value multi 7 " + hex(wide_bytes(L"a\0b\0\0"s), 64),
        "delete value gone",
        "key HKCU\\" + top + "\\a\\b",
        "value quad 11 0100000000000000",
        "value big 4294901760 ff",
    };
    const std::vector<std::string> ansi_writes{
        "key HKCU\\" + top + "\\c",
        "value ansi 1 " + hex(wide_bytes(L"caf") + acute + "\0\0"s, 64),
        "value expand 2 " + hex(text_data(L"%TEMP%"), 64),
        "value multi 7 " + hex(acute + wide_bytes(L"\0b\0\0"s), 64),
    };
    const std::wstring path = temp_path(L"regfile-fuzz.reg");
    for (const auto& [seed, writes] :
         {std::pair{&wide_seed, &wide_writes}, std::pair{&ansi_seed, &ansi_writes}}) {
        ASSERT_TRUE(write_file(path, *seed));
        g_writes.clear();
        LONG count = 0;
        ASSERT_EQ(reg->RegImportFile(Bstr(path).get(), Arg::missing(), &count), S_OK);
        EXPECT_EQ(g_writes, *writes);
        EXPECT_EQ(count, std::count_if(writes->begin(), writes->end(), [](const std::string& w) {
                      return w.starts_with("value ");
                  }));
    }

    const unsigned seed = 20261208;
    std::mt19937 random(seed);
    auto below = [&](size_t n) { return n ? static_cast<size_t>(random() % n) : 0; };
    constexpr int kRuns = 10000;
    unsigned taken = 0, refused = 0, undone = 0, wrong = 0;
    const DWORD start = GetTickCount();
    for (int run = 0; run < kRuns && wrong < 10; ++run) {
        const bool wide = run % 2 == 0;
        std::string bytes = wide ? wide_seed : ansi_seed;
        // In UTF-16 text most changes keep whole characters.
        const size_t unit = wide && below(8) ? 2 : 1;
        for (size_t changes = 1 + below(3); changes-- > 0;) {
            const size_t at = below(bytes.size() / unit) * unit;
            switch (below(4)) {
            case 0:
                if (!bytes.empty())
                    bytes[at] = static_cast<char>(bytes[at] ^ (1 << below(8)));
                break;
            case 1:
                bytes.insert(
                    at, unit,
                    static_cast<char>(below(2) ? "[]\\\"=@-:,;(\r\n0fx"[below(16)] : below(256)));
                if (unit == 2)
                    bytes[at + 1] = 0;
                break;
            case 2:
                if (!bytes.empty())
                    bytes.erase(at, unit);
                break;
            default:
                bytes.resize(at);
                break;
            }
        }
        ASSERT_TRUE(write_file(path, bytes));
        g_writes.clear();
        LONG count = -1;
        SetErrorInfo(0, nullptr);
        const HRESULT hr = reg->RegImportFile(Bstr(path).get(), Arg::missing(), &count);
        const std::wstring description = error_description();
        const long values =
            std::count_if(g_writes.begin(), g_writes.end(),
                          [](const std::string& w) { return w.starts_with("value "); });
        if (hr == S_OK && count == values) {
            ++taken;
        } else if (hr == kInvalidCall && count == 0 && g_writes.empty() &&
                   description.starts_with(L"Line ") &&
                   description.ends_with(L" of the file is not a registration entry")) {
            ++refused;
        } else if (hr == kInvalidCall && count == 0 && description.starts_with(L"Line ") &&
                   description.find(L" of the file was refused; ") != std::wstring::npos) {
            ++undone;  // a deletion the stand-ins refuse, of a key that is there
        } else {
            ++wrong;
            ADD_FAILURE() << "run " << run << ": status 0x" << std::hex << hr << std::dec
                          << ", count " << count << ", " << g_writes.size() << " writes, \""
                          << narrow(description) << "\", file " << hex(bytes, 200);
        }
    }
    const DWORD elapsed = GetTickCount() - start;
    DeleteFileW(path.c_str());
    std::printf("seed %u: %d changed files, %u taken, %u refused, %u refused and undone, %u wrong, "
                "in %.1f s\n",
                seed, kRuns, taken, refused, undone, wrong, elapsed / 1000.0);
    EXPECT_EQ(wrong, 0u);
    EXPECT_GT(taken, 0u);
    EXPECT_GT(refused, 0u);
}

}  // namespace
