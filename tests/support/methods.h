// The classes of the library and every public method as a client sees it,
// in one table: class and interface, dispatch id, parameters, result, good
// arguments for a call that succeeds, and the call through the method table.
// The build writes the table itself from the IDL (methods_table.h, by
// cmake/methods-table.py), so a method the IDL gains is in it at once; the
// good arguments follow from what each parameter is for, by its name (kRoles).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdlib>
#include <deque>
#include <tuple>
#include <type_traits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "testkit.h"

namespace testkit {

struct IfaceRef {
    const wchar_t* name;  // "_Registry2"
    const IID* iid;
};

struct ClassRef {
    const wchar_t* name;  // "Registry"; its ProgID is "TarnwickDLL.Registry"
    const CLSID* clsid;
    const wchar_t* iface;  // the 1.0 dual interface, "_Registry"
    const IID* iid;
    const char* iid_resource;  // the resource type that holds the interface id
    // The interfaces that later releases derived, each from the one before,
    // oldest first; the class names the last as its default.
    std::vector<IfaceRef> derived;
    std::wstring progid() const { return std::wstring(L"TarnwickDLL.") + name; }
    const IID& default_iid() const { return derived.empty() ? *iid : *derived.back().iid; }
    // Every dual interface of the class, oldest first.
    std::vector<IfaceRef> interfaces() const
    {
        std::vector<IfaceRef> all{{iface, iid}};
        all.insert(all.end(), derived.begin(), derived.end());
        return all;
    }
};

// The type library's version, as its registry keys spell it.
inline constexpr wchar_t kTypeLibVersion[] = L"1.2";

inline const ClassRef kRebootRef{L"Reboot", &CLSID_Reboot, L"_Reboot", &IID__Reboot, "_IID_REBOOT",
                                 {{L"_Reboot2", &IID__Reboot2}, {L"_Reboot3", &IID__Reboot3}}};
inline const ClassRef kRegistryRef{
    L"Registry", &CLSID_Registry, L"_Registry", &IID__Registry, "_IID_REGISTRY",
    {{L"_Registry2", &IID__Registry2}, {L"_Registry3", &IID__Registry3}}};
inline const ClassRef kTimeRef{L"Time", &CLSID_Time, L"_Time", &IID__Time, "_IID_TIME",
                               {{L"_Time2", &IID__Time2}, {L"_Time3", &IID__Time3}}};
inline const ClassRef kWindowsInfoRef{L"WindowsInfo", &CLSID_WindowsInfo, L"_WindowsInfo",
                                      &IID__WindowsInfo, "_IID_WINDOWSINFO",
                                      {{L"_WindowsInfo2", &IID__WindowsInfo2},
                                       {L"_WindowsInfo3", &IID__WindowsInfo3}}};
// In type-library order.
inline const ClassRef* const kClassRefs[] = {&kRebootRef, &kRegistryRef, &kTimeRef, &kWindowsInfoRef};

// Where the good arguments of a call point. Handle-level methods take the
// root-key handle value `root` and `key` below it; name-level methods take
// the root-key name `root_name` and `named_key`, the same key by its path.
struct Place {
    LONG root = kHKCU;
    std::wstring key;
    std::wstring named_key;
    std::wstring root_name = L"HKCU";
    std::wstring value = L"v";    // the value that reads and writes name
    std::wstring text = L"data";  // what writes store, and what strData holds before a read
    std::wstring sub = L"sub";    // the key that creates make below `key`
    std::wstring command = L"\"C:\\Program Files\\App\\app.exe\" /x";  // for GetLocation
    std::wstring file = temp_path(L"tarnwick-place.reg");  // what exports write and imports read
};

// The caller's variables for one call, in declared order; they stay where
// they are for as long as this lives.
class Args {
public:
    Variant& add()
    {
        vars_.emplace_back();
        return vars_.back();
    }
    void number(LONG n)
    {
        Variant& v = add();
        V_VT(&v) = VT_I4;
        V_I4(&v) = n;
    }
    void boolean(bool b)
    {
        Variant& v = add();
        V_VT(&v) = VT_BOOL;
        V_BOOL(&v) = b ? VARIANT_TRUE : VARIANT_FALSE;
    }
    void text(const std::wstring& s)
    {
        Variant& v = add();
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    }
    // A copy of `s`, the null string kept as such.
    void bstr(BSTR s)
    {
        Variant& v = add();
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr;
    }
    size_t size() const { return vars_.size(); }
    Variant& operator[](size_t i) { return vars_[i]; }
    void resize(size_t n)
    {
        while (vars_.size() > n)
            vars_.pop_back();
        while (vars_.size() < n)
            number(1);
    }

private:
    std::deque<Variant> vars_;
};

struct Param {
    const wchar_t* name;
    VARTYPE type;  // VT_BYREF marks an in/out parameter
    bool optional;
};

struct Method {
    const ClassRef* owner;
    const wchar_t* iface;  // the interface that declares it, "_Registry2"
    const IID* iid;
    const wchar_t* name;
    DISPID id;
    std::vector<Param> params;
    VARTYPE result;  // VT_EMPTY: none
    // Calls the method through the method table of `object` (its default
    // interface, or IDispatch, which is the same) with `args`, whose
    // by-reference variables take what the method hands back. `result` gets
    // the result slot as the call left it (it starts as 7 or "stale"). With
    // `null_at`, the pointer at that position (a by-reference parameter, or
    // the result as the last) is null.
    HRESULT (*call)(IDispatch* object, Args& args, Variant& result, int null_at);

    UINT count() const { return static_cast<UINT>(params.size()); }
    // The parameters a caller must pass: those before the first optional one.
    UINT required() const
    {
        UINT n = 0;
        while (n < count() && !params[n].optional)
            ++n;
        return n;
    }
    bool by_ref(size_t p) const { return p < params.size() && (params[p].type & VT_BYREF); }
    // The type of the parameter of that name; VT_EMPTY when there is none.
    VARTYPE type_of(const wchar_t* param) const
    {
        for (const Param& p : params)
            if (std::wstring(p.name) == param)
                return p.type;
        return VT_EMPTY;
    }
    // Handle-level: the root key comes as its handle value, a Long.
    bool handle_level() const { return type_of(L"RootKey") == VT_I4; }

    // The arguments of a call that succeeds, aimed at `place`: each
    // parameter's by its role (kRoles below).
    void good(const Place& place, Args& args) const;

    // Whether `r` has the result's type: any type for a Variant result.
    bool gives(const VARIANT& r) const { return result == VT_VARIANT || V_VT(&r) == result; }
    // Whether `r` is what a failed call leaves in the result: the null
    // string, False, zero, or Empty for a Variant.
    bool cleared(const VARIANT& r) const
    {
        if (result == VT_VARIANT)
            return V_VT(&r) == VT_EMPTY;
        if (V_VT(&r) != result)
            return false;
        switch (result) {
        case VT_BSTR:
            return V_BSTR(&r) == nullptr;
        case VT_BOOL:
            return V_BOOL(&r) == VARIANT_FALSE;
        case VT_I2:
            return V_I2(&r) == 0;
        case VT_I4:
            return V_I4(&r) == 0;
        case VT_R8:
            return V_R8(&r) == 0;
        default:
            return false;
        }
    }

    // rgvarg for `args`: a by-reference parameter gets the caller's variable
    // by reference, as script hosts pass it (every argument so with
    // `all_by_ref`), the others their value; last argument first.
    std::vector<VARIANT> rgvarg(Args& args, bool all_by_ref = false) const
    {
        std::vector<VARIANT> out;
        for (size_t p = 0; p < args.size(); ++p)
            out.insert(out.begin(), all_by_ref || by_ref(p) ? v_ref(&args[p]) : args[p]);
        return out;
    }
};

namespace table {

// A method-table argument of type T taken from the caller's variable.
template <class T> T take(Variant& v);
template <> inline LONG take<LONG>(Variant& v)
{
    return V_I4(&v);
}
template <> inline BSTR take<BSTR>(Variant& v)
{
    return V_BSTR(&v);
}
// By value: the callee reads the caller's variable and leaves it to the caller.
template <> inline VARIANT take<VARIANT>(Variant& v)
{
    return v;
}
template <> inline LONG* take<LONG*>(Variant& v)
{
    return &V_I4(&v);
}
template <> inline BSTR* take<BSTR*>(Variant& v)
{
    return &V_BSTR(&v);
}

// The result slot of a method whose result has type R.
template <VARTYPE R> struct Slot;
template <> struct Slot<VT_BOOL> {
    VARIANT_BOOL value = 7;
    void into(Variant& r) { V_VT(&r) = VT_BOOL, V_BOOL(&r) = value; }
};
template <> struct Slot<VT_I2> {
    short value = 7;
    void into(Variant& r) { V_VT(&r) = VT_I2, V_I2(&r) = value; }
};
template <> struct Slot<VT_I4> {
    LONG value = 7;
    void into(Variant& r) { V_VT(&r) = VT_I4, V_I4(&r) = value; }
};
template <> struct Slot<VT_R8> {
    double value = 7;
    void into(Variant& r) { V_VT(&r) = VT_R8, V_R8(&r) = value; }
};
template <> struct Slot<VT_BSTR> {
    BSTR stale = SysAllocString(L"stale");
    BSTR value = stale;
    void into(Variant& r)
    {
        if (value != stale)
            SysFreeString(stale);
        V_VT(&r) = VT_BSTR, V_BSTR(&r) = value;
    }
};
template <> struct Slot<VT_VARIANT> {
    VARIANT value = v_i4(7);
    void into(Variant& r) { static_cast<VARIANT&>(r) = value; }  // r owns it now
};

template <class F> struct Caller;
template <class I, class... P> struct Caller<HRESULT (STDMETHODCALLTYPE I::*)(P...)> {
    template <size_t K> using Type = std::tuple_element_t<K, std::tuple<P...>>;

    template <auto F, VARTYPE R, size_t... K>
    static HRESULT run(IDispatch* object, Args& args, Variant& result, int null_at,
                       std::index_sequence<K...>)
    {
        auto arg = [&]<size_t N>(std::integral_constant<size_t, N>) {
            using T = Type<N>;
            if constexpr (std::is_pointer_v<T>)
                return static_cast<int>(N) == null_at ? static_cast<T>(nullptr) : take<T>(args[N]);
            else
                return take<T>(args[N]);
        };
        VariantClear(&result);
        if constexpr (R != VT_EMPTY) {
            Slot<R> slot;
            const HRESULT hr = (static_cast<I*>(object)->*F)(
                arg(std::integral_constant<size_t, K>{})...,
                null_at == static_cast<int>(sizeof...(K)) ? nullptr : &slot.value);
            slot.into(result);
            return hr;
        } else {
            return (static_cast<I*>(object)->*F)(arg(std::integral_constant<size_t, K>{})...);
        }
    }
    static constexpr size_t count = sizeof...(P);
};

// The call through the method table for method F, whose last parameter is
// its result of type R unless R is VT_EMPTY.
template <auto F, VARTYPE R>
HRESULT call(IDispatch* object, Args& args, Variant& result, int null_at)
{
    using C = Caller<decltype(F)>;
    return C::template run<F, R>(object, args, result, null_at,
                                 std::make_index_sequence<C::count - (R != VT_EMPTY ? 1 : 0)>{});
}

}  // namespace table

// What a parameter is for, by its name: the good arguments follow from it.
enum class Role {
    unknown,
    root,        // RootKey
    key_path,    // below the root
    value_name,  // a value of that key
    data,        // what a write stores, or the buffer a read fills
    zero,        // a Long 0: KeyStatus, View
    type_name,   // ValueType
    flag,        // Recursive, Force
    seconds,     // the delay before a restart
    message,     // the warning before a restart
    command,     // a command line to cut down to its program
    copy_target, // where a copy goes: beside the key, never inside it
    file,        // a registration file
    pattern,     // what a search looks for
    where,       // where a search looks
    access,      // the access asked of a key
    sddl,        // a security descriptor as text
    format,      // how a name is given
    scope,       // whose programs are listed
};
struct RoleName {
    const wchar_t* param;
    Role role;
};
inline constexpr RoleName kRoles[] = {
    {L"RootKey", Role::root},
    {L"strSubKey", Role::key_path},
    {L"SubKey", Role::key_path},
    {L"strKeyName", Role::key_path},
    {L"strValueName", Role::value_name},
    {L"ValueName", Role::value_name},
    {L"strData", Role::data},
    {L"SettingBuffer", Role::data},
    {L"strValue", Role::data},
    {L"Value", Role::data},
    {L"KeyStatus", Role::zero},
    {L"View", Role::zero},
    {L"ValueType", Role::type_name},
    {L"Recursive", Role::flag},
    {L"Force", Role::flag},
    {L"Seconds", Role::seconds},
    {L"Message", Role::message},
    {L"strPath", Role::command},
    {L"ToRootKey", Role::root},
    {L"ToSubKey", Role::copy_target},
    {L"Path", Role::file},
    {L"Pattern", Role::pattern},
    {L"Where", Role::where},
    {L"Access", Role::access},
    {L"Sddl", Role::sddl},
    {L"Format", Role::format},
    {L"Scope", Role::scope},
};

inline Role role_of(const Param& param)
{
    for (const RoleName& r : kRoles)
        if (std::wstring(r.param) == param.name)
            return r.role;
    return Role::unknown;
}

// The methods whose key path names the key they create or delete: the
// good call aims at `sub` below the place's key.
inline bool makes_or_deletes_key(const Method& m)
{
    for (const wchar_t* name : {L"CreateRegKey", L"RegCreateKey", L"RegDeleteKey"})
        if (std::wstring(m.name) == name)
            return true;
    return false;
}

// Handle-level methods get the root's handle value and `key`, the others
// the root's name and `named_key`.
inline void Method::good(const Place& place, Args& args) const
{
    for (const Param& param : params) {
        switch (role_of(param)) {
        case Role::root:
            handle_level() ? args.number(place.root) : args.text(place.root_name);
            break;
        case Role::key_path: {
            const std::wstring& key = handle_level() ? place.key : place.named_key;
            args.text(makes_or_deletes_key(*this) ? key + L"\\" + place.sub : key);
            break;
        }
        case Role::value_name:
            args.text(place.value);
            break;
        case Role::data:
        case Role::message:
            args.text(place.text);
            break;
        case Role::zero:
            args.number(0);
            break;
        case Role::type_name:
            args.text(L"REG_SZ");
            break;
        case Role::flag:
            args.boolean(false);
            break;
        case Role::seconds:
            args.number(60);
            break;
        case Role::command:
            args.text(place.command);
            break;
        case Role::copy_target:
            args.text((handle_level() ? place.key : place.named_key) + L"-" + place.sub);
            break;
        case Role::file:
            args.text(place.file);
            break;
        case Role::pattern:
            args.text(L"*");
            break;
        case Role::where:
            args.text(L"Keys,Values,Data");
            break;
        case Role::access:
            args.text(L"Read");
            break;
        case Role::sddl:
            // The key's owner and group stay; everyone may do anything.
            args.text(L"D:(A;;KA;;;WD)");
            break;
        case Role::format:
            args.text(L"");  // the default of each method
            break;
        case Role::scope:
            args.text(L"Machine64,Machine32,User");
            break;
        case Role::unknown:
            ADD_FAILURE() << "no good argument for parameter " << narrow(param.name) << " of "
                          << narrow(name) << ": give its name a role in kRoles";
            args.add();  // Empty, so that the call still has all its arguments
            break;
        }
    }
}

}  // namespace testkit

#include "methods_table.h"

namespace testkit {

// Every key below HKEY_CLASSES_ROOT that registration writes.
inline std::vector<std::wstring> registration_keys()
{
    std::vector<std::wstring> keys{L"TypeLib\\" + guid_text(LIBID_TarnwickDLL)};
    for (const ClassRef* cls : kClassRefs) {
        keys.push_back(L"CLSID\\" + guid_text(*cls->clsid));
        keys.push_back(cls->progid());
        keys.push_back(L"Interface\\" + guid_text(*cls->iid));
        for (const IfaceRef& later : cls->derived)
            keys.push_back(L"Interface\\" + guid_text(*later.iid));
    }
    return keys;
}

inline const Method& method(const wchar_t* name)
{
    for (const Method& m : methods())
        if (std::wstring(m.name) == name)
            return m;
    std::abort();  // a test names a method that the table lacks
}

// The methods of one class, in method-table order.
inline std::vector<const Method*> methods_of(const ClassRef& cls)
{
    std::vector<const Method*> out;
    for (const Method& m : methods())
        if (m.owner == &cls)
            out.push_back(&m);
    return out;
}

}  // namespace testkit
