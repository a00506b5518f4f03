// WindowsInfo: the platform id, the operating system's name and version,
// and the program path of the default web browser. Every registry read goes
// through a Registry object of the calling method's own, and the methods
// that build on others (GetOSVersionInfo on GetOSType, GetDefaultBrowserPath
// on GetWebBrowser and GetLocation) call them through the object's own
// interface. Both are load-bearing: a failure inside QueryRegValue reaches
// the caller with the Registry object's status and error source, and an
// inner method's failing status ends the outer call unchanged.
//
// Since release 1.11 (_WindowsInfo2) also what the system truly is: its
// name, version and release from the 64-bit registry view and the version
// query that takes no account of the program's manifest, the machine's and the
// process's architecture, and the browser the user chose. These read the
// registry themselves, and a refusal anywhere is the empty text.
//
// Since release 1.12 (_WindowsInfo3) also the machine's and the user's
// names, the domain or workgroup, and the programs installed for the
// machine, in either registry view, and for the user.
#include <atomic>
#include <cstring>
#include <initializer_list>

#include "WindowsInfo.h"
#include "text.h"

namespace tarnwick {

using platform::call;
using platform::Fn;

class WindowsInfo final : public Object<WindowsInfo, _WindowsInfo3, kWindowsInfo> {
public:
    // _WindowsInfo
    HRESULT STDMETHODCALLTYPE GetOSType(LONG* result) override;
    HRESULT STDMETHODCALLTYPE GetOSVersionInfo(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetWebBrowser(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetLocation(BSTR* strPath) override;
    HRESULT STDMETHODCALLTYPE GetDefaultBrowserPath(BSTR* result) override;

    // _WindowsInfo2
    HRESULT STDMETHODCALLTYPE GetOSName(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetOSVersion(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetOSDisplayVersion(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetOSArchitecture(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetProcessArchitecture(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetUserDefaultBrowserPath(BSTR* result) override;

    // _WindowsInfo3
    HRESULT STDMETHODCALLTYPE GetComputerName(VARIANT Format, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetUserName(VARIANT Format, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetDomainName(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE IsDomainJoined(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE GetInstalledPrograms(VARIANT Scope, VARIANT* result) override;
};

const ClassInfo kWindowsInfo{&CLSID_WindowsInfo,
                             {&IID__WindowsInfo3, &IID__WindowsInfo2, &IID__WindowsInfo},
                             L"WindowsInfo",
                             L"TarnwickDLL.WindowsInfo",
                             &WindowsInfo::create};

KeyValues::KeyValues(HKEY root, const wchar_t* path, REGSAM view)
{
    opened_ = call<Fn::RegOpenKeyExW>(root, path, 0, KEY_QUERY_VALUE | view, key_.put()) == 0;
}

const ValueReader* KeyValues::read(const wchar_t* name)
{
    return opened_ && value_.read(key_.get(), name) ? &value_ : nullptr;
}

std::wstring_view KeyValues::text(const wchar_t* name)
{
    const ValueReader* value = read(name);
    if (!value || (value->type() != REG_SZ && value->type() != REG_EXPAND_SZ))
        return {};
    return value->text();
}

DWORD KeyValues::number(const wchar_t* name)
{
    DWORD n = 0;
    if (const ValueReader* value = read(name);
        value && value->type() == REG_DWORD && value->size() == sizeof n)
        std::memcpy(&n, value->data(), sizeof n);
    return n;
}

namespace {

constexpr LONG kLocalMachine = static_cast<LONG>(0x80000002);

// Reads a value under HKEY_LOCAL_MACHINE through QueryRegValue; false when
// the key or value is missing.
bool read(_Registry* registry, const Bstr& key, std::wstring_view name, Bstr& out)
{
    Bstr name_text = Bstr::join({name});
    VARIANT_BOOL found = VARIANT_FALSE;
    check(registry->QueryRegValue(kLocalMachine, key.get(), name_text.get(), out.ref(), &found));
    return found != VARIANT_FALSE;
}

// Where the system keeps its name, version and release, in the 64-bit view
// on 64-bit Windows whatever the caller's bitness (32-bit Windows ignores
// the flag).
struct SystemKey : KeyValues {
    SystemKey()
        : KeyValues(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion",
                    KEY_WOW64_64KEY)
    {
    }
};

// The leading decimal digits of a text as a number; 0 without any.
unsigned long number_in(std::wstring_view text) noexcept
{
    unsigned long n = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9' || n > 0xFFFFFFF)
            break;
        n = n * 10 + static_cast<unsigned long>(c - L'0');
    }
    return n;
}

// The architecture of a machine type, as the methods name it; empty for
// any other.
std::wstring_view machine_name(USHORT machine) noexcept
{
    switch (machine) {
    case IMAGE_FILE_MACHINE_I386:
        return L"x86";
    case IMAGE_FILE_MACHINE_AMD64:
        return L"x64";
    case IMAGE_FILE_MACHINE_ARM64:
        return L"ARM64";
    default:
        return {};
    }
}

// The program path in a command line: what the quotes enclose when it
// starts with one, else everything up to the first ".exe" in any case, else
// the whole command without spaces at its ends.
std::wstring_view program_in(std::wstring_view command) noexcept
{
    while (!command.empty() && command.front() == L' ')
        command.remove_prefix(1);
    if (!command.empty() && command.front() == L'"') {
        command.remove_prefix(1);
        const size_t end = command.find(L'"');
        return {command.data(), end == std::wstring_view::npos ? command.size() : end};
    }
    for (size_t i = 0; i + 4 <= command.size(); ++i) {
        if (command[i] == L'.' && (command[i + 1] | 0x20) == L'e' &&
            (command[i + 2] | 0x20) == L'x' && (command[i + 3] | 0x20) == L'e')
            return {command.data(), i + 4};
    }
    while (!command.empty() && command.back() == L' ')
        command.remove_suffix(1);
    return command;
}

// A text with its environment variables expanded; the text as it is when
// the expansion fails.
Bstr expanded(std::wstring_view text)
{
    Bstr source = Bstr::join({text});
    const wchar_t* s = text::wide(source.get());
    const DWORD needed = call<Fn::ExpandEnvironmentStringsW>(s, nullptr, 0);
    if (needed <= 1)
        return source;
    Bstr out = Bstr::copy(nullptr, needed - 1);
    if (call<Fn::ExpandEnvironmentStringsW>(s, out.get(), needed) != needed)
        return source;
    return out;
}

// The machine type of the machine itself; IMAGE_FILE_MACHINE_UNKNOWN when
// neither query knows it.
USHORT native_machine()
{
    USHORT process = 0, machine = 0;
    if (const auto query = platform::find<Fn::IsWow64Process2>();
        query && query(call<Fn::GetCurrentProcess>(), &process, &machine))
        return machine;
    SYSTEM_INFO system{};
    call<Fn::GetNativeSystemInfo>(&system);
    switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return IMAGE_FILE_MACHINE_I386;
    case PROCESSOR_ARCHITECTURE_AMD64:
        return IMAGE_FILE_MACHINE_AMD64;
    case PROCESSOR_ARCHITECTURE_ARM64:
        return IMAGE_FILE_MACHINE_ARM64;
    default:
        return IMAGE_FILE_MACHINE_UNKNOWN;
    }
}

// Where the user's choice for http links is kept: newer builds of Windows 11
// keep it in UserChoiceLatest, every other system in UserChoice.
constexpr const wchar_t* kUserChoiceKeys[] = {
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoiceLatest",
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice",
};

// Which one of `names` an optional argument names; the first when it is
// left out. Raises as names_in does, and 5 for more than one name.
unsigned one_of(const VARIANT& argument, std::initializer_list<std::wstring_view> names)
{
    unsigned bits = reg::names_in(argument, names, 1), index = 0;
    if (bits & (bits - 1))
        raise(kInvalidCall);
    while (bits >>= 1)
        ++index;
    return index;
}

// Room for a name that Windows writes, and the name as a result: the empty
// text when Windows refused.
struct NameBuffer {
    wchar_t text[512];
    DWORD size = std::size(text);
    Bstr result(BOOL written) const { return written ? Bstr::join({text}) : Bstr(); }
};

// The domain the machine is joined to or its workgroup, and which of the
// two it is; NetSetupUnknownStatus when Windows cannot tell.
NETSETUP_JOIN_STATUS join_state(Bstr* name)
{
    net_buffer buffer;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    if (call<Fn::NetGetJoinInformation>(nullptr, buffer.put(), &status) != 0)
        return NetSetupUnknownStatus;
    if (name && buffer.get() && (status == NetSetupWorkgroupName || status == NetSetupDomainName))
        *name = Bstr::join({buffer.get()});
    return status;
}

// Where the programs that can be removed are listed, and the scope of each
// list: the machine's in the 64-bit and the 32-bit registry view, and the
// user's (view 0).
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
struct ProgramList {
    const wchar_t* scope;
    REGSAM view;
};
constexpr ProgramList kProgramLists[] = {
    {L"Machine64", KEY_WOW64_64KEY}, {L"Machine32", KEY_WOW64_32KEY}, {L"User", 0}};
// The values that an item gives of its entry, in order; its scope follows.
constexpr const wchar_t* kProgramFields[] = {L"DisplayName", L"DisplayVersion", L"Publisher",
                                             L"InstallDate", L"UninstallString"};
constexpr ULONG kItemSize = std::size(kProgramFields) + 1;
// The release types of updates, which are listed with what they update.
constexpr std::wstring_view kUpdates[] = {L"Update", L"Hotfix", L"Security Update",
                                          L"Update Rollup"};

// Whether an entry is a part of the system or an update rather than a
// program of its own.
bool left_out(KeyValues& entry)
{
    if (entry.number(L"SystemComponent") == 1 || entry.read(L"ParentKeyName"))
        return true;
    const std::wstring_view type = entry.text(L"ReleaseType");
    for (std::wstring_view update : kUpdates) {
        if (reg::same_name(type, update))
            return true;
    }
    return false;
}

// Where an item of that name goes among `count` items sorted by name,
// letters in any case: after those of the same name, so that the order in
// which they were found stays.
ULONG place_of(const VARIANT* items, ULONG count, BSTR name)
{
    ULONG low = 0, high = count;
    while (low < high) {
        const ULONG middle = (low + high) / 2;
        const BSTR other = V_BSTR(static_cast<const VARIANT*>(V_ARRAY(&items[middle])->pvData));
        if (call<Fn::CompareStringOrdinal>(name, static_cast<int>(SysStringLen(name)), other,
                                           static_cast<int>(SysStringLen(other)),
                                           TRUE) == CSTR_LESS_THAN)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

}  // namespace

HRESULT WindowsInfo::GetOSType(LONG* result)
{
    return method(result, [](LONG& id) { id = platform::platform_id(); });
}

HRESULT WindowsInfo::GetOSVersionInfo(BSTR* result)
{
    return method(result, [&](Bstr& text) {
        LONG platform_id = 0;
        check(self()->GetOSType(&platform_id));
        std::wstring_view key, version_name;
        if (platform_id == 1) {
            key = L"Software\\Microsoft\\Windows\\CurrentVersion";
            version_name = L"VersionNumber";
        } else if (platform_id == 2) {
            key = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
            version_name = L"CurrentVersion";
        } else {
            return;
        }
        const auto registry = Registry::make();
        const Bstr key_text = Bstr::join({key});
        Bstr product, version;
        if (!read(registry.get(), key_text, L"ProductName", product))
            return;
        if (read(registry.get(), key_text, version_name, version))
            text = Bstr::join(
                {L"Operating System: ", product.view(), L" Version ", version.view(), L"\r\n"});
        else
            text = Bstr::join({L"Operating System: ", product.view(), L" "});
    });
}

HRESULT WindowsInfo::GetWebBrowser(BSTR* result)
{
    return method(result, [&](Bstr& path) {
        const auto registry = Registry::make();
        Bstr prog_id, command;
        if (!read(registry.get(), Bstr::join({L"Software\\Classes\\.htm"}), L"", prog_id))
            return;
        // The ProgID is used as read, even when it is empty.
        const Bstr key =
            Bstr::join({L"Software\\Classes\\", prog_id.view(), L"\\shell\\open\\command"});
        if (!read(registry.get(), key, L"", command))
            return;
        check(self()->GetLocation(command.ref()));
        path = std::move(command);
    });
}

// Cuts a command line down to its program path: a leading double quote goes,
// and so does everything after the last lower-case "exe". A text without
// one becomes empty.
HRESULT WindowsInfo::GetLocation(BSTR* strPath)
{
    return method(ByRef(strPath), [&] {
        const wchar_t* s = *strPath;
        const UINT length = SysStringLen(*strPath);
        const UINT start = length > 0 && s[0] == L'"' ? 1 : 0;
        UINT end = start;
        for (UINT i = length; i >= start + 3; --i) {
            if (s[i - 3] == L'e' && s[i - 2] == L'x' && s[i - 1] == L'e') {
                end = i;
                break;
            }
        }
        if (start == 0 && end == length)
            return;  // already a path that ends in "exe"
        Bstr path = Bstr::copy(s + start, end - start);
        SysFreeString(*strPath);
        *strPath = path.release();
    });
}

HRESULT WindowsInfo::GetDefaultBrowserPath(BSTR* result)
{
    return method(result, [&](Bstr& path) {
        check(self()->GetWebBrowser(path.put()));
        if (!path.empty())
            check(self()->GetLocation(path.ref()));
    });
}

// The product name; a build from 22000 on is Windows 11, which still
// calls itself "Windows 10" there.
HRESULT WindowsInfo::GetOSName(BSTR* result)
{
    return method(result, [](Bstr& name) {
        SystemKey key;
        name = Bstr::join({key.text(L"ProductName")});
        const size_t at = name.view().find(L"Windows 10");
        if (at != std::wstring_view::npos && number_in(key.text(L"CurrentBuildNumber")) >= 22000)
            name.get()[at + 9] = L'1';
    });
}

HRESULT WindowsInfo::GetOSVersion(BSTR* result)
{
    return method(result, [](Bstr& text) {
        OSVERSIONINFOW version{};
        version.dwOSVersionInfoSize = sizeof version;
        if (call<Fn::RtlGetVersion>(&version) != 0)
            return;
        const unsigned long numbers[] = {version.dwMajorVersion, version.dwMinorVersion,
                                         version.dwBuildNumber, SystemKey().number(L"UBR")};
        wchar_t digits[48];
        wchar_t* end = digits;
        for (unsigned long n : numbers) {
            if (end != digits)
                *end++ = L'.';
            end = text::put_decimal(end, n);
        }
        text = Bstr::copy(digits, static_cast<UINT>(end - digits));
    });
}

HRESULT WindowsInfo::GetOSDisplayVersion(BSTR* result)
{
    return method(result, [](Bstr& release) {
        SystemKey key;
        release = Bstr::join({key.text(L"DisplayVersion")});
        if (release.empty())
            release = Bstr::join({key.text(L"ReleaseId")});
    });
}

// The machine's own architecture, which the architecture query of Windows
// 10 and later tells also an emulated process; older systems, which
// emulate no other architecture, answer through the native system
// information. The machine does not change while a process runs, so the
// answer is asked once per process.
HRESULT WindowsInfo::GetOSArchitecture(BSTR* result)
{
    static std::atomic<USHORT> known{IMAGE_FILE_MACHINE_UNKNOWN};
    return method(result, [](Bstr& name) {
        USHORT machine = known.load(std::memory_order_relaxed);
        if (machine == IMAGE_FILE_MACHINE_UNKNOWN) {
            machine = native_machine();
            known.store(machine, std::memory_order_relaxed);
        }
        name = Bstr::join({machine_name(machine)});
    });
}

// A library runs only in a process of its own architecture, so the answer
// is the one this library was built for.
HRESULT WindowsInfo::GetProcessArchitecture(BSTR* result)
{
#if defined(_M_IX86) || defined(__i386__)
    constexpr USHORT kBuiltFor = IMAGE_FILE_MACHINE_I386;
#elif defined(_M_X64) || defined(__x86_64__)
    constexpr USHORT kBuiltFor = IMAGE_FILE_MACHINE_AMD64;
#else
    constexpr USHORT kBuiltFor = IMAGE_FILE_MACHINE_ARM64;
#endif
    return method(result, [](Bstr& name) { name = Bstr::join({machine_name(kBuiltFor)}); });
}

// The user's choice for http links, its ProgID's command under the merged
// classes root (the user's classes over the machine's), the program in it
// with the environment expanded; without a choice or a command, the
// machine-wide answer, whose failure is the empty text too.
HRESULT WindowsInfo::GetUserDefaultBrowserPath(BSTR* result)
{
    return method(result, [&](Bstr& path) {
        Bstr prog_id;
        for (const wchar_t* key : kUserChoiceKeys) {
            prog_id = Bstr::join({KeyValues(HKEY_CURRENT_USER, key).text(L"ProgId")});
            if (!prog_id.empty())
                break;
        }
        if (!prog_id.empty()) {
            const Bstr key = Bstr::join({prog_id.view(), L"\\shell\\open\\command"});
            const Bstr command = expanded(KeyValues(HKEY_CLASSES_ROOT, key.get()).text(L""));
            path = Bstr::join({program_in(command.view())});
        }
        if (path.empty() && FAILED(self()->GetDefaultBrowserPath(path.put()))) {
            path.reset();
            SetErrorInfo(0, nullptr);  // its failure is not this call's
        }
    });
}

// The name as GetComputerNameExW gives it: the NetBIOS name ("" or
// "NetBIOS"), the DNS host name ("DNS") or the fully qualified DNS name
// ("FQDN").
HRESULT WindowsInfo::GetComputerName(VARIANT Format, BSTR* result)
{
    return method(result, [&](Bstr& name) {
        constexpr COMPUTER_NAME_FORMAT kFormats[] = {ComputerNameNetBIOS, ComputerNameNetBIOS,
                                                     ComputerNameDnsHostname,
                                                     ComputerNameDnsFullyQualified};
        const unsigned format = one_of(Format, {L"", L"NetBIOS", L"DNS", L"FQDN"});
        NameBuffer buffer;
        name = buffer.result(
            call<Fn::GetComputerNameExW>(kFormats[format], buffer.text, &buffer.size));
    });
}

// The account name of the calling thread ("") or its domain and account as
// "DOMAIN\user" ("SAM").
HRESULT WindowsInfo::GetUserName(VARIANT Format, BSTR* result)
{
    return method(result, [&](Bstr& name) {
        const bool sam = one_of(Format, {L"", L"SAM"}) == 1;
        NameBuffer buffer;
        name = buffer.result(
            sam ? call<Fn::GetUserNameExW>(NameSamCompatible, buffer.text, &buffer.size)
                : call<Fn::GetUserNameW>(buffer.text, &buffer.size));
    });
}

HRESULT WindowsInfo::GetDomainName(BSTR* result)
{
    return method(result, [](Bstr& name) { join_state(&name); });
}

HRESULT WindowsInfo::IsDomainJoined(VARIANT_BOOL* result)
{
    return method(result, [](VARIANT_BOOL& joined) {
        if (join_state(nullptr) == NetSetupDomainName)
            joined = VARIANT_TRUE;
    });
}

// The lists are read one after another; the number of entries a list holds
// when its key is opened bounds what it adds, so an entry added meanwhile is
// not listed. Each item goes into its place by name as it is read.
HRESULT WindowsInfo::GetInstalledPrograms(VARIANT Scope, VARIANT* result)
{
    return method(result, [&](Variant& list) {
        unsigned scopes = reg::names_in(Scope, {L"Machine64", L"Machine32", L"User"}, 7);
        // 32-bit Windows has one view, and the 32-bit scope lists it.
        if (native_machine() == IMAGE_FILE_MACHINE_I386)
            scopes &= ~1u;
        reg::make_array(list, 0);
        ULONG count = 0;
        for (const ProgramList& source : kProgramLists) {
            const bool chosen = scopes & 1;
            scopes >>= 1;
            unique_hkey key;
            DWORD entries = 0;
            if (!chosen ||
                call<Fn::RegOpenKeyExW>(source.view ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                                        kUninstallKey, 0, KEY_READ | source.view, key.put()) != 0 ||
                call<Fn::RegQueryInfoKeyW>(key.get(), nullptr, nullptr, nullptr, &entries, nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr) != 0)
                continue;
            // Room for this list's entries after the items so far.
            const ULONG room = count + entries;
            reg::resize_array(list, room);
            VARIANT* items = static_cast<VARIANT*>(V_ARRAY(list.get())->pvData);
            reg::KeyContents contents(key.get());
            while (count < room && contents.next_subkey()) {
                KeyValues entry(key.get(), contents.subkey_name().data(), source.view);
                Variant item;
                VARIANT* fields = reg::make_array(item, kItemSize);
                reg::put_text(&fields[0], entry.text(kProgramFields[0]));
                const BSTR name = V_BSTR(&fields[0]);
                if (SysStringLen(name) == 0 || left_out(entry))
                    continue;
                for (ULONG f = 1; f < std::size(kProgramFields); ++f)
                    reg::put_text(&fields[f], entry.text(kProgramFields[f]));
                reg::put_text(&fields[kItemSize - 1], source.scope);
                const ULONG at = place_of(items, count, name);
                std::memmove(static_cast<void*>(items + at + 1), items + at,
                             (count - at) * sizeof *items);
                item.release(&items[at]);
                ++count;
            }
        }
        reg::resize_array(list, count);
    });
}

}  // namespace tarnwick
