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
bool open_key(LONG root_key, const wchar_t* sub_key, REGSAM access, unique_hkey& key)
{
    return call<Fn::RegOpenKeyExW>(root(root_key), sub_key, 0, access, key.put()) == 0;
}

bool is_text(DWORD type) noexcept
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A value as 1.0 reads it: text types as the characters stored, the bytes
// of every other type through the ANSI code page, one character a byte. At
// most one terminating NUL is dropped, and only the last character counts.
Bstr text_of(const ValueReader& value)
{
    if (is_text(value.type())) {
        const std::wstring_view text = value.text();
        return Bstr::copy(text.data(), static_cast<UINT>(text.size()));
    }
    DWORD size = value.size();
    if (size > 0 && value.data()[size - 1] == 0)
        --size;
    return text::from_ansi(reinterpret_cast<const char*>(value.data()), size);
}

// Puts a new text in the caller's by-reference string, freeing the old one.
void replace(BSTR* target, Bstr text) noexcept
{
    SysFreeString(*target);
    *target = text.release();
}

}  // namespace

// The class answers for _Registry3 and, to older clients, for _Registry2
// and _Registry.
const ClassInfo kRegistry{&CLSID_Registry,
                          {&IID__Registry3, &IID__Registry2, &IID__Registry},
                          L"Registry",
                          L"TarnwickDLL.Registry",
                          &Registry::create};

bool ValueReader::read(HKEY key, const wchar_t* name)
{
    DWORD capacity = sizeof first_;
    size_ = capacity;
    LONG status = call<Fn::RegQueryValueExW>(key, name, nullptr, &type_, data_, &size_);
    // Windows reports the size the value needs. A size no larger than the
    // buffer would not change the answer, so such a buffer doubles instead.
    while (status == ERROR_MORE_DATA) {
        if (capacity > MAXLONG / 2)
            raise(kOutOfMemory);
        capacity = size_ > capacity ? size_ : capacity * 2;
        larger_ = Bstr::bytes(capacity);
        data_ = reinterpret_cast<BYTE*>(larger_.get());
        size_ = capacity;
        status = call<Fn::RegQueryValueExW>(key, name, nullptr, &type_, data_, &size_);
    }
    return status == 0;
}

std::wstring_view ValueReader::text() const noexcept
{
    const auto* units = reinterpret_cast<const wchar_t*>(data_);
    size_t n = size_ / sizeof(wchar_t);
    if (n > 0 && units[n - 1] == 0)
        --n;
    return {units, n};
}

LONG Registry::RootKeyFromName(BSTR name) noexcept
{
    for (size_t i = 0; i < kFirstRootNames; ++i) {
        if (equals(name, kRootNames[i].name))
            return static_cast<LONG>(kRootNames[i].value);
    }
    return 0;
}

HRESULT Registry::CreateRegKey(LONG RootKey, BSTR strSubKey, LONG* KeyStatus, VARIANT_BOOL* result)
{
    return method(result, ByRef(KeyStatus), [&](VARIANT_BOOL& created) {
        // A key this call creates carries the class text "1", as keys made
        // by every version of this library do; the all-zero security record
        // gives it the default security and a handle that is not inherited.
        wchar_t key_class[] = L"1";
        SECURITY_ATTRIBUTES security{};
        unique_hkey key;
        // A path with a NUL inside names no key: nothing is created.
        const wchar_t* sub_key = text::exact_name(strSubKey);
        if (!sub_key)
            return;
        // Windows writes the disposition straight into the caller's KeyStatus.
        if (call<Fn::RegCreateKeyExW>(root(RootKey), sub_key, 0, key_class,
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
        const wchar_t* sub_key = text::exact_name(strSubKey);
        const wchar_t* name = text::exact_name(strValueName);
        unique_hkey key;
        if (!sub_key || !name || !open_key(RootKey, sub_key, kQueryAccess, key))
            return;
        ValueReader value;
        if (value.read(key.get(), name)) {
            replace(strData, text_of(value));
            found = VARIANT_TRUE;
        }
        key.close();
    });
}

HRESULT Registry::SetRegValue(LONG RootKey, BSTR SubKey, BSTR ValueName, BSTR* SettingBuffer,
                              VARIANT_BOOL* result)
{
    return method(result, ByRef(SettingBuffer), [&](VARIANT_BOOL& stored) {
        const wchar_t* sub_key = text::exact_name(SubKey);
        const wchar_t* name = text::exact_name(ValueName);
        unique_hkey key;
        if (!sub_key || !name || !open_key(RootKey, sub_key, kSetAccess, key))
            return;
        // The text as it is, with its NUL; the caller's text stays as given.
        const DWORD bytes = (SysStringLen(*SettingBuffer) + 1) * sizeof(wchar_t);
        if (call<Fn::RegSetValueExW>(key.get(), name, 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(text::wide(*SettingBuffer)),
                                     bytes) == 0)
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
        // SetRegValue leaves its SettingBuffer as given, so the caller's
        // text can stand in for it without a copy.
        BSTR value = strValue;
        VARIANT_BOOL stored = VARIANT_FALSE;
        check(self()->SetRegValue(RootKeyFromName(RootKey), strKeyName, strValueName, &value,
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
