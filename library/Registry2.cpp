// Registry 1.1 (_Registry2): values of every type read and written, values
// and keys deleted, keys listed, existence tested, in either registry view,
// the root key named or given as a handle value. Argument faults are
// run-time errors (5: an unknown root or view; 13: a value its type cannot
// hold; 6: a number out of its type's range); a refusal by Windows is
// False, Empty or the empty text.
#include <cmath>
#include <cstring>

#include "Registry.h"
#include "text.h"

namespace tarnwick {

using platform::call;
using platform::Fn;

namespace {

// ---------------------------------------------------------------- arguments

// The platform's conversion, which does not change its source.
HRESULT change_type(Variant& to, const VARIANT& from, VARTYPE type)
{
    return VariantChangeType(to.get(), const_cast<VARIANT*>(&from), 0, type);
}

// A Variant argument's value, also when it came by reference.
class Arg {
public:
    explicit Arg(const VARIANT& v)
    {
        const VARIANT* p = &v;
        if (V_VT(p) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(p))
            p = V_VARIANTREF(p);
        if (V_VT(p) & VT_BYREF) {
            if (FAILED(VariantCopyInd(copy_.get(), const_cast<VARIANT*>(p))))
                raise(kTypeMismatch);
            p = copy_.get();
        }
        v_ = p;
    }
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
bool same_name(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'a' && x <= L'z')
            x = static_cast<wchar_t>(x - L'a' + L'A');
        if (y >= L'a' && y <= L'z')
            y = static_cast<wchar_t>(y - L'a' + L'A');
        if (x != y)
            return false;
    }
    return true;
}

HKEY predefined(ULONG value) noexcept
{
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(value)));
}

// The root key: a name in any case, or a handle value from HKEY_CLASSES_ROOT
// to HKEY_CURRENT_CONFIG, signed (a Long) or not (a JScript number).
HKEY root_of(const VARIANT& argument)
{
    const Arg root(argument);
    if (root.type() == VT_BSTR) {
        const std::wstring_view text(V_BSTR(&*root), SysStringLen(V_BSTR(&*root)));
        for (const RootName& n : kRootNames) {
            if (same_name(text, n.name))
                return predefined(n.value);
        }
        raise(kInvalidCall);
    }
    Variant number;
    if (root.type() == VT_BOOL || FAILED(change_type(number, *root, VT_I8)))
        raise(kInvalidCall);
    LONGLONG value = V_I8(number.get());
    if (value < 0)
        value += 0x100000000LL;  // the same handle value as a signed Long
    if (value < 0x80000000LL || value > 0x80000005LL)
        raise(kInvalidCall);
    return predefined(static_cast<ULONG>(value));
}

// The registry view: the process's own (missing or 0), 32 or 64.
REGSAM view_of(const VARIANT& argument)
{
    const Arg view(argument);
    if (view.missing())
        return 0;
    Variant number;
    if (SUCCEEDED(change_type(number, *view, VT_I4))) {
        switch (V_I4(number.get())) {
        case 0:
            return 0;
        case 32:
            return KEY_WOW64_32KEY;
        case 64:
            return KEY_WOW64_64KEY;
        }
    }
    raise(kInvalidCall);
}

// Where a method works: the root, the path below it and the view.
struct Place {
    HKEY root;
    const wchar_t* sub_key;
    REGSAM view;

    Place(const VARIANT& root_key, BSTR sub, const VARIANT& view_argument)
        : root(root_of(root_key)), sub_key(text::wide(sub)), view(view_of(view_argument))
    {
    }

    // Opens the key for one call; false when Windows refuses.
    bool open(REGSAM access, unique_hkey& key) const
    {
        return call<Fn::RegOpenKeyExW>(root, sub_key, 0, access | view, key.put()) == 0;
    }
};

// ---------------------------------------------------------------- numbers

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
Whole whole_of(const VARIANT& v)
{
    if (V_VT(&v) == VT_BOOL)
        return {V_BOOL(&v) ? 1u : 0u, false};
    Variant real;
    if (FAILED(change_type(real, v, VT_R8)) ||
        std::floor(V_R8(real.get())) != V_R8(real.get()))
        raise(kTypeMismatch);
    Variant n;
    HRESULT hr = change_type(n, v, VT_I8);
    if (SUCCEEDED(hr))
        return {static_cast<ULONGLONG>(V_I8(n.get())), V_I8(n.get()) < 0};
    if (hr == DISP_E_OVERFLOW && SUCCEEDED(change_type(n, v, VT_UI8)))
        return {V_UI8(n.get()), false};
    raise(hr == DISP_E_OVERFLOW ? kOverflow : kTypeMismatch);
}

// ---------------------------------------------------------------- arrays

// Decimal digits of an unsigned 64-bit number.
Bstr decimal(ULONGLONG n)
{
    wchar_t digits[20];
    return Bstr::copy(digits, static_cast<UINT>(text::put_decimal(digits, n) - digits));
}

bool is_number(VARTYPE type) noexcept
{
    switch (type) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: case VT_BOOL:
        return true;
    default:
        return false;
    }
}


// The items of an array argument: a one-dimensional array (of Variants, of
// Bytes, of any type a Variant holds), or a JScript array, an object with a
// `length` and numbered items. Raises 13 for anything else.
class Items {
public:
    explicit Items(const VARIANT& v) : value_(v)
    {
        if (V_VT(&v) & VT_ARRAY) {
            array_ = V_ARRAY(&v);
            LONG low = 0, high = -1;
            if (!array_ || SafeArrayGetDim(array_) != 1 ||
                FAILED(SafeArrayGetLBound(array_, 1, &low)) ||
                FAILED(SafeArrayGetUBound(array_, 1, &high)))
                raise(kTypeMismatch);
            low_ = low;
            count_ = static_cast<ULONG>(high - low + 1);
            return;
        }
        if (V_VT(&v) != VT_DISPATCH || !V_DISPATCH(&v))
            raise(kTypeMismatch);
        Variant length = property(L"length");
        if (FAILED(VariantChangeType(length.get(), length.get(), 0, VT_I4)) ||
            V_I4(length.get()) < 0)
            raise(kTypeMismatch);
        count_ = static_cast<ULONG>(V_I4(length.get()));
    }

    ULONG count() const noexcept { return count_; }

    // Item i as a Variant of its own, never by reference.
    Variant at(ULONG i) const
    {
        Variant item;
        if (!array_) {
            item = property(decimal(i).get());
        } else {
            VARTYPE type = VT_EMPTY;
            LONG index = low_ + static_cast<LONG>(i);
            // Items of a type that fits a Variant's eight bytes of value, or
            // Variants; nothing else is registry data.
            if (FAILED(SafeArrayGetVartype(array_, &type)) ||
                (type != VT_VARIANT && type != VT_BSTR && (!is_number(type) || type == VT_DECIMAL)))
                raise(kTypeMismatch);
            void* into = type == VT_VARIANT ? static_cast<void*>(item.get())
                                            : static_cast<void*>(&V_I4(item.get()));
            if (FAILED(SafeArrayGetElement(array_, &index, into)))
                raise(kTypeMismatch);
            if (type != VT_VARIANT)
                V_VT(item.get()) = type;
        }
        if (item.type() & VT_BYREF) {
            Variant plain;
            if (FAILED(VariantCopyInd(plain.get(), item.get())))
                raise(kTypeMismatch);
            return plain;
        }
        return item;
    }

private:
    Variant property(LPCOLESTR name) const
    {
        IDispatch* object = V_DISPATCH(&value_);
        DISPID id;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPPARAMS none{};
        Variant out;
        if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) ||
            FAILED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                  out.get(), nullptr, nullptr)))
            raise(kTypeMismatch);
        return out;
    }

    const VARIANT& value_;
    SAFEARRAY* array_ = nullptr;
    LONG low_ = 0;
    ULONG count_ = 0;
};

bool is_array(const VARIANT& v) noexcept
{
    return (V_VT(&v) & VT_ARRAY) || V_VT(&v) == VT_DISPATCH;
}

// A zero-based array of `n` Variants as the result; its items to fill.
VARIANT* make_array(Variant& out, ULONG n)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, n);
    if (!array)
        raise(kOutOfMemory);
    V_VT(out.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(out.get()) = array;
    return static_cast<VARIANT*>(array->pvData);
}

// Cuts the result array to the first `n` items.
void shorten_array(Variant& out, ULONG n)
{
    SAFEARRAYBOUND bound{n, 0};
    if (FAILED(SafeArrayRedim(V_ARRAY(out.get()), &bound)))
        raise(kOutOfMemory);
}

void put_text(VARIANT* v, std::wstring_view text)
{
    V_BSTR(v) = Bstr::copy(text.data(), static_cast<UINT>(text.size())).release();
    V_VT(v) = VT_BSTR;
}

// ---------------------------------------------------------------- reading

// The entries of REG_MULTI_SZ data, up to the first empty one; `put`
// receives each.
template <class Put> ULONG multi_text(const ValueReader& value, Put put)
{
    const auto* units = reinterpret_cast<const wchar_t*>(value.data());
    const size_t n = value.size() / sizeof(wchar_t);
    ULONG count = 0;
    size_t start = 0;
    for (size_t i = 0; i <= n; ++i) {
        if (i < n && units[i] != 0)
            continue;
        if (i == start)
            break;  // an empty entry ends the list, and so does the end
        put(count++, std::wstring_view(units + start, i - start));
        start = i + 1;
    }
    return count;
}

// A value as RegReadValue gives it.
void read_into(const ValueReader& value, Variant& out)
{
    VARIANT* v = out.get();
    switch (value.type()) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        put_text(v, value.text());
        return;
    case REG_DWORD:
        if (value.size() == 4) {
            V_VT(v) = VT_I4;
            std::memcpy(&V_I4(v), value.data(), 4);
            return;
        }
        break;
    case REG_QWORD:
        if (value.size() == 8) {
            ULONGLONG q;
            std::memcpy(&q, value.data(), 8);
            if (q < (1ull << 53)) {
                V_VT(v) = VT_R8;
                V_R8(v) = static_cast<double>(q);
            } else {
                V_BSTR(v) = decimal(q).release();
                V_VT(v) = VT_BSTR;
            }
            return;
        }
        break;
    case REG_MULTI_SZ: {
        const ULONG n = multi_text(value, [](ULONG, std::wstring_view) {});
        VARIANT* items = make_array(out, n);
        multi_text(value, [items](ULONG i, std::wstring_view text) { put_text(&items[i], text); });
        return;
    }
    }
    VARIANT* items = make_array(out, value.size());
    for (DWORD i = 0; i < value.size(); ++i) {
        V_VT(&items[i]) = VT_UI1;
        V_UI1(&items[i]) = value.data()[i];
    }
}

// ---------------------------------------------------------------- writing

struct TypeName {
    DWORD type;
    const wchar_t* name;
};
// The twelve standard types, by number.
constexpr TypeName kTypeNames[] = {
    {REG_NONE, L"REG_NONE"},
    {REG_SZ, L"REG_SZ"},
    {REG_EXPAND_SZ, L"REG_EXPAND_SZ"},
    {REG_BINARY, L"REG_BINARY"},
    {REG_DWORD, L"REG_DWORD"},
    {REG_DWORD_BIG_ENDIAN, L"REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, L"REG_LINK"},
    {REG_MULTI_SZ, L"REG_MULTI_SZ"},
    {REG_RESOURCE_LIST, L"REG_RESOURCE_LIST"},
    {REG_FULL_RESOURCE_DESCRIPTOR, L"REG_FULL_RESOURCE_DESCRIPTOR"},
    {REG_RESOURCE_REQUIREMENTS_LIST, L"REG_RESOURCE_REQUIREMENTS_LIST"},
    {REG_QWORD, L"REG_QWORD"},
};

bool writable(DWORD type) noexcept
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_BINARY || type == REG_DWORD ||
           type == REG_MULTI_SZ || type == REG_QWORD;
}

// The type RegWriteValue was asked for: a name or its number. Raises 5 for
// a type it does not write.
DWORD type_asked(const Arg& type)
{
    if (type.type() == VT_BSTR) {
        const std::wstring_view text(V_BSTR(&*type), SysStringLen(V_BSTR(&*type)));
        for (const TypeName& t : kTypeNames) {
            if (writable(t.type) && same_name(text, t.name))
                return t.type;
        }
        raise(kInvalidCall);
    }
    Variant number;
    if (FAILED(change_type(number, *type, VT_I4)) ||
        !writable(static_cast<DWORD>(V_I4(number.get()))))
        raise(kInvalidCall);
    return static_cast<DWORD>(V_I4(number.get()));
}

// The type a value gets when none is asked for: text REG_SZ, a whole
// number REG_DWORD or, past 32 bits, REG_QWORD, an array of texts
// REG_MULTI_SZ and any other array REG_BINARY.
DWORD type_taken(const VARIANT& value)
{
    if (V_VT(&value) == VT_BSTR)
        return REG_SZ;
    if (is_number(V_VT(&value)))
        return whole_of(value).fits_32_bits() ? REG_DWORD : REG_QWORD;
    if (!is_array(value))
        raise(kTypeMismatch);
    const Items items(value);
    if (items.count() > 0 && items.at(0).type() == VT_BSTR)
        return REG_MULTI_SZ;
    return REG_BINARY;
}

// Registry data of one type, in a buffer of its own.
struct Data {
    DWORD type = REG_NONE;
    Bstr bytes;
    DWORD size = 0;

    BYTE* room(DWORD n)
    {
        bytes = Bstr::bytes(n);
        size = n;
        return reinterpret_cast<BYTE*>(bytes.get());
    }
};

void text_data(const VARIANT& value, Data& data)
{
    if (is_array(value))
        raise(kTypeMismatch);
    Variant text;
    if (FAILED(change_type(text, value, VT_BSTR)))
        raise(kTypeMismatch);
    const UINT n = SysStringLen(V_BSTR(text.get()));
    std::memcpy(data.room((n + 1) * sizeof(wchar_t)), text::wide(V_BSTR(text.get())),
                (n + 1) * sizeof(wchar_t));
}

void number_data(const VARIANT& value, Data& data)
{
    if (is_array(value))
        raise(kTypeMismatch);
    const Whole n = whole_of(value);
    if (data.type == REG_DWORD) {
        if (!n.fits_32_bits())
            raise(kOverflow);
        const auto bits = static_cast<DWORD>(n.bits);
        std::memcpy(data.room(4), &bits, 4);
    } else {
        std::memcpy(data.room(8), &n.bits, 8);
    }
}

// Calls `each` with every text of a REG_MULTI_SZ value: a single text is a
// list of one.
template <class Each> void each_text(const VARIANT& value, Each each)
{
    if (V_VT(&value) == VT_BSTR) {
        each(value);
        return;
    }
    const Items items(value);
    for (ULONG i = 0; i < items.count(); ++i)
        each(*items.at(i).get());
}

// Each entry and its NUL, then the NUL that ends the list. An entry must be
// a non-empty text without NULs: anything else would end the list early.
void multi_text_data(const VARIANT& value, Data& data)
{
    ULONGLONG units = 1;
    each_text(value, [&](const VARIANT& item) {
        const UINT n = V_VT(&item) == VT_BSTR ? SysStringLen(V_BSTR(&item)) : 0;
        if (n == 0 || std::wmemchr(V_BSTR(&item), L'\0', n))
            raise(kTypeMismatch);
        units += n + 1;
    });
    if (units > MAXLONG / sizeof(wchar_t))
        raise(kOutOfMemory);
    auto* out = reinterpret_cast<wchar_t*>(data.room(static_cast<DWORD>(units * sizeof(wchar_t))));
    each_text(value, [&](const VARIANT& item) {
        const UINT n = SysStringLen(V_BSTR(&item));
        out = std::wmemcpy(out, V_BSTR(&item), n) + n;
        *out++ = L'\0';
    });
    *out = L'\0';
}

void binary_data(const VARIANT& value, Data& data)
{
    const Items items(value);
    BYTE* out = data.room(items.count());
    for (ULONG i = 0; i < items.count(); ++i) {
        const Variant item = items.at(i);
        if (!is_number(item.type()))
            raise(kTypeMismatch);
        const Whole n = whole_of(*item.get());
        if (n.negative || n.bits > 255)
            raise(kOverflow);
        out[i] = static_cast<BYTE>(n.bits);
    }
}

// The data RegWriteValue stores, checked before anything is written.
Data data_of(const VARIANT& value_argument, const VARIANT& type_argument)
{
    const Arg value(value_argument);
    const Arg type(type_argument);
    Data data;
    data.type = type.missing() ? type_taken(*value) : type_asked(type);
    switch (data.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        text_data(*value, data);
        break;
    case REG_DWORD:
    case REG_QWORD:
        number_data(*value, data);
        break;
    case REG_MULTI_SZ:
        multi_text_data(*value, data);
        break;
    default:
        binary_data(*value, data);
        break;
    }
    return data;
}

// ---------------------------------------------------------------- listing

// The names of a key's subkeys or values, as the result array; Empty when
// the key cannot be opened.
template <bool Values> void list_names(const Place& place, Variant& out)
{
    unique_hkey key;
    if (!place.open(Values ? KEY_QUERY_VALUE : KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, key))
        return;
    DWORD count = 0, longest = 0;
    if (call<Fn::RegQueryInfoKeyW>(key.get(), nullptr, nullptr, nullptr, Values ? nullptr : &count,
                                   Values ? nullptr : &longest, nullptr, Values ? &count : nullptr,
                                   Values ? &longest : nullptr, nullptr, nullptr, nullptr) != 0)
        return;
    VARIANT* items = make_array(out, count);
    DWORD capacity = longest + 1;
    Bstr buffer = Bstr::bytes(capacity * sizeof(wchar_t));
    DWORD found = 0;
    while (found < count) {
        DWORD length = capacity;
        const LONG status =
            Values ? call<Fn::RegEnumValueW>(key.get(), found, buffer.get(), &length, nullptr,
                                             nullptr, nullptr, nullptr)
                   : call<Fn::RegEnumKeyExW>(key.get(), found, buffer.get(), &length, nullptr,
                                             nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA && capacity < 32768) {
            capacity *= 2;  // a longer name came in since the count
            buffer = Bstr::bytes(capacity * sizeof(wchar_t));
            continue;
        }
        if (status != 0)
            break;
        put_text(&items[found++], {buffer.get(), length});
    }
    if (found < count)
        shorten_array(out, found);
}

}  // namespace

HRESULT Registry::RegReadValue(VARIANT RootKey, BSTR SubKey, BSTR ValueName, VARIANT View,
                               VARIANT* result)
{
    return method(result, [&](Variant& value) {
        const Place place(RootKey, SubKey, View);
        unique_hkey key;
        ValueReader reader;
        if (place.open(KEY_QUERY_VALUE, key) && reader.read(key.get(), text::wide(ValueName)))
            read_into(reader, value);
    });
}

HRESULT Registry::RegWriteValue(VARIANT RootKey, BSTR SubKey, BSTR ValueName, VARIANT Value,
                                VARIANT ValueType, VARIANT View, VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL& written) {
        const Place place(RootKey, SubKey, View);
        const Data data = data_of(Value, ValueType);
        unique_hkey key;
        if (call<Fn::RegCreateKeyExW>(place.root, place.sub_key, 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | place.view,
                                      nullptr, key.put(), nullptr) == 0 &&
            call<Fn::RegSetValueExW>(key.get(), text::wide(ValueName), 0, data.type,
                                     reinterpret_cast<const BYTE*>(data.bytes.get()),
                                     data.size) == 0)
            written = VARIANT_TRUE;
    });
}

HRESULT Registry::RegDeleteValue(VARIANT RootKey, BSTR SubKey, BSTR ValueName, VARIANT View,
                                 VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL& deleted) {
        const Place place(RootKey, SubKey, View);
        unique_hkey key;
        if (place.open(KEY_SET_VALUE, key) &&
            call<Fn::RegDeleteValueW>(key.get(), text::wide(ValueName)) == 0)
            deleted = VARIANT_TRUE;
    });
}

HRESULT Registry::RegDeleteKey(VARIANT RootKey, BSTR SubKey, VARIANT Recursive, VARIANT View,
                               VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL& deleted) {
        const Place place(RootKey, SubKey, View);
        if (SysStringLen(SubKey) == 0)
            raise(kInvalidCall);  // never a root
        if (optional_flag(Recursive)) {
            unique_hkey key;
            if (!place.open(DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE, key))
                return;
            call<Fn::RegDeleteTreeW>(key.get(), nullptr);
            key.close();
        }
        if (call<Fn::RegDeleteKeyExW>(place.root, place.sub_key, place.view, 0) == 0)
            deleted = VARIANT_TRUE;
    });
}

HRESULT Registry::RegEnumKeys(VARIANT RootKey, BSTR SubKey, VARIANT View, VARIANT* result)
{
    return method(result, [&](Variant& names) {
        list_names<false>(Place(RootKey, SubKey, View), names);
    });
}

HRESULT Registry::RegEnumValues(VARIANT RootKey, BSTR SubKey, VARIANT View, VARIANT* result)
{
    return method(result, [&](Variant& names) {
        list_names<true>(Place(RootKey, SubKey, View), names);
    });
}

HRESULT Registry::RegValueType(VARIANT RootKey, BSTR SubKey, BSTR ValueName, VARIANT View,
                               BSTR* result)
{
    return method(result, [&](Bstr& name) {
        const Place place(RootKey, SubKey, View);
        unique_hkey key;
        DWORD type = REG_NONE;
        if (!place.open(KEY_QUERY_VALUE, key) ||
            call<Fn::RegQueryValueExW>(key.get(), text::wide(ValueName), nullptr, &type, nullptr,
                                       nullptr) != 0)
            return;
        name = type < std::size(kTypeNames) ? Bstr::join({kTypeNames[type].name}) : decimal(type);
    });
}

HRESULT Registry::RegKeyExists(VARIANT RootKey, BSTR SubKey, VARIANT View, VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL& exists) {
        const Place place(RootKey, SubKey, View);
        unique_hkey key;
        // A key that refuses to be read is there all the same.
        const LONG status = call<Fn::RegOpenKeyExW>(place.root, place.sub_key, 0,
                                                    KEY_QUERY_VALUE | place.view, key.put());
        if (status == 0 || status == ERROR_ACCESS_DENIED)
            exists = VARIANT_TRUE;
    });
}

HRESULT Registry::RegValueExists(VARIANT RootKey, BSTR SubKey, BSTR ValueName, VARIANT View,
                                 VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL& exists) {
        const Place place(RootKey, SubKey, View);
        unique_hkey key;
        if (place.open(KEY_QUERY_VALUE, key) &&
            call<Fn::RegQueryValueExW>(key.get(), text::wide(ValueName), nullptr, nullptr, nullptr,
                                       nullptr) == 0)
            exists = VARIANT_TRUE;
    });
}

}  // namespace tarnwick
