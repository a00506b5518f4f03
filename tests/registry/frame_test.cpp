// The component frame around Registry, through the test build of the
// library loaded by path: class objects, interfaces, the unload count, the
// reference held during a call, and run-time errors forced through the
// binding seam as early- and late-bound clients see them.
#include <gtest/gtest.h>

#include <ocidl.h>

#include <fstream>
#include <string>
#include <utility>

#include "regdata.h"
#include "routes.h"

namespace registry_tests {
namespace {

struct ClassCase {
    const char* name;
    const CLSID* clsid;
    const IID* iid;
};
const ClassCase kClasses[] = {
    {"Reboot", &CLSID_Reboot, &IID__Reboot},
    {"Registry", &CLSID_Registry, &IID__Registry},
    {"Time", &CLSID_Time, &IID__Time},
    {"WindowsInfo", &CLSID_WindowsInfo, &IID__WindowsInfo},
};

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x800A0035);
constexpr HRESULT kLoadFailed = static_cast<HRESULT>(0x800A0030);
constexpr HRESULT kEntryNotFound = static_cast<HRESULT>(0x800A01C5);

class RegistryFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(apartment_.hr, S_OK);
        ASSERT_TRUE(seam_.module) << "TarnwickSeam.dll not loaded";
        ASSERT_TRUE(seam_.bind && seam_.get_class_object && seam_.can_unload_now);
    }

    Com<IClassFactory> factory(REFCLSID clsid)
    {
        Com<IClassFactory> f;
        EXPECT_EQ(seam_.get_class_object(clsid, IID_IClassFactory,
                                         reinterpret_cast<void**>(f.put())),
                  S_OK);
        return f;
    }

    testkit::Apartment apartment_;
    testkit::SeamLibrary seam_;
};

TEST_F(RegistryFrame, UnknownClassIsNotAvailable)
{
    for (const GUID* id : {&IID__Registry, &IID_IUnknown, &LIBID_TarnwickDLL}) {
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(seam_.get_class_object(*id, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(seam_.can_unload_now(), S_OK);
}

TEST_F(RegistryFrame, FactoriesCreateThroughTheRequestedInterface)
{
    for (const auto& c : kClasses) {
        SCOPED_TRACE(c.name);
        auto f = factory(*c.clsid);
        ASSERT_TRUE(f);
        Com<IUnknown> f_unknown;
        EXPECT_EQ(seam_.get_class_object(*c.clsid, IID_IUnknown,
                                         reinterpret_cast<void**>(f_unknown.put())),
                  S_OK);
        EXPECT_TRUE(f_unknown);

        for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, c.iid}) {
            Com<IUnknown> object;
            EXPECT_EQ(f->CreateInstance(nullptr, *iid, reinterpret_cast<void**>(object.put())),
                      S_OK);
            EXPECT_TRUE(object);
        }
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(f->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);

        // Aggregation is refused, whoever the outer object is.
        Com<IUnknown> outer;
        ASSERT_EQ(f->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(outer.put())),
                  S_OK);
        out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(f->CreateInstance(outer.get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
    }
}

TEST_F(RegistryFrame, ObjectsAnswerTheirInterfacesOnly)
{
    for (const auto& c : kClasses) {
        SCOPED_TRACE(c.name);
        Com<IUnknown> object;
        ASSERT_EQ(factory(*c.clsid)->CreateInstance(nullptr, IID_IUnknown,
                                                    reinterpret_cast<void**>(object.put())),
                  S_OK);
        Com<IUnknown> identity;
        ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.put())),
                  S_OK);
        for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, c.iid, &IID_ISupportErrorInfo}) {
            Com<IUnknown> p;
            EXPECT_EQ(object->QueryInterface(*iid, reinterpret_cast<void**>(p.put())), S_OK);
            ASSERT_TRUE(p);
            // Every interface leads back to the same identity.
            Com<IUnknown> back;
            ASSERT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(back.put())), S_OK);
            EXPECT_EQ(back.get(), identity.get());
        }
        for (const auto& other : kClasses) {
            if (other.iid == c.iid)
                continue;
            void* out = reinterpret_cast<void*>(0x1234);
            EXPECT_EQ(object->QueryInterface(*other.iid, &out), E_NOINTERFACE);
            EXPECT_EQ(out, nullptr);
        }
        for (const IID* iid : {&IID_IClassFactory, &IID_IPersist, &IID_ITypeInfo,
                               &IID_IProvideClassInfo, &IID_IConnectionPointContainer}) {
            void* out = reinterpret_cast<void*>(0x1234);
            EXPECT_EQ(object->QueryInterface(*iid, &out), E_NOINTERFACE);
            EXPECT_EQ(out, nullptr);
        }
        auto support = object.as<ISupportErrorInfo>();
        ASSERT_TRUE(support);
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.iid), S_OK);
    }
}

TEST_F(RegistryFrame, CanUnloadOnlyWhenNothingIsAlive)
{
    EXPECT_EQ(seam_.can_unload_now(), S_OK);
    {
        auto object = seam_.create<_Registry>(CLSID_Registry);
        ASSERT_TRUE(object);
        EXPECT_EQ(seam_.can_unload_now(), S_FALSE);
        auto second = object;  // another reference to the same object
        object.reset();
        EXPECT_EQ(seam_.can_unload_now(), S_FALSE);
    }
    EXPECT_EQ(seam_.can_unload_now(), S_OK);
    {
        auto f = factory(CLSID_Time);
        ASSERT_TRUE(f);
        EXPECT_EQ(seam_.can_unload_now(), S_FALSE);  // a held factory
        EXPECT_EQ(f->LockServer(TRUE), S_OK);
    }
    EXPECT_EQ(seam_.can_unload_now(), S_FALSE);  // one lock
    {
        auto f = factory(CLSID_Time);
        EXPECT_EQ(f->LockServer(FALSE), S_OK);
    }
    EXPECT_EQ(seam_.can_unload_now(), S_OK);
}

// A stand-in for RegOpenKeyExA that drops the caller's last reference on
// the object whose method is running, then opens the key for real.
_Registry* g_victim;
HRESULT(WINAPI* g_can_unload)();
HRESULT g_unload_during_call = E_FAIL;
ULONG g_left_after_release;

LONG WINAPI releasing_open(HKEY root, LPCSTR sub_key, DWORD options, REGSAM access, PHKEY out)
{
    if (_Registry* victim = std::exchange(g_victim, nullptr)) {
        g_left_after_release = victim->Release();
        g_unload_during_call = g_can_unload();
    }
    return RegOpenKeyExA(root, sub_key, options, access, out);
}

// Puts a declared function back to binding by its own name, however the
// test ends.
struct Rebind {
    const testkit::SeamLibrary& seam;
    const char* function;
    const char* library;
    ~Rebind() { seam.restore(function, library); }
};

TEST_F(RegistryFrame, ObjectLivesUntilItsMethodReturns)
{
    const std::wstring path = L"Software\\TarnwickTests\\registry\\frame\\held";
    delete_tree(HKEY_CURRENT_USER, path);
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, path, L"v", L"held"), ERROR_SUCCESS);

    ASSERT_EQ(seam_.can_unload_now(), S_OK);
    _Registry* object = nullptr;
    {
        auto created = seam_.create<_Registry>(CLSID_Registry);
        ASSERT_TRUE(created);
        object = created.get();
        object->AddRef();  // the caller's only reference once `created` goes
    }
    ASSERT_EQ(seam_.can_unload_now(), S_FALSE);

    g_victim = object;
    g_can_unload = seam_.can_unload_now;
    Rebind rebind{seam_, "RegOpenKeyExA", "advapi32.dll"};
    ASSERT_EQ(seam_.bind("RegOpenKeyExA", nullptr, nullptr,
                         reinterpret_cast<void*>(&releasing_open)),
              S_OK);
    Bstr key(path), name(L"v"), data;
    VARIANT_BOOL ok = 7;
    EXPECT_EQ(object->QueryRegValue(kHKCU, key.get(), name.get(), data.ref(), &ok), S_OK);
    EXPECT_EQ(g_victim, nullptr) << "the stand-in was not called";
    EXPECT_GT(g_left_after_release, 0u) << "released while its method ran";
    EXPECT_EQ(g_unload_during_call, S_FALSE);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(data.str(), L"held");
    EXPECT_EQ(seam_.can_unload_now(), S_OK) << "not destroyed when the method returned";
    delete_tree(HKEY_CURRENT_USER, path);
}

// A file that exists but is no library.
std::string not_a_library()
{
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::string path = std::string(dir) + "tarnwick-registry-not-a-library.dll";
    std::ofstream(path, std::ios::binary) << "this is plain text, not a program";
    return path;
}

// The library beside this program whose entry point refuses to load.
std::string refusing_library()
{
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path(exe, n);
    return path.substr(0, path.find_last_of("\\/") + 1) + "registry_refusing.dll";
}

struct ErrorCase {
    const char* what;
    std::string library;  // empty: keep "advapi32.dll"
    const char* export_name;
    HRESULT status;
};

std::vector<ErrorCase> error_cases()
{
    return {
        {"library not found", "tarnwick-no-such-library.dll", nullptr, kFileNotFound},
        {"library not found by path", "C:\\tarnwick\\missing\\advapi32.dll", nullptr,
         kFileNotFound},
        {"file is no library", not_a_library(), nullptr, kLoadFailed},
        {"library refuses to load", refusing_library(), nullptr, kLoadFailed},
        {"entry point missing", "", "TarnwickNoSuchFunction", kEntryNotFound},
    };
}

// What the early-bound caller finds after a failed call.
void expect_error_info()
{
    Com<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK) << "no error information";
    Bstr source, description;
    EXPECT_EQ(info->GetSource(source.put()), S_OK);
    EXPECT_EQ(info->GetDescription(description.put()), S_OK);
    EXPECT_EQ(source.str(), L"TarnwickDLL.Registry");
    EXPECT_FALSE(description.str().empty());
}

TEST_F(RegistryFrame, UnboundOpenFailsEveryRouteWithItsStatus)
{
    ASSERT_TRUE(std::ifstream(refusing_library()).good()) << refusing_library();
    const std::wstring path = L"Software\\TarnwickTests\\registry\\frame\\errors";
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, path, L"v", L"there"), ERROR_SUCCESS);
    auto early = seam_.create<_Registry>(CLSID_Registry);
    ASSERT_TRUE(early);
    EarlyRoute early_route(early);
    LateRoute late(seam_.create<_Registry>(CLSID_Registry).as<IDispatch>());

    const auto cases = error_cases();  // the names stay alive while bound
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rebind rebind{seam_, "RegOpenKeyExA", "advapi32.dll"};
        ASSERT_EQ(seam_.bind("RegOpenKeyExA", c.library.empty() ? nullptr : c.library.c_str(),
                             c.export_name, nullptr),
                  S_OK);

        // Early bound: the status, error information, and results as far as
        // they had got.
        Bstr data(L"keep");
        VARIANT_BOOL ok = 7;
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(early->QueryRegValue(kHKCU, Bstr(path).get(), Bstr(L"v").get(), data.ref(), &ok),
                  c.status);
        expect_error_info();
        EXPECT_EQ(ok, VARIANT_FALSE);
        EXPECT_EQ(data.str(), L"keep");
        EXPECT_EQ(early.as<ISupportErrorInfo>()->InterfaceSupportsErrorInfo(IID__Registry), S_OK);

        Bstr buffer(L"x\u4E2D");
        EXPECT_EQ(early_route.SetRegValue(kHKCU, path, L"w", buffer, ok), c.status);
        EXPECT_EQ(ok, VARIANT_FALSE);
        EXPECT_EQ(buffer.str(), L"x\u4E2D");

        // The name-level methods pass the inner status on unchanged; a
        // String result of a failed call is the null string.
        BSTR result = SysAllocString(L"sentinel");
        const BSTR sentinel = result;
        Bstr key(path), value(L"v");
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(early->RegReadString(Bstr(L"HKCU").get(), key.ref(), value.ref(), &result),
                  c.status);
        EXPECT_EQ(result, nullptr);
        SysFreeString(result == sentinel ? nullptr : result);
        SysFreeString(sentinel);
        expect_error_info();

        SHORT written = 7;
        EXPECT_EQ(early->RegWriteString(Bstr(L"HKCU").get(), Bstr(path).get(), Bstr(L"w").get(),
                                        Bstr(L"x").get(), &written),
                  c.status);
        EXPECT_EQ(written, 0);

        // Late bound: DISP_E_EXCEPTION with the status and the description.
        Bstr late_data(L"keep");
        EXPECT_EQ(late.QueryRegValue(kHKCU, path, L"v", late_data, ok), c.status);
        EXPECT_EQ(late.last_invoke, DISP_E_EXCEPTION);
        EXPECT_FALSE(late.last_description.empty());
        EXPECT_EQ(late.last_source, L"TarnwickDLL.Registry");
        EXPECT_EQ(late_data.str(), L"keep");

        Bstr late_key(path), late_value(L"v"), late_result;
        EXPECT_EQ(late.RegReadString(L"HKLM", late_key, late_value, late_result), c.status);
        EXPECT_EQ(late.last_invoke, DISP_E_EXCEPTION);
        EXPECT_FALSE(late.last_description.empty());
        EXPECT_EQ(late_result.get(), nullptr);

        SHORT late_written;
        Bstr late_text(L"x");
        EXPECT_EQ(late.RegWriteString(L"HKCU", path, L"w", late_text, late_written), c.status);
        EXPECT_EQ(late.last_invoke, DISP_E_EXCEPTION);
        EXPECT_EQ(late_written, 0);
    }

    // Bound by its own name again, everything works.
    EarlyRoute again(early);
    Bstr data;
    VARIANT_BOOL ok;
    EXPECT_EQ(again.QueryRegValue(kHKCU, path, L"v", data, ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(data.str(), L"there");
    EXPECT_FALSE(read_text(HKEY_CURRENT_USER, path, L"w")) << "a failed call wrote";
    delete_tree(HKEY_CURRENT_USER, path);
}

TEST_F(RegistryFrame, UnboundCreateFailsBothCreateMethods)
{
    const std::wstring path = L"Software\\TarnwickTests\\registry\\frame\\create";
    delete_tree(HKEY_CURRENT_USER, path);
    auto routes = both_routes([&] { return seam_.create<_Registry>(CLSID_Registry); });
    Rebind rebind{seam_, "RegCreateKeyExA", "advapi32.dll"};
    ASSERT_EQ(seam_.bind("RegCreateKeyExA", "tarnwick-no-such-library.dll", nullptr, nullptr),
              S_OK);
    for (auto& r : routes) {
        SCOPED_TRACE(r->name());
        LONG status = 12345;
        VARIANT_BOOL ok;
        EXPECT_EQ(r->CreateRegKey(kHKCU, path, status, ok), kFileNotFound);
        EXPECT_EQ(ok, VARIANT_FALSE);
        EXPECT_EQ(status, 12345);

        Bstr root(L"HKCU"), key(path);
        SHORT outcome;
        EXPECT_EQ(r->RegCreateKey(root, key, outcome), kFileNotFound);
        EXPECT_EQ(outcome, 0);
        EXPECT_EQ(root.str(), L"HKCU");
    }
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, path));
}

}  // namespace
}  // namespace registry_tests
