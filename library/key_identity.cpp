// A key's identity: its resolved name, asked of the registry for the key
// that is open (NtQueryKey, KeyNameInformation), compared without regard
// to case as the registry compares names.
#include "key_identity.h"

#include <cstring>

#include "handles.h"
#include "text.h"

namespace tarnwick::reg {

using platform::call;
using platform::Fn;

namespace {

constexpr int kKeyNameInformation = 3;
constexpr LONG kBufferOverflow = static_cast<LONG>(0x80000005);
constexpr LONG kBufferTooSmall = static_cast<LONG>(0xC0000023);

// Opens a key only to ask what it is: no access is asked for, so a key
// whose DACL refuses the caller is still found, and nothing of it is read.
LONG open_to_name(HKEY root, const wchar_t* path, REGSAM view, unique_hkey& key)
{
    return call<Fn::RegOpenKeyExW>(root, path, 0, view, key.put());
}

// A root's own name. Windows gives a predefined root back as itself for an
// empty path, a handle that the registry cannot name; its first key, opened
// as itself, can be named, and the root is what comes before its last part.
bool root_identity(HKEY root, Bstr& name)
{
    constexpr DWORD kRoom = 32768;
    const Bstr first = Bstr::bytes(kRoom * sizeof(wchar_t));
    DWORD length = kRoom;
    unique_hkey key;
    if (call<Fn::RegEnumKeyExW>(root, 0, first.get(), &length, nullptr, nullptr, nullptr,
                                nullptr) != 0 ||
        call<Fn::RegOpenKeyExW>(root, first.get(), REG_OPTION_OPEN_LINK, 0, key.put()) != 0 ||
        !resolved_name(key.get(), name))
        return false;
    const size_t slash = name.view().rfind(L'\\');
    if (slash == std::wstring_view::npos || slash == 0)
        return false;
    name = Bstr::copy(name.get(), static_cast<UINT>(slash));
    return true;
}

std::wstring_view without_last(std::wstring_view name) noexcept
{
    while (!name.empty() && name.back() == L'\\')
        name.remove_suffix(1);
    return name;
}

// The name's parts after "\REGISTRY\" + `hive`, or -1 when it is not there.
int parts_below(std::wstring_view name, std::wstring_view hive)
{
    constexpr std::wstring_view kRegistry = L"\\REGISTRY\\";
    if (name.size() < kRegistry.size() + hive.size() ||
        !text::same_ignoring_case({name.data(), kRegistry.size()}, kRegistry) ||
        !text::same_ignoring_case({name.data() + kRegistry.size(), hive.size()}, hive))
        return -1;
    name.remove_prefix(kRegistry.size() + hive.size());
    if (!name.empty() && name.front() != L'\\')
        return -1;
    int parts = 0;
    for (wchar_t c : name)
        parts += c == L'\\';
    return parts;
}

}  // namespace

bool resolved_name(HKEY key, Bstr& name)
{
    ULONG room = 512;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const Bstr buffer = Bstr::bytes(room);
        ULONG needed = 0;
        const LONG status =
            call<Fn::NtQueryKey>(key, kKeyNameInformation, buffer.get(), room, &needed);
        if (status == 0 && needed >= sizeof(ULONG)) {
            ULONG bytes = 0;
            std::memcpy(&bytes, buffer.get(), sizeof bytes);
            if (bytes > room - sizeof bytes)
                return false;
            const auto* text = reinterpret_cast<const wchar_t*>(
                reinterpret_cast<const BYTE*>(buffer.get()) + sizeof bytes);
            const std::wstring_view resolved =
                without_last({text, bytes / sizeof(wchar_t)});
            name = Bstr::copy(resolved.data(), static_cast<UINT>(resolved.size()));
            return !name.empty();
        }
        if (status != kBufferOverflow && status != kBufferTooSmall)
            return false;
        room = needed > room ? needed : room * 2;
    }
    return false;
}

bool KeyIdentity::find(HKEY root, const wchar_t* path, REGSAM view)
{
    const std::wstring_view whole(path);
    size_t end = whole.size();
    for (;;) {
        const Bstr prefix = Bstr::copy(whole.data(), static_cast<UINT>(end));
        unique_hkey key;
        const LONG status = end == 0 ? ERROR_SUCCESS : open_to_name(root, prefix.get(), view, key);
        if (status == 0) {
            Bstr resolved;
            if (!(end == 0 ? root_identity(root, resolved) : resolved_name(key.get(), resolved)))
                return false;
            // The parts that are not there yet, one backslash between each,
            // as Windows reads the path.
            Bstr joined = std::move(resolved);
            std::wstring_view rest(whole.data() + end, whole.size() - end);
            while (!rest.empty()) {
                const size_t slash = rest.find(L'\\');
                const std::wstring_view part(rest.data(), slash == std::wstring_view::npos ? rest.size() : slash);
                if (!part.empty())
                    joined = Bstr::join({joined.view(), L"\\", part});
                rest.remove_prefix(slash == std::wstring_view::npos ? rest.size() : slash + 1);
            }
            name_ = std::move(joined);
            existing_ = end;
            exists_ = end == whole.size() || whole.find_first_not_of(L'\\', end) ==
                                                  std::wstring_view::npos;
            return true;
        }
        if (status != ERROR_FILE_NOT_FOUND || end == 0)
            return false;
        const size_t slash = whole.rfind(L'\\', end - 1);
        end = slash == std::wstring_view::npos ? 0 : slash;
    }
}

bool KeyIdentity::within(const KeyIdentity& outer) const
{
    const std::wstring_view inner = name(), top = outer.name();
    if (inner.size() < top.size() || (inner.size() > top.size() && inner[top.size()] != L'\\'))
        return false;
    return text::same_ignoring_case({inner.data(), top.size()}, top);
}

bool KeyIdentity::holds_root() const
{
    // A root of the tree, or a hive directly below one.
    for (const wchar_t* hive : {L"MACHINE", L"USER"}) {
        const int parts = parts_below(name(), hive);
        if (parts >= 0 && parts <= 1)
            return true;
    }
    const struct Stored {
        HKEY root;
        const wchar_t* path;
        REGSAM view;
    } stored[] = {
        // HKCC, the machine's software as the 32-bit view sees it, and
        // HKCR's two halves in each view; HKCU and HKU's hives are hives.
        {HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Hardware Profiles\\Current", 0},
        {HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_32KEY},
        {HKEY_LOCAL_MACHINE, L"Software\\Classes", KEY_WOW64_64KEY},
        {HKEY_LOCAL_MACHINE, L"Software\\Classes", KEY_WOW64_32KEY},
        {HKEY_CURRENT_USER, L"Software\\Classes", KEY_WOW64_64KEY},
        {HKEY_CURRENT_USER, L"Software\\Classes", KEY_WOW64_32KEY},
    };
    for (const Stored& s : stored) {
        KeyIdentity storage;
        if (storage.find(s.root, s.path, s.view) && storage.exists() && storage.within(*this))
            return true;
    }
    return false;
}

}  // namespace tarnwick::reg
