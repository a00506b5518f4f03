// Reference counts and lifetime: every interface of every class, objects
// released by their caller while one of their methods runs, and the count
// behind DllCanUnloadNow with factories and server locks.
#include <ocidl.h>

#include "exercise.h"

namespace reliability {
namespace {

TEST(Lifetime, CountsFollowEveryOperationOnEveryInterface)
{
    Apartment apartment;
    ASSERT_TRUE(seam().ok());
    RestartsRefused restart = refuse_restarts();
    const Area area{test_key(L"reliability\\lifetime"),
                    test_key(L"reliability\\lifetime") + L"\\missing"};
    delete_tree(HKEY_CURRENT_USER, area.key);
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, area.key), ERROR_SUCCESS);
    Place invoked;
    invoked.key = invoked.named_key = area.key;
    invoked.value = invoked.sub = L"invoked";

    for (const ClassRef* each : kClassRefs) {
        const ClassRef& cls = *each;
        SCOPED_TRACE(narrow(cls.name));
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

        // Refused interfaces (among them every other class's) and a null out
        // pointer take no reference.
        std::vector<const IID*> refused = {&IID_IClassFactory,     &IID_IPersist,
                                           &IID_IEnumVARIANT,      &IID_IStream,
                                           &IID_IMarshal,          &IID_ITypeInfo,
                                           &IID_IProvideClassInfo, &IID_IConnectionPointContainer};
        for (const ClassRef* other : kClassRefs)
            if (other != &cls)
                refused.push_back(other->iid);
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

        for (const Method* m : methods_of(cls)) {
            SCOPED_TRACE(narrow(m->name));
            EXPECT_EQ(id_of(dispatch, m->name), m->id);
            EXPECT_EQ(refs(unknown), n);
            Args args;
            m->good(invoked, args);
            Invoked call;
            invoke(call, dispatch, m->id, m->rgvarg(args));
            EXPECT_EQ(call.hr, S_OK);
            EXPECT_EQ(refs(unknown), n);
        }

        // Method-table calls, success and failure paths.
        auto* own = static_cast<IDispatch*>(held[2]);
        unsigned calls = exercise(own, cls, area, 0, [&](const wchar_t* method) {
            EXPECT_EQ(refs(unknown), n) << "after " << narrow(method);
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
    delete_tree(HKEY_CURRENT_USER, area.key);
}

// The object whose caller drops its last reference from inside a platform
// call, and what the library said about it right then.
IUnknown* g_victim = nullptr;
ULONG g_left = 0;
HRESULT g_unload_during_call = E_FAIL;
int g_dropped = 0;

void drop_victim()
{
    if (IUnknown* victim = std::exchange(g_victim, nullptr)) {
        g_left = victim->Release();
        g_unload_during_call = seam().can_unload_now();
        ++g_dropped;
    }
}

// Stand-ins that drop the victim; the registry ones then do the real work.
LONG WINAPI open_dropping(HKEY root, LPCWSTR sub, DWORD options, REGSAM access, PHKEY out)
{
    drop_victim();
    return RegOpenKeyExW(root, sub, options, access, out);
}
LONG WINAPI create_dropping(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY,
                            LPDWORD)
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

// The caller drops its only reference while the method runs (inside the
// platform call the stand-in replaces). The call still completes as it
// would have without the drop, the object stays alive until it returns,
// and is gone right after.
TEST(Lifetime, ObjectOutlivesItsLastReleaseDuringACall)
{
    Apartment apartment;
    ASSERT_TRUE(seam().ok());
    Place place;
    place.key = place.named_key = test_key(L"reliability\\lifetime-drop");
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, place.key), ERROR_SUCCESS);
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, place.key, L"v", L"held"), ERROR_SUCCESS);

    struct Case {
        const wchar_t* method;  // inner calls go through the object's own interface
        Rebind (*stand_in)();
    };
    const Case cases[] = {
        {L"CreateRegKey", [] { return TESTKIT_STAND_IN(RegCreateKeyExW, &create_dropping); }},
        {L"QueryRegValue", [] { return TESTKIT_STAND_IN(RegOpenKeyExW, &open_dropping); }},
        {L"SetRegValue", [] { return TESTKIT_STAND_IN(RegOpenKeyExW, &open_dropping); }},
        {L"RegReadString", [] { return TESTKIT_STAND_IN(RegOpenKeyExW, &open_dropping); }},
        {L"RegWriteString", [] { return TESTKIT_STAND_IN(RegOpenKeyExW, &open_dropping); }},
        {L"RegCreateKey", [] { return TESTKIT_STAND_IN(RegCreateKeyExW, &create_dropping); }},
        {L"GetOSType", [] { return TESTKIT_STAND_IN(GetVersionExA, &version_dropping); }},
        {L"GetOSVersionInfo", [] { return TESTKIT_STAND_IN(GetVersionExA, &version_dropping); }},
        {L"GetDefaultBrowserPath", [] { return TESTKIT_STAND_IN(RegOpenKeyExW, &open_dropping); }},
        {L"CurrentGMTTime", [] { return TESTKIT_STAND_IN(GetSystemTime, &time_dropping); }},
        {L"Reboot", [] { return TESTKIT_STAND_IN(ExitWindowsEx, &restart_dropping); }},
    };
    for (const Case& c : cases) {
        const Method& m = method(c.method);
        SCOPED_TRACE(narrow(m.name));
        Rebind stand_in = c.stand_in();
        ASSERT_EQ(stand_in.status(), S_OK);
        ASSERT_EQ(seam().can_unload_now(), S_OK);
        Com<IDispatch> created = seam().create<IDispatch>(*m.owner->clsid);
        ASSERT_TRUE(created);
        IDispatch* object = nullptr;
        ASSERT_EQ(created->QueryInterface(*m.owner->iid, reinterpret_cast<void**>(&object)), S_OK);
        created.reset();
        ASSERT_EQ(refs(object), 1u);

        // Once without the drop, for what the call gives.
        Args expected_args;
        m.good(place, expected_args);
        Variant expected;
        const HRESULT expected_hr = m.call(object, expected_args, expected, -1);

        g_victim = object;  // the stand-in drops the only outside reference
        g_left = 0;
        g_unload_during_call = E_FAIL;
        g_dropped = 0;
        Args args;
        m.good(place, args);
        Variant result;
        EXPECT_EQ(m.call(object, args, result, -1), expected_hr);
        EXPECT_EQ(text_of(result), text_of(expected));
        for (size_t p = 0; p < args.size(); ++p)
            EXPECT_EQ(text_of(args[p]), text_of(expected_args[p])) << "argument " << p;
        EXPECT_EQ(g_dropped, 1) << "the stand-in was not reached";
        if (g_victim)
            std::exchange(g_victim, nullptr)->Release();
        EXPECT_GT(g_left, 0u) << "destroyed while its method ran";
        EXPECT_EQ(g_unload_during_call, S_FALSE) << "the library could unload during the call";
        EXPECT_EQ(seam().can_unload_now(), S_OK) << "not destroyed when the method returned";
    }
    delete_tree(HKEY_CURRENT_USER, place.key);
}

TEST(Lifetime, FactoriesLocksAndObjectsKeepTheLibrary)
{
    Apartment apartment;
    ASSERT_TRUE(seam().ok());
    auto can_unload = [] { return seam().can_unload_now(); };
    ASSERT_EQ(can_unload(), S_OK);

    for (const ClassRef* each : kClassRefs) {
        const ClassRef& cls = *each;
        SCOPED_TRACE(narrow(cls.name));
        IClassFactory* factory = nullptr;
        ASSERT_EQ(seam().get_class_object(*cls.clsid, IID_IClassFactory,
                                          reinterpret_cast<void**>(&factory)),
                  S_OK);
        EXPECT_EQ(can_unload(), S_FALSE);  // a factory reference is a lock

        IUnknown* as_unknown = nullptr;
        EXPECT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&as_unknown)),
                  S_OK);
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
                ASSERT_EQ(factory->CreateInstance(nullptr, *iid, reinterpret_cast<void**>(&object)),
                          S_OK);
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

    for (const GUID* id : {&IID__Registry, &IID_IUnknown, &LIBID_TarnwickDLL}) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(seam().get_class_object(*id, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(seam().get_class_object(CLSID_Time, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(can_unload(), S_OK);
}

TEST(Lifetime, UnmatchedUnlockKeepsALiveObject)
{
    Apartment apartment;
    ASSERT_TRUE(seam().ok());
    Com<IClassFactory> factory;
    ASSERT_EQ(seam().get_class_object(CLSID_Time, IID_IClassFactory,
                                      reinterpret_cast<void**>(factory.put())),
              S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);  // no lock to match
    Com<IUnknown> object;
    ASSERT_EQ(
        factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(object.put())),
        S_OK);
    factory.reset();
    EXPECT_EQ(seam().can_unload_now(), S_FALSE);
    object.reset();
    EXPECT_EQ(seam().can_unload_now(), S_OK);
}

}  // namespace
}  // namespace reliability
