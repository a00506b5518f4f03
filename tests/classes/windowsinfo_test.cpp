// WindowsInfo for real: the registered library, created by class identifier
// and by ProgID, asked about the Wine prefix it runs in. The version text is
// checked against the registry as the test reads it and as reg.exe shows it.
#include "classes_kit.h"

namespace {

using namespace classes;

constexpr const wchar_t* kNtKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion";

// Runs a command line and gives what it wrote to its standard output.
std::string run(std::wstring command_line, DWORD& exit_code)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0))
        return "";
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = write_end;
    start.hStdError = write_end;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    exit_code = 0xFFFFFFFF;
    BOOL started = CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                                  CREATE_NO_WINDOW, nullptr, nullptr, &start, &process);
    CloseHandle(write_end);
    std::string out;
    if (started) {
        char buffer[4096];
        DWORD n;
        while (ReadFile(read_end, buffer, sizeof buffer, &n, nullptr) && n > 0)
            out.append(buffer, n);
        WaitForSingleObject(process.hProcess, 30000);
        GetExitCodeProcess(process.hProcess, &exit_code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(read_end);
    return out;
}

// The data of one REG_SZ value in reg.exe's listing ("    Name    REG_SZ    data").
bool reg_exe_value(const std::string& listing, const std::string& name, std::string& out)
{
    size_t at = 0;
    while ((at = listing.find(name + "    REG_SZ    ", at)) != std::string::npos) {
        size_t begin = at + name.size() + 14;
        size_t end = listing.find_first_of("\r\n", begin);
        out = listing.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        return true;
    }
    return false;
}

using WindowsInfoReal = Registered<_WindowsInfo, testkit::kWindowsInfoRef>;

TEST_F(WindowsInfoReal, OSTypeIsTheNTFamily)
{
    LONG id = 0;
    ASSERT_EQ(S_OK, object_->GetOSType(&id));
    EXPECT_EQ(2, id);

    testkit::Variant result;
    ASSERT_EQ(S_OK, testkit::call_by_name(by_name_.get(), L"GetOSType", {}, &result));
    ASSERT_EQ(VT_I4, V_VT(&result));
    EXPECT_EQ(2, V_I4(&result));
}

TEST_F(WindowsInfoReal, VersionTextMatchesTheRegistry)
{
    const auto product = testkit::read_text(HKEY_LOCAL_MACHINE, kNtKey, L"ProductName");
    const auto version = testkit::read_text(HKEY_LOCAL_MACHINE, kNtKey, L"CurrentVersion");
    ASSERT_TRUE(product && version);
    const std::wstring expected =
        L"Operating System: " + *product + L" " + L"Version " + *version + L"\r\n";

    Bstr text;
    ASSERT_EQ(S_OK, object_->GetOSVersionInfo(text.put()));
    EXPECT_EQ(expected, text.str());
    EXPECT_EQ(expected, text_by_name(by_name_.get(), L"GetOSVersionInfo"));
    std::printf("GetOSVersionInfo: \"%s\\r\\n\"\n",
                narrow(text.str().substr(0, text.str().size() - 2)).c_str());

    // reg.exe of the same bitness shows the same two values.
    DWORD exit_code;
    std::string listing =
        run(L"reg.exe query \"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\"", exit_code);
    ASSERT_EQ(0u, exit_code) << listing;
    std::string shown_product, shown_version;
    ASSERT_TRUE(reg_exe_value(listing, "ProductName", shown_product)) << listing;
    ASSERT_TRUE(reg_exe_value(listing, "CurrentVersion", shown_version)) << listing;
    EXPECT_EQ("Operating System: " + shown_product + " Version " + shown_version + "\r\n",
              narrow(text.str()));
}

// GetLocation cuts a command line down to everything up to and including
// its last lower-case "exe", after dropping one leading double quote; a text
// without one becomes empty, and the call still succeeds.
struct LocationCase {
    const wchar_t* in;
    const wchar_t* out;
};
const LocationCase kLocations[] = {
    {L"\"C:\\Program Files\\Web\\web.exe\" -nohome \"%1\"", L"C:\\Program Files\\Web\\web.exe"},
    {L"C:\\web\\web.exe -url %1", L"C:\\web\\web.exe"},
    {L"C:\\web\\web.exe --profile C:\\exedir\\p", L"C:\\web\\web.exe --profile C:\\exe"},
    {L"\"C:\\web\\web.exe\"", L"C:\\web\\web.exe"},
    {L"C:\\web\\web.exe   ", L"C:\\web\\web.exe"},
    {L"C:\\web\\web.exe", L"C:\\web\\web.exe"},
    {L"exe", L"exe"},
    {L"\"exe", L"exe"},
    {L"\"exe\"", L"exe"},
    {L"exeexe x", L"exeexe"},
    {L"\"\"C:\\web.exe\"", L"\"C:\\web.exe"},    // only the first quote goes
    {L" \"C:\\web.exe\" x", L" \"C:\\web.exe"},  // only the first character is tested
    {L"C:\\W\u00e9b\\w\u00e9b.exe -x", L"C:\\W\u00e9b\\w\u00e9b.exe"},
    {L"C:\\web\\web.Exe -x", L""},
    {L"\"C:\\WEB\\WEB.EXE\" -url", L""},
    {L"C:\\WEB\\WEB.EXE", L""},
    {L"ex", L""},
    {L"xe", L""},
    {L"e x e", L""},
    {L"\"", L""},
    {L"", L""},
};

TEST_F(WindowsInfoReal, LocationThroughTheMethodTable)
{
    for (const LocationCase& c : kLocations) {
        SCOPED_TRACE(narrow(c.in));
        Bstr path(c.in);
        EXPECT_EQ(S_OK, object_->GetLocation(path.ref()));
        EXPECT_EQ(c.out, path.str());
    }
    // The null string is the empty text.
    Bstr none;
    EXPECT_EQ(S_OK, object_->GetLocation(none.ref()));
    EXPECT_EQ(L"", none.str());
    EXPECT_EQ(E_POINTER, object_->GetLocation(nullptr));
}

TEST_F(WindowsInfoReal, LocationByNameRewritesTheCallersVariable)
{
    for (const LocationCase& c : kLocations) {
        SCOPED_TRACE(narrow(c.in));
        {  // a string variable by reference
            Bstr path(c.in);
            VARIANT arg = testkit::v_str(nullptr);
            V_VT(&arg) = VT_BYREF | VT_BSTR;
            V_BSTRREF(&arg) = path.ref();
            testkit::Variant result;
            EXPECT_EQ(S_OK, testkit::call_by_name(by_name_.get(), L"GetLocation", {arg}, &result));
            EXPECT_EQ(c.out, path.str());
            EXPECT_EQ(VT_EMPTY, V_VT(&result));
        }
        {  // a script's variable: a variant by reference
            testkit::Variant variable;
            V_VT(&variable) = VT_BSTR;
            V_BSTR(&variable) = SysAllocString(c.in);
            testkit::Variant result;
            EXPECT_EQ(S_OK, testkit::call_by_name(by_name_.get(), L"GetLocation",
                                                  {testkit::v_ref(&variable)}, &result));
            ASSERT_EQ(VT_BSTR, V_VT(&variable));
            EXPECT_EQ(c.out, std::wstring(V_BSTR(&variable), SysStringLen(V_BSTR(&variable))));
        }
        {  // by value: the method works on a copy
            Bstr value(c.in);
            testkit::Variant result;
            EXPECT_EQ(S_OK, testkit::call_by_name(by_name_.get(), L"GetLocation",
                                                  {testkit::v_str(value.get())}, &result));
            EXPECT_EQ(c.in, value.str());
        }
    }
    // An empty script variable becomes an empty text.
    testkit::Variant variable;
    testkit::Variant result;
    EXPECT_EQ(S_OK, testkit::call_by_name(by_name_.get(), L"GetLocation",
                                          {testkit::v_ref(&variable)}, &result));
    EXPECT_EQ(VT_BSTR, V_VT(&variable));
    EXPECT_EQ(0u, SysStringLen(V_BSTR(&variable)));
}

}  // namespace
