// Self-registration in a prefix of its own (it unregisters): the entries
// that DllRegisterServer writes, activation by ProgID with the fixed
// dispatch identifiers, and DllUnregisterServer removing every entry.
// The tests share the prefix and run in this order in one process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract.h"

namespace contract {
namespace {

constexpr const wchar_t* kProxyStub = L"{00020424-0000-0000-C000-000000000046}";
const wchar_t* const kPlatformKey = sizeof(void*) == 8 ? L"win64" : L"win32";

class ContractRegistration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(apartment_.hr, S_OK);
        module_ = LoadLibraryW(library_path().c_str());
        ASSERT_TRUE(module_) << narrow(library_path());
        register_ = reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
        unregister_ = reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
        ASSERT_TRUE(register_ && unregister_);
        wchar_t path[MAX_PATH];
        DWORD n = GetModuleFileNameW(module_, path, MAX_PATH);
        path_.assign(path, n);
    }

    void expect_registered() const
    {
        const std::wstring lib = guid_text(LIBID_TarnwickDLL);
        for (const ClassRef* each : kClassRefs) {
            const ClassRef& c = *each;
            SCOPED_TRACE(narrow(c.name));
            const std::wstring clsid = guid_text(*c.clsid);
            const std::wstring key = L"CLSID\\" + clsid;
            const std::wstring progid = c.progid();
            auto server = classes_value(key + L"\\InprocServer32", nullptr);
            ASSERT_TRUE(server);
            EXPECT_TRUE(same_text_ignoring_case(*server, path_)) << narrow(*server);
            EXPECT_EQ(classes_value(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
            EXPECT_EQ(classes_value(key + L"\\ProgID", nullptr), progid);
            auto type_lib = classes_value(key + L"\\TypeLib", nullptr);
            ASSERT_TRUE(type_lib);
            EXPECT_TRUE(same_text_ignoring_case(*type_lib, lib));
            EXPECT_EQ(classes_value(key + L"\\Version", nullptr), kTypeLibVersion);
            auto back = classes_value(progid + L"\\CLSID", nullptr);
            ASSERT_TRUE(back);
            EXPECT_TRUE(same_text_ignoring_case(*back, clsid));

            const std::wstring iface = L"Interface\\" + guid_text(*c.iid);
            EXPECT_EQ(classes_value(iface, nullptr), c.iface);
            auto stub = classes_value(iface + L"\\ProxyStubClsid32", nullptr);
            ASSERT_TRUE(stub);
            EXPECT_TRUE(same_text_ignoring_case(*stub, kProxyStub));
            auto iface_lib = classes_value(iface + L"\\TypeLib", nullptr);
            ASSERT_TRUE(iface_lib);
            EXPECT_TRUE(same_text_ignoring_case(*iface_lib, lib));
        }
        const std::wstring version = L"TypeLib\\" + lib + L"\\" + kTypeLibVersion;
        EXPECT_EQ(classes_value(version, nullptr), L"Merrow's Utilities Dynamic Link Library");
        auto file = classes_value(version + L"\\0\\" + kPlatformKey, nullptr);
        ASSERT_TRUE(file) << "no 0\\" << narrow(kPlatformKey);
        EXPECT_TRUE(same_text_ignoring_case(*file, path_)) << narrow(*file);
        // Library flags 0. Wine's registration records the flags as its reader
        // reports them, with "has a disk image" (8) added.
        auto flags = classes_value(version + L"\\FLAGS", nullptr);
        ASSERT_TRUE(flags);
        EXPECT_TRUE(*flags == L"0" || *flags == L"8") << narrow(*flags);
    }

    testkit::Apartment apartment_;
    HMODULE module_ = nullptr;
    HRESULT(WINAPI* register_)() = nullptr;
    HRESULT(WINAPI* unregister_)() = nullptr;
    std::wstring path_;
};

TEST_F(ContractRegistration, UnregisterWhenNothingIsRegistered)
{
    for (const auto& key : registration_keys())
        ASSERT_FALSE(key_exists(HKEY_CLASSES_ROOT, key)) << "prefix not fresh: " << narrow(key);
    EXPECT_EQ(unregister_(), S_OK);
}

TEST_F(ContractRegistration, RegisterTwiceThenUnregisterOnce)
{
    ASSERT_EQ(register_(), S_OK);
    ASSERT_EQ(register_(), S_OK);
    expect_registered();

    // Activation by ProgID and the fixed dispatch identifiers.
    const struct {
        const wchar_t* progid;
        const CLSID* clsid;
        const wchar_t* method;
        DISPID id;
    } late[] = {
        {L"TarnwickDLL.Registry", &CLSID_Registry, L"QueryRegValue", 0x60030002},
        {L"TarnwickDLL.Reboot", &CLSID_Reboot, L"Reboot", 0x60030000},
        {L"TarnwickDLL.Time", &CLSID_Time, L"CurrentLocalTime", 0x60030001},
        {L"TarnwickDLL.WindowsInfo", &CLSID_WindowsInfo, L"GetDefaultBrowserPath", 0x60030004},
    };
    for (const auto& l : late) {
        SCOPED_TRACE(narrow(l.progid));
        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(l.progid, &clsid), S_OK);
        EXPECT_EQ(clsid, *l.clsid);
        auto object = testkit::create<IDispatch>(clsid);
        ASSERT_TRUE(object);
        LPOLESTR name = const_cast<LPOLESTR>(l.method);
        DISPID id = 0;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, l.id);
    }
    // The type library as registered.
    Com<ITypeLib> lib;
    EXPECT_EQ(LoadRegTypeLib(LIBID_TarnwickDLL, 1, 0, 0, lib.put()), S_OK);
    lib.reset();

    ASSERT_EQ(unregister_(), S_OK);
    for (const auto& key : registration_keys())
        EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, key)) << narrow(key) << " remains";
    CLSID clsid;
    EXPECT_NE(CLSIDFromProgID(L"TarnwickDLL.Registry", &clsid), S_OK);

    EXPECT_EQ(unregister_(), S_OK) << "a second unregistration";
}

}  // namespace
}  // namespace contract
