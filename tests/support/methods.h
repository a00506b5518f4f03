// The classes of the library and every public method as a client sees it,
// in one table: class, dispatch id, parameters, result, good arguments for a
// call that succeeds, and the call through the method table.
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

#include "testkit.h"

namespace testkit {

struct ClassRef {
    const wchar_t* name;  // "Registry"; its ProgID is "TarnwickDLL.Registry"
    const CLSID* clsid;
    const wchar_t* iface;  // the 1.0 dual interface, "_Registry"
    const IID* iid;
    const char* iid_resource;  // the resource type that holds the interface id
    // The interface of release 1.11 derived from the 1.0 one, which the class
    // names as its default; none where the class has only its 1.0 interface.
    const wchar_t* iface2 = nullptr;
    const IID* iid2 = nullptr;
    std::wstring progid() const { return std::wstring(L"TarnwickDLL.") + name; }
    const IID& default_iid() const { return iid2 ? *iid2 : *iid; }
};

// The type library's version, as its registry keys spell it.
inline constexpr wchar_t kTypeLibVersion[] = L"1.1";

inline const ClassRef kRebootRef{L"Reboot",     &CLSID_Reboot, L"_Reboot", &IID__Reboot,
                                 "_IID_REBOOT", L"_Reboot2",    &IID__Reboot2};
inline const ClassRef kRegistryRef{L"Registry",     &CLSID_Registry, L"_Registry",
                                   &IID__Registry, "_IID_REGISTRY", L"_Registry2",
                                   &IID__Registry2};
inline const ClassRef kTimeRef{L"Time",      &CLSID_Time, L"_Time", &IID__Time,
                               "_IID_TIME", L"_Time2",      &IID__Time2};
inline const ClassRef kWindowsInfoRef{L"WindowsInfo",      &CLSID_WindowsInfo, L"_WindowsInfo",
                                      &IID__WindowsInfo,   "_IID_WINDOWSINFO", L"_WindowsInfo2",
                                      &IID__WindowsInfo2};
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
};

struct Method {
    const ClassRef* owner;
    const wchar_t* name;
    DISPID id;
    std::vector<Param> params;
    VARTYPE result;  // VT_EMPTY: none
    void (*good)(const Place&, Args&);
    // Calls the method through the method table of `object` (its default
    // interface, or IDispatch, which is the same) with `args`, whose
    // by-reference variables take what the method hands back. `result` gets
    // the result slot as the call left it (it starts as 7 or "stale"). With
    // `null_at`, the pointer at that position (a by-reference parameter, or
    // the result as the last) is null.
    HRESULT (*call)(IDispatch* object, Args& args, Variant& result, int null_at);

    UINT count() const { return static_cast<UINT>(params.size()); }
    bool by_ref(size_t p) const { return p < params.size() && (params[p].type & VT_BYREF); }

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

// A table entry for method F of the class's interface, with result type R.
template <auto F, VARTYPE R>
Method define(
    const ClassRef& owner, const wchar_t* name, DISPID id, std::vector<Param> params,
    void (*good)(const Place&, Args&) = [](const Place&, Args&) {})
{
    return {&owner, name, id, std::move(params), R, good, table::call<F, R>};
}

// Every public method, each class's in method-table order.
inline const std::vector<Method>& methods()
{
    static const std::vector<Method> all = {
        define<&_Reboot::Reboot, VT_I2>(kRebootRef, L"Reboot", 0x60030000, {}),
        define<&_Registry::CreateRegKey, VT_BOOL>(
            kRegistryRef, L"CreateRegKey", 0x60030001,
            {{L"RootKey", VT_I4}, {L"strSubKey", VT_BSTR}, {L"KeyStatus", VT_BYREF | VT_I4}},
            [](const Place& p, Args& a) {
                a.number(p.root), a.text(p.key + L"\\" + p.sub), a.number(0);
            }),
        define<&_Registry::QueryRegValue, VT_BOOL>(kRegistryRef, L"QueryRegValue", 0x60030002,
                                                   {{L"RootKey", VT_I4},
                                                    {L"strSubKey", VT_BSTR},
                                                    {L"strValueName", VT_BSTR},
                                                    {L"strData", VT_BYREF | VT_BSTR}},
                                                   [](const Place& p, Args& a) {
                                                       a.number(p.root), a.text(p.key),
                                                           a.text(p.value), a.text(p.text);
                                                   }),
        define<&_Registry::SetRegValue, VT_BOOL>(kRegistryRef, L"SetRegValue", 0x60030003,
                                                 {{L"RootKey", VT_I4},
                                                  {L"SubKey", VT_BSTR},
                                                  {L"ValueName", VT_BSTR},
                                                  {L"SettingBuffer", VT_BYREF | VT_BSTR}},
                                                 [](const Place& p, Args& a) {
                                                     a.number(p.root), a.text(p.key),
                                                         a.text(p.value), a.text(p.text);
                                                 }),
        define<&_Registry::RegReadString, VT_BSTR>(kRegistryRef, L"RegReadString", 0x60030004,
                                                   {{L"RootKey", VT_BSTR},
                                                    {L"strKeyName", VT_BYREF | VT_BSTR},
                                                    {L"strValueName", VT_BYREF | VT_BSTR}},
                                                   [](const Place& p, Args& a) {
                                                       a.text(p.root_name), a.text(p.named_key),
                                                           a.text(p.value);
                                                   }),
        define<&_Registry::RegWriteString, VT_I2>(kRegistryRef, L"RegWriteString", 0x60030005,
                                                  {{L"RootKey", VT_BSTR},
                                                   {L"strKeyName", VT_BSTR},
                                                   {L"strValueName", VT_BSTR},
                                                   {L"strValue", VT_BSTR}},
                                                  [](const Place& p, Args& a) {
                                                      a.text(p.root_name), a.text(p.named_key),
                                                          a.text(p.value), a.text(p.text);
                                                  }),
        define<&_Registry::RegCreateKey, VT_I2>(
            kRegistryRef, L"RegCreateKey", 0x60030006,
            {{L"RootKey", VT_BYREF | VT_BSTR}, {L"strKeyName", VT_BYREF | VT_BSTR}},
            [](const Place& p, Args& a) {
                a.text(p.root_name), a.text(p.named_key + L"\\" + p.sub);
            }),
        define<&_Time::CurrentGMTTime, VT_BSTR>(kTimeRef, L"CurrentGMTTime", 0x60030000, {}),
        define<&_Time::CurrentLocalTime, VT_BSTR>(kTimeRef, L"CurrentLocalTime", 0x60030001, {}),
        define<&_WindowsInfo::GetOSType, VT_I4>(kWindowsInfoRef, L"GetOSType", 0x60030000, {}),
        define<&_WindowsInfo::GetOSVersionInfo, VT_BSTR>(kWindowsInfoRef, L"GetOSVersionInfo",
                                                         0x60030001, {}),
        define<&_WindowsInfo::GetWebBrowser, VT_BSTR>(kWindowsInfoRef, L"GetWebBrowser", 0x60030002,
                                                      {}),
        define<&_WindowsInfo::GetLocation, VT_EMPTY>(
            kWindowsInfoRef, L"GetLocation", 0x60030003, {{L"strPath", VT_BYREF | VT_BSTR}},
            [](const Place& p, Args& a) { a.text(p.command); }),
        define<&_WindowsInfo::GetDefaultBrowserPath, VT_BSTR>(
            kWindowsInfoRef, L"GetDefaultBrowserPath", 0x60030004, {}),
    };
    return all;
}

// Every key below HKEY_CLASSES_ROOT that registration writes.
inline std::vector<std::wstring> registration_keys()
{
    std::vector<std::wstring> keys{L"TypeLib\\" + guid_text(LIBID_TarnwickDLL)};
    for (const ClassRef* cls : kClassRefs) {
        keys.push_back(L"CLSID\\" + guid_text(*cls->clsid));
        keys.push_back(cls->progid());
        keys.push_back(L"Interface\\" + guid_text(*cls->iid));
        if (cls->iid2)
            keys.push_back(L"Interface\\" + guid_text(*cls->iid2));
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
