// Arguments and results of the Variant-taking Registry methods as a test
// builds and reads them, and the bytes Windows stores.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "keys.h"

namespace testkit {

// A Variant argument that owns what it holds.
struct Arg : Variant {
    Arg() = default;
    Arg(const wchar_t* text)
    {
        V_VT(this) = VT_BSTR;
        V_BSTR(this) = SysAllocString(text);
    }
    Arg(LONG n)
    {
        V_VT(this) = VT_I4;
        V_I4(this) = n;
    }
    Arg(double d)
    {
        V_VT(this) = VT_R8;
        V_R8(this) = d;
    }
    static Arg missing()
    {
        Arg a;
        V_VT(&a) = VT_ERROR;
        V_ERROR(&a) = DISP_E_PARAMNOTFOUND;
        return a;
    }
    // A zero-based array of Variants.
    static Arg array(const std::vector<std::function<void(VARIANT&)>>& items)
    {
        Arg a;
        SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
        for (size_t i = 0; i < items.size(); ++i)
            items[i](static_cast<VARIANT*>(sa->pvData)[i]);
        V_VT(&a) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(&a) = sa;
        return a;
    }
    Arg(Arg&& o) noexcept
    {
        *static_cast<VARIANT*>(this) = o;
        VariantInit(&o);
    }
};

inline std::function<void(VARIANT&)> text_item(const wchar_t* s)
{
    return [s](VARIANT& v) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString(s); };
}
inline std::function<void(VARIANT&)> number_item(LONG n)
{
    return [n](VARIANT& v) { V_VT(&v) = VT_I4, V_I4(&v) = n; };
}

// The items of an array result as texts, "(nothing)" for no array.
inline std::vector<std::wstring> items_of(const VARIANT& v)
{
    std::vector<std::wstring> out;
    if (V_VT(&v) != (VT_ARRAY | VT_VARIANT))
        return {L"(nothing)"};
    SAFEARRAY* sa = V_ARRAY(&v);
    for (ULONG i = 0; i < sa->rgsabound[0].cElements; ++i)
        out.push_back(text_of(static_cast<VARIANT*>(sa->pvData)[i]));
    return out;
}

inline std::string bytes_of(HKEY root, const std::wstring& key, const wchar_t* name, DWORD& type,
                     REGSAM view = 0)
{
    Key k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, k.put()) != 0)
        return "(no key)";
    DWORD size = 0;
    if (RegQueryValueExW(k.get(), name, nullptr, &type, nullptr, &size) != 0)
        return "(no value)";
    std::string out(size, '\0');
    RegQueryValueExW(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(out.data()), &size);
    return out;
}

inline std::string wide_bytes(const std::wstring& s)
{
    return std::string(reinterpret_cast<const char*>(s.data()), s.size() * sizeof(wchar_t));
}

}  // namespace testkit
