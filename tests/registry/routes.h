// The two ways a client reaches a Registry object: early bound through the
// method table of _Registry, and late bound through IDispatch by name, with
// every argument passed the way a script passes a variable (by reference,
// VT_BYREF|VT_VARIANT). Each test runs its table through both and expects
// the same outcome.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "methods.h"

namespace registry_tests {

using testkit::Args;
using testkit::Bstr;
using testkit::Com;
using testkit::kHKCU;
using testkit::kHKU;
using testkit::Method;
using testkit::Variant;

class Route {
public:
    virtual ~Route() = default;
    virtual const char* name() const = 0;

    // Calls `m` with the caller's variables `a` (declared order), which take
    // back what the method hands back. Returns the status that reaches the
    // client: the method's own early bound, the exception record's status
    // late bound (after checking that Invoke said DISP_E_EXCEPTION).
    virtual HRESULT call(const Method& m, Args& a, Variant& result) = 0;

    // The Registry methods with the caller's own values and variables.
    HRESULT CreateRegKey(LONG root, const std::wstring& sub, LONG& status, VARIANT_BOOL& ok)
    {
        Args a;
        a.number(root), a.text(sub), a.number(status);
        Variant result;
        const HRESULT hr = call(testkit::method(L"CreateRegKey"), a, result);
        status = V_I4(&a[2]);
        ok = boolean(result);
        return hr;
    }
    HRESULT QueryRegValue(LONG root, const std::wstring& sub, const std::wstring& value, Bstr& data,
                          VARIANT_BOOL& ok)
    {
        return value_call(L"QueryRegValue", root, sub, value, data, ok);
    }
    HRESULT SetRegValue(LONG root, const std::wstring& sub, const std::wstring& value, Bstr& buffer,
                        VARIANT_BOOL& ok)
    {
        return value_call(L"SetRegValue", root, sub, value, buffer, ok);
    }
    HRESULT RegReadString(const std::wstring& root, Bstr& key, Bstr& value, Bstr& text)
    {
        Args a;
        a.text(root), a.bstr(key.get()), a.bstr(value.get());
        Variant result;
        const HRESULT hr = call(testkit::method(L"RegReadString"), a, result);
        take(a[1], key);
        take(a[2], value);
        text = Bstr();
        take(result, text);
        return hr;
    }
    HRESULT RegWriteString(const std::wstring& root, const std::wstring& key,
                           const std::wstring& value, Bstr& text, SHORT& written)
    {
        Args a;
        a.text(root), a.text(key), a.text(value), a.bstr(text.get());
        Variant result;
        const HRESULT hr = call(testkit::method(L"RegWriteString"), a, result);
        take(a[3], text);  // the very string the method was given
        written = V_VT(&result) == VT_I2 ? V_I2(&result) : 0;
        return hr;
    }
    HRESULT RegCreateKey(Bstr& root, Bstr& key, SHORT& outcome)
    {
        Args a;
        a.bstr(root.get()), a.bstr(key.get());
        Variant result;
        const HRESULT hr = call(testkit::method(L"RegCreateKey"), a, result);
        take(a[0], root);
        take(a[1], key);
        outcome = V_VT(&result) == VT_I2 ? V_I2(&result) : 0;
        return hr;
    }

private:
    // QueryRegValue and SetRegValue take the same arguments.
    HRESULT value_call(const wchar_t* method, LONG root, const std::wstring& sub,
                       const std::wstring& value, Bstr& text, VARIANT_BOOL& ok)
    {
        Args a;
        a.number(root), a.text(sub), a.text(value), a.bstr(text.get());
        Variant result;
        const HRESULT hr = call(testkit::method(method), a, result);
        take(a[3], text);
        ok = boolean(result);
        return hr;
    }
    static VARIANT_BOOL boolean(const Variant& v)
    {
        return V_VT(&v) == VT_BOOL ? V_BOOL(&v) : VARIANT_FALSE;
    }
    // A String variable must still be one afterwards; its text goes to `into`.
    static void take(Variant& v, Bstr& into)
    {
        if (V_VT(&v) == VT_EMPTY)
            return;
        EXPECT_EQ(V_VT(&v), VT_BSTR);
        if (V_VT(&v) == VT_BSTR) {
            *into.put() = V_BSTR(&v);
            V_VT(&v) = VT_EMPTY;
        }
    }
};

class EarlyRoute final : public Route {
public:
    explicit EarlyRoute(Com<_Registry> r) : r_(std::move(r)) {}
    const char* name() const override { return "early"; }
    HRESULT call(const Method& m, Args& a, Variant& result) override
    {
        return m.call(r_.get(), a, result, -1);
    }

private:
    Com<_Registry> r_;
};

class LateRoute final : public Route {
public:
    explicit LateRoute(Com<IDispatch> d) : d_(std::move(d)) {}
    const char* name() const override { return "late"; }
    HRESULT call(const Method& m, Args& a, Variant& result) override
    {
        std::vector<VARIANT> args;
        std::vector<std::wstring> before;
        for (size_t p = 0; p < a.size(); ++p) {
            args.push_back(testkit::v_ref(&a[p]));
            before.push_back(testkit::text_of(a[p]));
        }
        testkit::Excep excep;
        const HRESULT hr = testkit::call_by_name(d_.get(), m.name, args, &result, &excep);
        for (size_t p = 0; p < a.size(); ++p) {
            // The variables passed for by-value parameters are the caller's
            // to keep; the others come back in the declared type.
            if (m.by_ref(p)) {
                EXPECT_EQ(V_VT(&a[p]), m.params[p].type & ~VT_BYREF) << "argument " << p;
            } else {
                EXPECT_EQ(testkit::text_of(a[p]), before[p]) << "argument " << p;
            }
        }
        if (hr == DISP_E_EXCEPTION) {
            EXPECT_EQ(V_VT(&result), VT_EMPTY) << "a failed call hands back no result";
            return excep.scode;
        }
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(V_VT(&result), m.result);
        }
        return hr;
    }

private:
    Com<IDispatch> d_;
};

// Both routes over objects of one library: `make` creates a _Registry.
template <class Make> std::vector<std::unique_ptr<Route>> both_routes(Make make)
{
    std::vector<std::unique_ptr<Route>> routes;
    routes.push_back(std::make_unique<EarlyRoute>(make()));
    routes.push_back(std::make_unique<LateRoute>(make().template as<IDispatch>()));
    return routes;
}

}  // namespace registry_tests
