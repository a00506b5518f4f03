// WindowsInfo through the binding seam: GetVersionExA gives chosen platform
// ids, and the registry functions read from a registry of the test's own or
// forward to the real one while the test watches which keys are opened.
#include "classes_kit.h"

namespace {

using namespace classes;

constexpr const char* kNtKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char* k9xKey = "Software\\Microsoft\\Windows\\CurrentVersion";

DWORD g_platform_id;
BOOL g_version_result;
std::string g_version_record;  // what the last call received, described

BOOL WINAPI FakeVersion(LPOSVERSIONINFOA info)
{
    record("GetVersionExA");
    const BYTE* bytes = reinterpret_cast<const BYTE*>(info);
    size_t non_zero = 0;
    for (size_t i = 4; i < 148; ++i)
        non_zero += bytes[i] != 0;
    g_version_record = format("size %lu, %zu other bytes non-zero",
                              static_cast<unsigned long>(info->dwOSVersionInfoSize), non_zero);
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 7601;
    info->dwPlatformId = g_platform_id;
    std::strcpy(info->szCSDVersion, "Service Pack 1");
    return g_version_result;
}

// Forwards to the real function and notes which key was asked for.
LSTATUS WINAPI WatchedOpen(HKEY root, LPCWSTR sub_key, DWORD options, REGSAM access, PHKEY out)
{
    record(format("RegOpenKeyExW(%#lx, \"%s\")",
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(root)),
                  narrow(sub_key).c_str()));
    return RegOpenKeyExW(root, sub_key, options, access, out);
}

class WindowsInfoSeam : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(seam().ok()) << "TarnwickSeam.dll not loaded";
        ASSERT_EQ(S_OK, version_.status());
        info_ = seam().create<_WindowsInfo>(CLSID_WindowsInfo);
        ASSERT_TRUE(info_);
        g_platform_id = 2;
        g_version_result = TRUE;
        g_version_record.clear();
        calls().clear();
    }

    // GetVersionExA gives `id` from now on and succeeds or fails; the log of
    // calls starts afresh. Returns the case's description.
    static std::string platform(DWORD id, BOOL succeeds)
    {
        g_platform_id = id;
        g_version_result = succeeds;
        calls().clear();
        return format("platform id %lu, call %s", static_cast<unsigned long>(id),
                      succeeds ? "succeeds" : "fails");
    }

    // The version text; on failure the slot must hold the null string.
    std::wstring version_text(HRESULT expected = S_OK)
    {
        TextSlot text;
        EXPECT_EQ(expected, info_->GetOSVersionInfo(text.put()));
        if (FAILED(expected))
            return text.null() ? L"(null)" : L"not null: " + text.str();
        return text.str();
    }

    testkit::Apartment apartment_;
    Rebind version_ = TESTKIT_STAND_IN(GetVersionExA, &FakeVersion);
    Com<_WindowsInfo> info_;
};

TEST_F(WindowsInfoSeam, OSTypePassesThePlatformIdOnAndZeroOnFailure)
{
    struct Case {
        DWORD id;
        BOOL succeeds;
        LONG result;
    } const cases[] = {
        {0, TRUE, 0}, {1, TRUE, 1},           {2, TRUE, 2},  {3, TRUE, 3},
        {7, TRUE, 7}, {0xFFFFFFFF, TRUE, -1}, {2, FALSE, 0}, {1, FALSE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform(c.id, c.succeeds));
        LONG id = 12345;
        EXPECT_EQ(S_OK, info_->GetOSType(&id));
        EXPECT_EQ(c.result, id);
        EXPECT_EQ(std::vector<std::string>{"GetVersionExA"}, calls());
        EXPECT_EQ("size 148, 0 other bytes non-zero", g_version_record);
    }
}

TEST_F(WindowsInfoSeam, VersionTextFromTheKeyOfThePlatform)
{
    FakeRegistry registry;
    ASSERT_EQ(S_OK, registry.status());
    registry.keys[kNtKey] = {{"ProductName", "Tarnwick NT"},
                             {"CurrentVersion", "6.3"},
                             {"VersionNumber", "wrong value"}};
    registry.keys[k9xKey] = {{"ProductName", "Tarnwick 98"},
                             {"VersionNumber", "4.10.2222"},
                             {"CurrentVersion", "wrong value"}};

    // Each value is read from its own opening of the platform's key.
    const struct {
        DWORD id;
        const char* key;
        const char* version_value;
        const wchar_t* text;
    } platforms[] = {
        {2, kNtKey, "CurrentVersion", L"Operating System: Tarnwick NT Version 6.3\r\n"},
        {1, k9xKey, "VersionNumber", L"Operating System: Tarnwick 98 Version 4.10.2222\r\n"},
    };
    for (const auto& p : platforms) {
        SCOPED_TRACE(p.key);
        calls().clear();
        g_platform_id = p.id;
        EXPECT_EQ(p.text, version_text());
        const std::string open = format("RegOpenKeyExW(0x80000002, \"%s\")", p.key);
        EXPECT_EQ((std::vector<std::string>{
                      "GetVersionExA", open, "RegQueryValueExW(\"ProductName\")", "RegCloseKey",
                      open, format("RegQueryValueExW(\"%s\")", p.version_value), "RegCloseKey"}),
                  calls());
    }
    EXPECT_EQ(0u, registry.open_keys());
}

TEST_F(WindowsInfoSeam, MissingValuesShortenOrEmptyTheText)
{
    struct Case {
        DWORD id;
        std::map<std::string, std::string> values;
        const wchar_t* text;
    } const cases[] = {
        // Version missing: one trailing space, no "Version ", no CR LF.
        {2, {{"ProductName", "Tarnwick NT"}}, L"Operating System: Tarnwick NT "},
        {1, {{"ProductName", "Tarnwick 98"}}, L"Operating System: Tarnwick 98 "},
        // Product missing: empty, even with the version present.
        {2, {{"CurrentVersion", "6.3"}}, L""},
        {1, {{"VersionNumber", "4.10"}}, L""},
        // Empty values are values.
        {2, {{"ProductName", ""}, {"CurrentVersion", ""}}, L"Operating System:  Version \r\n"},
        {2,
         {{"ProductName", "A B"}, {"CurrentVersion", "10.0 x"}},
         L"Operating System: A B Version 10.0 x\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.text));
        FakeRegistry registry;
        ASSERT_EQ(S_OK, registry.status());
        registry.keys[c.id == 1 ? k9xKey : kNtKey] = c.values;
        g_platform_id = c.id;
        EXPECT_EQ(c.text, version_text());
        EXPECT_EQ(0u, registry.open_keys());
    }
    // No key at all.
    FakeRegistry empty;
    g_platform_id = 2;
    EXPECT_EQ(L"", version_text());
}

// Platform ids other than 1 and 2, and a failed version call, give the empty
// text without any registry read; the registry functions here forward to
// the real ones, so a read would find the real values of the prefix.
TEST_F(WindowsInfoSeam, OtherPlatformIdsReadNoRegistry)
{
    Rebind watch = TESTKIT_STAND_IN(RegOpenKeyExW, &WatchedOpen);
    ASSERT_EQ(S_OK, watch.status());
    struct Case {
        DWORD id;
        BOOL succeeds;
    } const cases[] = {{0, TRUE}, {3, TRUE}, {4, TRUE}, {6, TRUE}, {2, FALSE}, {1, FALSE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(platform(c.id, c.succeeds));
        EXPECT_EQ(L"", version_text());
        EXPECT_EQ(std::vector<std::string>{"GetVersionExA"}, calls());
    }
    // The same watch sees both reads for id 2 on the real registry.
    g_platform_id = 2;
    g_version_result = TRUE;
    calls().clear();
    std::wstring text = version_text();
    EXPECT_EQ(0u, text.find(L"Operating System: ")) << narrow(text);
    const std::string open_nt = format("RegOpenKeyExW(0x80000002, \"%s\")", kNtKey);
    EXPECT_EQ((std::vector<std::string>{"GetVersionExA", open_nt, open_nt}), calls());
}

// The .htm association and the command line through the test's registry:
// which keys are read, with the ProgID exactly as found.
TEST_F(WindowsInfoSeam, BrowserKeysAreBuiltFromTheProgIDAsRead)
{
    struct Case {
        const char* prog_id;      // null: no .htm key
        const char* command_key;  // where the command line lies; null: nowhere
        const char* command;
        const wchar_t* path;
    } const cases[] = {
        {"TarnwickHTML", "Software\\Classes\\TarnwickHTML\\shell\\open\\command",
         "\"C:\\Program Files\\Web\\web.exe\" -nohome \"%1\"", L"C:\\Program Files\\Web\\web.exe"},
        // Not trimmed: the blanks belong to the key name.
        {" Tarnwick HTML ", "Software\\Classes\\ Tarnwick HTML \\shell\\open\\command",
         "C:\\web\\web.exe %1", L"C:\\web\\web.exe"},
        // Empty: the two separators meet.
        {"", "Software\\Classes\\\\shell\\open\\command", "C:\\empty\\empty.exe",
         L"C:\\empty\\empty.exe"},
        // The command key is missing.
        {"TarnwickHTML", nullptr, nullptr, L""},
        // No .htm key.
        {nullptr, nullptr, nullptr, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command_key ? c.command_key : "(none)");
        FakeRegistry registry;
        ASSERT_EQ(S_OK, registry.status());
        if (c.prog_id)
            registry.keys["Software\\Classes\\.htm"] = {{"", c.prog_id}};
        if (c.command_key)
            registry.keys[c.command_key] = {{"", c.command}};
        // The single-separator form is there too and must not be the one read.
        registry.keys["Software\\Classes\\shell\\open\\command"] = {{"", "C:\\wrong\\wrong.exe"}};

        calls().clear();
        Bstr web;
        EXPECT_EQ(S_OK, info_->GetWebBrowser(web.put()));
        EXPECT_EQ(c.path, web.str());
        std::vector<std::string> expected{"RegOpenKeyExW(0x80000002, \"Software\\Classes\\.htm\")"};
        if (c.prog_id) {
            expected.push_back("RegQueryValueExW(\"\")");
            expected.push_back("RegCloseKey");
            expected.push_back(
                format("RegOpenKeyExW(0x80000002, \"Software\\Classes\\%s\\shell\\open\\command\")",
                       c.prog_id));
            if (c.command_key) {
                expected.push_back("RegQueryValueExW(\"\")");
                expected.push_back("RegCloseKey");
            }
        }
        EXPECT_EQ(expected, calls());

        Bstr path;
        EXPECT_EQ(S_OK, info_->GetDefaultBrowserPath(path.put()));
        EXPECT_EQ(c.path, path.str());
        EXPECT_EQ(0u, registry.open_keys());
    }
}

}  // namespace
