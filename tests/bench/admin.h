// Benchmark rows of release 1.12's WindowsInfo, Time and Reboot methods,
// each through the method table against the raw calls it makes; part of
// bench.cpp, which includes this file after its helpers.
#pragma once

#include <lm.h>
#define SECURITY_WIN32
#include <security.h>

namespace {

constexpr wchar_t kUninstallList[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The lists GetInstalledPrograms reads, and the values of each entry.
struct ProgramListRef {
    HKEY root;
    REGSAM view;
    int entries;  // of the bench's 500
};
const ProgramListRef kLists[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, 250},
                                 {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, 150},
                                 {HKEY_CURRENT_USER, 0, 100}};
constexpr const wchar_t* kEntryValues[] = {L"DisplayName", L"SystemComponent", L"ParentKeyName",
                                           L"ReleaseType", L"DisplayVersion",  L"Publisher",
                                           L"InstallDate", L"UninstallString"};

// 500 entries of the bench's own, names in no order; gone with this.
struct BenchPrograms {
    BenchPrograms()
    {
        int n = 0;
        for (const ProgramListRef& list : kLists) {
            for (int i = 0; i < list.entries; ++i, ++n) {
                Key key;
                const std::wstring path =
                    std::wstring(kUninstallList) + L"\\TarnwickBench" + std::to_wstring(n);
                require(RegCreateKeyExW(list.root, path.c_str(), 0, nullptr, 0,
                                        KEY_SET_VALUE | list.view, nullptr, key.put(),
                                        nullptr) == 0,
                        "cannot create an uninstall entry");
                const std::wstring texts[] = {L"Program " + std::to_wstring(n * 7919 % 500),
                                              L"1.2.3", L"Tarnwick Bench", L"20250101",
                                              L"\"C:\\Program Files\\Bench\\uninstall.exe\" /q"};
                const wchar_t* names[] = {L"DisplayName", L"DisplayVersion", L"Publisher",
                                          L"InstallDate", L"UninstallString"};
                for (size_t v = 0; v < std::size(texts); ++v)
                    RegSetValueExW(key.get(), names[v], 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(texts[v].c_str()),
                                   static_cast<DWORD>((texts[v].size() + 1) * sizeof(wchar_t)));
            }
        }
    }
    ~BenchPrograms()
    {
        int n = 0;
        for (const ProgramListRef& list : kLists) {
            for (int i = 0; i < list.entries; ++i, ++n) {
                const std::wstring path =
                    std::wstring(kUninstallList) + L"\\TarnwickBench" + std::to_wstring(n);
                RegDeleteKeyExW(list.root, path.c_str(), list.view, 0);
            }
        }
    }
};

// The walk GetInstalledPrograms makes, in raw calls: each list's key opened
// and counted, each entry opened and its eight values read.
void raw_programs()
{
    BYTE data[2048];
    wchar_t name[256];
    ULONG found = 0;
    for (const ProgramListRef& list : kLists) {
        HKEY key;
        DWORD entries = 0;
        if (RegOpenKeyExW(list.root, kUninstallList, 0, KEY_READ | list.view, &key) != 0)
            continue;
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &entries, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr);
        for (DWORD i = 0; i < entries; ++i) {
            DWORD length = 256;
            HKEY entry;
            if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0 ||
                RegOpenKeyExW(key, name, 0, KEY_QUERY_VALUE | list.view, &entry) != 0)
                continue;
            for (const wchar_t* value : kEntryValues) {
                DWORD size = sizeof data, type;
                RegQueryValueExW(entry, value, nullptr, &type, data, &size);
            }
            RegCloseKey(entry);
            ++found;
        }
        RegCloseKey(key);
    }
    count(found >= 500);
}

// The signs GetRebootPending reads, in raw calls, in its order.
void raw_pending()
{
    constexpr REGSAM k64 = KEY_WOW64_64KEY;
    const wchar_t* control = L"SYSTEM\\CurrentControlSet\\Control\\";
    BYTE data[2048];
    auto key_exists = [&](const std::wstring& path) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | k64, &key) != 0)
            return false;
        RegCloseKey(key);
        return true;
    };
    // Opens the key, reads the value, and with `subkey` opens it too.
    auto value = [&](const std::wstring& path, const wchar_t* name, bool subkey = false) {
        HKEY key, sub;
        DWORD size = sizeof data, type = 0;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | k64, &key) != 0)
            return false;
        bool found = RegQueryValueExW(key, name, nullptr, &type, data, &size) == 0;
        if (!found && subkey && RegOpenKeyExW(key, name, 0, KEY_QUERY_VALUE | k64, &sub) == 0) {
            RegCloseKey(sub);
            found = true;
        }
        RegCloseKey(key);
        return found;
    };
    const std::wstring version = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
    key_exists(version + L"Component Based Servicing\\RebootPending");
    key_exists(version + L"WindowsUpdate\\Auto Update\\RebootRequired");
    value(control + std::wstring(L"Session Manager"), L"PendingFileRenameOperations");
    value(control + std::wstring(L"Session Manager"), L"PendingFileRenameOperations2");
    HKEY active, chosen;
    wchar_t a[256], b[256];
    DWORD a_size = sizeof a, b_size = sizeof b;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      (control + std::wstring(L"ComputerName\\ActiveComputerName")).c_str(), 0,
                      KEY_QUERY_VALUE | k64, &active) == 0) {
        RegQueryValueExW(active, L"ComputerName", nullptr, nullptr, reinterpret_cast<BYTE*>(a),
                         &a_size);
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          (control + std::wstring(L"ComputerName\\ComputerName")).c_str(), 0,
                          KEY_QUERY_VALUE | k64, &chosen) == 0) {
            RegQueryValueExW(chosen, L"ComputerName", nullptr, nullptr, reinterpret_cast<BYTE*>(b),
                             &b_size);
            CompareStringOrdinal(a, -1, b, -1, TRUE);
            RegCloseKey(chosen);
        }
        RegCloseKey(active);
    }
    value(L"SYSTEM\\CurrentControlSet\\Services\\Netlogon", L"JoinDomain", true);
    value(L"SYSTEM\\CurrentControlSet\\Services\\Netlogon", L"AvoidSpnSet", true);
    value(L"SOFTWARE\\Microsoft\\Updates\\UpdateExeVolatile", L"Flags");
}

void admin_12(const Settings& s)
{
    auto info = create<_WindowsInfo3>(CLSID_WindowsInfo);
    auto time = create<_Time3>(CLSID_Time);
    auto reboot = create<_Reboot3>(CLSID_Reboot);
    require(info && time && reboot, "the classes give no 1.2 interfaces");
    auto pair = [&](const char* measure, auto ours, auto raw, const char* goal = "<=1.20") {
        time_row("early bound 1.2", measure, side_by_side(s, ours, raw), goal);
    };
    Variant none, sam, dns;
    V_VT(&none) = VT_ERROR;
    V_ERROR(&none) = DISP_E_PARAMNOTFOUND;
    V_VT(&sam) = VT_BSTR;
    V_BSTR(&sam) = SysAllocString(L"SAM");
    V_VT(&dns) = VT_BSTR;
    V_BSTR(&dns) = SysAllocString(L"DNS");
    auto named = [&](auto method, const VARIANT& format) {
        return [&info, method, &format] {
            BSTR name = nullptr;
            count((info.get()->*method)(format, &name) == S_OK && SysStringLen(name) > 0);
            SysFreeString(name);
        };
    };
    wchar_t text[512];
    pair("GetComputerName vs GetComputerNameExW", named(&_WindowsInfo3::GetComputerName, none),
         [&] {
             DWORD size = 512;
             count(GetComputerNameExW(ComputerNameNetBIOS, text, &size));
         });
    pair("GetComputerName(\"DNS\") vs GetComputerNameExW",
         named(&_WindowsInfo3::GetComputerName, dns), [&] {
             DWORD size = 512;
             count(GetComputerNameExW(ComputerNameDnsHostname, text, &size));
         });
    pair("GetUserName vs GetUserNameW", named(&_WindowsInfo3::GetUserName, none), [&] {
        DWORD size = 512;
        count(GetUserNameW(text, &size));
    });
    pair("GetUserName(\"SAM\") vs GetUserNameExW", named(&_WindowsInfo3::GetUserName, sam), [&] {
        ULONG size = 512;
        count(GetUserNameExW(NameSamCompatible, text, &size));
    });
    const auto join = [] {
        LPWSTR name = nullptr;
        NETSETUP_JOIN_STATUS status;
        count(NetGetJoinInformation(nullptr, &name, &status) == 0);
        NetApiBufferFree(name);
    };
    pair("GetDomainName vs NetGetJoinInformation",
         table_call(info.get(), &_WindowsInfo3::GetDomainName), join);
    pair("IsDomainJoined vs NetGetJoinInformation",
         table_call(info.get(), &_WindowsInfo3::IsDomainJoined), join);
    pair("GetBootTimestamp vs GetTickCount64 + the clock",
         table_call(time.get(), &_Time3::GetBootTimestamp, length_is(24)), [] {
             FILETIME now;
             SYSTEMTIME t;
             const ULONGLONG ticks = GetTickCount64();
             GetSystemTimeAsFileTime(&now);
             count(FileTimeToSystemTime(&now, &t) && ticks > 0);
         });
    pair("GetUptime vs GetTickCount64", table_call(time.get(), &_Time3::GetUptime, is_set<double>),
         [] { count(GetTickCount64() > 0); });
    // The two above cost what the library's other clock methods cost: the
    // method's frame, and the String's allocation, which the raw calls
    // do not make.
    pair("GetBootTimestamp vs CurrentUTCTimestamp",
         table_call(time.get(), &_Time3::GetBootTimestamp, length_is(24)),
         table_call(time.get(), &_Time2::CurrentUTCTimestamp, length_is(24)));
    pair("GetUptime vs CurrentUnixTime", table_call(time.get(), &_Time3::GetUptime, is_set<double>),
         table_call(time.get(), &_Time2::CurrentUnixTime, is_set<double>));
    pair(
        "GetRebootPending vs the raw reads",
        [&] {
            Variant reasons;
            count(reboot->GetRebootPending(&reasons) == S_OK);
        },
        raw_pending);
    pair("IsRebootPending vs the raw reads", table_call(reboot.get(), &_Reboot3::IsRebootPending),
         raw_pending);
    BenchPrograms programs;
    pair(
        "GetInstalledPrograms, 500 entries, vs a raw walk",
        [&] {
            Variant list;
            count(info->GetInstalledPrograms(none, &list) == S_OK &&
                  V_ARRAY(&list)->rgsabound[0].cElements >= 500);
        },
        raw_programs, "<=1.30");
}

}  // namespace
