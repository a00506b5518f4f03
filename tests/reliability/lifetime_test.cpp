// Reference counts and lifetime: every interface of every class, objects
// released by their caller while one of their methods runs, and the count
// behind DllCanUnloadNow with factories and server locks.
#include "exercise.h"

namespace reliability {
namespace {

// The caller's arguments for a late-bound call of every method with
// parameters; the variables live as long as the object.
struct InvokeArgs {
    std::vector<Variant*> owned;
    std::vector<VARIANT> rgvarg;  // last argument first
    ~InvokeArgs()
    {
        for (Variant* v : owned)
            delete v;
    }
    Variant& own()
    {
        owned.push_back(new Variant);
        return *owned.back();
    }
    void add_i4(LONG value) { rgvarg.insert(rgvarg.begin(), v_i4(value)); }
    void add_str(const std::wstring& text)
    {
        Variant& v = own();
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        rgvarg.insert(rgvarg.begin(), v_str(V_BSTR(&v)));
    }
    void add_ref_i4(LONG value)
    {
        Variant& v = own();
        V_VT(&v) = VT_I4;
        V_I4(&v) = value;
        rgvarg.insert(rgvarg.begin(), v_ref(&v));
    }
    void add_ref_str(const std::wstring& text)
    {
        Variant& v = own();
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        rgvarg.insert(rgvarg.begin(), v_ref(&v));
    }
};

void good_args(const MethodRef& m, const Area& area, InvokeArgs& a)
{
    const std::wstring name = m.name;
    if (name == L"CreateRegKey") {
        a.add_i4(kCurrentUser), a.add_str(area.key + L"\\invoked"), a.add_ref_i4(0);
    } else if (name == L"QueryRegValue") {
        a.add_i4(kCurrentUser), a.add_str(area.key), a.add_str(L"invoked"), a.add_ref_str(L"");
    } else if (name == L"SetRegValue") {
        a.add_i4(kCurrentUser), a.add_str(area.key), a.add_str(L"invoked"), a.add_ref_str(L"x");
    } else if (name == L"RegReadString") {
        a.add_str(L"HKCU"), a.add_ref_str(area.key), a.add_ref_str(L"invoked");
    } else if (name == L"RegWriteString") {
        a.add_str(L"HKCU"), a.add_str(area.key), a.add_str(L"invoked"), a.add_str(L"y");
    } else if (name == L"RegCreateKey") {
        a.add_ref_str(L"HKCU"), a.add_ref_str(area.key + L"\\invoked");
    } else if (name == L"GetLocation") {
        a.add_ref_str(L"\"C:\\a.exe\" /x");
    }
}

TEST(Lifetime, CountsFollowEveryOperationOnEveryInterface)
{
    Apartment apartment;
    ASSERT_TRUE(seam().module);
    StandIn restart("ExitWindowsEx", "user32", reinterpret_cast<void*>(&refuse_restart));
    const Area area{test_key(L"lifetime"), test_key(L"lifetime") + L"\\missing"};
    delete_key(area.key);
    make_key(area.key);

    for (const ClassRef& cls : kClasses) {
        SCOPED_TRACE(cls.name);
        IUnknown* unknown = nullptr;
        {
            Com<IUnknown> created = seam().create<IUnknown>(*cls.clsid);
            ASSERT_TRUE(created);
            unknown = created.get();
            unknown->AddRef();
        }
        ULONG n = 1;
        EXPECT_EQ(refs(unknown), n);

        // Every interface shares the one count; each pointer handed out is one reference.
        const IID* iids[] = {&IID_IUnknown, &IID_IDispatch, cls.iid, &IID_ISupportErrorInfo};
        std::vector<IUnknown*> held;
        for (const IID* iid : iids) {
            IUnknown* p = nullptr;
            ASSERT_EQ(unknown->QueryInterface(*iid, reinterpret_cast<void**>(&p)), S_OK);
            ASSERT_TRUE(p);
            ++n;
            EXPECT_EQ(refs(unknown), n);
            EXPECT_EQ(p->AddRef(), n + 1);
            EXPECT_EQ(p->Release(), n);
            IUnknown* identity = nullptr;
            EXPECT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
            EXPECT_EQ(identity, unknown);
            EXPECT_EQ(identity->Release(), n);
            held.push_back(p);
        }

        // Refused interfaces and a null out pointer take no reference.
        const IID* refused[] = {&IID_IClassFactory, &IID_IPersist, &IID_IEnumVARIANT,
                                &IID_IStream, &IID_IMarshal,
                                cls.iid == &IID__Time ? &IID__Reboot : &IID__Time};
        for (const IID* iid : refused) {
            void* p = reinterpret_cast<void*>(1);
            EXPECT_EQ(unknown->QueryInterface(*iid, &p), E_NOINTERFACE);
            EXPECT_EQ(p, nullptr);
            EXPECT_EQ(refs(unknown), n);
        }
        EXPECT_EQ(unknown->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
        EXPECT_EQ(refs(unknown), n);

        // IDispatch and ISupportErrorInfo operations keep the count.
        auto* dispatch = static_cast<IDispatch*>(held[1]);
        UINT count = 0;
        EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        {
            Com<ITypeInfo> info;
            EXPECT_EQ(dispatch->GetTypeInfo(0, 0, info.put()), S_OK);
            EXPECT_TRUE(info);
            EXPECT_EQ(refs(unknown), n);
        }
        EXPECT_EQ(refs(unknown), n);
        auto* errors = static_cast<ISupportErrorInfo*>(held[3]);
        EXPECT_EQ(errors->InterfaceSupportsErrorInfo(*cls.iid), S_OK);
        EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
        EXPECT_EQ(refs(unknown), n);

        for (const MethodRef& m : methods()) {
            if (m.owner != &cls)
                continue;
            SCOPED_TRACE(m.name);
            EXPECT_EQ(id_of(dispatch, m.name), m.id);
            EXPECT_EQ(refs(unknown), n);
            InvokeArgs args;
            good_args(m, area, args);
            Invoked call;
            invoke(call, dispatch, m.id, args.rgvarg);
            EXPECT_EQ(call.hr, S_OK);
            EXPECT_EQ(refs(unknown), n);
        }

        // Method-table calls, success and failure paths.
        auto* own = static_cast<IDispatch*>(held[2]);
        unsigned calls = exercise(own, cls, area, 0, [&](const wchar_t* method) {
            EXPECT_EQ(refs(unknown), n) << "after " << std::string(method, method + wcslen(method));
        });
        EXPECT_GT(calls, 0u);

        while (!held.empty()) {
            EXPECT_EQ(held.back()->Release(), --n);
            held.pop_back();
        }
        EXPECT_EQ(n, 1u);
        EXPECT_EQ(seam().can_unload_now(), S_FALSE);
        EXPECT_EQ(unknown->Release(), 0u);
        EXPECT_EQ(seam().can_unload_now(), S_OK);
    }
    delete_key(area.key);
}

// The object whose caller drops its last reference from inside a platform
// call, and what that Release returned.
IUnknown* g_victim = nullptr;
ULONG g_left = 0xFFFFFFFFu;
int g_dropped = 0;

void drop_victim()
{
    if (IUnknown* victim = std::exchange(g_victim, nullptr)) {
        g_left = victim->Release();
        ++g_dropped;
    }
}

LONG WINAPI open_dropping(HKEY, LPCSTR, DWORD, REGSAM, PHKEY)
{
    drop_victim();
    return ERROR_FILE_NOT_FOUND;
}
LONG WINAPI create_dropping(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                            PHKEY, LPDWORD)
{
    drop_victim();
    return ERROR_ACCESS_DENIED;
}
BOOL WINAPI version_dropping(LPOSVERSIONINFOA)
{
    drop_victim();
    return FALSE;
}
void WINAPI time_dropping(LPSYSTEMTIME t)
{
    drop_victim();
    *t = SYSTEMTIME{2024, 1, 1, 1, 1, 2, 3, 0};
}
BOOL WINAPI restart_dropping(UINT, DWORD)
{
    drop_victim();
    return FALSE;
}
static_assert(std::is_same_v<decltype(&open_dropping), decltype(&::RegOpenKeyExA)>);
static_assert(std::is_same_v<decltype(&create_dropping), decltype(&::RegCreateKeyExA)>);
static_assert(std::is_same_v<decltype(&version_dropping), decltype(&::GetVersionExA)>);
static_assert(std::is_same_v<decltype(&time_dropping), decltype(&::GetSystemTime)>);
static_assert(std::is_same_v<decltype(&restart_dropping), decltype(&::ExitWindowsEx)>);

TEST(Lifetime, ObjectOutlivesItsLastReleaseDuringACall)
{
    Apartment apartment;
    ASSERT_TRUE(seam().module);
    const std::wstring key = test_key(L"lifetime-drop");
    Bstr sub(key), name(L"v"), root(L"HKCU");

    struct Case {
        const char* label;
        const ClassRef* cls;
        const char* function;
        const char* library;
        void* stand_in;
        // Calls the method on the object; returns its status and checks its result.
        HRESULT (*call)(IDispatch*, const Bstr&, const Bstr&, const Bstr&);
        ULONG holds;  // references the running call holds when the caller's goes
    };
    const Case cases[] = {
        {"CreateRegKey", &kClasses[0], "RegCreateKeyExA", "advapi32.dll",
         reinterpret_cast<void*>(&create_dropping),
         [](IDispatch* o, const Bstr& sub, const Bstr&, const Bstr&) {
             LONG status = 7;
             VARIANT_BOOL ok = -1;
             HRESULT hr = static_cast<_Registry*>(o)->CreateRegKey(kCurrentUser, sub.get(), &status, &ok);
             EXPECT_EQ(ok, VARIANT_FALSE);
             EXPECT_EQ(status, 7);
             return hr;
         }, 1},
        {"QueryRegValue", &kClasses[0], "RegOpenKeyExA", "advapi32.dll",
         reinterpret_cast<void*>(&open_dropping),
         [](IDispatch* o, const Bstr& sub, const Bstr& name, const Bstr&) {
             Bstr data(L"kept");
             VARIANT_BOOL ok = -1;
             HRESULT hr = static_cast<_Registry*>(o)->QueryRegValue(kCurrentUser, sub.get(), name.get(), data.ref(), &ok);
             EXPECT_EQ(ok, VARIANT_FALSE);
             EXPECT_EQ(data.str(), L"kept");
             return hr;
         }, 1},
        {"SetRegValue", &kClasses[0], "RegOpenKeyExA", "advapi32.dll",
         reinterpret_cast<void*>(&open_dropping),
         [](IDispatch* o, const Bstr& sub, const Bstr& name, const Bstr&) {
             Bstr data(L"kept");
             VARIANT_BOOL ok = -1;
             HRESULT hr = static_cast<_Registry*>(o)->SetRegValue(kCurrentUser, sub.get(), name.get(), data.ref(), &ok);
             EXPECT_EQ(ok, VARIANT_FALSE);
             return hr;
         }, 1},
        {"RegReadString (inner QueryRegValue)", &kClasses[0], "RegOpenKeyExA", "advapi32.dll",
         reinterpret_cast<void*>(&open_dropping),
         [](IDispatch* o, const Bstr& sub, const Bstr& name, const Bstr& root) {
             Bstr r(root), k(sub), n(name), out(L"x");
             HRESULT hr = static_cast<_Registry*>(o)->RegReadString(r.get(), k.ref(), n.ref(), out.put());
             EXPECT_EQ(out.str(), L"");
             return hr;
         }, 2},
        {"RegWriteString (inner SetRegValue)", &kClasses[0], "RegOpenKeyExA", "advapi32.dll",
         reinterpret_cast<void*>(&open_dropping),
         [](IDispatch* o, const Bstr& sub, const Bstr& name, const Bstr& root) {
             Bstr value(L"v");
             SHORT written = 9;
             HRESULT hr = static_cast<_Registry*>(o)->RegWriteString(root.get(), sub.get(), name.get(), value.get(), &written);
             EXPECT_EQ(written, 0);
             return hr;
         }, 2},
        {"RegCreateKey (inner CreateRegKey)", &kClasses[0], "RegCreateKeyExA", "advapi32.dll",
         reinterpret_cast<void*>(&create_dropping),
         [](IDispatch* o, const Bstr& sub, const Bstr&, const Bstr& root) {
             Bstr r(root), k(sub);
             SHORT created = 9;
             HRESULT hr = static_cast<_Registry*>(o)->RegCreateKey(r.ref(), k.ref(), &created);
             EXPECT_EQ(created, 0);
             return hr;
         }, 2},
        {"GetOSType", &kClasses[1], "GetVersionExA", "kernel32",
         reinterpret_cast<void*>(&version_dropping),
         [](IDispatch* o, const Bstr&, const Bstr&, const Bstr&) {
             LONG platform = 5;
             HRESULT hr = static_cast<_WindowsInfo*>(o)->GetOSType(&platform);
             EXPECT_EQ(platform, 0);
             return hr;
         }, 1},
        {"GetOSVersionInfo (inner GetOSType)", &kClasses[1], "GetVersionExA", "kernel32",
         reinterpret_cast<void*>(&version_dropping),
         [](IDispatch* o, const Bstr&, const Bstr&, const Bstr&) {
             Bstr text(L"x");
             HRESULT hr = static_cast<_WindowsInfo*>(o)->GetOSVersionInfo(text.put());
             EXPECT_EQ(text.str(), L"");
             return hr;
         }, 2},
        {"GetDefaultBrowserPath (own Registry object)", &kClasses[1], "RegOpenKeyExA",
         "advapi32.dll", reinterpret_cast<void*>(&open_dropping),
         [](IDispatch* o, const Bstr&, const Bstr&, const Bstr&) {
             Bstr text(L"x");
             HRESULT hr = static_cast<_WindowsInfo*>(o)->GetDefaultBrowserPath(text.put());
             EXPECT_EQ(text.str(), L"");
             return hr;
         }, 2},
        {"CurrentGMTTime", &kClasses[2], "GetSystemTime", "kernel32",
         reinterpret_cast<void*>(&time_dropping),
         [](IDispatch* o, const Bstr&, const Bstr&, const Bstr&) {
             Bstr text;
             HRESULT hr = static_cast<_Time*>(o)->CurrentGMTTime(text.put());
             EXPECT_EQ(text.str(), L"01:02:03");
             return hr;
         }, 1},
        {"Reboot", &kClasses[3], "ExitWindowsEx", "user32",
         reinterpret_cast<void*>(&restart_dropping),
         [](IDispatch* o, const Bstr&, const Bstr&, const Bstr&) {
             SHORT accepted = 9;
             HRESULT hr = static_cast<_Reboot*>(o)->Reboot(&accepted);
             EXPECT_EQ(accepted, 0);
             return hr;
         }, 1},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_EQ(seam().can_unload_now(), S_OK);
        Com<IDispatch> created = seam().create<IDispatch>(*c.cls->clsid);
        ASSERT_TRUE(created);
        IDispatch* object = nullptr;
        ASSERT_EQ(created->QueryInterface(*c.cls->iid, reinterpret_cast<void**>(&object)), S_OK);
        created.reset();
        ASSERT_EQ(refs(object), 1u);
        g_left = 0xFFFFFFFFu;
        g_dropped = 0;
        {
            StandIn stand_in(c.function, c.library, c.stand_in);
            g_victim = object;  // the stand-in drops the only outside reference
            EXPECT_EQ(c.call(object, sub, name, root), S_OK);
        }
        EXPECT_EQ(g_dropped, 1);
        if (g_victim)  // the stand-in was never reached
            std::exchange(g_victim, nullptr)->Release();
        // The running call still held its own references when the caller's went.
        EXPECT_EQ(g_left, c.holds);
        // ... and the object is gone once the call has returned.
        EXPECT_EQ(seam().can_unload_now(), S_OK);
    }
}

TEST(Lifetime, FactoriesLocksAndObjectsKeepTheLibrary)
{
    Apartment apartment;
    ASSERT_TRUE(seam().module);
    auto can_unload = [] { return seam().can_unload_now(); };
    ASSERT_EQ(can_unload(), S_OK);

    for (const ClassRef& cls : kClasses) {
        SCOPED_TRACE(cls.name);
        IClassFactory* factory = nullptr;
        ASSERT_EQ(seam().get_class_object(*cls.clsid, IID_IClassFactory,
                                          reinterpret_cast<void**>(&factory)),
                  S_OK);
        EXPECT_EQ(can_unload(), S_FALSE);  // a factory reference is a lock

        IUnknown* as_unknown = nullptr;
        EXPECT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&as_unknown)), S_OK);
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->QueryInterface(IID_IDispatch, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

        // Refused creations leave nothing alive.
        Com<IUnknown> outer = seam().create<IUnknown>(CLSID_Time);
        p = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(p, nullptr);
        outer.reset();
        p = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);

        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
        as_unknown->Release();
        factory->Release();
        EXPECT_EQ(can_unload(), S_FALSE);  // two locks remain

        // Many objects through every interface the factory hands out.
        std::vector<IUnknown*> objects;
        ASSERT_EQ(seam().get_class_object(*cls.clsid, IID_IUnknown,
                                          reinterpret_cast<void**>(&as_unknown)),
                  S_OK);
        ASSERT_EQ(as_unknown->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory)),
                  S_OK);
        as_unknown->Release();
        for (int i = 0; i < 100; ++i) {
            for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, cls.iid}) {
                IUnknown* object = nullptr;
                ASSERT_EQ(factory->CreateInstance(nullptr, *iid, reinterpret_cast<void**>(&object)), S_OK);
                EXPECT_EQ(refs(object), 1u);
                objects.push_back(object);
            }
        }
        EXPECT_EQ(factory->LockServer(FALSE), S_OK);
        EXPECT_EQ(factory->LockServer(FALSE), S_OK);
        factory->Release();
        for (IUnknown* object : objects) {
            EXPECT_EQ(can_unload(), S_FALSE);
            EXPECT_EQ(object->Release(), 0u);
        }
        EXPECT_EQ(can_unload(), S_OK);
    }

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(seam().get_class_object(IID__Registry, IID_IClassFactory, &p),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(seam().get_class_object(CLSID_Time, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(can_unload(), S_OK);
}

TEST(Lifetime, UnmatchedUnlockKeepsALiveObject)
{
    Apartment apartment;
    ASSERT_TRUE(seam().module);
    Com<IClassFactory> factory;
    ASSERT_EQ(seam().get_class_object(CLSID_Time, IID_IClassFactory,
                                      reinterpret_cast<void**>(factory.put())),
              S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);  // no lock to match
    Com<IUnknown> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(object.put())),
              S_OK);
    factory.reset();
    EXPECT_EQ(seam().can_unload_now(), S_FALSE);
    object.reset();
    EXPECT_EQ(seam().can_unload_now(), S_OK);
}

}  // namespace
}  // namespace reliability
