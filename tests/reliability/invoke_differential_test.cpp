// Our Invoke against the platform's own ITypeInfo::Invoke over the same
// method table: seeded random late-bound calls on a Registry object (every
// method of _Registry2, its inherited ones included), each made twice with
// the same arguments, once through each. Status, result, exception code,
// argument error and every by-reference write-back must agree, but for the
// platform's own ways, each recognised by its exact shape and counted:
//  - it refuses a variable passed by reference as a Variant
//    (VT_BYREF|VT_VARIANT, as script hosts pass variables) for a typed
//    by-reference parameter, with DISP_E_TYPEMISMATCH; ours converts it and
//    writes the result back (docs/errors.md);
//  - after a method failed (DISP_E_EXCEPTION) it hands out the result slot
//    as the method left it; ours leaves the result Empty;
//  - it refuses a plain value for a by-reference parameter; ours lets the
//    method work on a copy (docs/errors.md);
//  - it leaves puArgErr unset on a type mismatch;
//  - it answers DISP_E_BADVARTYPE where a conversion finds no way from the
//    argument's type, where ours answers DISP_E_TYPEMISMATCH;
//  - given a named argument whose id is no parameter of the method (or
//    DISPID_PROPERTYPUT, which only a property put has), it goes on with
//    the call, or answers DISP_E_BADPARAMCOUNT; ours answers
//    DISP_E_PARAMNOTFOUND with the argument in puArgErr;
//  - given too many or too few arguments, it converts them first and may
//    answer with a conversion's error; ours answers DISP_E_BADPARAMCOUNT.
// The arguments keep the registry as it was: writes store the same value
// twice, deletes aim at what does not exist, keys are created only where
// they exist already. Now and then a path or name is one that must reach
// nothing (NUL-led, a NUL after our key or inside a name, backslashes only
// for the root), and canary keys in the roots must survive the run.
//   TARNWICK_DIFF_CALLS  number of calls (default 100000)
//   TARNWICK_DIFF_SEED   seed (default 20261208)
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "keys.h"
#include "seam.h"

using namespace testkit;

namespace {

struct Random {
    uint64_t state;
    uint32_t next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    uint32_t below(uint32_t n) { return n ? next() % n : 0; }
    bool chance(uint32_t one_in) { return below(one_in) == 0; }
};

// What an argument stands for, which decides the values it may take.
enum class Role { LongRoot, NameRoot, VariantRoot, Key, CreatedKey, MissingKey, Name, WrittenName, MissingName, Text, Number, Value, ValueType, View, Recursive };

struct Param {
    Role role;
    VARTYPE declared;  // VT_BYREF for by reference
};

struct Call {
    DISPID id;
    std::vector<Param> params;
    unsigned required;
};

const std::vector<Call>& calls()
{
    using R = Role;
    constexpr VARTYPE V = VT_VARIANT, S = VT_BSTR, L = VT_I4, B = VT_BYREF;
    static const std::vector<Call> all = {
        {0x60030001, {{R::LongRoot, L}, {R::CreatedKey, S}, {R::Number, B | L}}, 3},
        {0x60030002, {{R::LongRoot, L}, {R::Key, S}, {R::Name, S}, {R::Text, B | S}}, 4},
        {0x60030003, {{R::LongRoot, L}, {R::CreatedKey, S}, {R::WrittenName, S}, {R::Text, B | S}}, 4},
        {0x60030004, {{R::NameRoot, S}, {R::Key, B | S}, {R::Name, B | S}}, 3},
        {0x60030005, {{R::NameRoot, S}, {R::CreatedKey, S}, {R::WrittenName, S}, {R::Text, S}}, 4},
        {0x60030006, {{R::NameRoot, B | S}, {R::CreatedKey, B | S}}, 2},
        {0x60030007, {{R::VariantRoot, V}, {R::Key, S}, {R::Name, S}, {R::View, V}}, 3},
        {0x60030008, {{R::VariantRoot, V}, {R::CreatedKey, S}, {R::WrittenName, S}, {R::Value, V}, {R::ValueType, V}, {R::View, V}}, 4},
        {0x60030009, {{R::VariantRoot, V}, {R::Key, S}, {R::MissingName, S}, {R::View, V}}, 3},
        {0x6003000A, {{R::VariantRoot, V}, {R::MissingKey, S}, {R::Recursive, V}, {R::View, V}}, 2},
        {0x6003000B, {{R::VariantRoot, V}, {R::Key, S}, {R::View, V}}, 2},
        {0x6003000C, {{R::VariantRoot, V}, {R::Key, S}, {R::View, V}}, 2},
        {0x6003000D, {{R::VariantRoot, V}, {R::Key, S}, {R::Name, S}, {R::View, V}}, 3},
        {0x6003000E, {{R::VariantRoot, V}, {R::Key, S}, {R::View, V}}, 2},
        {0x6003000F, {{R::VariantRoot, V}, {R::Key, S}, {R::Name, S}, {R::View, V}}, 3},
    };
    return all;
}

// One argument as the caller holds it: the VARIANT passed, and for a
// by-reference one the variable it points to.
struct Held {
    VARIANT passed;
    VARIANT target;  // VT_BYREF|VT_VARIANT points here
    BSTR text = nullptr;  // VT_BYREF|VT_BSTR points here
    LONG number = 0;      // VT_BYREF|VT_I4 points here
};

void put_text(VARIANT& v, const std::wstring& s)
{
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

// A path that names nothing to touch: refused for its NUL, or, with
// `root`, the root itself, which only a delete refuses.
std::wstring guarded_path(Random& r, const std::wstring& area, bool root)
{
    using namespace std::string_literals;
    switch (r.below(root ? 4 : 2)) {
    case 0: return L"\0"s + area + L"\\a";
    case 1: return area + L"\0\\a"s;
    case 2: return L"\\";
    default: return r.chance(2) ? L"" : L"\\\\";
    }
}

// A plain value for the role, kept so that the registry does not change.
void value_for(Role role, Random& r, const std::wstring& area, VARIANT& v)
{
    using namespace std::string_literals;
    VariantInit(&v);
    auto number = [&](LONG n) { V_VT(&v) = VT_I4, V_I4(&v) = n; };
    if (r.chance(8)) {
        switch (role) {
        case Role::Key:
        case Role::MissingKey:
            return put_text(v, guarded_path(r, area, true));
        case Role::CreatedKey:
            return put_text(v, guarded_path(r, area, false));
        case Role::Name:
            return put_text(v, L"s\0x"s);
        case Role::WrittenName:
            return put_text(v, L"w\0x"s);
        default:
            break;
        }
    }
    switch (role) {
    case Role::LongRoot:
        return number(r.chance(4) ? (r.chance(2) ? 0 : 7) : static_cast<LONG>(0x80000001));
    case Role::NameRoot:
        return put_text(v, r.chance(3) ? (r.chance(2) ? L"hkcu" : L"HKEY_NOWHERE") : L"HKCU");
    case Role::VariantRoot:
        switch (r.below(6)) {
        case 0: return number(static_cast<LONG>(0x80000001));
        case 1: V_VT(&v) = VT_R8, V_R8(&v) = 2147483649.0; return;
        case 2: return put_text(v, L"hkey_current_user");
        case 3: return put_text(v, L"HKEY_NOWHERE");
        case 4: return number(5);
        default: return put_text(v, L"HKCU");
        }
    case Role::Key:
        return put_text(v, area + (r.chance(3) ? L"\\missing" : r.chance(2) ? L"\\a\\b" : L"\\a"));
    case Role::CreatedKey:
        return put_text(v, area + (r.chance(2) ? L"\\a\\b" : L"\\a"));
    case Role::MissingKey:
        return put_text(v, area + (r.chance(2) ? L"\\missing" : L"\\a\\missing"));
    case Role::Name:
        switch (r.below(5)) {
        case 0: return put_text(v, L"s");
        case 1: return put_text(v, L"d");
        case 2: return put_text(v, L"m");
        case 3: return put_text(v, L"");
        default: return put_text(v, L"w");
        }
    case Role::WrittenName:
        return put_text(v, L"w");
    case Role::MissingName:
        return put_text(v, L"nope");
    case Role::Text:
        return put_text(v, r.chance(2) ? L"text" : L"caf\u00e9");
    case Role::Number:
        return number(static_cast<LONG>(r.below(3)));
    case Role::Value:
        switch (r.below(7)) {
        case 0: return put_text(v, L"seven");
        case 1: return number(7);
        case 2: V_VT(&v) = VT_R8, V_R8(&v) = r.chance(2) ? 2.5 : 5e9; return;
        case 3: V_VT(&v) = VT_BOOL, V_BOOL(&v) = VARIANT_TRUE; return;
        case 4: V_VT(&v) = VT_NULL; return;
        default: {
            SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, r.below(3));
            for (ULONG i = 0; i < sa->rgsabound[0].cElements; ++i) {
                VARIANT& item = static_cast<VARIANT*>(sa->pvData)[i];
                if (r.chance(2))
                    put_text(item, L"x");
                else
                    V_VT(&item) = VT_I4, V_I4(&item) = static_cast<LONG>(r.below(300));
            }
            V_VT(&v) = VT_ARRAY | VT_VARIANT;
            V_ARRAY(&v) = sa;
            return;
        }
        }
    case Role::ValueType:
        switch (r.below(5)) {
        case 0: return put_text(v, L"REG_SZ");
        case 1: return put_text(v, L"reg_binary");
        case 2: return number(4);
        case 3: return number(9);
        default: return put_text(v, L"REG_QWORD");
        }
    case Role::View:
        switch (r.below(5)) {
        case 0: return number(0);
        case 1: return number(64);
        case 2: return put_text(v, L"32");
        case 3: return number(16);
        default: return;  // Empty
        }
    case Role::Recursive:
        V_VT(&v) = VT_BOOL;
        V_BOOL(&v) = r.chance(2) ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    }
}

// The argument in one of the shapes a caller may give it. Shapes that could
// write elsewhere in the registry (a number as a key that is created) are
// left out for the roles that create or write.
void shape(const Param& p, Random& r, VARIANT& value, Held& held)
{
    VariantInit(&held.passed);
    VariantInit(&held.target);
    const bool writes = p.role == Role::CreatedKey || p.role == Role::WrittenName;
    switch (r.below(writes ? 3 : 6)) {
    case 0:  // a variable, as script hosts pass it
        held.target = value;
        V_VT(&held.passed) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&held.passed) = &held.target;
        return;
    case 1:  // typed by reference, as a typed caller passes it
        if (V_VT(&value) == VT_BSTR) {
            held.text = V_BSTR(&value);
            V_VT(&held.passed) = VT_BYREF | VT_BSTR;
            V_BSTRREF(&held.passed) = &held.text;
            return;
        }
        if (V_VT(&value) == VT_I4) {
            held.number = V_I4(&value);
            V_VT(&held.passed) = VT_BYREF | VT_I4;
            V_I4REF(&held.passed) = &held.number;
            return;
        }
        break;
    case 3:  // another type
        VariantClear(&value);
        switch (r.below(5)) {
        case 0: V_VT(&held.passed) = VT_EMPTY; return;
        case 1: V_VT(&held.passed) = VT_NULL; return;
        case 2: V_VT(&held.passed) = VT_I2, V_I2(&held.passed) = 3; return;
        case 3: V_VT(&held.passed) = VT_ERROR, V_ERROR(&held.passed) = DISP_E_PARAMNOTFOUND; return;
        default: V_VT(&held.passed) = VT_DISPATCH, V_DISPATCH(&held.passed) = nullptr; return;
        }
    }
    held.passed = value;  // by value
}

void clear(Held& h)
{
    if (V_VT(&h.passed) == (VT_BYREF | VT_VARIANT))
        VariantClear(&h.target);
    else if (V_VT(&h.passed) == (VT_BYREF | VT_BSTR))
        SysFreeString(h.text);
    else if (!(V_VT(&h.passed) & VT_BYREF))
        VariantClear(&h.passed);
}

void copy(const Held& from, Held& to)
{
    VariantInit(&to.passed);
    VariantInit(&to.target);
    to.number = from.number;
    to.text = from.text ? SysAllocStringLen(from.text, SysStringLen(from.text)) : nullptr;
    switch (V_VT(&from.passed)) {
    case VT_BYREF | VT_VARIANT:
        VariantCopy(&to.target, const_cast<VARIANT*>(&from.target));
        V_VT(&to.passed) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&to.passed) = &to.target;
        break;
    case VT_BYREF | VT_BSTR:
        V_VT(&to.passed) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&to.passed) = &to.text;
        break;
    case VT_BYREF | VT_I4:
        V_VT(&to.passed) = VT_BYREF | VT_I4;
        V_I4REF(&to.passed) = &to.number;
        break;
    default:
        VariantCopy(&to.passed, const_cast<VARIANT*>(&from.passed));
    }
}

// A Variant as text, arrays item by item, with its type.
std::wstring render(const VARIANT& v)
{
    if (V_VT(&v) == (VT_ARRAY | VT_VARIANT)) {
        std::wstring out = L"[";
        SAFEARRAY* sa = V_ARRAY(&v);
        for (ULONG i = 0; i < sa->rgsabound[0].cElements; ++i)
            out += render(static_cast<VARIANT*>(sa->pvData)[i]) + L",";
        return out + L"]";
    }
    Variant text;
    const std::wstring type = std::to_wstring(V_VT(&v)) + L":";
    if (V_VT(&v) == VT_BSTR)
        return type + std::wstring(V_BSTR(&v) ? V_BSTR(&v) : L"", SysStringLen(V_BSTR(&v)));
    if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&v), 0, VT_BSTR)))
        return type + V_BSTR(&text);
    return type;
}

std::wstring after(const Held& h)
{
    switch (V_VT(&h.passed)) {
    case VT_BYREF | VT_VARIANT: return render(h.target);
    case VT_BYREF | VT_BSTR: return L"bstr:" + std::wstring(h.text ? h.text : L"", SysStringLen(h.text));
    case VT_BYREF | VT_I4: return L"long:" + std::to_wstring(h.number);
    default: return L"-";
    }
}

struct Outcome {
    HRESULT hr;
    std::wstring result, excep, arg_err, written;
};

using InvokeFn = HRESULT (*)(void* self, DISPID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*);

TEST(InvokeDifferential, OursAgreesWithThePlatformsInvoke)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    Apartment apartment;
    ASSERT_EQ(apartment.hr, S_OK);
    Com<_Registry2> object = create<_Registry2>(CLSID_Registry);
    ASSERT_TRUE(object) << "library not registered";
    Com<ITypeInfo> dispatch_view, table;
    ASSERT_EQ(object->GetTypeInfo(0, 0, dispatch_view.put()), S_OK);
    HREFTYPE ref;
    ASSERT_EQ(dispatch_view->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    ASSERT_EQ(dispatch_view->GetRefTypeInfo(ref, table.put()), S_OK);

    const std::wstring area = test_key(L"differential");
    delete_tree(HKEY_CURRENT_USER, area);
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, area + L"\\a\\b"), ERROR_SUCCESS);
    ASSERT_EQ(set_text(HKEY_CURRENT_USER, area + L"\\a", L"s", L"text"), ERROR_SUCCESS);
    const DWORD d = 42;
    ASSERT_EQ(set_wide(HKEY_CURRENT_USER, area + L"\\a", L"d", REG_DWORD, &d, 4), ERROR_SUCCESS);
    ASSERT_EQ(set_wide(HKEY_CURRENT_USER, area + L"\\a", L"m", REG_MULTI_SZ, L"x\0y\0", 10), ERROR_SUCCESS);
    const std::wstring canary = L"TarnwickCanary-" + std::to_wstring(GetCurrentProcessId());
    const HKEY roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    for (HKEY root : roots)
        ASSERT_EQ(make_key(root, canary + L"\\inner"), ERROR_SUCCESS);

    const char* env_calls = std::getenv("TARNWICK_DIFF_CALLS");
    const char* env_seed = std::getenv("TARNWICK_DIFF_SEED");
    const unsigned total = env_calls ? static_cast<unsigned>(std::strtoul(env_calls, nullptr, 10)) : 100000;
    Random r{env_seed ? std::strtoull(env_seed, nullptr, 10) : 20261208ull};
    std::map<std::string, unsigned> differences;
    std::map<std::string, std::string> first_seen;

    for (unsigned n = 0; n < total; ++n) {
        const Call& c = calls()[r.below(static_cast<uint32_t>(calls().size()))];
        WORD flags = DISPATCH_METHOD;
        switch (r.below(12)) {
        case 0: flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET; break;
        case 1: flags = DISPATCH_PROPERTYGET; break;
        case 2: flags = DISPATCH_PROPERTYPUT; break;
        }
        // Every parameter, or only the required ones and some optional ones;
        // now and then one too few or too many.
        unsigned count = c.required + r.below(static_cast<uint32_t>(c.params.size() - c.required + 1));
        if (r.chance(30))
            count = count > 0 && r.chance(2) ? count - 1 : count + 1;
        std::vector<Held> ours(count), theirs(count);
        for (unsigned p = 0; p < count; ++p) {
            const Param param = p < c.params.size() ? c.params[p] : Param{Role::Text, VT_BSTR};
            VARIANT value;
            value_for(param.role, r, area, value);
            shape(param, r, value, ours[p]);
            copy(ours[p], theirs[p]);
        }
        // The last few as named arguments, by their parameter ids.
        unsigned named = r.chance(5) ? r.below(count + 1) : 0;
        std::vector<DISPID> ids(named);
        for (unsigned k = 0; k < named; ++k)
            ids[k] = static_cast<DISPID>(count - 1 - k);
        if (named && r.chance(10))
            ids[0] = r.chance(2) ? static_cast<DISPID>(c.params.size()) : DISPID_PROPERTYPUT;
        auto run = [&](std::vector<Held>& held, bool platform) {
            // rgvarg: positional arguments last first, named ones first.
            std::vector<VARIANT> rgvarg;
            for (unsigned k = 0; k < named; ++k)
                rgvarg.push_back(held[static_cast<size_t>(count - 1 - k)].passed);
            for (unsigned p = count - named; p-- > 0;)
                rgvarg.push_back(held[p].passed);
            DISPPARAMS params{rgvarg.empty() ? nullptr : rgvarg.data(), ids.empty() ? nullptr : ids.data(), count, named};
            Variant result;
            Excep excep;
            UINT arg_err = 12345;
            Outcome o;
            o.hr = platform ? table->Invoke(static_cast<_Registry2*>(object.get()), c.id, flags,
                                            &params, &result, &excep, &arg_err)
                            : object->Invoke(c.id, IID_NULL, 0, flags, &params, &result, &excep,
                                             &arg_err);
            o.result = render(result);
            o.excep = o.hr == DISP_E_EXCEPTION ? std::to_wstring(excep.scode) : L"";
            o.arg_err = o.hr == DISP_E_TYPEMISMATCH || o.hr == DISP_E_PARAMNOTFOUND ||
                                o.hr == DISP_E_OVERFLOW
                            ? std::to_wstring(arg_err)
                            : L"";
            // The arguments as the call left them in rgvarg (a by-value one
            // the callee may not change) and the caller's variables.
            for (unsigned p = 0; p < count; ++p)
                o.written += after(held[p]) + L"|";
            return o;
        };
        const Outcome a = run(ours, false);
        const Outcome b = run(theirs, true);
        for (auto* side : {&ours, &theirs})
            for (Held& h : *side)
                clear(h);
        bool variable_for_typed_reference = false, value_for_reference = false;
        for (unsigned p = 0; p < count && p < c.params.size(); ++p) {
            const VARTYPE given = V_VT(&ours[p].passed);
            if (c.params[p].declared & VT_BYREF) {
                variable_for_typed_reference |= given == (VT_BYREF | VT_VARIANT);
                value_for_reference |= !(given & VT_BYREF);
            }
        }
        bool bad_named_id = false, put_id = false;
        for (DISPID named_id : ids) {
            bad_named_id |= named_id < 0 || named_id >= static_cast<DISPID>(c.params.size());
            put_id |= named_id == DISPID_PROPERTYPUT;
        }
        const bool wrong_count = count > c.params.size() || count < c.required;
        std::string kind;
        if (a.hr != b.hr) {
            if (a.hr == DISP_E_BADPARAMCOUNT && wrong_count && FAILED(b.hr))
                kind = "platform: converts arguments before it counts them";
            else if (b.hr == DISP_E_TYPEMISMATCH && variable_for_typed_reference)
                kind = "platform: refuses a variable for a typed by-reference parameter";
            else if (b.hr == DISP_E_TYPEMISMATCH && value_for_reference)
                kind = "platform: refuses a value for a by-reference parameter";
            else if (a.hr == DISP_E_TYPEMISMATCH && b.hr == DISP_E_BADVARTYPE)
                kind = "platform: DISP_E_BADVARTYPE for a type mismatch";
            else if (a.hr == DISP_E_PARAMNOTFOUND && (bad_named_id || put_id))
                kind = "platform: goes on past a named id that is no parameter";
            else
                kind = "status";
        } else if (a.result != b.result) {
            kind = a.hr == DISP_E_EXCEPTION && a.result == L"0:"
                       ? "platform: a result after the method failed"
                       : "result";
        } else if (a.excep != b.excep) {
            kind = "exception code";
        } else if (a.arg_err != b.arg_err) {
            kind = b.arg_err == L"12345" ? "platform: no argument error" : "argument error";
        } else if (a.written != b.written) {
            kind = "write-back";
        }
        if (kind.empty())
            continue;
        char id[16];
        std::snprintf(id, sizeof id, "%lx", static_cast<unsigned long>(c.id));
        const std::string key = kind.rfind("platform: ", 0) == 0 ? kind : std::string(id) + " " + kind;
        if (!differences[key]++) {
            char line[512];
            std::snprintf(line, sizeof line, "call %u: ours %08lx %s / platform %08lx %s", n,
                          static_cast<unsigned long>(a.hr), narrow(a.result + L" " + a.written + L" " + a.arg_err).c_str(),
                          static_cast<unsigned long>(b.hr), narrow(b.result + L" " + b.written + L" " + b.arg_err).c_str());
            first_seen[key] = line;
        }
    }
    delete_tree(HKEY_CURRENT_USER, area);
    for (HKEY root : roots) {
        EXPECT_TRUE(key_exists(root, canary + L"\\inner")) << "a root lost its canary";
        delete_tree(root, canary);
    }
    unsigned ours = 0;
    for (const auto& [key, times] : differences) {
        const bool platform = key.rfind("platform: ", 0) == 0;
        std::printf("%s %s: %u times, first %s\n", platform ? "known" : "DIFFERENCE", key.c_str(),
                    times, first_seen[key].c_str());
        ours += platform ? 0 : times;
    }
    std::printf("%u calls compared\n", total);
    EXPECT_EQ(ours, 0u) << "calls that differ in a way not listed above";
}

}  // namespace
