// The type library inside the built Tarnwick.dll, read back through the
// platform's type-library reader and, for what that reader reports in its
// own way, from the stored bytes themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "contract.h"

namespace contract {
namespace {

constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
constexpr WORD kInterfaceFlags = 0x11D0;  // hidden, dual, nonextensible, automation, dispatchable
// {00020430-0000-0000-C000-000000000046}: the standard automation library.
constexpr GUID kStdOle = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class ContractTypeLib : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(apartment_.hr, S_OK);
        ASSERT_EQ(LoadTypeLibEx(library_path().c_str(), REGKIND_NONE, lib_.put()), S_OK)
            << narrow(library_path());
    }

    Com<ITypeInfo> info(UINT index)
    {
        Com<ITypeInfo> ti;
        EXPECT_EQ(lib_->GetTypeInfo(index, ti.put()), S_OK);
        return ti;
    }
    // The method-table side of a dual interface.
    static Com<ITypeInfo> vtable_side(ITypeInfo* dispatch)
    {
        HREFTYPE ref;
        Com<ITypeInfo> out;
        if (SUCCEEDED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)))
            dispatch->GetRefTypeInfo(ref, out.put());
        return out;
    }

    testkit::Apartment apartment_;
    Com<ITypeLib> lib_;
};

struct Attr {
    explicit Attr(ITypeInfo* ti) : ti_(ti) { ti->GetTypeAttr(&a); }
    ~Attr()
    {
        if (a)
            ti_->ReleaseTypeAttr(a);
    }
    TYPEATTR* operator->() const { return a; }
    ITypeInfo* ti_;
    TYPEATTR* a = nullptr;
};

struct Func {
    Func(ITypeInfo* ti, UINT index) : ti_(ti) { ti->GetFuncDesc(index, &f); }
    ~Func()
    {
        if (f)
            ti_->ReleaseFuncDesc(f);
    }
    FUNCDESC* operator->() const { return f; }
    ITypeInfo* ti_;
    FUNCDESC* f = nullptr;
};

TEST_F(ContractTypeLib, LibraryAttributes)
{
    TLIBATTR* a;
    ASSERT_EQ(lib_->GetLibAttr(&a), S_OK);
    EXPECT_EQ(a->guid, LIBID_TarnwickDLL);
    EXPECT_EQ(a->lcid, 0u);
    EXPECT_EQ(a->syskind, kSysKind);
    EXPECT_EQ(a->wMajorVerNum, 1);
    EXPECT_EQ(a->wMinorVerNum, 2);
    // The reader adds "has a disk image" for a library loaded from a file.
    EXPECT_EQ(a->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0);
    lib_->ReleaseTLibAttr(a);

    Bstr name, doc, help_file;
    DWORD context = 99;
    ASSERT_EQ(lib_->GetDocumentation(-1, name.put(), doc.put(), &context, help_file.put()), S_OK);
    EXPECT_EQ(name.str(), L"TarnwickDLL");
    EXPECT_EQ(doc.str(), L"Merrow's Utilities Dynamic Link Library");
    EXPECT_EQ(context, 0u);
    EXPECT_EQ(help_file.str(), L"");
}

// The types in library order: each class's interfaces, oldest first, then
// the class.
struct TypeRef {
    const wchar_t* name;
    const GUID* guid;
    bool is_class;
};
std::vector<TypeRef> types_in_order()
{
    std::vector<TypeRef> out;
    for (const ClassRef* c : kClassRefs) {
        for (const IfaceRef& i : c->interfaces())
            out.push_back({i.name, i.iid, false});
        out.push_back({c->name, c->clsid, true});
    }
    return out;
}

TEST_F(ContractTypeLib, TypesInOrder)
{
    const std::vector<TypeRef> types = types_in_order();
    ASSERT_EQ(lib_->GetTypeInfoCount(), types.size());
    ASSERT_EQ(types.size(), 16u);
    for (UINT i = 0; i < types.size(); ++i) {
        const bool is_class = types[i].is_class;
        SCOPED_TRACE(i);
        Bstr name, doc;
        DWORD context = 99;
        ASSERT_EQ(
            lib_->GetDocumentation(static_cast<INT>(i), name.put(), doc.put(), &context, nullptr),
            S_OK);
        EXPECT_EQ(name.str(), types[i].name);
        EXPECT_EQ(doc.str(), L"") << "no help strings";
        EXPECT_EQ(context, 0u);
        TYPEKIND kind;
        ASSERT_EQ(lib_->GetTypeInfoType(i, &kind), S_OK);
        EXPECT_EQ(kind, is_class ? TKIND_COCLASS : TKIND_DISPATCH);
        Attr a(info(i).get());
        ASSERT_TRUE(a.a);
        EXPECT_EQ(a->guid, *types[i].guid);
    }
}

TEST_F(ContractTypeLib, DualInterfaces)
{
    for (const ClassRef* each : kClassRefs) {
        const ClassRef& c = *each;
        SCOPED_TRACE(narrow(c.iface));
        Com<ITypeInfo> dispatch;
        ASSERT_EQ(lib_->GetTypeInfoOfGuid(*c.iid, dispatch.put()), S_OK);
        {
            Attr a(dispatch.get());
            EXPECT_EQ(a->typekind, TKIND_DISPATCH);
            // The reader leaves "automation" out of the dispatch view of a dual
            // interface; the stored flags are checked in StoredFlags below.
            EXPECT_EQ(a->wTypeFlags | TYPEFLAG_FOLEAUTOMATION, kInterfaceFlags);
            EXPECT_EQ(a->wMajorVerNum, 1);
            EXPECT_EQ(a->wMinorVerNum, 0);
            EXPECT_EQ(a->cImplTypes, 1);
            EXPECT_EQ(a->cVars, 0);
        }
        auto vt = vtable_side(dispatch.get());
        ASSERT_TRUE(vt);
        Attr a(vt.get());
        EXPECT_EQ(a->typekind, TKIND_INTERFACE);
        EXPECT_EQ(a->wTypeFlags, kInterfaceFlags);
        EXPECT_EQ(a->guid, *c.iid);
        EXPECT_EQ(a->wMajorVerNum, 1);
        EXPECT_EQ(a->wMinorVerNum, 0);
        EXPECT_EQ(a->cbSizeVft, vtable_entries(c, *c.iid) * sizeof(void*));
        EXPECT_EQ(a->cFuncs, methods_declared_by(*c.iid).size());
        EXPECT_EQ(a->cVars, 0);
        EXPECT_EQ(a->lcid, 0u);

        // Derived from IDispatch of the standard automation library 2.0.
        ASSERT_EQ(a->cImplTypes, 1);
        HREFTYPE ref;
        ASSERT_EQ(vt->GetRefTypeOfImplType(0, &ref), S_OK);
        Com<ITypeInfo> base;
        ASSERT_EQ(vt->GetRefTypeInfo(ref, base.put()), S_OK);
        Attr b(base.get());
        EXPECT_EQ(b->guid, IID_IDispatch);
        Com<ITypeLib> container;
        UINT index;
        ASSERT_EQ(base->GetContainingTypeLib(container.put(), &index), S_OK);
        TLIBATTR* la;
        ASSERT_EQ(container->GetLibAttr(&la), S_OK);
        EXPECT_EQ(la->guid, kStdOle);
        EXPECT_EQ(la->wMajorVerNum, 2);
        EXPECT_EQ(la->wMinorVerNum, 0);
        container->ReleaseTLibAttr(la);
    }
}

// Each class names its newest interface as the default and still lists the
// 1.0 one after it.
TEST_F(ContractTypeLib, ClassesCreatableWithTheNewestInterfaceAsDefault)
{
    for (const ClassRef* each : kClassRefs) {
        const ClassRef& c = *each;
        SCOPED_TRACE(narrow(c.name));
        Com<ITypeInfo> ti;
        ASSERT_EQ(lib_->GetTypeInfoOfGuid(*c.clsid, ti.put()), S_OK);
        Attr a(ti.get());
        EXPECT_EQ(a->typekind, TKIND_COCLASS);
        EXPECT_EQ(a->wTypeFlags, TYPEFLAG_FCANCREATE);
        EXPECT_EQ(a->wMajorVerNum, 1);
        EXPECT_EQ(a->wMinorVerNum, 0);
        // The newest interface first, as the default, then the older ones.
        const std::vector<IfaceRef> oldest_first = c.interfaces();
        std::vector<std::pair<const IID*, INT>> listed;
        for (auto i = oldest_first.rbegin(); i != oldest_first.rend(); ++i)
            listed.push_back({i->iid, listed.empty() ? IMPLTYPEFLAG_FDEFAULT : 0});
        ASSERT_EQ(static_cast<size_t>(a->cImplTypes), listed.size());
        for (UINT k = 0; k < listed.size(); ++k) {
            INT flags = -1;
            ASSERT_EQ(ti->GetImplTypeFlags(k, &flags), S_OK);
            EXPECT_EQ(flags, listed[k].second);
            HREFTYPE ref;
            ASSERT_EQ(ti->GetRefTypeOfImplType(k, &ref), S_OK);
            Com<ITypeInfo> iface;
            ASSERT_EQ(ti->GetRefTypeInfo(ref, iface.put()), S_OK);
            Attr i(iface.get());
            EXPECT_EQ(i->guid, *listed[k].first);
        }
    }
}

VARTYPE type_of(const TYPEDESC& t);

// The interfaces of later releases: each a dual interface derived from its
// class's one before, with the same flags, whose methods continue the class's
// dispatch identifiers and method table.
struct MethodShape {
    const wchar_t* name;
    std::vector<std::pair<const wchar_t*, VARTYPE>> params;  // optional ones last
    unsigned optional;
    VARTYPE result;
};
struct Extension {
    const IID* iid;
    const IID* base;
    unsigned base_methods;  // in the method table after IDispatch's seven
    MEMBERID first_id;
    std::vector<MethodShape> methods;
};

TEST_F(ContractTypeLib, NewInterfacesExtendTheFirst)
{
    const std::vector<Extension> extensions = {
        {&IID__Registry2, &IID__Registry, 6, 0x60030007, {
            {L"RegReadValue", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"ValueName", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_VARIANT},
            {L"RegWriteValue", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"ValueName", VT_BSTR}, {L"Value", VT_VARIANT}, {L"ValueType", VT_VARIANT}, {L"View", VT_VARIANT}}, 2, VT_BOOL},
            {L"RegDeleteValue", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"ValueName", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_BOOL},
            {L"RegDeleteKey", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"Recursive", VT_VARIANT}, {L"View", VT_VARIANT}}, 2, VT_BOOL},
            {L"RegEnumKeys", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_VARIANT},
            {L"RegEnumValues", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_VARIANT},
            {L"RegValueType", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"ValueName", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_BSTR},
            {L"RegKeyExists", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_BOOL},
            {L"RegValueExists", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"ValueName", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_BOOL},
        }},
        {&IID__Registry3, &IID__Registry2, 15, 0x60030010, {
            {L"RegExportKey", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"Path", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_BOOL},
            {L"RegImportFile", {{L"Path", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_I4},
            {L"RegCopyKey", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"ToRootKey", VT_VARIANT}, {L"ToSubKey", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_BOOL},
            {L"RegFind", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"Pattern", VT_BSTR}, {L"Where", VT_VARIANT}, {L"View", VT_VARIANT}}, 2, VT_VARIANT},
            {L"RegKeyLastWrite", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_BSTR},
            {L"RegCheckAccess", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"Access", VT_VARIANT}, {L"View", VT_VARIANT}}, 1, VT_BOOL},
            {L"RegGetSecurity", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_BSTR},
            {L"RegSetSecurity", {{L"RootKey", VT_VARIANT}, {L"SubKey", VT_BSTR}, {L"Sddl", VT_BSTR}, {L"View", VT_VARIANT}}, 1, VT_BOOL},
        }},
        {&IID__WindowsInfo2, &IID__WindowsInfo, 5, 0x60030005, {
            {L"GetOSName", {}, 0, VT_BSTR},
            {L"GetOSVersion", {}, 0, VT_BSTR},
            {L"GetOSDisplayVersion", {}, 0, VT_BSTR},
            {L"GetOSArchitecture", {}, 0, VT_BSTR},
            {L"GetProcessArchitecture", {}, 0, VT_BSTR},
            {L"GetUserDefaultBrowserPath", {}, 0, VT_BSTR},
        }},
        {&IID__Time2, &IID__Time, 2, 0x60030002, {
            {L"CurrentUTCTimestamp", {}, 0, VT_BSTR},
            {L"CurrentLocalTimestamp", {}, 0, VT_BSTR},
            {L"CurrentUnixTime", {}, 0, VT_R8},
        }},
        {&IID__Reboot2, &IID__Reboot, 1, 0x60030004, {
            {L"ScheduleReboot", {{L"Seconds", VT_I4}, {L"Message", VT_BSTR}, {L"Force", VT_VARIANT}}, 1, VT_I2},
            {L"AbortReboot", {}, 0, VT_I2},
        }},
        {&IID__WindowsInfo3, &IID__WindowsInfo2, 11, 0x6003000B, {
            {L"GetComputerName", {{L"Format", VT_VARIANT}}, 1, VT_BSTR},
            {L"GetUserName", {{L"Format", VT_VARIANT}}, 1, VT_BSTR},
            {L"GetDomainName", {}, 0, VT_BSTR},
            {L"IsDomainJoined", {}, 0, VT_BOOL},
            {L"GetInstalledPrograms", {{L"Scope", VT_VARIANT}}, 1, VT_VARIANT},
        }},
        {&IID__Time3, &IID__Time2, 5, 0x60030005, {
            {L"GetBootTimestamp", {}, 0, VT_BSTR},
            {L"GetUptime", {}, 0, VT_R8},
        }},
        {&IID__Reboot3, &IID__Reboot2, 3, 0x60030006, {
            {L"GetRebootPending", {}, 0, VT_VARIANT},
            {L"IsRebootPending", {}, 0, VT_BOOL},
        }},
    };
    for (const Extension& x : extensions) {
        Com<ITypeInfo> dispatch;
        ASSERT_EQ(lib_->GetTypeInfoOfGuid(*x.iid, dispatch.put()), S_OK);
        auto vt = vtable_side(dispatch.get());
        ASSERT_TRUE(vt);
        Attr a(vt.get());
        EXPECT_EQ(a->typekind, TKIND_INTERFACE);
        EXPECT_EQ(a->wTypeFlags, kInterfaceFlags);
        EXPECT_EQ(a->cFuncs, x.methods.size());
        EXPECT_EQ(a->cbSizeVft, (7 + x.base_methods + x.methods.size()) * sizeof(void*));
        ASSERT_EQ(a->cImplTypes, 1);
        HREFTYPE ref;
        ASSERT_EQ(vt->GetRefTypeOfImplType(0, &ref), S_OK);
        Com<ITypeInfo> base;
        ASSERT_EQ(vt->GetRefTypeInfo(ref, base.put()), S_OK);
        EXPECT_EQ(Attr(base.get())->guid, *x.base);
        for (UINT i = 0; i < x.methods.size(); ++i) {
            const MethodShape& m = x.methods[i];
            SCOPED_TRACE(narrow(m.name));
            Func f(vt.get(), i);
            ASSERT_TRUE(f.f);
            EXPECT_EQ(f->memid, static_cast<MEMBERID>(x.first_id + i));
            EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + x.base_methods + i) * sizeof(void*)));
            ASSERT_EQ(static_cast<size_t>(f->cParams), m.params.size() + 1);
            BSTR names[8] = {};
            UINT n = 0;
            ASSERT_EQ(vt->GetNames(f->memid, names, 8, &n), S_OK);
            EXPECT_EQ(std::wstring(names[0]), m.name);
            for (size_t p = 0; p < m.params.size(); ++p) {
                SCOPED_TRACE(narrow(m.params[p].first));
                const ELEMDESC& e = f->lprgelemdescParam[p];
                const bool optional = p >= m.params.size() - m.optional;
                EXPECT_EQ(std::wstring(names[p + 1] ? names[p + 1] : L""), m.params[p].first);
                EXPECT_EQ(type_of(e.tdesc), m.params[p].second);
                EXPECT_EQ(e.paramdesc.wParamFlags, optional ? PARAMFLAG_FIN | PARAMFLAG_FOPT : PARAMFLAG_FIN);
            }
            for (BSTR b : names)
                SysFreeString(b);
            const ELEMDESC& r = f->lprgelemdescParam[m.params.size()];
            EXPECT_EQ(r.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
            EXPECT_EQ(type_of(r.tdesc), m.result | VT_BYREF);
        }
    }
}

// ---------------------------------------------------------------- methods

VARTYPE type_of(const TYPEDESC& t)
{
    if (t.vt == VT_PTR && t.lptdesc)
        return static_cast<VARTYPE>(t.lptdesc->vt | VT_BYREF);
    return t.vt;
}

TEST_F(ContractTypeLib, EveryMethodOfTheMethodTableSide)
{
    struct Interface {
        const ClassRef* cls;
        const IID* iid;
        const wchar_t* name;
    };
    std::vector<Interface> interfaces;
    for (const ClassRef* c : kClassRefs) {
        for (const IfaceRef& i : c->interfaces())
            interfaces.push_back({c, i.iid, i.name});
    }
    for (const auto& [cls, iid, name] : interfaces) {
        SCOPED_TRACE(narrow(name));
        Com<ITypeInfo> dispatch;
        ASSERT_EQ(lib_->GetTypeInfoOfGuid(*iid, dispatch.put()), S_OK);
        auto vt = vtable_side(dispatch.get());
        ASSERT_TRUE(vt);
        // The table lists each interface's methods in method-table order,
        // after those of the interfaces it derives from.
        const std::vector<const Method*> declared = methods_declared_by(*iid);
        const unsigned first = vtable_entries(*cls, *iid) - static_cast<unsigned>(declared.size());
        unsigned index = 0;
        for (const Method* each_method : declared) {
            const Method& m = *each_method;
            SCOPED_TRACE(narrow(m.name));
            const unsigned position = first + index;
            Func f(vt.get(), index++);
            ASSERT_TRUE(f.f);
            EXPECT_EQ(f->memid, m.id);
            EXPECT_EQ(f->oVft, static_cast<SHORT>(position * sizeof(void*)));
            EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
            EXPECT_EQ(f->invkind, INVOKE_FUNC);
            EXPECT_EQ(f->callconv, CC_STDCALL);
            EXPECT_EQ(f->wFuncFlags, 0);
            EXPECT_EQ(f->cParamsOpt, static_cast<SHORT>(m.count() - m.required()));
            EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
            const size_t count = m.params.size() + (m.result != VT_EMPTY ? 1 : 0);
            ASSERT_EQ(static_cast<size_t>(f->cParams), count);
            for (size_t p = 0; p < m.params.size(); ++p) {
                SCOPED_TRACE(narrow(m.params[p].name));
                const ELEMDESC& e = f->lprgelemdescParam[p];
                // In/out exactly when passed by reference; optional as the table says.
                EXPECT_EQ(e.paramdesc.wParamFlags,
                          (m.by_ref(p) ? PARAMFLAG_FIN | PARAMFLAG_FOUT : PARAMFLAG_FIN) |
                              (m.params[p].optional ? PARAMFLAG_FOPT : 0));
                EXPECT_EQ(type_of(e.tdesc), m.params[p].type);
            }
            if (m.result != VT_EMPTY) {
                const ELEMDESC& e = f->lprgelemdescParam[count - 1];
                EXPECT_EQ(e.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
                EXPECT_EQ(type_of(e.tdesc), m.result | VT_BYREF);
            }

            // Names: the method, its parameters, and nothing for the result.
            BSTR names[8] = {};
            UINT n = 0;
            ASSERT_EQ(vt->GetNames(m.id, names, 8, &n), S_OK);
            ASSERT_GE(n, 1u + m.params.size());
            EXPECT_EQ(std::wstring(names[0]), m.name);
            for (size_t p = 0; p < m.params.size(); ++p)
                EXPECT_EQ(std::wstring(names[p + 1] ? names[p + 1] : L""), m.params[p].name);
            if (n > 1 + m.params.size()) {
                EXPECT_EQ(SysStringLen(names[n - 1]), 0u) << "the result carries a name";
            }
            EXPECT_LE(n, count + 1);
            for (BSTR b : names)
                SysFreeString(b);

            Bstr doc;
            DWORD context = 99;
            ASSERT_EQ(vt->GetDocumentation(m.id, nullptr, doc.put(), &context, nullptr), S_OK);
            EXPECT_EQ(doc.str(), L"");
            EXPECT_EQ(context, 0u);
        }
        Attr a(vt.get());
        EXPECT_EQ(static_cast<unsigned>(a->cFuncs), index) << "methods beyond the public ones";
    }
}

// Late-bound view: names map to the fixed dispatch identifiers; the private
// methods are not there.
TEST_F(ContractTypeLib, DispatchIdentifiersByName)
{
    for (const Method& m : methods()) {
        SCOPED_TRACE(narrow(m.name));
        Com<ITypeInfo> dispatch;
        ASSERT_EQ(lib_->GetTypeInfoOfGuid(*m.iid, dispatch.put()), S_OK);
        std::vector<LPOLESTR> names{const_cast<LPOLESTR>(m.name)};
        for (const auto& p : m.params)
            names.push_back(const_cast<LPOLESTR>(p.name));
        std::vector<MEMBERID> ids(names.size(), 0);
        ASSERT_EQ(
            dispatch->GetIDsOfNames(names.data(), static_cast<UINT>(names.size()), ids.data()),
            S_OK);
        EXPECT_EQ(ids[0], m.id);
        for (size_t p = 1; p < ids.size(); ++p)
            EXPECT_EQ(ids[p], static_cast<MEMBERID>(p - 1));
    }
    for (const auto& [iface, name] :
         {std::pair{&IID__Registry, L"RootKeyFromName"}, std::pair{&IID__Reboot, L"RestartWindows"},
          std::pair{&IID__Reboot, L"IsWindowsNT"}, std::pair{&IID__Reboot, L"GetPlatformId"}}) {
        SCOPED_TRACE(narrow(name));
        Com<ITypeInfo> dispatch;
        ASSERT_EQ(lib_->GetTypeInfoOfGuid(*iface, dispatch.put()), S_OK);
        LPOLESTR n = const_cast<LPOLESTR>(name);
        MEMBERID id = 0;
        EXPECT_EQ(dispatch->GetIDsOfNames(&n, 1, &id), DISP_E_UNKNOWNNAME);
    }
}

// The same through objects of the library, loaded by path.
TEST_F(ContractTypeLib, ObjectsAnswerNamesFromTheTypeLibrary)
{
    HMODULE module = LoadLibraryW(library_path().c_str());
    ASSERT_TRUE(module);
    auto get_class_object = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ASSERT_TRUE(get_class_object);
    auto object = [&](REFCLSID clsid) {
        Com<IClassFactory> f;
        Com<IDispatch> d;
        if (SUCCEEDED(
                get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(f.put()))))
            f->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(d.put()));
        return d;
    };
    auto registry = object(CLSID_Registry);
    auto reboot = object(CLSID_Reboot);
    ASSERT_TRUE(registry && reboot);
    const struct {
        IDispatch* d;
        const wchar_t* name;
        HRESULT hr;
        DISPID id;
    } cases[] = {
        {registry.get(), L"QueryRegValue", S_OK, 0x60030002},
        {registry.get(), L"queryregvalue", S_OK, 0x60030002},  // names ignore case
        {registry.get(), L"RegCreateKey", S_OK, 0x60030006},
        {registry.get(), L"RootKeyFromName", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
        {reboot.get(), L"Reboot", S_OK, 0x60030000},
        {reboot.get(), L"RestartWindows", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
        {registry.get(), L"RegReadValue", S_OK, 0x60030007},
        {registry.get(), L"regvalueexists", S_OK, 0x6003000F},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.name));
        LPOLESTR n = const_cast<LPOLESTR>(c.name);
        DISPID id = 12345;
        EXPECT_EQ(c.d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id), c.hr);
        EXPECT_EQ(id, c.id);
    }
    UINT count = 0;
    EXPECT_EQ(registry->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    Com<ITypeInfo> ti;
    ASSERT_EQ(registry->GetTypeInfo(0, 0, ti.put()), S_OK);
    Attr a(ti.get());
    EXPECT_EQ(a->guid, IID__Registry3);
}

// ---------------------------------------------------------------- stored bytes

// The type library exactly as the file stores it (resource "TYPELIB" 1).
std::string stored_type_library()
{
    HMODULE m = LoadLibraryExW(library_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!m)
        return {};
    std::string out;
    if (HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(1), L"TYPELIB")) {
        const void* p = LockResource(LoadResource(m, r));
        out.assign(static_cast<const char*>(p), SizeofResource(m, r));
    }
    FreeLibrary(m);
    return out;
}

int32_t at(const std::string& d, size_t offset)
{
    int32_t v = 0;
    if (offset + 4 <= d.size())
        std::memcpy(&v, d.data() + offset, 4);
    return v;
}
int16_t at16(const std::string& d, size_t offset)
{
    int16_t v = 0;
    if (offset + 2 <= d.size())
        std::memcpy(&v, d.data() + offset, 2);
    return v;
}

// Header, type flags and result-parameter names as stored, where the reader
// reports its own view (flags of the dispatch side, a loaded library's
// flags) or could hide a stored name.
TEST(ContractStoredTypeLib, HeaderFlagsAndUnnamedResults)
{
    const std::string d = stored_type_library();
    ASSERT_GT(d.size(), 0x54u);
    ASSERT_EQ(d.substr(0, 4), "MSFT");
    EXPECT_EQ(at(d, 0x0C), 0) << "locale";
    EXPECT_EQ(at(d, 0x14) & 0xF, kSysKind) << "target";
    EXPECT_EQ(at(d, 0x1C), 0) << "library flags";
    const int32_t count = at(d, 0x20);
    const std::vector<TypeRef> types = types_in_order();
    ASSERT_EQ(count, static_cast<int32_t>(types.size()));
    const size_t offsets = 0x54 + ((at(d, 0x14) & 0x100) ? 4 : 0);
    const size_t typeinfos = static_cast<size_t>(at(d, offsets + 4 * count));

    int results = 0;
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const size_t base = typeinfos + static_cast<size_t>(at(d, offsets + 4 * i));
        const int32_t flags = types[static_cast<size_t>(i)].is_class ? int32_t{TYPEFLAG_FCANCREATE}
                                                                     : int32_t{kInterfaceFlags};
        EXPECT_EQ(at(d, base + 0x30), flags) << "flags";
        EXPECT_EQ(at(d, base + 0x38), 1) << "version 1.0";
        const int functions = at(d, base + 0x18) & 0xFFFF;
        size_t record = static_cast<size_t>(at(d, base + 0x04)) + 4;
        for (int f = 0; f < functions; ++f) {
            const size_t length = static_cast<size_t>(at(d, record) & 0xFFFF);
            const int arguments = at16(d, record + 20);
            for (int a = 0; a < arguments; ++a) {
                const size_t param = record + length - static_cast<size_t>(arguments - a) * 12;
                if (at(d, param + 8) & PARAMFLAG_FRETVAL) {
                    ++results;
                    EXPECT_EQ(at(d, param + 4), -1) << "result of function " << f << " has a name";
                }
            }
            record += length;
        }
    }
    EXPECT_EQ(results, 13 + 9 + 11 + 8 + 9) << "one result per method that has one";
}

}  // namespace
}  // namespace contract
