// Registry: read one value as text, write one text value, create a key;
// each by root-key handle value or by root-key name (Registry.cpp). Since
// release 1.11 also every value type, delete, list and both registry views
// (_Registry2, Registry2.cpp).
#pragma once

#include "object.h"

namespace tarnwick {

class Registry final : public Object<Registry, _Registry2, kRegistry> {
public:
    // _Registry
    HRESULT STDMETHODCALLTYPE CreateRegKey(LONG RootKey, BSTR strSubKey, LONG* KeyStatus,
                                           VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE QueryRegValue(LONG RootKey, BSTR strSubKey, BSTR strValueName,
                                            BSTR* strData, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE SetRegValue(LONG RootKey, BSTR SubKey, BSTR ValueName,
                                          BSTR* SettingBuffer, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE RegReadString(BSTR RootKey, BSTR* strKeyName, BSTR* strValueName,
                                            BSTR* result) override;
    HRESULT STDMETHODCALLTYPE RegWriteString(BSTR RootKey, BSTR strKeyName, BSTR strValueName,
                                             BSTR strValue, SHORT* result) override;
    HRESULT STDMETHODCALLTYPE RegCreateKey(BSTR* RootKey, BSTR* strKeyName, SHORT* result) override;

    // _Registry2
    HRESULT STDMETHODCALLTYPE RegReadValue(VARIANT RootKey, BSTR SubKey, BSTR ValueName,
                                           VARIANT View, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE RegWriteValue(VARIANT RootKey, BSTR SubKey, BSTR ValueName,
                                            VARIANT Value, VARIANT ValueType, VARIANT View,
                                            VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE RegDeleteValue(VARIANT RootKey, BSTR SubKey, BSTR ValueName,
                                             VARIANT View, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE RegDeleteKey(VARIANT RootKey, BSTR SubKey, VARIANT Recursive,
                                           VARIANT View, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE RegEnumKeys(VARIANT RootKey, BSTR SubKey, VARIANT View,
                                          VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE RegEnumValues(VARIANT RootKey, BSTR SubKey, VARIANT View,
                                            VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE RegValueType(VARIANT RootKey, BSTR SubKey, BSTR ValueName,
                                           VARIANT View, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE RegKeyExists(VARIANT RootKey, BSTR SubKey, VARIANT View,
                                           VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE RegValueExists(VARIANT RootKey, BSTR SubKey, BSTR ValueName,
                                             VARIANT View, VARIANT_BOOL* result) override;

private:
    // The handle value of a root-key name; 0 for any other text.
    static LONG RootKeyFromName(BSTR name) noexcept;
};

// The root-key names and their handle values: first the six that every
// release takes, exactly as written (RootKeyFromName), then the two more
// roots that release 1.11's methods take, in any case.
struct RootName {
    const wchar_t* name;
    ULONG value;
};
inline constexpr RootName kRootNames[] = {
    {L"HKCR", 0x80000000}, {L"HKEY_CLASSES_ROOT", 0x80000000},
    {L"HKCU", 0x80000001}, {L"HKEY_CURRENT_USER", 0x80000001},
    {L"HKLM", 0x80000002}, {L"HKEY_LOCAL_MACHINE", 0x80000002},
    {L"HKU", 0x80000003},  {L"HKEY_USERS", 0x80000003},
    {L"HKCC", 0x80000005}, {L"HKEY_CURRENT_CONFIG", 0x80000005},
};
inline constexpr size_t kFirstRootNames = 6;

// One registry value read whole: its type and its bytes. The first read goes
// into a buffer of the reader's own, which holds a text of up to 1023
// characters and its NUL; a longer value is read again into a buffer of the
// size that Windows reports, and again if it grew in between.
class ValueReader {
public:
    ValueReader() = default;
    ValueReader(const ValueReader&) = delete;
    ValueReader& operator=(const ValueReader&) = delete;

    // Reads value `name` of `key`; false when Windows refuses.
    bool read(HKEY key, const wchar_t* name);

    DWORD type() const noexcept { return type_; }
    const BYTE* data() const noexcept { return data_; }
    DWORD size() const noexcept { return size_; }
    // A text type's characters, without the one terminating NUL, if any.
    std::wstring_view text() const noexcept;

private:
    wchar_t first_[1024];
    Bstr larger_;  // the buffer of a value that did not fit the first
    BYTE* data_ = reinterpret_cast<BYTE*>(first_);
    DWORD size_ = 0;
    DWORD type_ = REG_NONE;
};

}  // namespace tarnwick
