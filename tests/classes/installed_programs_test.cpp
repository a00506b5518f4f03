// The programs installed (WindowsInfo, release 1.12): entries of the test's
// own in the machine's lists of both registry views and in the user's,
// among them entries to leave out, one without a version and one whose
// name is no ANSI text; sorted, and picked by scope. CTest runs it in a
// prefix of its own.
#include "classes_kit.h"

#include "../registry/args.h"

namespace {

using namespace classes;
using testkit::Arg;

constexpr wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t kMark[] = L"tarnwick-test";  // in the uninstall command of each entry

// An entry of the test's own: its list (kLists), display name and version
// (null: none), and one more value (a number written "#1").
struct Entry {
    int list;
    const wchar_t* name;
    const wchar_t* version;
    const wchar_t* other;
    const wchar_t* data;
};
const Entry kEntries[] = {
    {0, L"Zeta Tool", L"2.1", L"Publisher", L"Zeta"},
    {0, L"alpha viewer", nullptr, L"Publisher", L"Alpha"},
    {0, L"\u00dcberpr\u00fcfung \u6e2c\u8a66", L"1", nullptr, nullptr},
    {0, L"Visible Part", nullptr, L"SystemComponent", L"#0"},
    {0, L"Hidden Runtime", nullptr, L"SystemComponent", L"#1"},
    {0, L"Zeta Tool Fix", nullptr, L"ParentKeyName", L"Zeta"},
    {0, L"KB1", nullptr, L"ReleaseType", L"Security Update"},
    {0, nullptr, nullptr, L"Publisher", L"Nameless"},
    {1, L"Beta Suite", L"3.0", nullptr, nullptr},
    {1, L"Zeta Tool", L"1.9", nullptr, nullptr},
    {1, L"KB2", nullptr, L"ReleaseType", L"hotfix"},
    {2, L"gamma notes", nullptr, L"InstallDate", L"20250301"},
    {2, L"KB3", nullptr, L"ReleaseType", L"Update Rollup"},
};
const struct {
    HKEY root;
    REGSAM view;
} kLists[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY},
              {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
              {HKEY_CURRENT_USER, 0}};

using Items = std::vector<std::wstring>;

class InstalledPrograms : public Registered<_WindowsInfo3, testkit::kWindowsInfoRef> {
protected:
    void SetUp() override
    {
        Registered::SetUp();
        for (size_t i = 0; i < std::size(kEntries); ++i) {
            const Entry& e = kEntries[i];
            const auto [root, view] = kLists[e.list];
            const std::wstring key = kUninstall + std::wstring(kMark) + std::to_wstring(i);
            testkit::Key k;
            ASSERT_EQ(0, RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view,
                                         nullptr, k.put(), nullptr));
            keys_.push_back({root, key, view});
            const std::pair<const wchar_t*, const wchar_t*> values[] = {
                {L"DisplayName", e.name}, {L"DisplayVersion", e.version}, {e.other, e.data}};
            for (const auto& [name, data] : values) {
                if (name && data)
                    set(k.get(), name, data);
            }
            set(k.get(), L"UninstallString", std::wstring(kMark) + L" " + std::to_wstring(i));
        }
    }
    // A REG_SZ, or a REG_DWORD for a text "#" and a digit.
    static void set(HKEY key, const wchar_t* name, const std::wstring& data)
    {
        const DWORD n = data[0] == L'#' ? data[1] - L'0' : 0;
        const std::string bytes = data[0] == L'#'
                                      ? std::string(reinterpret_cast<const char*>(&n), 4)
                                      : testkit::wide_bytes(data + L'\0');
        RegSetValueExW(key, name, 0, data[0] == L'#' ? REG_DWORD : REG_SZ,
                       reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    }
    void TearDown() override
    {
        for (const auto& [root, key, view] : keys_)
            RegDeleteKeyExW(root, key.c_str(), view, 0);
    }
    // The test's own items of the scope, each its fields joined by "|";
    // `all` gets the names of every item listed.
    Items listed(const VARIANT& scope, HRESULT expect = S_OK, Items* all = nullptr)
    {
        testkit::Variant list;
        EXPECT_EQ(expect, object_->GetInstalledPrograms(scope, &list));
        Items ours;
        SAFEARRAY* items = V_VT(&list) == (VT_ARRAY | VT_VARIANT) ? V_ARRAY(&list) : nullptr;
        for (ULONG i = 0; items && i < items->rgsabound[0].cElements; ++i) {
            const auto fields = testkit::items_of(static_cast<VARIANT*>(items->pvData)[i]);
            std::wstring row;
            for (const std::wstring& field : fields)
                row += (row.empty() ? L"" : L"|") + field;
            if (row.find(kMark) != std::wstring::npos)
                ours.push_back(row);
            if (all)
                all->push_back(fields[0]);
        }
        return ours;
    }
    std::vector<std::tuple<HKEY, std::wstring, REGSAM>> keys_;
};

std::wstring row(const wchar_t* name, const wchar_t* version, const wchar_t* publisher,
                 const wchar_t* date, int entry, const wchar_t* scope)
{
    return std::wstring(name) + L"|" + version + L"|" + publisher + L"|" + date + L"|" + kMark +
           L" " + std::to_wstring(entry) + L"|" + scope;
}

TEST_F(InstalledPrograms, SortedByNameLeavingOutPartsAndUpdates)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    const std::wstring alpha = row(L"alpha viewer", L"", L"Alpha", L"", 1, L"Machine64"),
                       beta = row(L"Beta Suite", L"3.0", L"", L"", 8, L"Machine32"),
                       gamma = row(L"gamma notes", L"", L"", L"20250301", 11, L"User"),
                       visible = row(L"Visible Part", L"", L"", L"", 3, L"Machine64"),
                       zeta64 = row(L"Zeta Tool", L"2.1", L"Zeta", L"", 0, L"Machine64"),
                       zeta32 = row(L"Zeta Tool", L"1.9", L"", L"", 9, L"Machine32"),
                       umlaut = row(L"\u00dcberpr\u00fcfung \u6e2c\u8a66", L"1", L"", L"", 2,
                                    L"Machine64");
    const struct {
        Arg scope;
        Items expected;
    } cases[] = {
        {Arg::missing(), {alpha, beta, gamma, visible, zeta64, zeta32, umlaut}},
        {Arg(L"Machine64"), {alpha, visible, zeta64, umlaut}},
        {Arg(L" machine32 ,USER"), {beta, gamma, zeta32}},
        {Arg(L"User"), {gamma}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(testkit::text_of(c.scope)));
        Items names;
        EXPECT_EQ(c.expected, listed(c.scope, S_OK, &names));
        for (size_t i = 1; i < names.size(); ++i)
            EXPECT_LE(CompareStringOrdinal(names[i - 1].c_str(), -1, names[i].c_str(), -1, TRUE),
                      CSTR_EQUAL);
    }
    for (const Arg& bad : {Arg(L"Machine"), Arg(L"User,"), Arg(L""), Arg(64L)})
        listed(bad, testkit::run_time_error(V_VT(&bad) == VT_BSTR ? 5 : 13));
}

void WINAPI x86_machine(SYSTEM_INFO* info)
{
    *info = SYSTEM_INFO{};
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
}

// On 32-bit Windows the two views are one, which the 32-bit scope lists:
// the machine's 64-bit scope lists nothing there.
TEST_F(InstalledPrograms, OneViewOnThirtyTwoBitWindows)
{
    ASSERT_TRUE(seam().ok());
    const Rebind newer("IsWow64Process2", nullptr, "NoSuchExport");
    const Rebind older = TESTKIT_STAND_IN(GetNativeSystemInfo, &x86_machine);
    object_ = seam().create<_WindowsInfo3>(CLSID_WindowsInfo);
    ASSERT_TRUE(object_);
    for (const Arg& machine : {Arg::missing(), Arg(L"Machine64,Machine32")}) {
        const Items items = listed(machine);
        EXPECT_EQ(machine.vt == VT_BSTR ? 2u : 3u, items.size());
        for (const std::wstring& item : items)
            EXPECT_EQ(std::wstring::npos, item.find(L"|Machine64")) << narrow(item);
    }
    EXPECT_EQ(Items{}, listed(Arg(L"Machine64")));
}

}  // namespace
