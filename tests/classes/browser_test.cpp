// The default browser for real: each case points the ".htm" association of
// the prefix at a ProgID of the test's own and writes that ProgID's command
// line under HKLM\Software\Classes; everything is put back when the case
// ends, whether it passed or not. CTest runs them in a prefix of their own
// and one at a time, since they change what every reader of the association
// sees.
#include "classes_kit.h"

#include <optional>

namespace {

using namespace classes;

constexpr const wchar_t* kClassRefs = L"Software\\Classes";
constexpr const wchar_t* kHtm = L"Software\\Classes\\.htm";
// Where a key path with an empty ProgID ends up: Wine reads
// "Software\Classes\\shell\open\command" as this key.
constexpr const wchar_t* kEmptyProgIdShell = L"Software\\Classes\\shell";
constexpr const wchar_t* kEmptyProgIdCommand = L"Software\\Classes\\shell\\open\\command";
constexpr const wchar_t* kProgIds[] = {L"TarnwickTests.Quoted", L"TarnwickTests.Plain",
                                       L"TarnwickTests.NoCommand"};

bool key_exists(const std::wstring& path)
{
    return testkit::key_exists(HKEY_LOCAL_MACHINE, path);
}

// The default value of a key: type and bytes; nothing when key or value is missing.
struct Value {
    DWORD type;
    std::vector<BYTE> bytes;
    bool operator==(const Value&) const = default;
};

std::optional<Value> default_value(const wchar_t* path)
{
    testkit::Key k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.get(), L"", nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    Value v{type, std::vector<BYTE>(size)};
    if (RegQueryValueExW(k.get(), L"", nullptr, &type, v.bytes.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    v.bytes.resize(size);
    return v;
}

bool write_default(const wchar_t* path, const std::wstring& text)
{
    return testkit::make_key(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS &&
           testkit::set_text(HKEY_LOCAL_MACHINE, path, L"", text) == ERROR_SUCCESS;
}

void put_back_default(const wchar_t* path, const std::optional<Value>& value)
{
    testkit::Key k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, k.put()) != ERROR_SUCCESS)
        return;
    if (value)
        RegSetValueExW(k.get(), L"", 0, value->type, value->bytes.data(),
                       static_cast<DWORD>(value->bytes.size()));
    else
        RegDeleteValueW(k.get(), L"");
}

void delete_tree(const std::wstring& path)
{
    testkit::delete_tree(HKEY_LOCAL_MACHINE, path);
}

// What the association looked like before a case; what the case changed is
// put back by the destructor.
struct Snapshot {
    bool htm_key = key_exists(kHtm);
    std::optional<Value> htm_value = default_value(kHtm);
    bool shell_key = key_exists(kEmptyProgIdShell);
    std::optional<Value> shell_command = default_value(kEmptyProgIdCommand);
    bool prog_ids[std::size(kProgIds)] = {
        key_exists(L"Software\\Classes\\TarnwickTests.Quoted"),
        key_exists(L"Software\\Classes\\TarnwickTests.Plain"),
        key_exists(L"Software\\Classes\\TarnwickTests.NoCommand")};
    bool operator==(const Snapshot&) const = default;
};

class Association {
public:
    Association() = default;
    Association(const Association&) = delete;
    ~Association()
    {
        if (before_.htm_key)
            put_back_default(kHtm, before_.htm_value);
        else
            delete_tree(kHtm);
        if (before_.shell_key)
            put_back_default(kEmptyProgIdCommand, before_.shell_command);
        else
            delete_tree(kEmptyProgIdShell);
        for (size_t i = 0; i < std::size(kProgIds); ++i) {
            if (!before_.prog_ids[i])
                delete_tree(std::wstring(kClassRefs) + L"\\" + kProgIds[i]);
        }
    }
    const Snapshot& before() const { return before_; }

    bool point_htm_at(const std::wstring& prog_id) { return write_default(kHtm, prog_id); }
    bool write_command(const std::wstring& prog_id, const std::wstring& command)
    {
        return write_default(command_key(prog_id).c_str(), command);
    }
    static std::wstring command_key(const std::wstring& prog_id)
    {
        return std::wstring(kClassRefs) + L"\\" + prog_id + L"\\shell\\open\\command";
    }

private:
    Snapshot before_;
};

class WindowsInfoBrowser : public Registered<_WindowsInfo, testkit::kWindowsInfoRef> {
protected:
    // The browser path by every way in; all must agree with `expected`.
    void expect_browser(const std::wstring& expected)
    {
        TextSlot path, web;
        EXPECT_EQ(S_OK, object_->GetDefaultBrowserPath(path.put()));
        EXPECT_EQ(expected, path.str());
        EXPECT_EQ(S_OK, object_->GetWebBrowser(web.put()));
        EXPECT_EQ(expected, web.str());
        for (const wchar_t* method : {L"GetDefaultBrowserPath", L"GetWebBrowser"})
            EXPECT_EQ(expected, text_by_name(by_name_.get(), method)) << narrow(method);
    }
};

TEST_F(WindowsInfoBrowser, CommandLinesOfTheTestsProgID)
{
    const struct {
        const wchar_t* command;
        const wchar_t* path;
    } cases[] = {
        {L"\"C:\\Program Files\\Tarnwick Web\\tweb.exe\" -osint -url \"%1\"",
         L"C:\\Program Files\\Tarnwick Web\\tweb.exe"},
        {L"C:\\TarnwickWeb\\tweb.exe -url %1", L"C:\\TarnwickWeb\\tweb.exe"},
        {L"C:\\TarnwickWeb\\tweb.exe --profile C:\\exedir\\p \"%1\"",
         L"C:\\TarnwickWeb\\tweb.exe --profile C:\\exe"},
        {L"\"C:\\TarnwickWeb\\tweb.exe\"   ", L"C:\\TarnwickWeb\\tweb.exe"},
        {L"\"C:\\TARNWICK\\TWEB.EXE\" -url \"%1\"", L""},
        {L"C:\\TARNWICK\\TWEB.EXE", L""},
        {L"", L""},
    };
    Association association;
    ASSERT_TRUE(association.point_htm_at(L"TarnwickTests.Quoted"));
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.command));
        ASSERT_TRUE(association.write_command(L"TarnwickTests.Quoted", c.command));
        expect_browser(c.path);
    }
}

TEST_F(WindowsInfoBrowser, ProgIDWithoutCommandGivesEmpty)
{
    Association association;
    // The ProgID key does not exist at all.
    ASSERT_TRUE(association.point_htm_at(L"TarnwickTests.Missing"));
    ASSERT_FALSE(key_exists(L"Software\\Classes\\TarnwickTests.Missing"));
    expect_browser(L"");
    // It exists, with its command key, but without a default value there.
    ASSERT_TRUE(association.point_htm_at(L"TarnwickTests.NoCommand"));
    ASSERT_EQ(ERROR_SUCCESS,
              testkit::make_key(HKEY_LOCAL_MACHINE,
                                Association::command_key(L"TarnwickTests.NoCommand")));
    expect_browser(L"");
    // Another ProgID of the test's own still works in the same prefix.
    ASSERT_TRUE(association.point_htm_at(L"TarnwickTests.Plain"));
    ASSERT_TRUE(association.write_command(L"TarnwickTests.Plain", L"C:\\plain\\plain.exe %1"));
    expect_browser(L"C:\\plain\\plain.exe");
}

// An empty ProgID makes the key path "Software\Classes\\shell\open\command";
// Wine reads it as "Software\Classes\shell\open\command", so the result
// follows what that key holds.
TEST_F(WindowsInfoBrowser, EmptyProgIDReadsTheShellKeyOfClasses)
{
    Association association;
    ASSERT_TRUE(association.point_htm_at(L""));
    if (!association.before().shell_key) {
        expect_browser(L"");
    }
    ASSERT_TRUE(association.write_command(L"", L"\"C:\\TarnwickEmpty\\empty.exe\" -x"));
    ASSERT_TRUE(key_exists(kEmptyProgIdCommand));
    expect_browser(L"C:\\TarnwickEmpty\\empty.exe");
    ASSERT_TRUE(association.write_command(L"", L"C:\\TARNWICKEMPTY\\EMPTY.EXE"));
    expect_browser(L"");
}

// After a case the association is as it was before, also when the case
// stops half-way.
TEST_F(WindowsInfoBrowser, EverythingIsPutBack)
{
    Bstr path_before;
    ASSERT_EQ(S_OK, object_->GetDefaultBrowserPath(path_before.put()));
    const Snapshot before;
    {
        Association association;
        ASSERT_TRUE(association.point_htm_at(L""));
        ASSERT_TRUE(association.write_command(L"", L"C:\\a\\a.exe"));
        ASSERT_TRUE(association.write_command(L"TarnwickTests.Plain", L"C:\\b\\b.exe"));
        ASSERT_TRUE(association.write_command(L"TarnwickTests.Quoted", L"C:\\c\\c.exe"));
        ASSERT_TRUE(association.write_command(L"TarnwickTests.NoCommand", L"C:\\d\\d.exe"));
        ASSERT_FALSE(Snapshot() == before);
    }
    EXPECT_TRUE(Snapshot() == before);
    Bstr path_after;
    ASSERT_EQ(S_OK, object_->GetDefaultBrowserPath(path_after.put()));
    EXPECT_EQ(path_before.str(), path_after.str());
    std::printf("default browser path of the prefix: \"%s\"; .htm key %s\n",
                narrow(path_after.str()).c_str(), before.htm_key ? "present" : "absent");
}

// ---------------------------------------------------------------- the user's choice

constexpr const wchar_t* kUserChoice =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";
constexpr const wchar_t* kUserChoiceLatest =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoiceLatest";
// The chosen ProgID, among the machine's classes: Wine's classes root
// shows only those.
constexpr const wchar_t* kUserClasses = L"Software\\Classes\\TarnwickTests.Choice";

// The user's choice for http links, under HKEY_CURRENT_USER, and its
// ProgID's command; the choice as it was (the prefix's own, if any) comes
// back and the ProgID goes when this does.
class UserChoice {
public:
    UserChoice() = default;
    UserChoice(const UserChoice&) = delete;
    ~UserChoice()
    {
        if (before_)
            choose(*before_);
        else
            testkit::delete_tree(HKEY_CURRENT_USER, kUserChoice);
        testkit::delete_tree(HKEY_CURRENT_USER, kUserChoiceLatest);
        testkit::delete_tree(HKEY_LOCAL_MACHINE, kUserClasses);
    }
    void none() { testkit::delete_tree(HKEY_CURRENT_USER, kUserChoice); }
    bool choose(const std::wstring& prog_id, const wchar_t* key = kUserChoice)
    {
        return testkit::make_key(HKEY_CURRENT_USER, key) == ERROR_SUCCESS &&
               testkit::set_text(HKEY_CURRENT_USER, key, L"ProgId", prog_id) == ERROR_SUCCESS;
    }
    bool command(DWORD type, const std::wstring& text)
    {
        const std::wstring key = std::wstring(kUserClasses) + L"\\shell\\open\\command";
        return testkit::make_key(HKEY_LOCAL_MACHINE, key) == ERROR_SUCCESS &&
               testkit::set_wide(HKEY_LOCAL_MACHINE, key, L"", type, text.c_str(),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) ==
                   ERROR_SUCCESS;
    }

private:
    std::optional<std::wstring> before_ =
        testkit::read_text(HKEY_CURRENT_USER, kUserChoice, L"ProgId");
};

TEST_F(WindowsInfoBrowser, UserChoiceThenTheMachineWideAnswer)
{
    auto info = object_.as<_WindowsInfo2>();
    ASSERT_TRUE(info);
    const auto user_browser = [&] {
        TextSlot path;
        EXPECT_EQ(S_OK, info->GetUserDefaultBrowserPath(path.put()));
        EXPECT_EQ(path.str(), text_by_name(by_name_.get(), L"GetUserDefaultBrowserPath"));
        return path.str();
    };
    wchar_t program_files[MAX_PATH];
    ASSERT_GT(ExpandEnvironmentStringsW(L"%ProgramFiles%", program_files, MAX_PATH), 1u);

    Association association;
    ASSERT_TRUE(association.point_htm_at(L"TarnwickTests.Plain"));
    ASSERT_TRUE(association.write_command(L"TarnwickTests.Plain", L"C:\\plain\\plain.exe %1"));
    UserChoice choice;
    std::printf("the prefix's own choice: \"%s\"\n", narrow(user_browser()).c_str());
    choice.none();
    EXPECT_EQ(L"C:\\plain\\plain.exe", user_browser()) << "no choice at all";
    ASSERT_TRUE(choice.choose(L"TarnwickTests.Choice"));
    EXPECT_EQ(L"C:\\plain\\plain.exe", user_browser()) << "a ProgID without a command";

    const struct {
        DWORD type;
        const wchar_t* command;
        std::wstring path;
    } cases[] = {
        {REG_SZ, L"\"C:\\Program Files\\Tarnwick Web\\tweb.exe\" --single-argument %1",
         L"C:\\Program Files\\Tarnwick Web\\tweb.exe"},
        {REG_SZ, L"C:\\TarnwickWeb\\TWEB.EXE -url \"%1\"", L"C:\\TarnwickWeb\\TWEB.EXE"},
        {REG_EXPAND_SZ, L"\"%ProgramFiles%\\Tarnwick Web\\tweb.exe\" -osint -url \"%1\"",
         std::wstring(program_files) + L"\\Tarnwick Web\\tweb.exe"},
        {REG_EXPAND_SZ, L"%ProgramFiles%\\TarnwickWeb\\tweb.Exe %1",
         std::wstring(program_files) + L"\\TarnwickWeb\\tweb.Exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.command));
        ASSERT_TRUE(choice.command(c.type, c.command));
        EXPECT_EQ(c.path, user_browser());
    }
    // Newer systems keep the choice in UserChoiceLatest, which comes first.
    ASSERT_TRUE(choice.choose(L"http"));
    ASSERT_TRUE(choice.choose(L"TarnwickTests.Choice", kUserChoiceLatest));
    EXPECT_EQ(cases[3].path, user_browser());
    // Nothing anywhere: the empty text, and no error.
    ASSERT_TRUE(choice.command(REG_SZ, L""));
    ASSERT_TRUE(association.point_htm_at(L"TarnwickTests.Missing"));
    EXPECT_EQ(L"", user_browser());
}

}  // namespace
