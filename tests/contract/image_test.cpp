// The file Tarnwick.dll as others see it: exports and imports read from the
// image bytes, the resources read through the resource functions, and the
// version block through the version functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "contract.h"
#include "declared.h"

namespace contract {
namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// A minimal reader of the image file's headers, sections and directories.
class Image {
public:
    explicit Image(const std::wstring& path)
    {
        std::ifstream f(narrow(path), std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        if (bytes_.size() < 0x40 || bytes_.substr(0, 2) != "MZ")
            return;
        nt_ = u32(0x3C);
        if (bytes_.substr(nt_, 4) != std::string("PE\0\0", 4))
            return;
        machine_ = u16(nt_ + 4);
        sections_ = u16(nt_ + 6);
        characteristics_ = u16(nt_ + 22);
        const size_t optional = nt_ + 24;
        magic_ = u16(optional);
        directories_ = optional + (magic_ == 0x20B ? 112 : 96);
        section_table_ = optional + u16(nt_ + 20);
        ok_ = true;
    }

    bool ok() const { return ok_; }
    WORD machine() const { return machine_; }
    WORD magic() const { return magic_; }
    WORD characteristics() const { return characteristics_; }

    // Directory entry `index`: its address and size.
    std::pair<DWORD, DWORD> directory(unsigned index) const
    {
        return {u32(directories_ + 8 * index), u32(directories_ + 8 * index + 4)};
    }
    // File offset of an address, or 0 when no section holds it.
    size_t offset(DWORD rva) const
    {
        for (unsigned i = 0; i < sections_; ++i) {
            const size_t s = section_table_ + 40 * i;
            const DWORD va = u32(s + 12), size = std::max(u32(s + 8), u32(s + 16)),
                        raw = u32(s + 20);
            if (rva >= va && rva < va + size)
                return raw + (rva - va);
        }
        return 0;
    }
    std::string text_at(DWORD rva) const
    {
        const size_t o = offset(rva);
        return o ? std::string(bytes_.c_str() + o) : std::string();
    }
    DWORD u32(size_t o) const
    {
        DWORD v = 0;
        if (o + 4 <= bytes_.size())
            std::memcpy(&v, bytes_.data() + o, 4);
        return v;
    }
    WORD u16(size_t o) const
    {
        WORD v = 0;
        if (o + 2 <= bytes_.size())
            std::memcpy(&v, bytes_.data() + o, 2);
        return v;
    }

private:
    std::string bytes_;
    bool ok_ = false;
    size_t nt_ = 0, directories_ = 0, section_table_ = 0;
    WORD machine_ = 0, sections_ = 0, characteristics_ = 0, magic_ = 0;
};

// The machine of the target this test is built for, as the library's must be.
#if defined(__aarch64__)
constexpr WORD kMachine = IMAGE_FILE_MACHINE_ARM64;
#elif defined(__x86_64__)
constexpr WORD kMachine = IMAGE_FILE_MACHINE_AMD64;
#else
constexpr WORD kMachine = IMAGE_FILE_MACHINE_I386;
#endif

TEST(ContractImage, ExactlyFourExportsAtOrdinalsOneToFour)
{
    Image image(library_path());
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.machine(), kMachine);
    EXPECT_EQ(image.magic(), sizeof(void*) == 8 ? 0x20B : 0x10B);
    EXPECT_TRUE(image.characteristics() & IMAGE_FILE_DLL);

    const auto [rva, size] = image.directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    const size_t dir = image.offset(rva);
    ASSERT_NE(dir, 0u);
    EXPECT_EQ(image.text_at(image.u32(dir + 12)), "Tarnwick.dll");
    const DWORD base = image.u32(dir + 16);
    const DWORD functions = image.u32(dir + 20);
    const DWORD names = image.u32(dir + 24);
    EXPECT_EQ(base, 1u);
    ASSERT_EQ(functions, 4u);
    ASSERT_EQ(names, 4u);
    const size_t addresses = image.offset(image.u32(dir + 28));
    const size_t name_table = image.offset(image.u32(dir + 32));
    const size_t ordinal_table = image.offset(image.u32(dir + 36));
    std::map<DWORD, std::string> by_ordinal;
    for (DWORD i = 0; i < names; ++i) {
        const WORD index = image.u16(ordinal_table + 2 * i);
        by_ordinal[base + index] = image.text_at(image.u32(name_table + 4 * i));
        const DWORD target = image.u32(addresses + 4 * index);
        EXPECT_NE(target, 0u);
        EXPECT_FALSE(target >= rva && target < rva + size) << "forwarded export";
    }
    const std::map<DWORD, std::string> expected = {{1, "DllCanUnloadNow"},
                                                   {2, "DllGetClassObject"},
                                                   {3, "DllRegisterServer"},
                                                   {4, "DllUnregisterServer"}};
    EXPECT_EQ(by_ordinal, expected);

    // The loader agrees.
    HMODULE m = LoadLibraryW(library_path().c_str());
    ASSERT_TRUE(m);
    for (const auto& [ordinal, name] : expected)
        EXPECT_EQ(GetProcAddress(m, name.c_str()), GetProcAddress(m, MAKEINTRESOURCEA(ordinal)))
            << name;
}

// Only system libraries; every declared function is bound by name at run
// time, so none of them is in the import table, except the three that the
// C runtime imports for itself.
TEST(ContractImage, ImportsOnlySystemLibraries)
{
    Image image(library_path());
    ASSERT_TRUE(image.ok());
    const std::set<std::string> system = {"kernel32.dll", "msvcrt.dll",   "ole32.dll",
                                          "oleaut32.dll", "advapi32.dll", "user32.dll"};
    std::set<std::string> bound_at_run_time;
    for (const Declared& d : kDeclared)
        bound_at_run_time.insert(d.function);
    for (const char* runtime : {"CloseHandle", "GetCurrentProcess", "GetSystemTimeAsFileTime"})
        bound_at_run_time.erase(runtime);
    const auto [rva, size] = image.directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    size_t d = image.offset(rva);
    ASSERT_NE(d, 0u);
    std::vector<std::string> libraries;
    for (; image.u32(d + 12) != 0; d += 20) {
        const std::string library = lower(image.text_at(image.u32(d + 12)));
        libraries.push_back(library);
        EXPECT_TRUE(system.count(library)) << "imports " << library;
        const DWORD lookup = image.u32(d) ? image.u32(d) : image.u32(d + 16);
        const size_t step = sizeof(void*);
        for (size_t t = image.offset(lookup);; t += step) {
            const unsigned long long entry =
                step == 8 ? (static_cast<unsigned long long>(image.u32(t + 4)) << 32) | image.u32(t)
                          : image.u32(t);
            if (entry == 0)
                break;
            const bool by_ordinal = step == 8 ? (entry >> 63) != 0 : (entry >> 31) != 0;
            if (by_ordinal)
                continue;
            const std::string function = image.text_at(static_cast<DWORD>(entry) + 2);
            EXPECT_FALSE(bound_at_run_time.count(function)) << library << " " << function;
        }
    }
    EXPECT_FALSE(libraries.empty());
    EXPECT_EQ(std::count(libraries.begin(), libraries.end(), "advapi32.dll"), 0);
    EXPECT_EQ(std::count(libraries.begin(), libraries.end(), "user32.dll"), 0);
}

// ---------------------------------------------------------------- resources

class ContractResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExW(library_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(module_);
    }
    void TearDown() override
    {
        if (module_)
            FreeLibrary(module_);
    }

    std::vector<WORD> languages(const wchar_t* type, const wchar_t* name)
    {
        std::vector<WORD> out;
        EnumResourceLanguagesW(module_, type, name, &collect, reinterpret_cast<LONG_PTR>(&out));
        return out;
    }
    static BOOL CALLBACK collect(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list)
    {
        reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
        return TRUE;
    }
    std::string data(const wchar_t* type, WORD language)
    {
        HRSRC r = FindResourceExW(module_, type, MAKEINTRESOURCEW(1), language);
        if (!r)
            return {};
        const void* p = LockResource(LoadResource(module_, r));
        return std::string(static_cast<const char*>(p), SizeofResource(module_, r));
    }

    HMODULE module_ = nullptr;
};

TEST_F(ContractResources, TypeLibraryIsLanguageNeutral)
{
    EXPECT_EQ(languages(L"TYPELIB", MAKEINTRESOURCEW(1)), std::vector<WORD>{0});
    const std::string tlb = data(L"TYPELIB", 0);
    ASSERT_GE(tlb.size(), 4u);
    EXPECT_EQ(tlb.substr(0, 4), "MSFT");
}

TEST_F(ContractResources, InterfaceIdentifierResources)
{
    testkit::Apartment apartment;
    Com<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(library_path().c_str(), REGKIND_NONE, lib.put()), S_OK);
    for (unsigned i = 0; i < 4; ++i) {
        const ClassRef& c = *kClassRefs[i];
        SCOPED_TRACE(c.iid_resource);
        const std::wstring type(c.iid_resource, c.iid_resource + strlen(c.iid_resource));
        EXPECT_EQ(languages(type.c_str(), MAKEINTRESOURCEW(1)), std::vector<WORD>{0});
        const std::string bytes = data(type.c_str(), 0);
        ASSERT_EQ(bytes.size(), 20u);
        DWORD length;
        std::memcpy(&length, bytes.data(), 4);
        EXPECT_EQ(length, 16u);
        GUID stored;
        std::memcpy(&stored, bytes.data() + 4, 16);

        // The class's 1.0 interface, by its name in the type library.
        EXPECT_EQ(stored, *c.iid);
        Com<ITypeInfo> ti;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(stored, ti.put()), S_OK);
        Bstr name;
        ASSERT_EQ(ti->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(name.str(), c.iface);
    }
}

TEST_F(ContractResources, VersionBlock)
{
    EXPECT_EQ(languages(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1)), std::vector<WORD>{0x0409});

    const std::wstring path = library_path();
    DWORD ignored;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed;
    UINT length;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x0001000Du);  // 1.13
    EXPECT_EQ(fixed->dwFileVersionLS, 0x000005E8u);  // 0.1512
    EXPECT_EQ(fixed->dwProductVersionMS, 0x0001000Du);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x000005E8u);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileSubtype, 0u);

    DWORD* translation;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u) << "exactly one translation";
    EXPECT_EQ(LOWORD(*translation), 0x0409);
    EXPECT_EQ(HIWORD(*translation), 0x04B0);

    const struct {
        const wchar_t* key;
        const wchar_t* value;
    } strings[] = {
        {L"FileDescription", L"Merrow's Utilities Dynamic Link Library"},
        {L"ProductName", L"Merrow's Utility Dynamic Link Library"},
        {L"FileVersion", L"1.13.1512"},
        {L"ProductVersion", L"1.13.1512"},
        {L"InternalName", L"Tarnwick"},
        {L"OriginalFilename", L"Tarnwick.dll"},
        {L"OLESelfRegister", L""},
    };
    for (const auto& s : strings) {
        SCOPED_TRACE(narrow(s.key));
        wchar_t* value = nullptr;
        length = 0;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + s.key;
        ASSERT_TRUE(
            VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            << "missing";
        const std::wstring text = value && length ? std::wstring(value) : std::wstring();
        EXPECT_EQ(text, s.value);
    }
}

}  // namespace
}  // namespace contract
