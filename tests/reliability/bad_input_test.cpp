// Bad input, late bound through Invoke with hand-built DISPPARAMS and early
// bound through the method table, for every method of every class: each
// gets its definite status or the normal result, nothing crashes, and a
// call refused before it reaches Windows writes nothing to the registry.
// docs/errors.md lists what these tests verify.
#include "exercise.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>

namespace reliability {
namespace {

std::string label(const wchar_t* s)
{
    return narrow(s);
}

// The registry area of one test process. Calls that must be refused aim
// at the "fresh" targets, which a call that got through would create.
class BadInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(apartment_.hr, S_OK);
        ASSERT_TRUE(seam().ok());
        base_ = test_key(L"reliability\\bad-input");
        delete_tree(HKEY_CURRENT_USER, base_);
        ASSERT_EQ(make_key(HKEY_CURRENT_USER, base_ + L"\\exists"), ERROR_SUCCESS);
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, base_.c_str(), 0, KEY_ALL_ACCESS, root_.put()),
                  ERROR_SUCCESS);
        root_value_ = static_cast<LONG>(reinterpret_cast<LONG_PTR>(root_.get()));
        for (const ClassRef* cls : kClassRefs) {
            Com<IDispatch> object = seam().create<IDispatch>(*cls->clsid);
            ASSERT_TRUE(object);
            objects_.push_back(object);
        }
        g_restart_requests = 0;
    }

    void TearDown() override
    {
        expect_nothing_fresh();
        root_.put();
        delete_tree(HKEY_CURRENT_USER, base_);
    }

    void expect_nothing_fresh()
    {
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, base_ + L"\\exists\\fresh"))
            << "a refused call created a key";
        EXPECT_FALSE(value_exists(HKEY_CURRENT_USER, base_ + L"\\exists", L"fresh"))
            << "a refused call wrote a value";
    }

    IDispatch* object_of(const ClassRef& cls)
    {
        for (size_t i = 0; i < std::size(kClassRefs); ++i)
            if (kClassRefs[i] == &cls)
                return objects_[i].get();
        return nullptr;
    }

    // Where the good arguments point: the key "exists" below ours, whose
    // handle works as a root for the handle-level methods, so that every key
    // they touch stays under ours. With `fresh`, a write creates
    // exists\fresh or the value "fresh".
    Place place(bool fresh) const
    {
        Place p;
        p.root = root_value_;
        p.key = L"exists";
        p.named_key = base_ + L"\\exists";
        p.value = fresh ? L"fresh" : L"set";
        p.sub = fresh ? L"fresh" : L"made";
        p.text = L"kept";
        return p;
    }
    void good_args(const Method& m, bool fresh, Args& a) const { m.good(place(fresh), a); }

    // Calls a method through the method table with the fresh targets; a
    // failing call leaves its result cleared and the caller's variables as
    // they were.
    HRESULT call_table(const Method& m, IDispatch* object)
    {
        Args a;
        good_args(m, true, a);
        std::vector<std::wstring> before;
        for (size_t p = 0; p < a.size(); ++p)
            before.push_back(text_of(a[p]));
        Variant result;
        const HRESULT hr = m.call(object, a, result, -1);
        if (FAILED(hr)) {
            if (m.result != VT_EMPTY) {
                EXPECT_TRUE(m.cleared(result))
                    << "the result of a failed call is the null string, False, 0 or Empty, not "
                    << narrow(text_of(result));
            }
            for (size_t p = 0; p < a.size(); ++p)
                EXPECT_EQ(text_of(a[p]), before[p]) << "argument " << p;
        }
        return hr;
    }

    // The declared functions that each method's good call rests on: those
    // whose missing export fails the call with run-time error 453, in
    // declared order. Every method runs once first, so that what a method
    // asks Windows only once per process has been asked. What the probes
    // wrote, and the restarts they asked for, are gone afterwards.
    std::map<std::wstring, std::vector<const char*>> reached_functions()
    {
        for (const Method& m : methods()) {
            Args a;
            good_args(m, false, a);
            Variant result;
            EXPECT_EQ(m.call(object_of(*m.owner), a, result, -1), S_OK) << label(m.name);
        }
        std::map<std::wstring, std::vector<const char*>> reached;
        for (const Declared& d : kDeclared) {
            Rebind missing(d.function, nullptr, "TarnwickNoSuchExport");
            EXPECT_EQ(missing.status(), S_OK) << d.function;
            for (const Method& m : methods()) {
                Args a;
                good_args(m, true, a);
                Invoked call;
                invoke(call, object_of(*m.owner), m.id, m.rgvarg(a));
                if (call.hr == DISP_E_EXCEPTION && call.excep.scode == kEntryNotFound)
                    reached[m.name].push_back(d.function);
            }
        }
        delete_tree(HKEY_CURRENT_USER, base_ + L"\\exists\\fresh");
        RegDeleteKeyValueW(HKEY_CURRENT_USER, (base_ + L"\\exists").c_str(), L"fresh");
        g_restart_requests = 0;
        return reached;
    }

    Apartment apartment_;
    RestartsRefused restart_ = refuse_restarts();
    std::wstring base_;
    Key root_;
    LONG root_value_ = 0;
    std::vector<Com<IDispatch>> objects_;
};

// rgvarg for the arguments: by-reference parameters get the caller's
// variable by reference, as script hosts pass them; `by_ref` passes every
// argument so.
std::vector<VARIANT> rgvarg(const Method& m, Args& a, bool by_ref = false)
{
    return m.rgvarg(a, by_ref);
}

TEST_F(BadInput, CountsNamesIdsFlagsAndInterfaces)
{
    unsigned tried = 0;
    for (const Method& m : methods()) {
        SCOPED_TRACE(label(m.name));
        IDispatch* object = object_of(*m.owner);
        const UINT n = m.count();

        // Missing and extra arguments; the optional ones may be left out.
        for (UINT count = 0; count <= n + 2; ++count) {
            const bool accepted = count >= m.required() && count <= n;
            Args a;
            good_args(m, !accepted, a);
            a.resize(count);
            Invoked call;
            invoke(call, object, m.id, rgvarg(m, a));
            if (accepted) {
                EXPECT_EQ(call.hr, S_OK) << count << " arguments";
                EXPECT_TRUE(m.gives(call.result)) << count << " arguments";
            } else {
                EXPECT_EQ(call.hr, DISP_E_BADPARAMCOUNT) << count << " arguments";
            }
            ++tried;
        }

        // Named arguments: the names of the type library, in any order.
        if (n > 0) {
            std::vector<LPOLESTR> names{const_cast<LPOLESTR>(m.name)};
            for (const Param& p : m.params)
                names.push_back(const_cast<LPOLESTR>(p.name));
            std::vector<DISPID> ids(names.size(), 12345);
            ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()),
                                            0, ids.data()),
                      S_OK);
            EXPECT_EQ(ids[0], m.id);
            for (UINT p = 0; p < n; ++p)
                EXPECT_EQ(ids[p + 1], static_cast<DISPID>(p));
            ++tried;

            // Parameters `first` to the last, named in declared order
            // (rgvarg holds them as given).
            auto named_from = [&](Args& a, UINT first, std::vector<VARIANT>& args,
                                  std::vector<DISPID>& ids) {
                for (UINT p = first; p < n; ++p) {
                    args.push_back(m.by_ref(p) ? v_ref(&a[p]) : a[p]);
                    ids.push_back(static_cast<DISPID>(p));
                }
            };
            // All named.
            Args a;
            good_args(m, false, a);
            std::vector<VARIANT> args;
            std::vector<DISPID> named;
            named_from(a, 0, args, named);
            Invoked by_name;
            invoke(by_name, object, m.id, args, named);
            EXPECT_EQ(by_name.hr, S_OK);
            EXPECT_TRUE(m.gives(by_name.result));
            ++tried;
            // The first positionally, the rest named in reverse order.
            if (n > 1) {
                Args b;
                good_args(m, false, b);
                std::vector<VARIANT> mixed;
                std::vector<DISPID> ids_mixed;
                named_from(b, 1, mixed, ids_mixed);
                mixed.push_back(m.by_ref(0) ? v_ref(&b[0]) : b[0]);
                Invoked call;
                invoke(call, object, m.id, mixed, ids_mixed);
                EXPECT_EQ(call.hr, S_OK);
                EXPECT_TRUE(m.gives(call.result));
                if (m.result == VT_BSTR || m.result == VT_BOOL || m.result == VT_I2) {
                    Args c;
                    good_args(m, false, c);
                    Invoked positional;
                    invoke(positional, object, m.id, rgvarg(m, c));
                    EXPECT_EQ(VarCmp(&call.result, &positional.result, 0, 0),
                              static_cast<HRESULT>(VARCMP_EQ));
                }
                ++tried;
            }

            // Bogus named ids: unknown, negative, repeated, or naming a
            // parameter already given by position.
            std::vector<std::vector<DISPID>> bogus = {
                {static_cast<DISPID>(n)}, {99}, {-1}, {DISPID_PROPERTYPUT}};
            if (n > 1) {
                bogus.push_back({0, 0});
                bogus.push_back({1, 1});
            }
            for (const auto& ids_bad : bogus) {
                Args c;
                good_args(m, true, c);
                std::vector<VARIANT> args_bad = rgvarg(m, c);
                Invoked call;
                invoke(call, object, m.id, args_bad, ids_bad);
                EXPECT_EQ(call.hr, DISP_E_PARAMNOTFOUND) << "named id " << ids_bad[0];
                ++tried;
            }
            if (n > 1) {
                // Parameter 0 given by position (the last in rgvarg) and named as well.
                Args c;
                good_args(m, true, c);
                std::vector<VARIANT> args_bad = rgvarg(m, c);
                std::vector<DISPID> ids_bad{0};
                for (UINT p = 2; p < n; ++p)
                    ids_bad.push_back(static_cast<DISPID>(p));
                Invoked call;
                invoke(call, object, m.id, args_bad, ids_bad);
                EXPECT_EQ(call.hr, DISP_E_PARAMNOTFOUND) << "parameter 0 named after by position";
                ++tried;
            }

            // A parameter name the method does not have.
            LPOLESTR wrong[] = {const_cast<LPOLESTR>(m.name),
                                const_cast<LPOLESTR>(L"NoSuchParameter")};
            DISPID wrong_ids[2] = {0, 0};
            EXPECT_EQ(object->GetIDsOfNames(IID_NULL, wrong, 2, 0, wrong_ids), DISP_E_UNKNOWNNAME);
            EXPECT_EQ(wrong_ids[0], m.id);
            EXPECT_EQ(wrong_ids[1], DISPID_UNKNOWN);
            ++tried;
        }

        // Names compare without regard to case.
        std::wstring lower = m.name;
        for (auto& c : lower)
            c = static_cast<wchar_t>(towlower(c));
        EXPECT_EQ(id_of(object, lower.c_str()), m.id);

        // Flags other than a method call, and an interface id other than IID_NULL.
        for (WORD flags : {WORD(DISPATCH_PROPERTYGET), WORD(DISPATCH_PROPERTYPUT),
                           WORD(DISPATCH_PROPERTYPUTREF), WORD(0)}) {
            Args a;
            good_args(m, true, a);
            Invoked call;
            invoke(call, object, m.id, rgvarg(m, a), {}, flags);
            EXPECT_EQ(call.hr, DISP_E_MEMBERNOTFOUND) << "flags " << flags;
            ++tried;
        }
        {
            // A method called with the property-get flag as well, as script
            // hosts do, runs normally.
            Args good;
            good_args(m, false, good);
            Invoked both;
            invoke(both, object, m.id, rgvarg(m, good), {}, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
            EXPECT_EQ(both.hr, S_OK);
            EXPECT_TRUE(m.gives(both.result));
            Args a;
            good_args(m, true, a);
            for (const IID* iid : {&IID_IDispatch, m.iid, &IID_IUnknown}) {
                Invoked call2;
                invoke(call2, object, m.id, rgvarg(m, a), {}, DISPATCH_METHOD, *iid);
                EXPECT_EQ(call2.hr, DISP_E_UNKNOWNINTERFACE);
                ++tried;
            }
        }

        // No DISPPARAMS, or inconsistent ones.
        EXPECT_EQ(
            object->Invoke(m.id, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            E_INVALIDARG);
        VARIANT one = v_i4(1);
        DISPID named_one = 0;
        DISPPARAMS more_named{&one, &named_one, 0, 1};
        EXPECT_EQ(object->Invoke(m.id, IID_NULL, 0, DISPATCH_METHOD, &more_named, nullptr, nullptr,
                                 nullptr),
                  E_INVALIDARG);
        DISPPARAMS no_array{nullptr, nullptr, n + 1, 0};
        EXPECT_EQ(object->Invoke(m.id, IID_NULL, 0, DISPATCH_METHOD, &no_array, nullptr, nullptr,
                                 nullptr),
                  E_INVALIDARG);
        tried += 3;
    }

    // Unknown names and dispatch ids, private methods included.
    struct Unknown {
        const ClassRef* cls;
        const wchar_t* name;
    };
    const Unknown names[] = {
        {&kRegistryRef, L"RootKeyFromName"},
        {&kRebootRef, L"RestartWindows"},
        {&kRebootRef, L"IsWindowsNT"},
        {&kRebootRef, L"GetPlatformId"},
        {&kTimeRef, L"Reboot"},
        {&kWindowsInfoRef, L"QueryRegValue"},
        {&kRegistryRef, L"NoSuchMethod"},
        {&kWindowsInfoRef, L""},
        {&kTimeRef, L"CurrentGMTTime "},
        {&kRebootRef, L"Reboot2"},
    };
    for (const Unknown& u : names) {
        LPOLESTR list[] = {const_cast<LPOLESTR>(u.name)};
        DISPID id = 0;
        EXPECT_EQ(object_of(*u.cls)->GetIDsOfNames(IID_NULL, list, 1, 0, &id), DISP_E_UNKNOWNNAME)
            << label(u.name);
        EXPECT_EQ(id, DISPID_UNKNOWN);
        ++tried;
    }
    for (const ClassRef* cls : kClassRefs) {
        IDispatch* object = object_of(*cls);
        LPOLESTR list[] = {const_cast<LPOLESTR>(L"x")};
        DISPID id;
        EXPECT_EQ(object->GetIDsOfNames(IID_IDispatch, list, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
        const DISPID ids[] = {DISPID_VALUE, DISPID_UNKNOWN, DISPID_NEWENUM, 1,
                              0x60020000,   0x60030018,     0x60040000,     0x7FFFFFFF};
        for (DISPID bad : ids) {
            Invoked call;
            invoke(call, object, bad, {});
            EXPECT_EQ(call.hr, DISP_E_MEMBERNOTFOUND) << label(cls->name) << " id " << bad;
            ++tried;
        }
    }
    // Ids that belong to private methods: RootKeyFromName (index 0) and
    // the three private methods after Reboot.
    {
        Invoked call;
        invoke(call, object_of(kRegistryRef), 0x60030000, {});
        EXPECT_EQ(call.hr, DISP_E_MEMBERNOTFOUND);
    }
    for (DISPID bad : {0x60030001, 0x60030002, 0x60030003}) {
        Invoked call;
        invoke(call, object_of(kRebootRef), bad, {});
        EXPECT_EQ(call.hr, DISP_E_MEMBERNOTFOUND);
    }
    std::printf("%u count, name, id, flag and interface cases\n", tried);
}

// One kind of argument a caller might pass where it should not.
struct Kind {
    const char* label;
    enum Applies { kAny, kNumber, kText, kRoot } applies;
    HRESULT expected;  // S_OK: converted, the method runs normally
    void (*make)(VARIANT&, IDispatch* some_object);
};

const Kind kKinds[] = {
    {"an IDispatch object", Kind::kAny, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch* o) { V_VT(&v) = VT_DISPATCH, V_DISPATCH(&v) = o, o->AddRef(); }},
    {"a null IDispatch", Kind::kAny, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_DISPATCH, V_DISPATCH(&v) = nullptr; }},
    {"an IUnknown object", Kind::kAny, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch* o) { V_VT(&v) = VT_UNKNOWN, V_UNKNOWN(&v) = o, o->AddRef(); }},
    {"a SAFEARRAY of Long", Kind::kAny, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch*) {
         V_VT(&v) = VT_ARRAY | VT_I4, V_ARRAY(&v) = SafeArrayCreateVector(VT_I4, 0, 3);
     }},
    {"a SAFEARRAY of String", Kind::kAny, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch*) {
         V_VT(&v) = VT_ARRAY | VT_BSTR, V_ARRAY(&v) = SafeArrayCreateVector(VT_BSTR, 0, 2);
     }},
    {"Null (VT_NULL)", Kind::kAny, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_NULL; }},
    {"a missing optional argument (VT_ERROR)", Kind::kAny, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_ERROR, V_ERROR(&v) = DISP_E_PARAMNOTFOUND; }},
    {"VT_VARIANT without VT_BYREF", Kind::kAny, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_VARIANT; }},
    {"an unknown type code (0x0FFF)", Kind::kAny, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = 0x0FFF; }},
    {"\"abc\" for a Long", Kind::kNumber, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString(L"abc"); }},
    {"the empty text for a Long", Kind::kNumber, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString(L""); }},
    {"the null string for a Long", Kind::kNumber, DISP_E_TYPEMISMATCH,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = nullptr; }},
    {"1e20 (Double) for a Long", Kind::kNumber, DISP_E_OVERFLOW,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_R8, V_R8(&v) = 1e20; }},
    {"3000000000 (Double) for a Long", Kind::kNumber, DISP_E_OVERFLOW,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_R8, V_R8(&v) = 3e9; }},
    {"-2147483649 (Double) for a Long", Kind::kNumber, DISP_E_OVERFLOW,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_R8, V_R8(&v) = -2147483649.0; }},
    {"3000000000 (64-bit integer) for a Long", Kind::kNumber, DISP_E_OVERFLOW,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_I8, V_I8(&v) = 3000000000LL; }},
    {"\"3000000000\" for a Long", Kind::kNumber, DISP_E_OVERFLOW,
     [](VARIANT& v, IDispatch*) {
         V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString(L"3000000000");
     }},
    // Converted: the method runs with the converted value. Numbers are
    // chosen so that no handle of this process can be meant.
    {"Empty (VT_EMPTY)", Kind::kAny, S_OK, [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_EMPTY; }},
    {"\" 1000000000 \" for a Long", Kind::kNumber, S_OK,
     [](VARIANT& v, IDispatch*) {
         V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString(L" 1000000000 ");
     }},
    {"1000000000.5 (Double) for a Long", Kind::kNumber, S_OK,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_R8, V_R8(&v) = 1000000000.5; }},
    {"True (Boolean) for a Long", Kind::kNumber, S_OK,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_BOOL, V_BOOL(&v) = VARIANT_TRUE; }},
    {"-30000 (Integer) for a Long", Kind::kNumber, S_OK,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_I2, V_I2(&v) = -30000; }},
    {"42 (Long) for a text", Kind::kText, S_OK,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_I4, V_I4(&v) = 42; }},
    {"2.5 (Double) for a text", Kind::kText, S_OK,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_R8, V_R8(&v) = 2.5; }},
    {"True (Boolean) for a text", Kind::kText, S_OK,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_BOOL, V_BOOL(&v) = VARIANT_TRUE; }},
    {"the null string for a text", Kind::kText, S_OK,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = nullptr; }},
    {"a 1 MiB text", Kind::kText, S_OK,
     [](VARIANT& v, IDispatch*) {
         V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocStringLen(nullptr, 1 << 20);
         for (UINT i = 0; i < (1u << 20); ++i)
             V_BSTR(&v)[i] = static_cast<wchar_t>(L'a' + i % 26);
     }},
    // The predefined handles that name no tree, as a root: each method works
    // with them or gives error 5.
    {"HKEY_PERFORMANCE_DATA as a root", Kind::kRoot, S_OK,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_I4, V_I4(&v) = static_cast<LONG>(0x80000004); }},
    {"HKEY_DYN_DATA as a root", Kind::kRoot, S_OK,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_I4, V_I4(&v) = static_cast<LONG>(0x80000006); }},
    {"HKEY_PERFORMANCE_TEXT as a root", Kind::kRoot, S_OK,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_I4, V_I4(&v) = static_cast<LONG>(0x80000050); }},
    {"HKEY_PERFORMANCE_NLSTEXT as a root", Kind::kRoot, S_OK,
     [](VARIANT& v, IDispatch*) { V_VT(&v) = VT_I4, V_I4(&v) = static_cast<LONG>(0x80000060); }},
    {"a text with embedded NULs", Kind::kText, S_OK,
     [](VARIANT& v, IDispatch*) {
         static const wchar_t text[] = L"exists\0tail\0exe";
         V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocStringLen(text, 15);
     }},
};

// For a call of RegDeleteKey: the key it deletes made first where it is
// not there, so that the delete reaches Windows, and taken away again after
// the call, so that the calls after it find what they found before.
struct DeletedKey {
    DeletedKey(const Method& m, std::wstring key)
    {
        if (std::wstring(m.name) == L"RegDeleteKey" && !key_exists(HKEY_CURRENT_USER, key)) {
            path = std::move(key);
            EXPECT_EQ(make_key(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
        }
    }
    ~DeletedKey()
    {
        if (!path.empty())
            RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
    }
    std::wstring path;  // the key made here
};

// The run-time errors a method raises for an argument it cannot use.
constexpr HRESULT kInvalidCall = run_time_error(5);
constexpr HRESULT kTypeMismatch = run_time_error(13);
// The longest delay a restart takes: ten years of seconds.
constexpr LONG kLongestDelay = 315'360'000;

// Whether a method comes from a later interface than its class's first.
bool later(const Method& m)
{
    return m.iid != m.owner->iid;
}

// What a method answers once Invoke has converted argument `given` for its
// typed parameter p: S_OK, or run-time error 5 where the method refuses the
// value itself: a delay out of range; in the later interfaces, an unknown
// root, a key path, value name or file path with a NUL inside, and SDDL
// text, which no kind of the table spells.
HRESULT after_conversion(const Method& m, UINT p, const VARIANT& given, bool unknown_root)
{
    const Role role = role_of(m.params[p]);
    if (later(m) && unknown_root)
        return kInvalidCall;
    if (role == Role::seconds) {
        Variant n;
        if (SUCCEEDED(VariantChangeType(&n, const_cast<VARIANT*>(&given), 0, VT_I4)) &&
            (V_I4(&n) < 0 || V_I4(&n) > kLongestDelay))
            return kInvalidCall;
    }
    const BSTR text = V_VT(&given) == VT_BSTR ? V_BSTR(&given) : nullptr;
    if (later(m) && role == Role::sddl)
        return kInvalidCall;
    if (later(m) &&
        (role == Role::key_path || role == Role::copy_target || role == Role::value_name ||
         role == Role::file) &&
        text && std::wmemchr(text, L'\0', SysStringLen(text)))
        return kInvalidCall;
    return S_OK;
}

TEST_F(BadInput, WrongTypesGetTheirStatusOrAreConverted)
{
    unsigned tried = 0, refused = 0, variants = 0;
    IDispatch* some_object = object_of(kTimeRef);
    // Refusals first, aimed at the fresh targets; then the conversions, and
    // every kind for the Variant parameters, which take whatever comes and
    // leave it to the method.
    for (bool converting : {false, true}) {
        for (const Method& m : methods()) {
            const UINT n = m.count();
            IDispatch* object = object_of(*m.owner);
            for (UINT p = 0; p < n; ++p) {
                const VARTYPE declared = m.params[p].type & ~VT_BYREF;
                const bool variant = declared == VT_VARIANT;
                if (variant && !converting)
                    continue;
                for (const Kind& kind : kKinds) {
                    if (!variant && (kind.expected == S_OK) != converting)
                        continue;
                    if (!variant && ((kind.applies == Kind::kNumber && declared != VT_I4) ||
                                     (kind.applies == Kind::kText && declared != VT_BSTR)))
                        continue;
                    if (kind.applies == Kind::kRoot && role_of(m.params[p]) != Role::root)
                        continue;
                    for (bool by_ref : {false, true}) {
                        SCOPED_TRACE(label(m.name) + " parameter " + std::to_string(p) + ": " +
                                     kind.label + (by_ref ? ", by reference" : ", by value"));
                        Args a;
                        good_args(m, !converting, a);
                        // A name-level method given another key path would
                        // work under HKCU itself: an unknown root keeps it out.
                        const bool unknown_root = converting && !m.handle_level() &&
                                                  role_of(m.params[p]) == Role::key_path;
                        if (unknown_root) {
                            VariantClear(&a[0]);
                            V_VT(&a[0]) = VT_BSTR;
                            V_BSTR(&a[0]) = SysAllocString(L"no root");
                        }
                        VariantClear(&a[p]);
                        kind.make(a[p], some_object);
                        const VARTYPE before = V_VT(&a[p]);
                        std::vector<VARIANT> args = rgvarg(m, a);
                        const UINT index = n - 1 - p;
                        if (by_ref)
                            args[index] = v_ref(&a[p]);
                        else if (V_VT(&args[index]) == (VT_BYREF | VT_VARIANT))
                            args[index] = a[p];
                        const HRESULT status = converting && !variant
                                                   ? after_conversion(m, p, a[p], unknown_root)
                                                   : S_OK;
                        Invoked call;
                        invoke(call, object, m.id, args);
                        ++tried;
                        if (variant) {
                            // The method's answer: the call, or run-time error 5 or 13.
                            if (call.hr == DISP_E_EXCEPTION) {
                                EXPECT_TRUE(call.excep.scode == kInvalidCall ||
                                            call.excep.scode == kTypeMismatch)
                                    << std::hex << call.excep.scode;
                                EXPECT_EQ(V_VT(&call.result), VT_EMPTY);
                            } else {
                                EXPECT_EQ(call.hr, S_OK);
                                EXPECT_TRUE(m.gives(call.result));
                            }
                            EXPECT_EQ(V_VT(&a[p]), before);  // by value: the caller's as it was
                            ++variants;
                            continue;
                        }
                        if (FAILED(kind.expected)) {
                            EXPECT_EQ(call.hr, kind.expected);
                            EXPECT_EQ(call.arg_err, index);
                            EXPECT_EQ(V_VT(&call.result), VT_EMPTY);
                            EXPECT_EQ(V_VT(&a[p]), before);  // the caller's variable as it was
                            ++refused;
                            continue;
                        }
                        if (FAILED(status)) {
                            EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
                            EXPECT_EQ(call.excep.scode, status);
                            EXPECT_EQ(V_VT(&call.result), VT_EMPTY);
                            continue;
                        }
                        EXPECT_EQ(call.hr, S_OK);
                        EXPECT_TRUE(m.gives(call.result));
                        // A by-reference parameter hands its variable back in the declared
                        // type.
                        const bool written_back = by_ref && m.by_ref(p);
                        EXPECT_EQ(V_VT(&a[p]), written_back ? declared : before);
                        // None of these numbers is a key handle; a predefined
                        // one may name a tree the method works in.
                        if (role_of(m.params[p]) == Role::root && declared == VT_I4 &&
                            kind.applies != Kind::kRoot) {
                            EXPECT_EQ(V_BOOL(&call.result), VARIANT_FALSE);
                        }
                    }
                }
            }
        }
        if (!converting)
            expect_nothing_fresh();
    }
    std::printf("%u wrong-type cases (%u refused before the call, %u for Variant parameters)\n",
                tried, refused, variants);

    // By-reference arguments whose pointer is null: refused, whatever the
    // parameter, before anything runs.
    unsigned null_refs = 0;
    for (const Method& m : methods()) {
        const UINT n = static_cast<UINT>(m.params.size());
        for (UINT p = 0; p < n; ++p) {
            const VARTYPE declared = m.params[p].type & ~VT_BYREF;
            Variant inner;  // a VARIANT reference to a null reference
            V_VT(&inner) = VT_BYREF | declared;
            V_BYREF(&inner) = nullptr;
            for (VARTYPE vt : {VARTYPE(VT_BYREF | VT_VARIANT), VARTYPE(VT_BYREF | declared),
                               VARTYPE(VT_BYREF | VT_I2), VARTYPE(0)}) {
                SCOPED_TRACE(label(m.name) + " parameter " + std::to_string(p) +
                             ", null reference " + std::to_string(vt));
                Args a;
                good_args(m, true, a);
                std::vector<VARIANT> args = rgvarg(m, a);
                const UINT index = n - 1 - p;
                VariantInit(&args[index]);
                if (vt) {
                    V_VT(&args[index]) = vt;
                    V_BYREF(&args[index]) = nullptr;
                } else {
                    args[index] = v_ref(&inner);
                }
                Invoked call;
                invoke(call, object_of(*m.owner), m.id, args);
                EXPECT_EQ(call.hr, E_INVALIDARG);
                EXPECT_EQ(call.arg_err, index);
                ++null_refs;
            }
        }
    }
    std::printf("%u null by-reference arguments\n", null_refs);

    // What the conversions give: KeyStatus of a create that fails hands a
    // Long back unchanged, SettingBuffer the text that was stored.
    struct Converted {
        const char* label;
        void (*make)(VARIANT&);
        LONG as_long;
        const wchar_t* as_text;  // null: not tried as a text
    };
    const Converted conversions[] = {
        {"Empty", [](VARIANT& v) { V_VT(&v) = VT_EMPTY; }, 0, L""},
        {"\" 1000000000 \"",
         [](VARIANT& v) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString(L" 1000000000 "); },
         1000000000, L" 1000000000 "},
        {"1000000000.5", [](VARIANT& v) { V_VT(&v) = VT_R8, V_R8(&v) = 1000000000.5; }, 1000000000,
         nullptr},
        {"2.5", [](VARIANT& v) { V_VT(&v) = VT_R8, V_R8(&v) = 2.5; }, 2, L"2.5"},
        {"3.5", [](VARIANT& v) { V_VT(&v) = VT_R8, V_R8(&v) = 3.5; }, 4, L"3.5"},
        {"True", [](VARIANT& v) { V_VT(&v) = VT_BOOL, V_BOOL(&v) = VARIANT_TRUE; }, -1, L"-1"},
        {"Integer -30000", [](VARIANT& v) { V_VT(&v) = VT_I2, V_I2(&v) = -30000; }, -30000,
         L"-30000"},
        {"Long 42", [](VARIANT& v) { V_VT(&v) = VT_I4, V_I4(&v) = 42; }, 42, L"42"},
        {"unsigned 3000000000", [](VARIANT& v) { V_VT(&v) = VT_UI4, V_UI4(&v) = 3000000000u; },
         static_cast<LONG>(3000000000u), nullptr},
        {"the null string", [](VARIANT& v) { V_VT(&v) = VT_BSTR, V_BSTR(&v) = nullptr; }, 0, L""},
    };
    Com<IDispatch> converter = seam().create<IDispatch>(CLSID_Registry);
    for (const Converted& c : conversions) {
        SCOPED_TRACE(c.label);
        Bstr sub(L"made"), exists(L"exists"), name(L"converted");
        if (std::string(c.label) != "the null string") {
            Variant status, result;
            c.make(status);
            EXPECT_EQ(call_by_name(converter.get(), L"CreateRegKey",
                                   {v_i4(0), v_str(sub.get()), v_ref(&status)}, &result),
                      S_OK);
            EXPECT_EQ(V_BOOL(&result), VARIANT_FALSE);  // no key under handle 0
            EXPECT_EQ(V_VT(&status), VT_I4);
            EXPECT_EQ(V_I4(&status), c.as_long);
        }
        if (c.as_text) {
            Variant buffer, result;
            c.make(buffer);
            EXPECT_EQ(call_by_name(converter.get(), L"SetRegValue",
                                   {v_i4(root_value_), v_str(exists.get()), v_str(name.get()),
                                    v_ref(&buffer)},
                                   &result),
                      S_OK);
            EXPECT_EQ(V_BOOL(&result), VARIANT_TRUE);
            EXPECT_EQ(V_VT(&buffer), VT_BSTR);
            EXPECT_EQ(std::wstring(V_BSTR(&buffer), SysStringLen(V_BSTR(&buffer))), c.as_text);
        }
    }

    // Root-key names other than the six give no key.
    for (const wchar_t* root : {L"hkcu", L"Hkcu", L"HKCU ", L"42", L"HKEY_USERS", L""}) {
        SCOPED_TRACE(label(root));
        auto* r = static_cast<_Registry*>(converter.get());
        Bstr root_name(root), key(base_ + L"\\exists"), value(L"v"), read(L"x"), data(L"d");
        SHORT number = 7;
        EXPECT_EQ(r->RegReadString(root_name.get(), key.ref(), value.ref(), read.put()), S_OK);
        EXPECT_EQ(read.str(), L"");
        EXPECT_EQ(r->RegWriteString(root_name.get(), key.get(), value.get(), data.get(), &number),
                  S_OK);
        EXPECT_EQ(number, 0);
        Bstr create_root(root), create_key(base_ + L"\\exists");
        EXPECT_EQ(r->RegCreateKey(create_root.ref(), create_key.ref(), &number), S_OK);
        EXPECT_EQ(number, 0);
    }
    EXPECT_FALSE(value_exists(HKEY_CURRENT_USER, base_ + L"\\exists", L"v"));

    // An unsigned Long (VT_UI4) is taken over bit for bit by the platform's
    // conversion: 0x80000001 is HKEY_CURRENT_USER.
    Com<IDispatch> registry = seam().create<IDispatch>(CLSID_Registry);
    Variant status, result;
    V_VT(&status) = VT_I4;
    VARIANT root;
    VariantInit(&root);
    V_VT(&root) = VT_UI4;
    V_UI4(&root) = 0x80000001u;
    Bstr sub(base_ + L"\\unsigned");
    EXPECT_EQ(call_by_name(registry.get(), L"CreateRegKey",
                           {root, v_str(sub.get()), v_ref(&status)}, &result),
              S_OK);
    EXPECT_EQ(V_BOOL(&result), VARIANT_TRUE);
    EXPECT_EQ(V_I4(&status), 1);
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, base_ + L"\\unsigned"));
}

// The same bad texts through the method table: null strings, 1 MiB texts
// and texts with NULs inside, in every text parameter of every method.
TEST_F(BadInput, NullHugeAndNulTextsThroughTheMethodTable)
{
    std::wstring huge(1 << 20, L'x');
    const std::wstring texts[] = {std::wstring(), huge, std::wstring(L"exists\0tail", 11),
                                  std::wstring(L"a\0exe\0", 6)};
    const bool is_null[] = {true, false, false, false};
    auto* r = static_cast<_Registry*>(object_of(kRegistryRef));
    auto* w = static_cast<_WindowsInfo*>(object_of(kWindowsInfoRef));
    unsigned tried = 0;
    auto opens = [&](const std::wstring& sub) {
        Key k;
        return RegOpenKeyExW(root_.get(), sub.c_str(), 0, KEY_SET_VALUE, k.put()) == ERROR_SUCCESS;
    };
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, base_ + L"\\scratch"), ERROR_SUCCESS);
    Key scratch;
    ASSERT_EQ(RegOpenKeyExW(root_.get(), L"scratch", 0, KEY_ALL_ACCESS, scratch.put()),
              ERROR_SUCCESS);
    auto writes = [&](const std::wstring& name) {
        return RegSetValueExW(scratch.get(), name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(L"d"), 4) == ERROR_SUCCESS;
    };
    for (size_t t = 0; t < std::size(texts); ++t) {
        SCOPED_TRACE("text " + std::to_string(t));
        auto make = [&] { return is_null[t] ? Bstr() : Bstr(texts[t]); };
        for (int p = 0; p < 4; ++p) {
            // Every text parameter in turn takes the bad text; the others
            // aim at the test keys.
            auto text_at = [&](int q, const std::wstring& good) {
                return q == p ? make() : Bstr(good);
            };
            LONG status = 0;
            VARIANT_BOOL ok = 7;
            if (p < 1) {
                Bstr sub = text_at(0, L"made");
                EXPECT_EQ(r->CreateRegKey(root_value_, sub.get(), &status, &ok), S_OK);
                EXPECT_TRUE(ok == VARIANT_TRUE || ok == VARIANT_FALSE);
                ++tried;
            }
            if (p < 3) {
                Bstr sub = text_at(0, L"exists"), name = text_at(1, L"v"),
                     data = text_at(2, L"kept");
                const std::wstring data_before = data.str();
                EXPECT_EQ(r->QueryRegValue(root_value_, sub.get(), name.get(), data.ref(), &ok),
                          S_OK);
                EXPECT_TRUE(ok == VARIANT_TRUE || ok == VARIANT_FALSE);
                if (ok == VARIANT_FALSE) {
                    EXPECT_EQ(data.str(), data_before);
                }
                ++tried;
                Bstr sub2 = text_at(0, L"exists"), name2 = text_at(1, L"set"),
                     data2 = text_at(2, L"data");
                EXPECT_EQ(r->SetRegValue(root_value_, sub2.get(), name2.get(), data2.ref(), &ok),
                          S_OK);
                // A name with a NUL inside is refused; any other goes to
                // Windows as it is, and Windows alone decides: the result is
                // what the same open and write give when made directly.
                const bool exact = sub2.str().find(L'\0') == std::wstring::npos &&
                                   name2.str().find(L'\0') == std::wstring::npos;
                EXPECT_EQ(ok, exact && opens(sub2.str()) && writes(name2.str()) ? VARIANT_TRUE
                                                                                : VARIANT_FALSE);
                // The caller's buffer keeps its text, over its whole length.
                EXPECT_EQ(data2.str(), p == 2 ? texts[t] : L"data");
                ++tried;
                Bstr root = text_at(0, L"HKCU"), key = text_at(1, base_ + L"\\exists"),
                     value = text_at(2, L"v"), out;
                EXPECT_EQ(r->RegReadString(root.get(), key.ref(), value.ref(), out.put()), S_OK);
                ++tried;
            }
            {
                // Key name bad: an unknown root keeps the write inside our keys.
                Bstr root = text_at(0, p == 1 ? L"no root" : L"HKCU");
                Bstr key = text_at(1, base_ + L"\\exists"), name = text_at(2, L"written"),
                     value = text_at(3, L"data");
                SHORT written = 7;
                EXPECT_EQ(
                    r->RegWriteString(root.get(), key.get(), name.get(), value.get(), &written),
                    S_OK);
                EXPECT_TRUE(written == 0 || written == 1);
                ++tried;
            }
            if (p < 2) {
                Bstr root = text_at(0, p == 1 ? L"no root" : L"HKCU"),
                     key = text_at(1, base_ + L"\\made");
                SHORT created = 7;
                EXPECT_EQ(r->RegCreateKey(root.ref(), key.ref(), &created), S_OK);
                EXPECT_TRUE(created == 0 || created == 1 || created == 2);
                ++tried;
            }
        }
        Bstr path = make();
        EXPECT_EQ(w->GetLocation(path.ref()), S_OK);
        ++tried;
    }
    // The last text stored went over its whole length, NULs included:
    // "a", NUL, "exe", NUL and the terminating NUL.
    Key exists;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, (base_ + L"\\exists").c_str(), 0, KEY_READ, exists.put()),
        ERROR_SUCCESS);
    BYTE stored[16] = {};
    DWORD size = sizeof stored, type = 0;
    ASSERT_EQ(RegQueryValueExA(exists.get(), "set", nullptr, &type, stored, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_EQ(size, 7u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(stored), 7), std::string("a\0exe\0\0", 7));
    // The name with a NUL inside wrote nothing, not even the value "exists"
    // that Windows would have read in it; the 1 MiB value that was stored
    // reads back whole.
    EXPECT_FALSE(value_exists(HKEY_CURRENT_USER, base_ + L"\\exists", L"exists"));
    {
        Bstr sub(L"exists"), name(L"set"), data(L"kept");
        VARIANT_BOOL ok = 7;
        EXPECT_EQ(r->SetRegValue(root_value_, sub.get(), name.get(), Bstr(huge).ref(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(r->QueryRegValue(root_value_, sub.get(), name.get(), data.ref(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(data.str(), huge);
    }
    std::printf("%u method-table calls with null, 1 MiB and NUL-holding texts\n", tried);
}

// Every pointer a method takes, null in turn: the by-reference parameters
// and the result. Refused before anything runs.
TEST_F(BadInput, NullPointersThroughTheMethodTable)
{
    unsigned tried = 0;
    for (const Method& m : methods()) {
        const int pointers = static_cast<int>(m.count()) + (m.result != VT_EMPTY ? 1 : 0);
        for (int at = 0; at < pointers; ++at) {
            if (at < static_cast<int>(m.count()) && !m.by_ref(static_cast<size_t>(at)))
                continue;
            SCOPED_TRACE(label(m.name) + " with pointer " + std::to_string(at) + " null");
            Args a;
            good_args(m, true, a);
            Variant result;
            EXPECT_EQ(m.call(object_of(*m.owner), a, result, at), E_POINTER);
            // A refused call leaves its result null, zero or Empty, never
            // what the slot held: a caller may free it after the failure.
            if (m.result != VT_EMPTY && at < static_cast<int>(m.count())) {
                EXPECT_TRUE(m.cleared(result)) << narrow(text_of(result));
            }
            ++tried;
        }
    }
    EXPECT_EQ(tried, 58u);  // 41 up to 1.11; 8 of _Registry3, 9 of the other 1.2 interfaces
    EXPECT_EQ(g_restart_requests, 0);

    // The inherited operations as well.
    for (const ClassRef* cls : kClassRefs) {
        IDispatch* object = object_of(*cls);
        EXPECT_EQ(object->GetTypeInfoCount(nullptr), E_POINTER);
        EXPECT_EQ(object->GetTypeInfo(0, 0, nullptr), E_POINTER);
        ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
        EXPECT_EQ(object->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
        EXPECT_EQ(info, nullptr);
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"x")};
        DISPID id;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_POINTER);
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr), E_POINTER);
        EXPECT_EQ(object->QueryInterface(*cls->iid, nullptr), E_POINTER);
    }
    std::printf("%u null out pointers, 6 null pointers to inherited operations per class\n", tried);
}

// A file that exists but is no library.
std::string not_a_library()
{
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    const std::string path =
        std::string(dir) + "tarnwick-junk-" + std::to_string(GetCurrentProcessId()) + ".dll";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(file, "not a library", 13, &written, nullptr);
    CloseHandle(file);
    return path;
}

// A declared function that cannot be bound fails the call with its
// run-time error, early and late bound, every other result as it was, and
// nothing is written. The one place that checks these statuses for every
// method; other tests reach the same paths for other reasons.
TEST_F(BadInput, UnboundFunctionsFailWithTheirRunTimeError)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    const std::string junk = not_a_library();
    const std::string refusing = narrow(env_path("TARNWICK_REFUSING_DLL"));
    ASSERT_NE(GetFileAttributesA(refusing.c_str()), INVALID_FILE_ATTRIBUTES) << refusing;
    struct Binding {
        const char* label;
        const char* library;  // null: as declared
        const char* export_name;
        HRESULT status;
        const wchar_t* description;
    };
    const Binding bindings[] = {
        {"library not found", "tarnwick-no-such-library.dll", nullptr, kFileNotFound,
         L"File not found"},
        {"library not found by path", "C:\\tarnwick\\missing\\advapi32.dll", nullptr, kFileNotFound,
         L"File not found"},
        {"export not found", nullptr, "TarnwickNoSuchExport", kEntryNotFound,
         L"Entry point not found"},
        {"not a library", junk.c_str(), nullptr, kLoadFailed, L"Error in loading the library"},
        {"library refuses to load", refusing.c_str(), nullptr, kLoadFailed,
         L"Error in loading the library"},
    };
    struct Target {
        const wchar_t* method;
        const char* function;
        const wchar_t* source = nullptr;  // the class that raised it, when not the method's own
    };
    // Picked by hand: the functions that the work of each 1.0 method rests on.
    const Target picked[] = {
        {L"CreateRegKey", "RegCreateKeyExW"},
        {L"QueryRegValue", "RegOpenKeyExW"},
        {L"SetRegValue", "RegOpenKeyExW"},
        {L"SetRegValue", "RegSetValueExW"},
        {L"RegReadString", "RegOpenKeyExW"},
        {L"RegReadString", "RegQueryValueExW"},
        {L"RegWriteString", "RegOpenKeyExW"},
        {L"RegCreateKey", "RegCreateKeyExW"},
        {L"GetOSType", "GetVersionExA"},
        {L"GetOSVersionInfo", "GetVersionExA"},
        // Raised in the Registry object of their own; its error information passes on.
        {L"GetOSVersionInfo", "RegOpenKeyExW", L"TarnwickDLL.Registry"},
        {L"GetWebBrowser", "RegOpenKeyExW", L"TarnwickDLL.Registry"},
        {L"GetDefaultBrowserPath", "RegOpenKeyExW", L"TarnwickDLL.Registry"},
        {L"CurrentGMTTime", "GetSystemTime"},
        {L"CurrentLocalTime", "GetLocalTime"},
        {L"Reboot", "GetVersionExA"},
        {L"Reboot", "OpenProcessToken"},
        {L"Reboot", "ExitWindowsEx"},
    };
    // The methods whose good call reaches no declared function, and why.
    struct Unreached {
        const wchar_t* method;
        const char* why;
    };
    const Unreached unreached[] = {
        {L"GetLocation", "cuts down the text it is given"},
        {L"GetProcessArchitecture", "answers the architecture the library was built for"},
        {L"GetOSArchitecture", "asks Windows once per process, and the first call has asked"},
    };
    // Every other method is swept with every function found under it: a
    // method the IDL gains is covered without being named here.
    auto reached = reached_functions();
    std::vector<Target> targets(std::begin(picked), std::end(picked));
    for (const Target& t : picked) {
        const auto& found = reached[t.method];
        EXPECT_TRUE(std::any_of(found.begin(), found.end(),
                                [&](const char* f) { return std::strcmp(f, t.function) == 0; }))
            << label(t.method) << " does not fail without " << t.function;
    }
    for (const Method& m : methods()) {
        const auto& found = reached[m.name];
        const Unreached* listed =
            std::find_if(std::begin(unreached), std::end(unreached),
                         [&](const Unreached& u) { return m.name == std::wstring(u.method); });
        if (listed == std::end(unreached))
            listed = nullptr;
        EXPECT_NE(found.empty(), !listed)
            << label(m.name)
            << (listed ? " is listed as reaching no declared function, but does"
                       : " reaches no declared function: list it, and why");
        std::string names;
        for (const char* f : found)
            names += std::string(" ") + f;
        std::printf("%s:%s\n", label(m.name).c_str(),
                    found.empty() && listed ? (std::string(" none: it ") + listed->why).c_str()
                                            : names.c_str());
        if (std::none_of(std::begin(picked), std::end(picked),
                         [&](const Target& t) { return m.name == std::wstring(t.method); })) {
            for (const char* f : found)
                targets.push_back({m.name, f});
        }
    }
    unsigned tried = 0;
    for (const Binding& binding : bindings) {
        for (const Target& target : targets) {
            const Method& m = method(target.method);
            SCOPED_TRACE(label(m.name) + " with " + target.function + ": " + binding.label);
            const std::wstring source = target.source ? target.source : m.owner->progid();
            IDispatch* object = object_of(*m.owner);
            Rebind unbound(target.function, binding.library, binding.export_name);
            ASSERT_EQ(unbound.status(), S_OK);
            for (bool with_excep : {true, false}) {
                Args a;
                good_args(m, true, a);
                // A delete asks Windows to delete only a key that is there.
                DeletedKey there(m, base_ + L"\\exists\\fresh");
                std::vector<VARIANT> args = rgvarg(m, a);
                DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr,
                                  static_cast<UINT>(args.size()), 0};
                Variant result;
                Excep excep;
                HRESULT hr = object->Invoke(m.id, IID_NULL, 0, DISPATCH_METHOD, &params, &result,
                                            with_excep ? &excep : nullptr, nullptr);
                if (with_excep) {
                    EXPECT_EQ(hr, DISP_E_EXCEPTION);
                    EXPECT_EQ(excep.scode, binding.status);
                    EXPECT_EQ(excep.wCode, 0);
                    EXPECT_EQ(excep.source(), source);
                    EXPECT_EQ(excep.description(), binding.description);
                } else {
                    EXPECT_EQ(hr, binding.status);  // no EXCEPINFO: the status itself
                }
                EXPECT_EQ(V_VT(&result), VT_EMPTY);
                ++tried;
            }
            // Through the method table: the status, a cleared result, and
            // the error information for it.
            SetErrorInfo(0, nullptr);
            DeletedKey there(m, base_ + L"\\exists\\fresh");
            EXPECT_EQ(call_table(m, object), binding.status);
            Com<IErrorInfo> error;
            ASSERT_EQ(GetErrorInfo(0, error.put()), S_OK);
            Bstr error_source, description;
            error->GetSource(error_source.put());
            error->GetDescription(description.put());
            EXPECT_EQ(error_source.str(), source);
            EXPECT_EQ(description.str(), binding.description);
            ++tried;
        }
    }
    // The stand-in for restarts was never reached and nothing was written.
    EXPECT_EQ(g_restart_requests, 0);
    DeleteFileA(junk.c_str());
    std::printf("%u calls with a function that could not be bound\n", tried);

    // Control: bound by their own names again, the same calls do write the
    // fresh targets.
    for (const wchar_t* name : {L"CreateRegKey", L"SetRegValue"}) {
        Args a;
        good_args(method(name), true, a);
        Invoked call;
        invoke(call, object_of(kRegistryRef), method(name).id, rgvarg(method(name), a));
        EXPECT_EQ(call.hr, S_OK);
        EXPECT_EQ(V_BOOL(&call.result), VARIANT_TRUE);
    }
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, base_ + L"\\exists\\fresh"));
    EXPECT_TRUE(value_exists(HKEY_CURRENT_USER, base_ + L"\\exists", L"fresh"));
    delete_tree(HKEY_CURRENT_USER, base_ + L"\\exists\\fresh");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, (base_ + L"\\exists").c_str(), L"fresh");
}

}  // namespace
}  // namespace reliability
