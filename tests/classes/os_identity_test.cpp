// What the system truly is (WindowsInfo, release 1.11): the name, version
// and release of Windows 11 as Wine can present it (the prefix says Windows
// 10; the test writes the values a Windows 11 machine holds into the 64-bit
// view and puts them back afterwards), and the architectures. CTest runs
// these one at a time with the other tests that read those values.
#include "classes_kit.h"

#include <optional>

namespace {

using namespace classes;

constexpr const wchar_t* kNtKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const wchar_t* kNames[] = {L"ProductName", L"CurrentBuildNumber", L"UBR",
                                     L"DisplayVersion", L"ReleaseId"};

// The values of kNames in one registry view, as they were; put back when
// this goes.
class SavedValues {
public:
    explicit SavedValues(REGSAM view)
    {
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNtKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view,
                      key_.put());
        for (const wchar_t* name : kNames) {
            DWORD type = 0, size = 0;
            std::optional<std::pair<DWORD, std::vector<BYTE>>> value;
            if (RegQueryValueExW(key_.get(), name, nullptr, &type, nullptr, &size) == 0) {
                std::vector<BYTE> bytes(size);
                RegQueryValueExW(key_.get(), name, nullptr, &type, bytes.data(), &size);
                value.emplace(type, std::move(bytes));
            }
            saved_.emplace_back(name, std::move(value));
        }
    }
    ~SavedValues()
    {
        for (const auto& [name, value] : saved_) {
            if (value)
                RegSetValueExW(key_.get(), name, 0, value->first, value->second.data(),
                               static_cast<DWORD>(value->second.size()));
            else
                RegDeleteValueW(key_.get(), name);
        }
    }
    bool ok() const { return key_.get() != nullptr; }
    void text(const wchar_t* name, const std::wstring& text)
    {
        RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    void number(const wchar_t* name, DWORD n)
    {
        RegSetValueExW(key_.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
    }
    void remove(const wchar_t* name) { RegDeleteValueW(key_.get(), name); }

private:
    testkit::Key key_;
    std::vector<std::pair<const wchar_t*, std::optional<std::pair<DWORD, std::vector<BYTE>>>>>
        saved_;
};

using OSIdentity = Registered<_WindowsInfo2, testkit::kWindowsInfoRef>;

TEST_F(OSIdentity, Windows11AsItsRegistryHoldsIt)
{
    SavedValues native(KEY_WOW64_64KEY), wow(KEY_WOW64_32KEY);
    ASSERT_TRUE(native.ok() && wow.ok());
    native.text(L"ProductName", L"Windows 10 Pro");
    native.text(L"CurrentBuildNumber", L"22631");
    native.number(L"UBR", 4460);
    native.text(L"DisplayVersion", L"23H2");
    native.text(L"ReleaseId", L"2009");
    // What a 32-bit program would read in its own view; never the answer.
    wow.text(L"ProductName", L"Windows 10 Home (32-bit view)");
    wow.text(L"CurrentBuildNumber", L"19045");
    wow.text(L"DisplayVersion", L"22H2");

    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    const auto rtl_get_version = reinterpret_cast<LONG(WINAPI*)(OSVERSIONINFOW*)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "RtlGetVersion")));
    ASSERT_TRUE(rtl_get_version && rtl_get_version(&version) == 0);
    const std::wstring numbers = std::to_wstring(version.dwMajorVersion) + L"." +
                                 std::to_wstring(version.dwMinorVersion) + L"." +
                                 std::to_wstring(version.dwBuildNumber) + L".";

    const auto expect = [&](const wchar_t* name, const wchar_t* version_text,
                            const wchar_t* release) {
        EXPECT_EQ(name, text_by_name(by_name_.get(), L"GetOSName"));
        EXPECT_EQ(numbers + version_text, text_by_name(by_name_.get(), L"GetOSVersion"));
        Bstr text;
        EXPECT_EQ(S_OK, object_->GetOSDisplayVersion(text.put()));
        EXPECT_EQ(release, text.str());
    };
    expect(L"Windows 11 Pro", L"4460", L"23H2");
    std::printf("GetOSName \"%s\", GetOSVersion \"%s\"\n",
                narrow(text_by_name(by_name_.get(), L"GetOSName")).c_str(),
                narrow(text_by_name(by_name_.get(), L"GetOSVersion")).c_str());
    native.text(L"CurrentBuildNumber", L"21999");  // the last build of Windows 10's numbers
    native.remove(L"DisplayVersion");              // before 20H2: the release id
    native.remove(L"UBR");
    expect(L"Windows 10 Pro", L"0", L"2009");
    native.remove(L"ReleaseId");
    native.remove(L"ProductName");
    expect(L"", L"0", L"");
}

// The machine's architecture as the test sees it natively; a library runs
// in a process of its own build's architecture.
const wchar_t* native_architecture()
{
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return L"x86";
    case PROCESSOR_ARCHITECTURE_AMD64:
        return L"x64";
    case PROCESSOR_ARCHITECTURE_ARM64:
        return L"ARM64";
    default:
        return L"?";
    }
}
#if defined(__aarch64__)
constexpr const wchar_t* kProcessArchitecture = L"ARM64";
#elif defined(__x86_64__)
constexpr const wchar_t* kProcessArchitecture = L"x64";
#else
constexpr const wchar_t* kProcessArchitecture = L"x86";
#endif

// The machine's answer is asked once per process, so each way of asking
// runs in a test (a process) of its own: the newer query, and the older one
// where the system lacks the newer.
void expect_architectures(bool newer_query)
{
    ASSERT_TRUE(seam().ok()) << "TarnwickSeam.dll not loaded";
    std::optional<Rebind> without;
    if (!newer_query)
        without.emplace("IsWow64Process2", nullptr, "NoSuchExport");
    testkit::Apartment apartment;
    auto info = seam().create<_WindowsInfo2>(CLSID_WindowsInfo);
    ASSERT_TRUE(info);
    Bstr machine, process;
    ASSERT_EQ(S_OK, info->GetOSArchitecture(machine.put()));
    ASSERT_EQ(S_OK, info->GetProcessArchitecture(process.put()));
    EXPECT_EQ(native_architecture(), machine.str());
    EXPECT_EQ(kProcessArchitecture, process.str());
    std::printf("machine %s, process %s\n", narrow(machine.str()).c_str(),
                narrow(process.str()).c_str());
}

TEST(OSArchitecture, NewerQuery)
{
    expect_architectures(true);
}

TEST(OSArchitecture, OlderQueryWhereTheNewerIsMissing)
{
    expect_architectures(false);
}

}  // namespace
