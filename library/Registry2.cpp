// Registry 1.1 (_Registry2): values of every type read and written, values
// and keys deleted, keys listed, existence tested, in either registry view,
// the root key named or given as a handle value. Argument faults are
// run-time errors (5: an unknown root or view; 13: a value its type cannot
// hold; 6: a number out of its type's range); a refusal by Windows is
// False, Empty or the empty text.
#include <cmath>
#include <cstring>
#include <cwchar>
#include <span>

#include "Registry.h"
#include "key_identity.h"
#include "text.h"
#include "tree_walk.h"

namespace tarnwick {

using platform::call;
using platform::Fn;

namespace {

// The platform's conversion, which does not change its source.
HRESULT change_type(Variant& to, const VARIANT& from, VARTYPE type)
{
    return VariantChangeType(to.get(), const_cast<VARIANT*>(&from), 0, type);
}

HKEY predefined(ULONG value) noexcept
{
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(value)));
}

// Decimal digits of an unsigned 64-bit number.
Bstr decimal(ULONGLONG n)
{
    wchar_t digits[20];
    return Bstr::copy(digits, static_cast<UINT>(text::put_decimal(digits, n) - digits));
}

}  // namespace

namespace reg {

Arg::Arg(const VARIANT& v)
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

// A key path or value name as Windows gets it; raises 5 for a text with a
// NUL inside, which would name another key or value.
const wchar_t* name_of(BSTR text)
{
    const wchar_t* name = text::exact_name(text);
    if (!name)
        raise(kInvalidCall);
    return name;
}

// Whether a key path names the root itself: Windows drops leading
// backslashes, so a path of nothing else is the root.
bool names_root(const wchar_t* path) noexcept
{
    return path[std::wcsspn(path, L"\\")] == L'\0';
}

std::wstring_view trimmed(const wchar_t* path) noexcept
{
    std::wstring_view p(path);
    while (!p.empty() && p.front() == L'\\')
        p.remove_prefix(1);
    while (!p.empty() && p.back() == L'\\')
        p.remove_suffix(1);
    return p;
}

Place::Place(const VARIANT& root_key, BSTR sub, const VARIANT& view_argument)
    : root(root_of(root_key)), sub_key(name_of(sub)), view(view_of(view_argument))
{
}

bool Place::open(REGSAM access, unique_hkey& key) const
{
    return call<Fn::RegOpenKeyExW>(root, sub_key, 0, access | view, key.put()) == 0;
}

// ---------------------------------------------------------------- numbers


// The whole number a Variant holds: True is 1; a text must spell a number.
// Raises 13 for what is no whole number, 6 beyond the 64-bit range.
Whole whole_of(const VARIANT& v)
{
    if (V_VT(&v) == VT_BOOL)
        return {V_BOOL(&v) ? 1u : 0u, false};
    // 64-bit integers as they are: the platform's conversion of an
    // unsigned one past 2^63 to a signed one need not report the overflow.
    if (V_VT(&v) == VT_UI8)
        return {V_UI8(&v), false};
    if (V_VT(&v) == VT_I8)
        return {static_cast<ULONGLONG>(V_I8(&v)), V_I8(&v) < 0};
    Variant real;
    const HRESULT as_real = change_type(real, v, VT_R8);
    if (as_real == DISP_E_OVERFLOW)
        raise(kOverflow);  // a text past even a Double's range
    if (FAILED(as_real) || std::floor(V_R8(real.get())) != V_R8(real.get()))
        raise(kTypeMismatch);
    Variant n;
    HRESULT hr = change_type(n, v, VT_I8);
    if (SUCCEEDED(hr))
        return {static_cast<ULONGLONG>(V_I8(n.get())), V_I8(n.get()) < 0};
    if (hr == DISP_E_OVERFLOW && SUCCEEDED(change_type(n, v, VT_UI8)))
        return {V_UI8(n.get()), false};
    raise(hr == DISP_E_OVERFLOW ? kOverflow : kTypeMismatch);
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

// Gives the result array `n` items: the first ones stay, those cut off are
// cleared, new ones are empty. A longer array is a new vector with the items
// moved into it, as a vector's block is not one to grow in place.
void resize_array(Variant& out, ULONG n)
{
    SAFEARRAY* array = V_ARRAY(out.get());
    const ULONG length = array->rgsabound[0].cElements;
    if (n <= length) {
        SAFEARRAYBOUND bound{n, 0};
        if (FAILED(SafeArrayRedim(array, &bound)))
            raise(kOutOfMemory);
        return;
    }
    Variant longer;
    VARIANT* items = make_array(longer, n);
    std::memcpy(static_cast<void*>(items), array->pvData, length * sizeof *items);
    std::memset(array->pvData, 0, length * sizeof *items);  // moved out: left empty
    out = std::move(longer);
}

void put_text(VARIANT* v, std::wstring_view text)
{
    V_BSTR(v) = Bstr::copy(text.data(), static_cast<UINT>(text.size())).release();
    V_VT(v) = VT_BSTR;
}

// The names that an optional argument lists, one bit each in the order of
// `names`: one name, or several different ones joined by commas, blanks
// around each allowed, letters in any case; `missing` when it is left out
// or Empty. Raises 13 for what is no text, 5 for a text that lists anything
// else or one name twice.
unsigned names_in(const VARIANT& argument, std::initializer_list<std::wstring_view> names,
                  unsigned missing)
{
    const Arg list(argument);
    if (list.missing())
        return missing;
    if (list.type() != VT_BSTR)
        raise(kTypeMismatch);
    std::wstring_view rest(V_BSTR(&*list), SysStringLen(V_BSTR(&*list)));
    unsigned out = 0;
    for (;;) {
        const size_t comma = rest.find(L',');
        std::wstring_view item(rest.data(), comma == std::wstring_view::npos ? rest.size() : comma);
        while (!item.empty() && item.front() == L' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == L' ')
            item.remove_suffix(1);
        unsigned bit = 1;
        for (std::wstring_view name : names) {
            if (same_name(item, name))
                break;
            bit <<= 1;
        }
        if ((bit >> names.size()) || (out & bit))
            raise(kInvalidCall);
        out |= bit;
        if (comma == std::wstring_view::npos)
            return out;
        rest.remove_prefix(comma + 1);
    }
}

// ---------------------------------------------------------------- trees

bool open_tree(HKEY parent, const wchar_t* name, REGSAM access, unique_hkey& key)
{
    return call<Fn::RegOpenKeyExW>(parent, name, REG_OPTION_OPEN_LINK, access, key.put()) == 0;
}

// Windows counts one more character into text data that does not end with
// a NUL when a NUL happens to follow it in the caller's memory, so the
// bytes go from a copy that is followed by none.
LONG set_value(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size)
{
    if ((type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) || size == 0)
        return call<Fn::RegSetValueExW>(key, name, 0, type, data, size);
    const Bstr copy = Bstr::bytes(size + 2);
    auto* bytes = reinterpret_cast<BYTE*>(copy.get());
    std::memcpy(bytes, data, size);
    bytes[size] = bytes[size + 1] = 0xFF;
    return call<Fn::RegSetValueExW>(key, name, 0, type, bytes, size);
}

// Deleted through a handle of its own, opened as itself: deleting by name
// would follow a link and delete the key it points to.
bool delete_key(HKEY parent, const wchar_t* name, REGSAM view)
{
    unique_hkey key;
    return open_tree(parent, name, DELETE | view, key) &&
           call<Fn::RegDeleteKeyExW>(key.get(), L"", view, 0) == 0;
}

// A link is opened as itself, never followed into the tree it points to.
// A key that refuses stays, and so do the keys above it; its siblings go.
void delete_subkeys(HKEY parent, const wchar_t* name, REGSAM view)
{
    unique_hkey key;
    if (!open_tree(parent, name, KEY_ENUMERATE_SUB_KEYS | view, key))
        return;
    TreeWalk walk(key.get(), {}, KEY_ENUMERATE_SUB_KEYS, view, kAnyDepth);
    for (TreeWalk::Step step; (step = walk.next()) != TreeWalk::kEnd;) {
        if (step != TreeWalk::kEnter && walk.depth() > 0 &&
            delete_key(walk.parent(), walk.name().data(), view))
            walk.removed();
    }
}

bool KeyContents::ended(LONG status) noexcept
{
    if (status != ERROR_NO_MORE_ITEMS)
        complete_ = false;
    return false;
}

// A value or name that came in since the last one may not fit: the buffer
// that was short grows and the same index is read again. Names of values
// have at most 16,383 characters, of keys 255.
bool KeyContents::next_value()
{
    for (;;) {
        if (name_room_ == 0)
            name_ = Bstr::bytes((name_room_ = 256) * sizeof(wchar_t));
        if (data_room_ == 0)
            data_ = Bstr::bytes(data_room_ = 2048);
        name_length_ = name_room_;
        size_ = data_room_;
        const LONG status = call<Fn::RegEnumValueW>(key_, values_, name_.get(), &name_length_,
                                                    nullptr, &type_, const_cast<BYTE*>(data()),
                                                    &size_);
        if (status == 0) {
            ++values_;
            return true;
        }
        if (status != ERROR_MORE_DATA)
            return ended(status);
        if (size_ > data_room_) {
            data_ = Bstr::bytes(data_room_ = size_);
        } else if (name_room_ < 16384) {
            name_ = Bstr::bytes((name_room_ = 16384) * sizeof(wchar_t));
        } else {
            if (data_room_ > MAXLONG / 2)
                raise(kOutOfMemory);
            data_ = Bstr::bytes(data_room_ *= 2);
        }
    }
}

// A name longer than the room (some systems keep names of more than 255
// characters) is read again with more.
bool KeyContents::next_subkey()
{
    if (name_room_ < 256)
        name_ = Bstr::bytes((name_room_ = 256) * sizeof(wchar_t));
    for (;;) {
        name_length_ = name_room_;
        const LONG status = call<Fn::RegEnumKeyExW>(key_, subkeys_, name_.get(), &name_length_,
                                                    nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA && name_room_ < 32768) {
            name_ = Bstr::bytes((name_room_ *= 2) * sizeof(wchar_t));
            continue;
        }
        if (status != 0)
            return ended(status);
        ++subkeys_;
        return true;
    }
}

const wchar_t* root_name(HKEY root) noexcept
{
    // The long name follows the short one in the table of names.
    for (size_t i = 1; i < std::size(kRootNames); i += 2) {
        if (predefined(kRootNames[i].value) == root)
            return kRootNames[i].name;
    }
    return nullptr;
}

const wchar_t* named_root(HKEY root)
{
    const wchar_t* name = root_name(root);
    if (!name)
        raise(kInvalidCall);
    return name;
}

}  // namespace reg

using namespace reg;

namespace {

// ---------------------------------------------------------------- arrays

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

bool is_array(const VARIANT& v) noexcept
{
    return (V_VT(&v) & VT_ARRAY) || V_VT(&v) == VT_DISPATCH;
}

// A property of a caller's object, such as a JScript array's `length` or
// item "2"; raises 13 when the object does not give it.
Variant property(IDispatch* object, LPCOLESTR name)
{
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

// A list argument read once, each item once, into an array of Variants
// that this call owns: a one-dimensional array (of Variants, of Bytes, of
// any type a Variant holds), or a JScript array, an object with a `length`
// and numbered items. Sizes and types are checked on this copy and the copy
// is what gets written, so a list that changes while it is read (another
// thread's array, a client's object that answers differently each time)
// cannot make the two differ. Raises 13 for anything else.
Variant read_list(const VARIANT& v)
{
    Variant copy;
    if (!(V_VT(&v) & VT_ARRAY)) {
        if (V_VT(&v) != VT_DISPATCH || !V_DISPATCH(&v))
            raise(kTypeMismatch);
        Variant length = property(V_DISPATCH(&v), L"length");
        if (FAILED(VariantChangeType(length.get(), length.get(), 0, VT_I4)) ||
            V_I4(length.get()) < 0)
            raise(kTypeMismatch);
        const auto n = static_cast<ULONG>(V_I4(length.get()));
        VARIANT* items = make_array(copy, n);
        for (ULONG i = 0; i < n; ++i)
            property(V_DISPATCH(&v), decimal(i).get()).release(&items[i]);
    } else {
        SAFEARRAY* array = V_ARRAY(&v);
        LONG low = 0, high = -1;
        VARTYPE type = VT_EMPTY;
        // Items of a type that fits a Variant's eight bytes of value, or
        // Variants; nothing else is registry data.
        if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &low)) ||
            FAILED(SafeArrayGetUBound(array, 1, &high)) ||
            FAILED(SafeArrayGetVartype(array, &type)) ||
            (type != VT_VARIANT && type != VT_BSTR && (!is_number(type) || type == VT_DECIMAL)))
            raise(kTypeMismatch);
        VARIANT* items = make_array(copy, static_cast<ULONG>(high - low + 1));
        for (LONG index = low; index <= high; ++index) {
            VARIANT* item = &items[index - low];
            if (FAILED(SafeArrayGetElement(array, &index,
                                           type == VT_VARIANT ? static_cast<void*>(item)
                                                              : static_cast<void*>(&V_I4(item)))))
                raise(kTypeMismatch);
            if (type != VT_VARIANT)
                V_VT(item) = type;
        }
    }
    // Items held by reference become values of their own.
    for (VARIANT& item : std::span(static_cast<VARIANT*>(V_ARRAY(copy.get())->pvData),
                                   V_ARRAY(copy.get())->rgsabound[0].cElements)) {
        if (V_VT(&item) & VT_BYREF) {
            Variant plain;
            if (FAILED(VariantCopyInd(plain.get(), &item)))
                raise(kTypeMismatch);
            VariantClear(&item);
            plain.release(&item);
        }
    }
    return copy;
}

// The items of a list that read_list made.
std::span<const VARIANT> items_of(const VARIANT& list) noexcept
{
    const SAFEARRAY* array = V_ARRAY(&list);
    return {static_cast<const VARIANT*>(array->pvData), array->rgsabound[0].cElements};
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
    const auto items = items_of(value);
    if (!items.empty() && V_VT(&items[0]) == VT_BSTR)
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
    if (!(V_VT(&value) & VT_ARRAY))
        raise(kTypeMismatch);  // a number, a date, Null: no list of texts
    for (const VARIANT& item : items_of(value))
        each(item);
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
    if (!is_array(value))
        raise(kTypeMismatch);
    const auto items = items_of(value);
    BYTE* out = data.room(static_cast<DWORD>(items.size()));
    for (const VARIANT& item : items) {
        if (!is_number(V_VT(&item)))
            raise(kTypeMismatch);
        const Whole n = whole_of(item);
        if (n.negative || n.bits > 255)
            raise(kOverflow);
        *out++ = static_cast<BYTE>(n.bits);
    }
}

// The data RegWriteValue stores, checked before anything is written.
Data data_of(const VARIANT& value_argument, const VARIANT& type_argument)
{
    const Arg given(value_argument);
    const Arg type(type_argument);
    // A list is read here, once: everything below sees only the copy.
    Variant list;
    const VARIANT* value = &*given;
    if (is_array(*value)) {
        list = read_list(*value);
        value = list.get();
    }
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
        resize_array(out, found);
}

}  // namespace

HRESULT Registry::RegReadValue(VARIANT RootKey, BSTR SubKey, BSTR ValueName, VARIANT View,
                               VARIANT* result)
{
    return method(result, [&](Variant& value) {
        const Place place(RootKey, SubKey, View);
        const wchar_t* name = name_of(ValueName);
        unique_hkey key;
        ValueReader reader;
        if (place.open(KEY_QUERY_VALUE, key) && reader.read(key.get(), name))
            read_into(reader, value);
    });
}

HRESULT Registry::RegWriteValue(VARIANT RootKey, BSTR SubKey, BSTR ValueName, VARIANT Value,
                                VARIANT ValueType, VARIANT View, VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL& written) {
        const Place place(RootKey, SubKey, View);
        const wchar_t* name = name_of(ValueName);
        const Data data = data_of(Value, ValueType);
        unique_hkey key;
        if (call<Fn::RegCreateKeyExW>(place.root, place.sub_key, 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | place.view,
                                      nullptr, key.put(), nullptr) == 0 &&
            call<Fn::RegSetValueExW>(key.get(), name, 0, data.type,
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
        const wchar_t* name = name_of(ValueName);
        unique_hkey key;
        if (place.open(KEY_SET_VALUE, key) && call<Fn::RegDeleteValueW>(key.get(), name) == 0)
            deleted = VARIANT_TRUE;
    });
}

HRESULT Registry::RegDeleteKey(VARIANT RootKey, BSTR SubKey, VARIANT Recursive, VARIANT View,
                               VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL& deleted) {
        const Place place(RootKey, SubKey, View);
        if (names_root(place.sub_key))
            raise(kInvalidCall);  // never a root, in either view
        // Nor a key that is one, or holds one, by another name.
        KeyIdentity key;
        if (!key.find(place.root, place.sub_key, place.view) || !key.exists())
            return;  // no key that Windows can name: none to delete
        if (key.holds_root())
            raise(kInvalidCall);
        if (optional_flag(Recursive))
            delete_subkeys(place.root, place.sub_key, place.view);
        if (delete_key(place.root, place.sub_key, place.view))
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
        const wchar_t* value_name = name_of(ValueName);
        unique_hkey key;
        DWORD type = REG_NONE;
        if (!place.open(KEY_QUERY_VALUE, key) ||
            call<Fn::RegQueryValueExW>(key.get(), value_name, nullptr, &type, nullptr, nullptr) !=
                0)
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
        const wchar_t* name = name_of(ValueName);
        unique_hkey key;
        if (place.open(KEY_QUERY_VALUE, key) &&
            call<Fn::RegQueryValueExW>(key.get(), name, nullptr, nullptr, nullptr, nullptr) == 0)
            exists = VARIANT_TRUE;
    });
}

}  // namespace tarnwick
