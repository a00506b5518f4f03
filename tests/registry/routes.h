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

#include "testkit.h"

namespace registry_tests {

using testkit::Bstr;
using testkit::Com;

using testkit::kHKCU;
using testkit::kHKU;

inline std::wstring text(const Bstr& s) { return s.str(); }

class Route {
public:
    virtual ~Route() = default;
    virtual const char* name() const = 0;
    // Each returns the status that reaches the client: the method's own
    // status early bound, the EXCEPINFO scode late bound (after checking
    // that Invoke said DISP_E_EXCEPTION).
    virtual HRESULT CreateRegKey(LONG root, const std::wstring& sub, LONG& status,
                                 VARIANT_BOOL& ok) = 0;
    virtual HRESULT QueryRegValue(LONG root, const std::wstring& sub, const std::wstring& value,
                                  Bstr& data, VARIANT_BOOL& ok) = 0;
    virtual HRESULT SetRegValue(LONG root, const std::wstring& sub, const std::wstring& value,
                                Bstr& buffer, VARIANT_BOOL& ok) = 0;
    virtual HRESULT RegReadString(const std::wstring& root, Bstr& key, Bstr& value,
                                  Bstr& result) = 0;
    virtual HRESULT RegWriteString(const std::wstring& root, const std::wstring& key,
                                   const std::wstring& value, Bstr& text, SHORT& result) = 0;
    virtual HRESULT RegCreateKey(Bstr& root, Bstr& key, SHORT& result) = 0;
};

class EarlyRoute final : public Route {
public:
    explicit EarlyRoute(Com<_Registry> r) : r_(std::move(r)) {}
    const char* name() const override { return "early"; }

    HRESULT CreateRegKey(LONG root, const std::wstring& sub, LONG& status,
                         VARIANT_BOOL& ok) override
    {
        ok = 7;  // anything the method must overwrite
        return r_->CreateRegKey(root, Bstr(sub).get(), &status, &ok);
    }
    HRESULT QueryRegValue(LONG root, const std::wstring& sub, const std::wstring& value,
                          Bstr& data, VARIANT_BOOL& ok) override
    {
        ok = 7;
        return r_->QueryRegValue(root, Bstr(sub).get(), Bstr(value).get(), data.ref(), &ok);
    }
    HRESULT SetRegValue(LONG root, const std::wstring& sub, const std::wstring& value,
                        Bstr& buffer, VARIANT_BOOL& ok) override
    {
        ok = 7;
        return r_->SetRegValue(root, Bstr(sub).get(), Bstr(value).get(), buffer.ref(), &ok);
    }
    HRESULT RegReadString(const std::wstring& root, Bstr& key, Bstr& value, Bstr& result) override
    {
        return r_->RegReadString(Bstr(root).get(), key.ref(), value.ref(), result.put());
    }
    HRESULT RegWriteString(const std::wstring& root, const std::wstring& key,
                           const std::wstring& value, Bstr& text, SHORT& result) override
    {
        result = 7;
        return r_->RegWriteString(Bstr(root).get(), Bstr(key).get(), Bstr(value).get(), text.get(),
                                  &result);
    }
    HRESULT RegCreateKey(Bstr& root, Bstr& key, SHORT& result) override
    {
        result = 7;
        return r_->RegCreateKey(root.ref(), key.ref(), &result);
    }

private:
    Com<_Registry> r_;
};

// A script-style variable: a VARIANT that a by-reference argument points at.
struct Var : testkit::Variant {
    static void make(Var& v, LONG n) { V_VT(&v) = VT_I4; V_I4(&v) = n; }
    static void make(Var& v, const std::wstring& s)
    {
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    }
    static void make(Var& v, Bstr& s)  // takes the string over
    {
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = *s.ref();
        *s.ref() = nullptr;
    }
};

class LateRoute final : public Route {
public:
    explicit LateRoute(Com<IDispatch> d) : d_(std::move(d)) {}
    const char* name() const override { return "late"; }

    HRESULT CreateRegKey(LONG root, const std::wstring& sub, LONG& status,
                         VARIANT_BOOL& ok) override
    {
        Var a, b, c;
        Var::make(a, root);
        Var::make(b, sub);
        Var::make(c, status);
        testkit::Variant result;
        HRESULT hr = call(L"CreateRegKey", {ref(a), ref(b), ref(c)}, result, VT_BOOL);
        EXPECT_EQ(V_VT(&c), VT_I4);
        status = V_I4(&c);
        ok = V_VT(&result) == VT_BOOL ? V_BOOL(&result) : VARIANT_FALSE;
        expect_unchanged(a, root);
        expect_unchanged(b, sub);
        return hr;
    }
    HRESULT QueryRegValue(LONG root, const std::wstring& sub, const std::wstring& value,
                          Bstr& data, VARIANT_BOOL& ok) override
    {
        Var a, b, c, d;
        Var::make(a, root);
        Var::make(b, sub);
        Var::make(c, value);
        Var::make(d, data);
        testkit::Variant result;
        HRESULT hr = call(L"QueryRegValue", {ref(a), ref(b), ref(c), ref(d)}, result, VT_BOOL);
        take_back(d, data);
        ok = V_VT(&result) == VT_BOOL ? V_BOOL(&result) : VARIANT_FALSE;
        expect_unchanged(a, root);
        expect_unchanged(b, sub);
        expect_unchanged(c, value);
        return hr;
    }
    HRESULT SetRegValue(LONG root, const std::wstring& sub, const std::wstring& value,
                        Bstr& buffer, VARIANT_BOOL& ok) override
    {
        Var a, b, c, d;
        Var::make(a, root);
        Var::make(b, sub);
        Var::make(c, value);
        Var::make(d, buffer);
        testkit::Variant result;
        HRESULT hr = call(L"SetRegValue", {ref(a), ref(b), ref(c), ref(d)}, result, VT_BOOL);
        take_back(d, buffer);
        ok = V_VT(&result) == VT_BOOL ? V_BOOL(&result) : VARIANT_FALSE;
        expect_unchanged(a, root);
        expect_unchanged(b, sub);
        expect_unchanged(c, value);
        return hr;
    }
    HRESULT RegReadString(const std::wstring& root, Bstr& key, Bstr& value, Bstr& result) override
    {
        Var a, b, c;
        Var::make(a, root);
        Var::make(b, key);
        Var::make(c, value);
        testkit::Variant out;
        HRESULT hr = call(L"RegReadString", {ref(a), ref(b), ref(c)}, out, VT_BSTR);
        take_back(b, key);
        take_back(c, value);
        result = Bstr();
        if (V_VT(&out) == VT_BSTR) {
            *result.ref() = V_BSTR(&out);
            V_VT(&out) = VT_EMPTY;
        }
        expect_unchanged(a, root);
        return hr;
    }
    HRESULT RegWriteString(const std::wstring& root, const std::wstring& key,
                           const std::wstring& value, Bstr& text, SHORT& result) override
    {
        Var a, b, c, d;
        Var::make(a, root);
        Var::make(b, key);
        Var::make(c, value);
        Var::make(d, text);
        testkit::Variant out;
        HRESULT hr = call(L"RegWriteString", {ref(a), ref(b), ref(c), ref(d)}, out, VT_I2);
        take_back(d, text);
        result = V_VT(&out) == VT_I2 ? V_I2(&out) : 0;
        expect_unchanged(a, root);
        expect_unchanged(b, key);
        expect_unchanged(c, value);
        return hr;
    }
    HRESULT RegCreateKey(Bstr& root, Bstr& key, SHORT& result) override
    {
        Var a, b;
        Var::make(a, root);
        Var::make(b, key);
        testkit::Variant out;
        HRESULT hr = call(L"RegCreateKey", {ref(a), ref(b)}, out, VT_I2);
        take_back(a, root);
        take_back(b, key);
        result = V_VT(&out) == VT_I2 ? V_I2(&out) : 0;
        return hr;
    }

private:
    static VARIANT ref(Var& v) { return testkit::v_ref(&v); }

    HRESULT call(const wchar_t* method, std::vector<VARIANT> args, testkit::Variant& result,
                 VARTYPE expected)
    {
        testkit::Excep excep;
        const HRESULT hr = testkit::call_by_name(d_.get(), method, std::move(args), &result, &excep);
        if (hr == DISP_E_EXCEPTION) {
            EXPECT_EQ(V_VT(&result), VT_EMPTY) << "a failed call hands back no result";
            return excep.scode;
        }
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(V_VT(&result), expected);
        }
        return hr;
    }
    // By-reference String arguments must still be strings afterwards.
    static void take_back(Var& v, Bstr& into)
    {
        EXPECT_EQ(V_VT(&v), VT_BSTR);
        if (V_VT(&v) == VT_BSTR) {
            *into.put() = V_BSTR(&v);
            V_VT(&v) = VT_EMPTY;
        }
    }
    // Variables passed for by-value parameters are the caller's to keep.
    static void expect_unchanged(Var& v, LONG n)
    {
        EXPECT_EQ(V_VT(&v), VT_I4);
        EXPECT_EQ(V_I4(&v), n);
    }
    static void expect_unchanged(Var& v, const std::wstring& s)
    {
        ASSERT_EQ(V_VT(&v), VT_BSTR);
        EXPECT_EQ(std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v))), s);
    }

    Com<IDispatch> d_;
};

// Both routes over objects of one library: `make` creates a _Registry.
template <class Make>
std::vector<std::unique_ptr<Route>> both_routes(Make make)
{
    std::vector<std::unique_ptr<Route>> routes;
    routes.push_back(std::make_unique<EarlyRoute>(make()));
    routes.push_back(std::make_unique<LateRoute>(make().template as<IDispatch>()));
    return routes;
}

}  // namespace registry_tests
