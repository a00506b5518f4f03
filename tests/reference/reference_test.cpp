// docs/reference.md against the type library inside the built Tarnwick.dll:
// the method tables (dispatch id, method-table position, parameter names,
// types and directions, result) and the identifiers table (library, classes,
// interfaces, ProgIDs) must say what the library says, in both directions.
#include <gtest/gtest.h>

#include "testkit.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

using testkit::Com;

namespace {

struct Method {
    long dispid = 0;
    int position = 0;
    std::string parameters;  // "`Name` Type dir; ..." or "none"
    std::string result;      // Long, Integer, Boolean, String, Double, Variant or none
};
using Interface = std::map<std::string, Method>;  // by method name

struct Identifier {
    std::string kind, guid, progid;
};

struct Reference {
    std::map<std::string, Interface> interfaces;    // by interface name
    std::map<std::string, Identifier> identifiers;  // by name
};

std::string narrow(const wchar_t* s, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out += static_cast<char>(s[i]);
    return out;
}
std::string narrow(BSTR s)
{
    return s ? narrow(s, SysStringLen(s)) : std::string();
}

std::vector<std::string> cells(const std::string& row)
{
    // "| a | b |" -> {"a", "b"}; "\|" is a literal bar.
    std::vector<std::string> out;
    std::string cell;
    for (size_t i = 1; i < row.size(); ++i) {
        if (row[i] == '\\' && i + 1 < row.size() && row[i + 1] == '|') {
            cell += '|';
            ++i;
        } else if (row[i] == '|') {
            size_t b = cell.find_first_not_of(' '), e = cell.find_last_not_of(' ');
            out.push_back(b == std::string::npos ? "" : cell.substr(b, e - b + 1));
            cell.clear();
        } else {
            cell += row[i];
        }
    }
    return out;
}

std::string unquote(const std::string& s)
{
    return s.size() >= 2 && s.front() == '`' && s.back() == '`' ? s.substr(1, s.size() - 2) : s;
}

// Reads the "### Interface `_X`" tables and the identifiers table.
Reference parse(std::istream& in)
{
    Reference ref;
    std::string line, current, section;
    const std::regex heading("^### Interface `([A-Za-z_0-9]+)`\\s*$");
    std::smatch m;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (std::regex_match(line, m, heading)) {
            current = m[1];
            ref.interfaces[current];
            continue;
        }
        if (line.rfind("## ", 0) == 0) {
            section = line.substr(3);
            current.clear();
            continue;
        }
        if (line.rfind("|", 0) != 0 || line.rfind("|---", 0) == 0)
            continue;
        auto c = cells(line);
        if (!current.empty() && c.size() == 5 && c[0].rfind("0x", 0) == 0) {
            Method method{std::stol(c[0], nullptr, 16), std::stoi(c[1]), c[3], c[4]};
            ref.interfaces[current][unquote(c[2])] = method;
        } else if (section == "Identifiers" && c.size() == 4 && c[0] != "Kind") {
            ref.identifiers[unquote(c[1])] = Identifier{c[0], c[2], unquote(c[3])};
        }
    }
    return ref;
}

std::string type_name(const TYPEDESC& t)
{
    switch (t.vt) {
    case VT_I4:
        return "Long";
    case VT_I2:
        return "Integer";
    case VT_BOOL:
        return "Boolean";
    case VT_BSTR:
        return "String";
    case VT_R8:
        return "Double";
    case VT_VARIANT:
        return "Variant";
    default:
        return "vt" + std::to_string(t.vt);
    }
}

// One method as the reference writes it, made from the type library.
Method describe(ITypeInfo* info, const FUNCDESC* f, std::string* name)
{
    BSTR names[16] = {};
    UINT count = 0;
    info->GetNames(f->memid, names, 16, &count);
    *name = narrow(names[0]);
    Method m;
    m.dispid = f->memid;
    m.position = static_cast<int>(f->oVft / sizeof(void*));
    m.result = "none";
    std::string params;
    for (SHORT i = 0; i < f->cParams; ++i) {
        const ELEMDESC& e = f->lprgelemdescParam[i];
        const USHORT flags = e.paramdesc.wParamFlags;
        const bool by_reference = e.tdesc.vt == VT_PTR;
        const TYPEDESC& t = by_reference ? *e.tdesc.lptdesc : e.tdesc;
        if (flags & PARAMFLAG_FRETVAL) {
            m.result = type_name(t);
            continue;
        }
        std::string direction = (flags & PARAMFLAG_FOUT) ? "in/out" : "in";
        if (flags & PARAMFLAG_FOPT)
            direction += ", optional";
        if (by_reference != ((flags & PARAMFLAG_FOUT) != 0))
            direction += " (mismatched flags)";
        if (!params.empty())
            params += "; ";
        std::string pname = static_cast<UINT>(i + 1) < count ? narrow(names[i + 1]) : "?";
        params += "`" + pname + "` " + type_name(t) + " " + direction;
    }
    m.parameters = params.empty() ? "none" : params;
    for (UINT i = 0; i < count; ++i)
        SysFreeString(names[i]);
    return m;
}

std::string guid_text(const GUID& g)
{
    wchar_t text[40];
    StringFromGUID2(g, text, 40);
    return narrow(text, wcslen(text));
}

class ReferenceDocument : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ifstream in(std::filesystem::path(testkit::env_path("TARNWICK_REFERENCE")));
        ASSERT_TRUE(in.good()) << "cannot read the reference named by TARNWICK_REFERENCE";
        ref = parse(in);
        ASSERT_HRESULT_SUCCEEDED(
            LoadTypeLibEx(testkit::env_path("TARNWICK_DLL").c_str(), REGKIND_NONE, library.put()));
    }

    Reference ref;
    Com<ITypeLib> library;
};

}  // namespace

TEST_F(ReferenceDocument, MethodTablesMatchTheTypeLibrary)
{
    std::map<std::string, Interface> actual;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        Com<ITypeInfo> info;
        ASSERT_HRESULT_SUCCEEDED(library->GetTypeInfo(i, info.put()));
        TYPEATTR* attr = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
        BSTR type_name_b = nullptr;
        library->GetDocumentation(static_cast<INT>(i), &type_name_b, nullptr, nullptr, nullptr);
        const std::string type = narrow(type_name_b);
        SysFreeString(type_name_b);
        if (attr->typekind == TKIND_DISPATCH || attr->typekind == TKIND_INTERFACE) {
            // A dual interface: its interface half has the method table.
            Com<ITypeInfo> vtable = info;
            if (attr->typekind == TKIND_DISPATCH) {
                HREFTYPE href;
                if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &href)))
                    info->GetRefTypeInfo(href, vtable.put());
            }
            TYPEATTR* vattr = nullptr;
            ASSERT_HRESULT_SUCCEEDED(vtable->GetTypeAttr(&vattr));
            Interface& methods = actual[type];
            for (UINT k = 0; k < vattr->cFuncs; ++k) {
                FUNCDESC* f = nullptr;
                ASSERT_HRESULT_SUCCEEDED(vtable->GetFuncDesc(k, &f));
                std::string name;
                Method m = describe(vtable.get(), f, &name);
                methods[name] = m;
                vtable->ReleaseFuncDesc(f);
            }
            vtable->ReleaseTypeAttr(vattr);
        }
        info->ReleaseTypeAttr(attr);
    }

    ASSERT_EQ(actual.size(), 12u);
    for (const auto& [iface, methods] : actual) {
        SCOPED_TRACE("interface " + iface);
        ASSERT_TRUE(ref.interfaces.count(iface)) << "no method table for " << iface;
        const Interface& documented = ref.interfaces.at(iface);
        EXPECT_EQ(documented.size(), methods.size());
        for (const auto& [name, m] : methods) {
            SCOPED_TRACE("method " + name);
            auto it = documented.find(name);
            if (it == documented.end()) {
                ADD_FAILURE() << name << " is not in the reference";
                continue;
            }
            EXPECT_EQ(it->second.dispid, m.dispid);
            EXPECT_EQ(it->second.position, m.position);
            EXPECT_EQ(it->second.parameters, m.parameters);
            EXPECT_EQ(it->second.result, m.result);
        }
        for (const auto& [name, m] : documented)
            EXPECT_TRUE(methods.count(name)) << name << " is in the reference but not in " << iface;
    }
    EXPECT_EQ(ref.interfaces.size(), actual.size()) << "the reference has more interfaces";
}

TEST_F(ReferenceDocument, IdentifiersMatchTheTypeLibrary)
{
    TLIBATTR* lib = nullptr;
    ASSERT_HRESULT_SUCCEEDED(library->GetLibAttr(&lib));
    const std::string libid = guid_text(lib->guid);
    library->ReleaseTLibAttr(lib);
    BSTR name_b = nullptr;
    library->GetDocumentation(-1, &name_b, nullptr, nullptr, nullptr);
    const std::string library_name = narrow(name_b);
    SysFreeString(name_b);

    std::map<std::string, Identifier> actual;
    actual[library_name] = Identifier{"type library", libid, ""};
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        Com<ITypeInfo> info;
        ASSERT_HRESULT_SUCCEEDED(library->GetTypeInfo(i, info.put()));
        TYPEATTR* attr = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
        BSTR type_b = nullptr;
        library->GetDocumentation(static_cast<INT>(i), &type_b, nullptr, nullptr, nullptr);
        const std::string type = narrow(type_b);
        SysFreeString(type_b);
        if (attr->typekind == TKIND_COCLASS)
            actual[type] = Identifier{"class", guid_text(attr->guid), library_name + "." + type};
        else
            actual[type] = Identifier{"interface", guid_text(attr->guid), ""};
        info->ReleaseTypeAttr(attr);
    }

    ASSERT_EQ(actual.size(), 17u);
    EXPECT_EQ(ref.identifiers.size(), actual.size());
    for (const auto& [name, id] : actual) {
        SCOPED_TRACE(name);
        auto it = ref.identifiers.find(name);
        if (it == ref.identifiers.end()) {
            ADD_FAILURE() << name << " is not in the identifiers table";
            continue;
        }
        EXPECT_EQ(it->second.kind, id.kind);
        EXPECT_EQ(it->second.guid, id.guid);
        EXPECT_EQ(it->second.progid, id.progid);
    }
}

// The parser itself: a table that differs from the library must be noticed,
// so a reference it cannot read does not pass by saying nothing.
TEST(ReferenceParser, ReadsMethodRowsAndIdentifierRows)
{
    std::istringstream text(
        "## Method tables\n"
        "### Interface `_Time`\n"
        "| Dispatch id | Position | Method | Parameters | Result |\n"
        "|---|---|---|---|---|\n"
        "| 0x60030001 | 8 | `CurrentLocalTime` | `a` Long in; `b` String in/out | String |\n"
        "## Identifiers\n"
        "| Kind | Name | Identifier | ProgID |\n"
        "|---|---|---|---|\n"
        "| class | `Time` | {X} | `TarnwickDLL.Time` |\n");
    Reference ref = parse(text);
    ASSERT_EQ(ref.interfaces.size(), 1u);
    const Method& m = ref.interfaces["_Time"]["CurrentLocalTime"];
    EXPECT_EQ(m.dispid, 0x60030001);
    EXPECT_EQ(m.position, 8);
    EXPECT_EQ(m.parameters, "`a` Long in; `b` String in/out");
    EXPECT_EQ(m.result, "String");
    ASSERT_EQ(ref.identifiers.size(), 1u);
    EXPECT_EQ(ref.identifiers["Time"].progid, "TarnwickDLL.Time");
    EXPECT_EQ(ref.identifiers["Time"].kind, "class");
}
