// Registration under fault, in a prefix of its own: writes refused after
// any number of successful ones leave nothing of ours behind, unregistering
// twice succeeds twice, and a library in a folder with spaces and
// non-ASCII letters in its name registers and is created by ProgID.
#include <cstdio>

#include "reliability.h"

namespace reliability {
namespace {

using Export = HRESULT(WINAPI*)();

Export exported(HMODULE module, const char* name)
{
    return reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::vector<std::wstring> left_behind()
{
    std::vector<std::wstring> found;
    for (const std::wstring& key : registration_keys()) {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            if (key_exists(HKEY_CLASSES_ROOT, key, view)) {
                found.push_back(key +
                                (view == KEY_WOW64_32KEY ? L" (32-bit view)" : L" (64-bit view)"));
                break;
            }
        }
    }
    return found;
}

std::string joined(const std::vector<std::wstring>& keys)
{
    std::string out;
    for (const auto& k : keys)
        out += std::string(k.begin(), k.end()) + "; ";
    return out;
}

std::wstring default_value(HKEY root, const std::wstring& key, const wchar_t* name = nullptr)
{
    return read_text(root, key, name).value_or(L"(missing)");
}

// Write stand-ins that pass on to Windows until `g_allowed` writes have
// succeeded, and refuse every write after that (or, with `g_refuse_one`,
// only the next one).
long g_allowed = -1;  // -1: never refuse
long g_calls = 0;
bool g_refuse_one = false;

bool refuse_now()
{
    ++g_calls;
    return g_allowed >= 0 && (g_refuse_one ? g_calls == g_allowed + 1 : g_calls > g_allowed);
}
LONG WINAPI set_value(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                      DWORD size)
{
    return refuse_now() ? ERROR_ACCESS_DENIED
                        : ::RegSetValueExW(key, name, reserved, type, data, size);
}
LONG WINAPI create_key(HKEY root, LPCWSTR sub, DWORD reserved, LPWSTR cls, DWORD options,
                       REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY out,
                       LPDWORD disposition)
{
    return refuse_now() ? ERROR_ACCESS_DENIED
                        : ::RegCreateKeyExW(root, sub, reserved, cls, options, access, security,
                                            out, disposition);
}
HRESULT WINAPI refuse_type_library(ITypeLib*, LPOLESTR, LPOLESTR)
{
    return TYPE_E_REGISTRYACCESS;
}
HRESULT WINAPI refuse_type_library_removal(REFGUID, WORD, WORD, LCID, SYSKIND)
{
    return TYPE_E_REGISTRYACCESS;
}

class RegistrationUnderFault : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(apartment_.hr, S_OK);
        ASSERT_TRUE(seam().ok());
        register_ = exported(seam().module, "DllRegisterServer");
        unregister_ = exported(seam().module, "DllUnregisterServer");
        ASSERT_TRUE(register_ && unregister_);
        // A clean start; nothing else uses this prefix.
        ASSERT_EQ(unregister_(), S_OK);
        ASSERT_EQ(joined(left_behind()), "");
    }

    void expect_registered(const std::wstring& path)
    {
        for (const ClassRef* cls : kClassRefs) {
            const std::wstring clsid = L"CLSID\\" + guid_text(*cls->clsid);
            EXPECT_EQ(default_value(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32"), path);
            EXPECT_EQ(
                default_value(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", L"ThreadingModel"),
                L"Apartment");
            EXPECT_EQ(default_value(HKEY_CLASSES_ROOT, cls->progid() + L"\\CLSID"),
                      guid_text(*cls->clsid));
            EXPECT_EQ(default_value(HKEY_CLASSES_ROOT, clsid + L"\\TypeLib"),
                      guid_text(LIBID_TarnwickDLL));
            EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, L"Interface\\" + guid_text(*cls->iid)));
        }
        const std::wstring win = sizeof(void*) == 8 ? L"win64" : L"win32";
        EXPECT_EQ(default_value(HKEY_CLASSES_ROOT,
                                L"TypeLib\\" + guid_text(LIBID_TarnwickDLL) + L"\\" +
                                    kTypeLibVersion + L"\\0\\" + win),
                  path);
    }

    Apartment apartment_;
    Export register_ = nullptr;
    Export unregister_ = nullptr;
};

TEST_F(RegistrationUnderFault, RefusedWritesLeaveNothingBehind)
{
    const std::wstring path = env_path("TARNWICK_SEAM_DLL");
    struct Fault {
        const char* function;
        void* stand_in;
    };
    const struct {
        const char* function;
        Rebind (*stand_in)();
    } faults[] = {
        {"RegSetValueExW", [] { return TESTKIT_STAND_IN(RegSetValueExW, &set_value); }},
        {"RegCreateKeyExW", [] { return TESTKIT_STAND_IN(RegCreateKeyExW, &create_key); }}};
    unsigned attempts = 0;
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.function);
        Rebind stand_in = fault.stand_in();
        // How many writes a whole registration makes.
        g_allowed = -1, g_calls = 0;
        ASSERT_EQ(register_(), S_OK);
        const long writes = g_calls;
        expect_registered(path);
        ASSERT_EQ(unregister_(), S_OK);
        ASSERT_EQ(joined(left_behind()), "");
        ASSERT_GT(writes, 8);

        for (long n = 0; n <= writes; ++n) {
            g_allowed = n, g_calls = 0;
            const HRESULT hr = register_();
            ++attempts;
            if (n < writes) {
                EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) << "refused after " << n;
                EXPECT_EQ(g_calls, n + 1) << "went on writing after a refusal";
                EXPECT_EQ(joined(left_behind()), "") << "refused after " << n << " writes";
            } else {
                EXPECT_EQ(hr, S_OK);
                expect_registered(path);
                g_allowed = -1;
                EXPECT_EQ(unregister_(), S_OK);
                EXPECT_EQ(joined(left_behind()), "");
            }
        }
        std::printf("%s: %ld writes in a registration, refused after each of 0..%ld\n",
                    fault.function, writes, writes - 1);
    }
    g_allowed = -1;

    // The type library refused, or its function not bound at all.
    {
        Rebind refuse = TESTKIT_STAND_IN(RegisterTypeLib, &refuse_type_library);
        EXPECT_EQ(register_(), TYPE_E_REGISTRYACCESS);
        EXPECT_EQ(joined(left_behind()), "");
    }
    {
        Rebind unbound("RegisterTypeLib", "tarnwick-no-such-library.dll", nullptr);
        EXPECT_EQ(register_(), kFileNotFound);
        EXPECT_EQ(joined(left_behind()), "");
    }
    std::printf("%u registrations under fault\n", attempts + 2);
}

// A registration that fails part-way puts back the one it found: here the
// same classes registered from another file, as an installer leaves them.
TEST_F(RegistrationUnderFault, RefusedWriteKeepsTheRegistrationBefore)
{
    const std::wstring installed = env_path("TARNWICK_DLL");
    HMODULE module = LoadLibraryW(installed.c_str());
    ASSERT_TRUE(module);
    const Export install = exported(module, "DllRegisterServer");
    ASSERT_EQ(install(), S_OK);
    Rebind stand_in = TESTKIT_STAND_IN(RegSetValueExW, &set_value);
    g_allowed = -1, g_calls = 0;
    ASSERT_EQ(register_(), S_OK);
    const long writes = g_calls;
    g_refuse_one = true;
    for (long n = 0; n < writes; ++n) {
        ASSERT_EQ(install(), S_OK);
        g_allowed = n, g_calls = 0;
        EXPECT_EQ(register_(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) << "refused after " << n;
        g_allowed = -1;
        SCOPED_TRACE("refused after " + std::to_string(n) + " writes");
        expect_registered(installed);
    }
    g_refuse_one = false;
    EXPECT_EQ(exported(module, "DllUnregisterServer")(), S_OK);
    FreeLibrary(module);
    EXPECT_EQ(joined(left_behind()), "");
}

TEST_F(RegistrationUnderFault, UnregisteringTwiceSucceedsTwice)
{
    EXPECT_EQ(register_(), S_OK);
    EXPECT_EQ(register_(), S_OK);  // twice is the same as once
    expect_registered(env_path("TARNWICK_SEAM_DLL"));
    EXPECT_EQ(left_behind().size(),
              registration_keys().size());  // each key is seen when it is there
    EXPECT_EQ(unregister_(), S_OK);
    EXPECT_EQ(joined(left_behind()), "");
    EXPECT_EQ(unregister_(), S_OK);
    EXPECT_EQ(joined(left_behind()), "");

    // A refused removal is reported.
    EXPECT_EQ(register_(), S_OK);
    {
        Rebind unbound("RegDeleteTreeW", "tarnwick-no-such-library.dll", nullptr);
        EXPECT_EQ(unregister_(), kFileNotFound);
    }
    EXPECT_EQ(unregister_(), S_OK);
    EXPECT_EQ(joined(left_behind()), "");

    // So is a refused removal of a registered type library.
    EXPECT_EQ(register_(), S_OK);
    {
        Rebind refuse = TESTKIT_STAND_IN(UnRegisterTypeLib, &refuse_type_library_removal);
        EXPECT_EQ(unregister_(), TYPE_E_REGISTRYACCESS);
    }
    EXPECT_EQ(unregister_(), S_OK);
    EXPECT_EQ(joined(left_behind()), "");
}

TEST_F(RegistrationUnderFault, FolderWithSpacesAndNonAsciiLetters)
{
    const std::wstring folder = L"C:\\Tarnwick T\u00e9st \u00dcn\u00efcode";
    const std::wstring path = folder + L"\\Tarnwick.dll";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(env_path("TARNWICK_DLL").c_str(), path.c_str(), FALSE));

    HMODULE module = LoadLibraryW(path.c_str());
    ASSERT_TRUE(module);
    ASSERT_EQ(exported(module, "DllRegisterServer")(), S_OK);
    FreeLibrary(module);
    expect_registered(path);

    // Created by ProgID from there, early and late bound.
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"TarnwickDLL.Time", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Time);
    {
        Com<_Time> time = create<_Time>(clsid);
        ASSERT_TRUE(time);
        Bstr now;
        EXPECT_EQ(time->CurrentGMTTime(now.put()), S_OK);
        EXPECT_EQ(now.str().size(), 8u);
        HMODULE owner = nullptr;
        ASSERT_TRUE(GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>((*reinterpret_cast<void***>(time.get()))[7]), &owner));
        wchar_t file[MAX_PATH];
        GetModuleFileNameW(owner, file, MAX_PATH);
        EXPECT_EQ(CompareStringOrdinal(file, -1, path.c_str(), -1, TRUE), CSTR_EQUAL);

        ASSERT_EQ(CLSIDFromProgID(L"TarnwickDLL.Registry", &clsid), S_OK);
        Com<IDispatch> registry = create<IDispatch>(clsid);
        ASSERT_TRUE(registry);
        const std::wstring key = test_key(L"reliability\\registration");
        Bstr hkcu(L"HKCU"), key_text(key), name(L"path"), value(path);
        Variant result;
        ASSERT_EQ(call_by_name(registry.get(), L"RegWriteString",
                               {v_str(hkcu.get()), v_str(key_text.get()), v_str(name.get()),
                                v_str(value.get())},
                               &result),
                  S_OK);
        EXPECT_EQ(V_I2(&result), 0);  // no such key yet
    }
    CoFreeUnusedLibraries();

    module = LoadLibraryW(path.c_str());
    ASSERT_TRUE(module);
    EXPECT_EQ(exported(module, "DllUnregisterServer")(), S_OK);
    FreeLibrary(module);
    EXPECT_EQ(joined(left_behind()), "");
    DeleteFileW(path.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace reliability
