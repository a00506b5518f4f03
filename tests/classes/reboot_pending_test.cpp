// Whether a restart is pending (Reboot, release 1.12): each sign written
// and taken away again, one at a time and all at once, in the 64-bit
// registry view whatever this program's bitness (the i686 build runs as a
// 32-bit host, the x86_64 build as a 64-bit one). CTest runs it in a prefix
// of its own.
#include "classes_kit.h"

#include "../registry/args.h"

#include <cwctype>
#include <memory>

namespace {

using namespace classes;

const std::wstring kControl = L"SYSTEM\\CurrentControlSet\\Control\\";
const std::wstring kNetlogon = L"SYSTEM\\CurrentControlSet\\Services\\Netlogon";
const std::wstring kVersion = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";

// A key (no value name) or a value written in a registry view of
// HKEY_LOCAL_MACHINE, and what GetRebootPending then says (null: nothing).
struct Sign {
    const wchar_t* reason;
    std::wstring key;
    const wchar_t* value = nullptr;
    DWORD type = REG_SZ;
    std::wstring data = {};  // a REG_DWORD as its only character
    REGSAM view = KEY_WOW64_64KEY;
};

// Writes a sign; puts back what was there when it goes.
class Written {
public:
    explicit Written(const Sign& s)
        : s_(s), made_(!testkit::key_exists(HKEY_LOCAL_MACHINE, s.key, s.view))
    {
        testkit::make_key(HKEY_LOCAL_MACHINE, s.key, s.view);
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, s.key.c_str(), 0, KEY_ALL_ACCESS | s.view, key_.put());
        if (!s.value)
            return;
        old_ = testkit::bytes_of(HKEY_LOCAL_MACHINE, s.key, s.value, old_type_, s.view);
        const DWORD n = s.data.empty() ? 0 : s.data[0];
        const std::string bytes = s.type == REG_DWORD
                                      ? std::string(reinterpret_cast<const char*>(&n), 4)
                                      : testkit::wide_bytes(s.data + L'\0');
        RegSetValueExW(key_.get(), s.value, 0, s.type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    }
    ~Written()
    {
        if (s_.value && old_ != "(no value)")
            RegSetValueExW(key_.get(), s_.value, 0, old_type_,
                           reinterpret_cast<const BYTE*>(old_.data()),
                           static_cast<DWORD>(old_.size()));
        else if (s_.value)
            RegDeleteValueW(key_.get(), s_.value);
        key_.put();
        if (made_)
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, s_.key.c_str(), s_.view, 0);
    }

private:
    Sign s_;
    bool made_;
    testkit::Key key_;
    std::string old_;
    DWORD old_type_ = 0;
};

using RebootPending = Registered<_Reboot3, testkit::kRebootRef>;

TEST_F(RebootPending, EachSignAloneAndAllAtOnce)
{
    auto pending = [&] {
        testkit::Variant early, late;
        VARIANT_BOOL any = 7;
        EXPECT_EQ(S_OK, object_->GetRebootPending(&early));
        EXPECT_EQ(S_OK, testkit::call_by_name(by_name_.get(), L"GetRebootPending", {}, &late));
        EXPECT_EQ(S_OK, object_->IsRebootPending(&any));
        const auto reasons = testkit::items_of(early);
        EXPECT_EQ(reasons, testkit::items_of(late));
        EXPECT_EQ(any, reasons.empty() ? VARIANT_FALSE : VARIANT_TRUE);
        return reasons;
    };
    using List = std::vector<std::wstring>;
    ASSERT_EQ(List{}, pending()) << "the prefix has a restart pending already";

    const std::wstring active =
        testkit::read_text(HKEY_LOCAL_MACHINE, kControl + L"ComputerName\\ActiveComputerName",
                           L"ComputerName")
            .value_or(L"");
    std::wstring other_case = active;
    for (wchar_t& c : other_case)
        c = iswupper(c) ? towlower(c) : towupper(c);
    const std::wstring set_name = kControl + L"ComputerName\\ComputerName";
    const std::wstring renames = std::wstring(L"\\??\\C:\\old.tmp\0\0", 16);
    const Sign signs[] = {
        {L"ComponentServicing", kVersion + L"Component Based Servicing\\RebootPending"},
        {L"WindowsUpdate", kVersion + L"WindowsUpdate\\Auto Update\\RebootRequired"},
        {L"FileRename", kControl + L"Session Manager", L"PendingFileRenameOperations", REG_MULTI_SZ,
         renames},
        {L"FileRename", kControl + L"Session Manager", L"PendingFileRenameOperations2",
         REG_MULTI_SZ, renames},
        {L"ComputerRename", set_name, L"ComputerName", REG_SZ, L"TARNWICK-NEW"},
        {L"DomainJoin", kNetlogon, L"JoinDomain", REG_DWORD, L"\1"},
        {L"DomainJoin", kNetlogon + L"\\AvoidSpnSet"},
        {L"UpdateExe", L"SOFTWARE\\Microsoft\\Updates\\UpdateExeVolatile", L"Flags", REG_DWORD,
         L"\1"},
        // Signs that are none: no name, the same name in other letters, a
        // zero, and a key in the 32-bit view only.
        {nullptr, kControl + L"Session Manager", L"PendingFileRenameOperations", REG_MULTI_SZ,
         std::wstring(1, L'\0')},
        {nullptr, set_name, L"ComputerName", REG_SZ, other_case},
        {nullptr, L"SOFTWARE\\Microsoft\\Updates\\UpdateExeVolatile", L"Flags", REG_DWORD, L"\0"},
        {nullptr,
         kVersion + L"Component Based Servicing\\RebootPending",
         nullptr,
         0,
         {},
         KEY_WOW64_32KEY},
    };
    ASSERT_FALSE(active.empty());
    for (const Sign& sign : signs) {
        SCOPED_TRACE(narrow(sign.key) + " " + narrow(sign.value ? sign.value : L""));
        {
            const Written written(sign);
            EXPECT_EQ(sign.reason ? List{sign.reason} : List{}, pending());
        }
        EXPECT_EQ(List{}, pending());
    }
    std::vector<std::unique_ptr<Written>> all;
    for (const Sign& sign : signs) {
        if (sign.reason)
            all.push_back(std::make_unique<Written>(sign));
    }
    EXPECT_EQ((List{L"ComponentServicing", L"WindowsUpdate", L"FileRename", L"ComputerRename",
                    L"DomainJoin", L"UpdateExe"}),
              pending());
    all.clear();
    EXPECT_EQ(List{}, pending());
}

}  // namespace
