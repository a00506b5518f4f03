// Late-bound calls with the argument forms that script hosts and other
// automation clients use for by-reference parameters: a variable
// (VT_BYREF|VT_VARIANT) of the declared type, of another type or empty, a
// typed reference, and a plain value.
#include <gtest/gtest.h>

#include <string>

#include "regdata.h"
#include "routes.h"

namespace registry_tests {
namespace {

using testkit::Variant;

class RegistryInvoke : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(apartment_.hr, S_OK);
        object_ = testkit::create<_Registry>(CLSID_Registry).as<IDispatch>();
        ASSERT_TRUE(object_) << "library not registered";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = L"Software\\TarnwickTests\\registry\\invoke\\" +
                std::wstring(info->name(), info->name() + strlen(info->name()));
        delete_tree(HKEY_CURRENT_USER, path_);
        ASSERT_EQ(make_key(HKEY_CURRENT_USER, path_), ERROR_SUCCESS);
        ASSERT_EQ(set_text(HKEY_CURRENT_USER, path_, L"v", L"abc"), ERROR_SUCCESS);
    }
    void TearDown() override { delete_tree(HKEY_CURRENT_USER, path_); }

    // QueryRegValue(HKCU, path, "v", strData) with strData as given.
    HRESULT query(VARIANT data, Variant& result)
    {
        Bstr key(path_), name(L"v");
        return testkit::call_by_name(
            object_.get(), L"QueryRegValue",
            {testkit::v_i4(kHKCU), testkit::v_str(key.get()), testkit::v_str(name.get()), data},
            &result);
    }
    // SetRegValue(HKCU, path, name, SettingBuffer) with the buffer as given.
    HRESULT set(const wchar_t* value_name, VARIANT buffer, Variant& result)
    {
        Bstr key(path_), name(value_name);
        return testkit::call_by_name(
            object_.get(), L"SetRegValue",
            {testkit::v_i4(kHKCU), testkit::v_str(key.get()), testkit::v_str(name.get()), buffer},
            &result);
    }
    HRESULT create_key(const std::wstring& sub, VARIANT status, Variant& result)
    {
        Bstr key(path_ + L"\\" + sub);
        return testkit::call_by_name(object_.get(), L"CreateRegKey",
                                     {testkit::v_i4(kHKCU), testkit::v_str(key.get()), status},
                                     &result);
    }

    static std::wstring str(const VARIANT& v)
    {
        return V_VT(&v) == VT_BSTR ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)))
                                   : L"<not a string>";
    }
    static void expect_true(const Variant& result)
    {
        EXPECT_EQ(V_VT(&result), VT_BOOL);
        EXPECT_EQ(V_BOOL(&result), VARIANT_TRUE);
    }

    testkit::Apartment apartment_;
    Com<IDispatch> object_;
    std::wstring path_;
};

TEST_F(RegistryInvoke, VariantHoldingTextIsReplaced)
{
    Variant data, result;
    V_VT(&data) = VT_BSTR;
    V_BSTR(&data) = SysAllocString(L"old");
    ASSERT_EQ(query(testkit::v_ref(&data), result), S_OK);
    expect_true(result);
    EXPECT_EQ(V_VT(&data), VT_BSTR);
    EXPECT_EQ(str(data), L"abc");
}

TEST_F(RegistryInvoke, EmptyVariantReceivesText)
{
    Variant data, result;
    ASSERT_EQ(query(testkit::v_ref(&data), result), S_OK);
    expect_true(result);
    EXPECT_EQ(V_VT(&data), VT_BSTR);
    EXPECT_EQ(str(data), L"abc");
}

// A number in the caller's variable is converted to text for the method,
// and the variable receives the text back.
TEST_F(RegistryInvoke, VariantHoldingNumberBecomesText)
{
    Variant buffer, result;
    V_VT(&buffer) = VT_I4;
    V_I4(&buffer) = 42;
    ASSERT_EQ(set(L"n", testkit::v_ref(&buffer), result), S_OK);
    expect_true(result);
    EXPECT_EQ(V_VT(&buffer), VT_BSTR);
    EXPECT_EQ(str(buffer), L"42");
    EXPECT_EQ(read_text(HKEY_CURRENT_USER, path_, L"n"), L"42");
}

TEST_F(RegistryInvoke, TypedStringReferenceIsReplaced)
{
    Bstr target(L"old");
    VARIANT data;
    VariantInit(&data);
    V_VT(&data) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&data) = target.ref();
    Variant result;
    ASSERT_EQ(query(data, result), S_OK);
    expect_true(result);
    EXPECT_EQ(target.str(), L"abc");
}

// A plain value for a by-reference parameter works; the method's write-back
// goes to a copy, so the caller's argument keeps its text.
TEST_F(RegistryInvoke, ValueForByReferenceParameterStaysTheCallers)
{
    const std::wstring original = L"x\u4E2Dy";
    Variant buffer, result;
    V_VT(&buffer) = VT_BSTR;
    V_BSTR(&buffer) = SysAllocString(original.c_str());
    const BSTR before = V_BSTR(&buffer);
    ASSERT_EQ(set(L"byvalue", buffer, result), S_OK);
    expect_true(result);
    EXPECT_EQ(V_VT(&buffer), VT_BSTR);
    EXPECT_EQ(V_BSTR(&buffer), before);
    EXPECT_EQ(str(buffer), original);
    EXPECT_EQ(read_text(HKEY_CURRENT_USER, path_, L"byvalue"), original);

    Variant data, found;
    V_VT(&data) = VT_BSTR;
    V_BSTR(&data) = SysAllocString(L"mine");
    ASSERT_EQ(query(data, found), S_OK);
    expect_true(found);
    EXPECT_EQ(str(data), L"mine");
}

TEST_F(RegistryInvoke, KeyStatusVariableIsWrittenBack)
{
    Variant status, result;
    V_VT(&status) = VT_I4;
    V_I4(&status) = 77;
    ASSERT_EQ(create_key(L"k", testkit::v_ref(&status), result), S_OK);
    expect_true(result);
    EXPECT_EQ(V_VT(&status), VT_I4);
    EXPECT_EQ(V_I4(&status), 1);

    Variant empty, again;
    ASSERT_EQ(create_key(L"k", testkit::v_ref(&empty), again), S_OK);
    expect_true(again);
    EXPECT_EQ(V_VT(&empty), VT_I4);
    EXPECT_EQ(V_I4(&empty), 2);

    LONG typed = 0;
    VARIANT ref;
    VariantInit(&ref);
    V_VT(&ref) = VT_BYREF | VT_I4;
    V_I4REF(&ref) = &typed;
    Variant third;
    ASSERT_EQ(create_key(L"k2", ref, third), S_OK);
    expect_true(third);
    EXPECT_EQ(typed, 1);
}

// Calls that cannot be made are refused before the method runs.
TEST_F(RegistryInvoke, MalformedCallsAreRefused)
{
    Bstr key(path_);
    Variant result;
    EXPECT_EQ(testkit::call_by_name(object_.get(), L"QueryRegValue",
                                    {testkit::v_i4(kHKCU), testkit::v_str(key.get())}, &result),
              DISP_E_BADPARAMCOUNT);

    // A text that is no number for RootKey.
    Bstr not_a_number(L"HKCU"), name(L"v");
    Variant data;
    EXPECT_EQ(testkit::call_by_name(object_.get(), L"QueryRegValue",
                                    {testkit::v_str(not_a_number.get()), testkit::v_str(key.get()),
                                     testkit::v_str(name.get()), testkit::v_ref(&data)},
                                    &result),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(V_VT(&data), VT_EMPTY);

    // A reference to a variable of another type, as PowerShell passes a
    // [ref] of a number: the answer could not go back, so the call is
    // refused before it runs and the caller's variable stays.
    double number = 2.5;
    SHORT small = 7;
    VARIANT to_double, to_short;
    VariantInit(&to_double);
    VariantInit(&to_short);
    V_VT(&to_double) = VT_BYREF | VT_R8;
    V_R8REF(&to_double) = &number;
    V_VT(&to_short) = VT_BYREF | VT_I2;
    V_I2REF(&to_short) = &small;
    EXPECT_EQ(query(to_double, result), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(number, 2.5);
    EXPECT_EQ(create_key(L"typed", to_short, result), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(small, 7);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, path_ + L"\\typed"));

    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(
        object_->Invoke(0x60030000, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
        DISP_E_MEMBERNOTFOUND);  // the private RootKeyFromName has no entry
}

}  // namespace
}  // namespace registry_tests
