// Registry: read one value as text, write one text value, create a key;
// each by root-key handle value or by root-key name (Registry.cpp). Since
// release 1.11 also every value type, delete, list and both registry views
// (_Registry2, Registry2.cpp); since release 1.12 export to and import from
// a registration file (RegFile.cpp), copy, find, a key's last-write time,
// access and security (_Registry3, Registry3.cpp).
#pragma once

#include <initializer_list>
#include <string_view>

#include "object.h"

namespace tarnwick {

class Registry final : public Object<Registry, _Registry3, kRegistry> {
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

    // _Registry3
    HRESULT STDMETHODCALLTYPE RegExportKey(VARIANT RootKey, BSTR SubKey, BSTR Path, VARIANT View,
                                           VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE RegImportFile(BSTR Path, VARIANT View, LONG* result) override;
    HRESULT STDMETHODCALLTYPE RegCopyKey(VARIANT RootKey, BSTR SubKey, VARIANT ToRootKey,
                                         BSTR ToSubKey, VARIANT View,
                                         VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE RegFind(VARIANT RootKey, BSTR SubKey, BSTR Pattern, VARIANT Where,
                                      VARIANT View, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE RegKeyLastWrite(VARIANT RootKey, BSTR SubKey, VARIANT View,
                                              BSTR* result) override;
    HRESULT STDMETHODCALLTYPE RegCheckAccess(VARIANT RootKey, BSTR SubKey, VARIANT Access,
                                             VARIANT View, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE RegGetSecurity(VARIANT RootKey, BSTR SubKey, VARIANT View,
                                             BSTR* result) override;
    HRESULT STDMETHODCALLTYPE RegSetSecurity(VARIANT RootKey, BSTR SubKey, BSTR Sddl,
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

// What the units of the class share: arguments as the 1.1 methods take
// them, result arrays, and a key's contents (defined in Registry2.cpp; the
// walk of a subtree is tree_walk.h's, a key's identity key_identity.h's).
namespace reg {

// A Variant argument's value, also when it came by reference.
class Arg {
public:
    explicit Arg(const VARIANT& v);
    const VARIANT& operator*() const noexcept { return *v_; }
    const VARIANT* operator->() const noexcept { return v_; }
    VARTYPE type() const noexcept { return V_VT(v_); }
    // Not given (an optional parameter left out), or Empty.
    bool missing() const noexcept
    {
        return type() == VT_EMPTY || (type() == VT_ERROR && V_ERROR(v_) == DISP_E_PARAMNOTFOUND);
    }

private:
    Variant copy_;
    const VARIANT* v_;
};

// Whether two texts are the same, ASCII letters in either case.
bool same_name(std::wstring_view a, std::wstring_view b) noexcept;

// The root key: a name in any case, or a handle value from
// HKEY_CLASSES_ROOT to HKEY_CURRENT_CONFIG; raises 5 for anything else.
HKEY root_of(const VARIANT& argument);
// The full name of a root key ("HKEY_CURRENT_USER"); null for no root.
const wchar_t* root_name(HKEY root) noexcept;
// The same for a method that works on a tree of named keys: raises 5 for a
// root handle value that names none (HKEY_PERFORMANCE_DATA).
const wchar_t* named_root(HKEY root);
// The registry view: the process's own (missing or 0), 32 or 64; raises 5
// for anything else.
REGSAM view_of(const VARIANT& argument);

// A key path, value name or file path as Windows gets it; raises 5 for a
// text with a NUL inside, which would name another key, value or file.
const wchar_t* name_of(BSTR text);
// Whether a key path names the root itself: Windows drops leading
// backslashes, so a path of nothing else is the root.
bool names_root(const wchar_t* path) noexcept;
// A key path without the backslashes that Windows drops at its start and
// ignores at its end.
std::wstring_view trimmed(const wchar_t* path) noexcept;

// Where a method works: the root, the path below it and the view.
struct Place {
    HKEY root;
    const wchar_t* sub_key;
    REGSAM view;

    Place(const VARIANT& root_key, BSTR sub, const VARIANT& view_argument);
    // Opens the key for one call; false when Windows refuses.
    bool open(REGSAM access, unique_hkey& key) const;
};

// A whole number as registry data takes it: -2^63 to 2^64 - 1.
struct Whole {
    ULONGLONG bits;
    bool negative;
    bool fits_32_bits() const noexcept
    {
        return negative ? static_cast<LONGLONG>(bits) >= -0x80000000LL : bits <= 0xFFFFFFFFull;
    }
};
// The whole number a Variant holds: True is 1; a text must spell a number.
// Raises 13 for what is no whole number, 6 beyond the 64-bit range.
Whole whole_of(const VARIANT& v);

// The names that an optional argument lists, one bit each in the order of
// `names`, or `missing` when it is left out; 13 for no text, 5 for another
// name.
unsigned names_in(const VARIANT& argument, std::initializer_list<std::wstring_view> names,
                  unsigned missing);

// A zero-based array of `n` Variants as the result; its items to fill.
VARIANT* make_array(Variant& out, ULONG n);
// Gives the result array `n` items, keeping the first ones.
void resize_array(Variant& out, ULONG n);
// A String item.
void put_text(VARIANT* v, std::wstring_view text);

// Opens `name` below `parent` as itself, never following a link, to walk
// or change the tree below it; false when Windows refuses.
bool open_tree(HKEY parent, const wchar_t* name, REGSAM access, unique_hkey& key);
// Stores exactly `size` bytes of `data` as value `name` of `key`.
LONG set_value(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size);
// Deletes the key parent\name itself, a link as itself; false when
// Windows refuses.
bool delete_key(HKEY parent, const wchar_t* name, REGSAM view);
// Deletes every key below parent\name, however deep, leaving the key itself.
void delete_subkeys(HKEY parent, const wchar_t* name, REGSAM view);

// The values and then the subkeys of an open key, one at a time in the
// registry's order, read into buffers of the walker's own that grow as a
// value or name needs.
class KeyContents {
public:
    explicit KeyContents(HKEY key) noexcept : key_(key) {}
    KeyContents(const KeyContents&) = delete;

    // Reads the next value; false after the last.
    bool next_value();
    std::wstring_view value_name() const noexcept { return {name_.get(), name_length_}; }
    DWORD value_type() const noexcept { return type_; }
    const BYTE* data() const noexcept { return reinterpret_cast<const BYTE*>(data_.get()); }
    DWORD size() const noexcept { return size_; }

    // Reads the next subkey's name; false after the last.
    bool next_subkey();
    std::wstring_view subkey_name() const noexcept { return {name_.get(), name_length_}; }

    // Whether every value and subkey so far was read: false when Windows
    // refused one, which ends the walk early.
    bool complete() const noexcept { return complete_; }

private:
    bool ended(LONG status) noexcept;

    HKEY key_;
    DWORD values_ = 0, subkeys_ = 0;
    Bstr name_, data_;
    DWORD name_room_ = 0, data_room_ = 0;
    DWORD name_length_ = 0, type_ = REG_NONE, size_ = 0;
    bool complete_ = true;
};

}  // namespace reg

}  // namespace tarnwick
