#include "Registry.h"

#include <cwchar>

#include "text.h"

namespace tarnwick {

using platform::call;
using platform::Fn;

namespace {

constexpr REGSAM kQueryAccess = KEY_QUERY_VALUE;
constexpr REGSAM kSetAccess = KEY_SET_VALUE;
constexpr REGSAM kCreateAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;
// One read, into a zeroed buffer of this size: data of 1024 bytes or less
// is read (a 1023-character text and its NUL), anything longer is a missing
// value. There is no second try with a larger buffer; callers rely on the
// limit being the same on every machine.
constexpr DWORD kBufferSize = 1024;

HKEY root(LONG value)
{
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(value));
}

bool equals(BSTR text, const wchar_t* literal) noexcept
{
    const size_t n = std::wcslen(literal);
    return SysStringLen(text) == n && std::wmemcmp(text, literal, n) == 0;
}

// Opens a key for one call; false when Windows refuses.
bool open_key(LONG root_key, BSTR sub_key, REGSAM access, unique_hkey& key)
{
    text::Ansi path(sub_key);
    return call<Fn::RegOpenKeyExA>(root(root_key), path.c_str(), 0, access, key.put()) == 0;
}

// Puts a new text in the caller's by-reference string, freeing the old one.
void replace(BSTR* target, Bstr text) noexcept
{
    SysFreeString(*target);
    *target = text.release();
}

}  // namespace

const ClassInfo kRegistry{&CLSID_Registry, &IID__Registry, L"Registry", L"TarnwickDLL.Registry",
                          &Registry::create};

LONG Registry::RootKeyFromName(BSTR name) noexcept
{
    static constexpr struct {
        const wchar_t* name;
        ULONG value;
    } names[] = {
        {L"HKCR", 0x80000000}, {L"HKEY_CLASSES_ROOT", 0x80000000},
        {L"HKCU", 0x80000001}, {L"HKEY_CURRENT_USER", 0x80000001},
        {L"HKLM", 0x80000002}, {L"HKEY_LOCAL_MACHINE", 0x80000002},
    };
    for (const auto& n : names) {
        if (equals(name, n.name))
            return static_cast<LONG>(n.value);
    }
    return 0;
}

HRESULT Registry::CreateRegKey(LONG RootKey, BSTR strSubKey, LONG* KeyStatus, VARIANT_BOOL* result)
{
    return method(result, ByRef(KeyStatus), [&](VARIANT_BOOL& created) {
        text::Ansi sub_key(strSubKey);
        // A key this call creates carries the class text "1", as keys made
        // by every version of this library do; the all-zero security record
        // gives it the default security and a handle that is not inherited.
        char key_class[] = "1";
        SECURITY_ATTRIBUTES security{};
        unique_hkey key;
        // Windows writes the disposition straight into the caller's KeyStatus.
        if (call<Fn::RegCreateKeyExA>(root(RootKey), sub_key.c_str(), 0, key_class,
                                      REG_OPTION_NON_VOLATILE, kCreateAccess, &security, key.put(),
                                      reinterpret_cast<DWORD*>(KeyStatus)) == 0) {
            created = VARIANT_TRUE;
            // Closing is one of the method's declared calls: when RegCloseKey
            // cannot be bound the call fails with its binding error (after
            // recording True), like any other declared call would.
            key.close();
        }
    });
}

HRESULT Registry::QueryRegValue(LONG RootKey, BSTR strSubKey, BSTR strValueName, BSTR* strData,
                                VARIANT_BOOL* result)
{
    return method(result, ByRef(strData), [&](VARIANT_BOOL& found) {
        unique_hkey key;
        if (!open_key(RootKey, strSubKey, kQueryAccess, key))
            return;
        text::Ansi value_name(strValueName);
        BYTE buffer[kBufferSize] = {};
        DWORD size = kBufferSize;
        DWORD type;
        if (call<Fn::RegQueryValueExA>(key.get(), value_name.c_str(), nullptr, &type, buffer,
                                       &size) == 0) {
            // At most one terminating NUL is dropped, and only the last byte
            // counts. No data at all is an existing, empty value.
            if (size > 0 && buffer[size - 1] == 0)
                --size;
            replace(strData, text::from_ansi(reinterpret_cast<const char*>(buffer), size));
            found = VARIANT_TRUE;
        }
        key.close();
    });
}

HRESULT Registry::SetRegValue(LONG RootKey, BSTR SubKey, BSTR ValueName, BSTR* SettingBuffer,
                              VARIANT_BOOL* result)
{
    return method(result, ByRef(SettingBuffer), [&](VARIANT_BOOL& stored) {
        unique_hkey key;
        if (!open_key(RootKey, SubKey, kSetAccess, key))
            return;
        text::Ansi value_name(ValueName);
        text::Ansi data(*SettingBuffer);
        // The ANSI bytes and the NUL that Ansi keeps after them.
        LONG status = call<Fn::RegSetValueExA>(key.get(), value_name.c_str(), 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(data.c_str()),
                                               static_cast<DWORD>(data.size() + 1));
        // The caller's text becomes what was converted for storage.
        replace(SettingBuffer, text::from_ansi(data));
        if (status == 0)
            stored = VARIANT_TRUE;
        key.close();
    });
}

// The name-level methods go through the object's own interface, as a client
// would: the inner method takes its own reference and reports its own
// errors, and a failing inner status ends the outer call with that status.
HRESULT Registry::RegReadString(BSTR RootKey, BSTR* strKeyName, BSTR* strValueName, BSTR* result)
{
    return method(result, ByRef(strKeyName, strValueName), [&](Bstr& value) {
        Bstr data;
        VARIANT_BOOL found = VARIANT_FALSE;
        check(self()->QueryRegValue(RootKeyFromName(RootKey), *strKeyName, *strValueName,
                                    data.ref(), &found));
        if (found)
            value = std::move(data);
    });
}

HRESULT Registry::RegWriteString(BSTR RootKey, BSTR strKeyName, BSTR strValueName, BSTR strValue,
                                 SHORT* result)
{
    return method(result, [&](SHORT& written) {
        Bstr copy = Bstr::copy(strValue);  // takes the write-back, not the caller's text
        VARIANT_BOOL stored = VARIANT_FALSE;
        check(self()->SetRegValue(RootKeyFromName(RootKey), strKeyName, strValueName, copy.ref(),
                                  &stored));
        if (stored)
            written = 1;
    });
}

HRESULT Registry::RegCreateKey(BSTR* RootKey, BSTR* strKeyName, SHORT* result)
{
    return method(result, ByRef(RootKey, strKeyName), [&](SHORT& outcome) {
        LONG status = 0;
        VARIANT_BOOL created = VARIANT_FALSE;
        check(self()->CreateRegKey(RootKeyFromName(*RootKey), *strKeyName, &status, &created));
        if (created && (status == REG_CREATED_NEW_KEY || status == REG_OPENED_EXISTING_KEY))
            outcome = static_cast<SHORT>(status);
    });
}

}  // namespace tarnwick
