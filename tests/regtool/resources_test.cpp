// Reads the version block and the icon group back from the built
// Pelmora.exe (named by the environment variable PELMORA_EXE) the way
// Windows Explorer and installers do.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring ProgramPath()
{
    const char* path = std::getenv("PELMORA_EXE");
    if (path == nullptr)
        return {};
    std::wstring result;
    // A path of this machine's file system lies on drive Z:.
    if (path[0] == '/')
        result = L"Z:";
    for (const char* p = path; *p != '\0'; ++p) {
        result += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    return result;
}

class VersionBlock : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::wstring path = ProgramPath();
        ASSERT_FALSE(path.empty()) << "PELMORA_EXE is not set";
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version block, error " << GetLastError();
        block_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block_.data()));
    }

    // The value at a sub-block path, or an empty span when it is missing.
    std::pair<const void*, UINT> Query(const wchar_t* subBlock)
    {
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(block_.data(), subBlock, &value, &length))
            return {nullptr, 0};
        return {value, length};
    }

    std::wstring String(const std::wstring& key)
    {
        const auto [value, length] = Query((L"\\StringFileInfo\\040904B0\\" + key).c_str());
        if (value == nullptr)
            return L"<missing>";
        std::wstring text(static_cast<const wchar_t*>(value), length);
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        return text;
    }

    std::vector<BYTE> block_;
};

TEST_F(VersionBlock, FixedPart)
{
    const auto [value, length] = Query(L"\\");
    ASSERT_NE(value, nullptr);
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto& fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x00000003u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0x00000003u);
    EXPECT_EQ(fixed.dwFileFlagsMask, static_cast<DWORD>(VS_FFI_FILEFLAGSMASK));
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed.dwFileSubtype, 0u);
}

TEST_F(VersionBlock, StringsAndTranslation)
{
    const auto [value, length] = Query(L"\\VarFileInfo\\Translation");
    ASSERT_NE(value, nullptr);
    ASSERT_EQ(length, 4u) << "exactly one translation entry";
    const auto* pair = static_cast<const WORD*>(value);
    EXPECT_EQ(pair[0], 0x0409);
    EXPECT_EQ(pair[1], 1200);

    EXPECT_EQ(String(L"FileDescription"), L"Tarnwick Registration");
    EXPECT_EQ(String(L"ProductName"), L"Tarnwick Register Server");
    EXPECT_EQ(String(L"FileVersion"), L"1.00.0003");
    EXPECT_EQ(String(L"ProductVersion"), L"1.00.0003");
    EXPECT_EQ(String(L"InternalName"), L"Pelmora");
    EXPECT_EQ(String(L"OriginalFilename"), L"Pelmora.exe");
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colourCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
#pragma pack(pop)

class Resources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << "error " << GetLastError();
    }
    void TearDown() override
    {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }

    // The bytes of a resource, empty when there is none.
    std::vector<BYTE> Load(LPCWSTR type, LPCWSTR name, WORD language)
    {
        HRSRC found = FindResourceExW(module_, type, name, language);
        if (found == nullptr)
            return {};
        const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
        if (data == nullptr)
            return {};
        return std::vector<BYTE>(data, data + SizeofResource(module_, found));
    }

    HMODULE module_ = nullptr;
};

constexpr WORD kEnglishUS = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

TEST_F(Resources, VersionBlockIsUSEnglish)
{
    EXPECT_FALSE(Load(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), kEnglishUS).empty());
}

TEST_F(Resources, IconGroupOneHasTheThreeImages)
{
    const std::vector<BYTE> group = Load(MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(1), kEnglishUS);
    ASSERT_GE(group.size(), sizeof(GroupIconHeader));
    const auto& header = *reinterpret_cast<const GroupIconHeader*>(group.data());
    EXPECT_EQ(header.type, 1);
    ASSERT_EQ(header.count, 3);
    ASSERT_EQ(group.size(), sizeof(GroupIconHeader) + 3 * sizeof(GroupIconEntry));
    const auto* entries =
        reinterpret_cast<const GroupIconEntry*>(group.data() + sizeof(GroupIconHeader));

    const struct {
        int size;
        int bits;
    } expected[] = {{32, 1}, {32, 4}, {16, 4}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        const GroupIconEntry& entry = entries[i];
        EXPECT_EQ(entry.width, expected[i].size);
        EXPECT_EQ(entry.height, expected[i].size);
        EXPECT_EQ(entry.colourCount, 1 << expected[i].bits);
        EXPECT_EQ(entry.planes, 1);
        EXPECT_EQ(entry.bitCount, expected[i].bits);

        // The image itself: a device-independent bitmap of that shape, colour
        // image over transparency mask, with some pixels drawn and some clear.
        const std::vector<BYTE> image =
            Load(MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(entry.id), kEnglishUS);
        ASSERT_EQ(image.size(), entry.bytesInRes);
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        const auto& bitmap = *reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
        EXPECT_EQ(bitmap.biWidth, expected[i].size);
        EXPECT_EQ(bitmap.biHeight, 2 * expected[i].size);
        EXPECT_EQ(bitmap.biBitCount, expected[i].bits);
        EXPECT_EQ(bitmap.biCompression, static_cast<DWORD>(BI_RGB));

        const size_t maskStride = ((expected[i].size + 31) / 32) * 4;
        const size_t maskSize = maskStride * static_cast<size_t>(expected[i].size);
        ASSERT_GT(image.size(), maskSize);
        const BYTE* mask = image.data() + image.size() - maskSize;
        size_t opaque = 0;
        for (int y = 0; y < expected[i].size; ++y) {
            for (int x = 0; x < expected[i].size; ++x) {
                opaque += (mask[static_cast<size_t>(y) * maskStride + static_cast<size_t>(x / 8)] >>
                               (7 - x % 8) &
                           1) == 0;
            }
        }
        const size_t pixels = static_cast<size_t>(expected[i].size) * expected[i].size;
        EXPECT_GT(opaque, pixels / 8) << "the icon is next to empty";
        EXPECT_LT(opaque, pixels - pixels / 8) << "the icon fills its whole square";
    }
}

}  // namespace
