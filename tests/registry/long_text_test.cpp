// Key paths, value names and settings of many lengths, around the sizes
// where Windows and the library's first read change course, reach Windows
// whole, with one NUL after them, and come back the same.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "keys.h"

using namespace testkit;

namespace {

const std::wstring kBase = L"Software\\TarnwickTests\\registry\\long_text";
const size_t kLengths[] = {1, 254, 255, 256, 1023, 20000};

// A text of `n` characters that shows a cut or a shift anywhere in it.
std::wstring pattern(size_t n, wchar_t first = L'a')
{
    std::wstring s(n, L' ');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<wchar_t>(first + i % 26);
    return s;
}

class LongText : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(apartment_.hr, S_OK);
        delete_tree(HKEY_CURRENT_USER, kBase);
        reg_ = create<_Registry>(CLSID_Registry);
        ASSERT_TRUE(reg_) << "library not registered";
    }
    void TearDown() override { delete_tree(HKEY_CURRENT_USER, kBase); }

    // The raw bytes of a value, read with the platform's own call.
    std::string stored(const std::wstring& key, const std::wstring& name)
    {
        const auto value = read_bytes(HKEY_CURRENT_USER, key, narrow(name).c_str());
        return value ? value->bytes : "(no value)";
    }

    Apartment apartment_;
    Com<_Registry> reg_;
};

TEST_F(LongText, SettingsOfEveryLengthAreStoredWholeWithOneNul)
{
    Bstr key(kBase);
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, kBase), ERROR_SUCCESS);
    for (size_t n : kLengths) {
        SCOPED_TRACE(n);
        const std::wstring text = pattern(n);
        Bstr name(L"v" + std::to_wstring(n)), buffer(text);
        VARIANT_BOOL ok = VARIANT_FALSE;
        EXPECT_EQ(reg_->SetRegValue(kHKCU, key.get(), name.get(), buffer.ref(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(buffer.str(), text);
        EXPECT_EQ(stored(kBase, name.str()), narrow(text) + '\0');
    }
}

TEST_F(LongText, KeyPathsAndValueNamesOfManyLengths)
{
    // Key paths of up to 259 characters, as every version of the library
    // took them; value names may be longer.
    const size_t path_lengths[] = {254, 255, 256, 259};
    const size_t name_lengths[] = {1, 255, 256, 1023, 5000};
    for (size_t i = 0; i < std::size(path_lengths); ++i) {
        const std::wstring path = kBase + L"\\" + pattern(path_lengths[i] - kBase.size() - 1);
        ASSERT_EQ(path.size(), path_lengths[i]);
        SCOPED_TRACE(path.size());
        Bstr root(L"HKCU"), key(path);
        SHORT result = 0;
        ASSERT_EQ(reg_->RegCreateKey(root.ref(), key.ref(), &result), S_OK);
        EXPECT_EQ(result, 1);
        for (size_t n : name_lengths) {
            SCOPED_TRACE(n);
            Bstr name(pattern(n, L'A')), value(L"x" + std::to_wstring(n)), data;
            EXPECT_EQ(reg_->RegWriteString(root.get(), key.get(), name.get(), value.get(), &result),
                      S_OK);
            EXPECT_EQ(result, 1);
            EXPECT_EQ(stored(path, name.str()), narrow(value.str()) + '\0');
            VARIANT_BOOL found = VARIANT_FALSE;
            EXPECT_EQ(reg_->QueryRegValue(kHKCU, key.get(), name.get(), data.ref(), &found), S_OK);
            EXPECT_EQ(found, VARIANT_TRUE);
            EXPECT_EQ(data.str(), value.str());
        }
    }
}

}  // namespace
