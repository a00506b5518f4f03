// Registry 1.2 (_Registry3): a subtree copied and searched, a key's
// last-write time, and who may open a key: its access checked, its
// security read and set as SDDL text. Export to and import from a
// registration file are in RegFile.cpp. Argument faults are run-time
// errors (5, 13) as in 1.1; a refusal by Windows is False, Empty or the
// empty text.
#include <cmath>
#include <cwchar>

#include "Registry.h"
#include "key_identity.h"
#include "text.h"
#include "tree_walk.h"

namespace tarnwick {

using platform::call;
using platform::Fn;
using namespace reg;

namespace {

// ---------------------------------------------------------------- copying

// Copies the values of `from` and every key below it into `to`, each level
// read and created in `view`, at most the registry's depth below it. False
// when anything stayed behind; what was copied stays.
bool copy_tree(HKEY from, HKEY to, REGSAM view)
{
    bool whole = true;
    KeyStack made;  // the copy of each level below `to` walked now
    TreeWalk walk(from, {}, KEY_READ, view, kDeepestTree);
    for (TreeWalk::Step step; (step = walk.next()) != TreeWalk::kEnd;) {
        if (step != TreeWalk::kEnter) {
            if (step == TreeWalk::kLeave && walk.depth() > 0)
                made.pop();
            continue;
        }
        HKEY target = to;
        if (walk.depth() > 0) {
            unique_hkey key;
            if (call<Fn::RegCreateKeyExW>(made.size() ? made.back() : to,
                                          walk.name().data(), 0, nullptr,
                                          REG_OPTION_NON_VOLATILE, KEY_WRITE | view, nullptr,
                                          key.put(), nullptr) != 0) {
                whole = false;
                walk.skip();
            }
            target = key.get();
            made.push(key);
            if (!target)
                continue;
        }
        KeyContents contents(walk.key());
        while (contents.next_value()) {
            if (set_value(target, contents.value_name().data(), contents.value_type(),
                          contents.data(), contents.size()) != 0)
                whole = false;
        }
        whole &= contents.complete();
    }
    return whole && walk.complete() && !walk.too_deep();
}

// ---------------------------------------------------------------- finding

// What RegFind looks at: key names, value names and text data, in the order
// of the names of `Where`.
enum Where : unsigned { kKeys = 1, kValues = 2, kData = 4, kEverywhere = 7 };
const std::initializer_list<std::wstring_view> kWhereNames = {L"Keys", L"Values", L"Data"};

// The matches of a search, in the order found: each a zero-based array
// (KeyPath, ValueName, Match).
class Matches {
public:
    Matches() { items_ = make_array(list_, room_); }

    void add(std::wstring_view path, std::wstring_view value, const wchar_t* what)
    {
        if (count_ == room_) {
            room_ *= 2;
            resize_array(list_, room_);
            items_ = static_cast<VARIANT*>(V_ARRAY(list_.get())->pvData);
        }
        Variant match;
        VARIANT* parts = make_array(match, 3);
        put_text(&parts[0], path);
        put_text(&parts[1], value);
        put_text(&parts[2], what);
        match.release(&items_[count_++]);
    }

    // The array of matches, cut to their number.
    void hand_over(Variant& out)
    {
        resize_array(list_, count_);
        out = std::move(list_);
    }

private:
    Variant list_;
    VARIANT* items_ = nullptr;
    ULONG room_ = 16;
    ULONG count_ = 0;
};

// A search's pattern and where it looks, over one subtree.
class Search {
public:
    Search(BSTR pattern, unsigned where, REGSAM view)
        : pattern_(text::folded(text::wide(pattern), SysStringLen(pattern))), where_(where), view_(view)
    {
    }

    // Searches the key open as `key`, whose path below the root is `path`,
    // and then its subkeys, depth first; raises 5 for a tree deeper than
    // the registry's own limit below it.
    void run(HKEY key, std::wstring_view path, Matches& found)
    {
        TreeWalk walk(key, path, KEY_READ, view_, kDeepestTree);
        for (TreeWalk::Step step; (step = walk.next()) != TreeWalk::kEnd;) {
            if (step != TreeWalk::kEnter)
                continue;
            if (walk.depth() > 0 && (where_ & kKeys) && matches(walk.name()))
                found.add(walk.path(), {}, L"Key");
            KeyContents contents(walk.key());
            while (contents.next_value()) {
                const std::wstring_view name = contents.value_name();
                if ((where_ & kValues) && matches(name))
                    found.add(walk.path(), name, L"Value");
                if ((where_ & kData) && data_matches(contents))
                    found.add(walk.path(), name, L"Data");
            }
        }
        if (walk.too_deep())
            raise(kInvalidCall, L"The tree is deeper than 512 levels");
    }

private:
    bool matches(std::wstring_view text) { return text::matches(pattern_.view(), fold(text)); }

    // Text data: REG_SZ and REG_EXPAND_SZ as stored, each string of a
    // REG_MULTI_SZ.
    bool data_matches(const KeyContents& value)
    {
        const DWORD type = value.value_type();
        if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)
            return false;
        std::wstring_view data(reinterpret_cast<const wchar_t*>(value.data()),
                               value.size() / sizeof(wchar_t));
        if (type != REG_MULTI_SZ) {
            if (!data.empty() && data.back() == L'\0')
                data.remove_suffix(1);
            return matches(data);
        }
        for (;;) {
            const size_t end = data.find(L'\0');
            const std::wstring_view entry(data.data(), end == std::wstring_view::npos ? data.size() : end);
            if (entry.empty())
                return false;  // an empty entry ends the list, and so does the end
            if (matches(entry))
                return true;
            if (end == std::wstring_view::npos)
                return false;
            data.remove_prefix(end + 1);
        }
    }

    std::wstring_view fold(std::wstring_view text)
    {
        scratch_ = text::folded(text.data(), static_cast<UINT>(text.size()));
        return scratch_.view();
    }

    Bstr pattern_;
    Bstr scratch_;
    unsigned where_;
    REGSAM view_;
};

// ---------------------------------------------------------------- access

// The access RegCheckAccess asks for: "Read", "Write", "Full" or a mask.
REGSAM access_of(const VARIANT& argument)
{
    const Arg access(argument);
    if (access.type() == VT_BSTR) {
        const std::wstring_view name(V_BSTR(&*access), SysStringLen(V_BSTR(&*access)));
        if (same_name(name, L"Read"))
            return KEY_READ;
        if (same_name(name, L"Write"))
            return KEY_WRITE;
        if (same_name(name, L"Full"))
            return KEY_ALL_ACCESS;
    }
    // Any other text is no name of the three, whether it spells a number
    // or not.
    if (access.missing() || access.type() == VT_BOOL || access.type() == VT_BSTR)
        raise(kInvalidCall);
    // A number past 32 bits is no mask, however far past.
    Variant real;
    const HRESULT as_real =
        VariantChangeType(real.get(), const_cast<VARIANT*>(&*access), 0, VT_R8);
    if (as_real == DISP_E_OVERFLOW ||
        (SUCCEEDED(as_real) && std::fabs(V_R8(real.get())) > 4294967295.0))
        raise(kInvalidCall);
    const Whole mask = whole_of(*access);
    if (mask.negative || mask.bits == 0 || mask.bits > 0xFFFFFFFFull)
        raise(kInvalidCall);
    // The view flags are the View parameter's to give: a mask of them alone
    // asks for no access at all.
    const REGSAM asked = static_cast<REGSAM>(mask.bits) & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    if (asked == 0)
        raise(kInvalidCall);
    return asked;
}

// A security descriptor that LocalFree releases.
struct LocalDescriptor {
    PSECURITY_DESCRIPTOR get = nullptr;
    LocalDescriptor() = default;
    LocalDescriptor(const LocalDescriptor&) = delete;
    ~LocalDescriptor()
    {
        if (get)
            platform::call_if_bound<Fn::LocalFree>(get);
    }
};

constexpr SECURITY_INFORMATION kParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

}  // namespace

HRESULT Registry::RegCopyKey(VARIANT RootKey, BSTR SubKey, VARIANT ToRootKey, BSTR ToSubKey,
                             VARIANT View, VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL& copied) {
        const Place from(RootKey, SubKey, View);
        const Place to(ToRootKey, ToSubKey, View);
        named_root(from.root);
        named_root(to.root);
        // A copy into itself, by whatever name, would never end. A path
        // that Windows cannot open names no key to copy, or to copy to.
        KeyIdentity source, destination;
        if (!source.find(from.root, from.sub_key, from.view) || !source.exists() ||
            !destination.find(to.root, to.sub_key, to.view))
            return;
        if (destination.within(source))
            raise(kInvalidCall);
        unique_hkey source_key, target;
        if (!from.open(KEY_READ, source_key) ||
            call<Fn::RegCreateKeyExW>(to.root, to.sub_key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_WRITE | to.view, nullptr, target.put(), nullptr) != 0)
            return;
        if (copy_tree(source_key.get(), target.get(), from.view))
            copied = VARIANT_TRUE;
    });
}

HRESULT Registry::RegFind(VARIANT RootKey, BSTR SubKey, BSTR Pattern, VARIANT Where, VARIANT View,
                          VARIANT* result)
{
    return method(result, [&](Variant& found) {
        const Place place(RootKey, SubKey, View);
        named_root(place.root);
        Search search(Pattern, names_in(Where, kWhereNames, kEverywhere), place.view);
        unique_hkey key;
        if (!place.open(KEY_READ, key))
            return;
        Matches matches;
        search.run(key.get(), trimmed(place.sub_key), matches);
        matches.hand_over(found);
    });
}

HRESULT Registry::RegKeyLastWrite(VARIANT RootKey, BSTR SubKey, VARIANT View, BSTR* result)
{
    return method(result, [&](Bstr& when) {
        const Place place(RootKey, SubKey, View);
        unique_hkey key;
        FILETIME written{};
        SYSTEMTIME utc{};
        if (place.open(KEY_QUERY_VALUE, key) &&
            call<Fn::RegQueryInfoKeyW>(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr,
                                       &written) == 0 &&
            call<Fn::FileTimeToSystemTime>(&written, &utc))
            when = text::timestamp(utc, nullptr);
    });
}

HRESULT Registry::RegCheckAccess(VARIANT RootKey, BSTR SubKey, VARIANT Access, VARIANT View,
                                 VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL& allowed) {
        const Place place(RootKey, SubKey, View);
        unique_hkey key;
        if (place.open(access_of(Access), key))
            allowed = VARIANT_TRUE;
    });
}

HRESULT Registry::RegGetSecurity(VARIANT RootKey, BSTR SubKey, VARIANT View, BSTR* result)
{
    return method(result, [&](Bstr& sddl) {
        const Place place(RootKey, SubKey, View);
        unique_hkey key;
        if (!place.open(READ_CONTROL, key))
            return;
        DWORD size = 0;
        call<Fn::RegGetKeySecurity>(key.get(), kParts, nullptr, &size);
        if (size == 0)
            return;
        const Bstr descriptor = Bstr::bytes(size);
        LPWSTR text = nullptr;
        if (call<Fn::RegGetKeySecurity>(key.get(), kParts, descriptor.get(), &size) != 0 ||
            !call<Fn::ConvertSecurityDescriptorToStringSecurityDescriptorW>(
                descriptor.get(), SDDL_REVISION_1, kParts, &text, nullptr))
            return;
        LocalDescriptor owned;
        owned.get = text;
        sddl = Bstr::copy(text, static_cast<UINT>(std::wcslen(text)));
    });
}

HRESULT Registry::RegSetSecurity(VARIANT RootKey, BSTR SubKey, BSTR Sddl, VARIANT View,
                                 VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL& applied) {
        const Place place(RootKey, SubKey, View);
        const wchar_t* text = text::exact_name(Sddl);
        LocalDescriptor descriptor;
        if (!text || !*text ||
            !call<Fn::ConvertStringSecurityDescriptorToSecurityDescriptorW>(
                text, SDDL_REVISION_1, &descriptor.get, nullptr))
            raise(kInvalidCall);
        // The parts the text names, and the access each needs.
        SECURITY_INFORMATION parts = 0;
        REGSAM access = 0;
        PSID sid = nullptr;
        PACL dacl = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        if (call<Fn::GetSecurityDescriptorOwner>(descriptor.get, &sid, &defaulted) && sid)
            parts |= OWNER_SECURITY_INFORMATION, access |= WRITE_OWNER;
        if (call<Fn::GetSecurityDescriptorGroup>(descriptor.get, &sid, &defaulted) && sid)
            parts |= GROUP_SECURITY_INFORMATION, access |= WRITE_OWNER;
        if (call<Fn::GetSecurityDescriptorDacl>(descriptor.get, &present, &dacl, &defaulted) &&
            present)
            parts |= DACL_SECURITY_INFORMATION, access |= WRITE_DAC;
        if (!parts)
            raise(kInvalidCall);  // nothing to apply
        unique_hkey key;
        if (place.open(access, key) &&
            call<Fn::RegSetKeySecurity>(key.get(), parts, descriptor.get) == 0)
            applied = VARIANT_TRUE;
    });
}

}  // namespace tarnwick
