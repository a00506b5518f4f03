// One property over seeded random trees of hostile names and every kind of
// value: an export that returns True, then deleting the tree and importing
// the file, gives back the same keys, value names, types and bytes and
// nothing else; an export that cannot (a key name with a line break, a
// tree deeper than the registry's 512 levels) is False and leaves no file.
// A copy gives the same tree, a search finds every key, a delete removes
// it all, and canaries in every root and the library's registration
// survive every tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "args.h"
#include "keys.h"

using namespace testkit;

namespace {

constexpr HRESULT kInvalidCall = run_time_error(5);

// A tree as planted: each key by its path below the tree's top, with its
// values; the top is "".
struct Planted {
    KeyTree keys;
    bool breaks_lines = false;  // a key name holds CR or LF
    size_t depth = 0;
};

class Grower {
public:
    explicit Grower(unsigned seed) : random_(seed) {}

    Planted grow()
    {
        Planted tree;
        tree.keys[L""] = values();
        if (below(30) == 0) {
            // A chain around the registry's depth limit.
            std::wstring path;
            const size_t depth = 505 + below(96);
            for (size_t level = 1; level <= depth; ++level) {
                path += (path.empty() ? L"" : L"\\") + std::wstring(1, L"ab\"=[]"[below(6)]);
                tree.keys[path] = level % 100 == 0 ? values() : Values{};
            }
            tree.depth = depth;
            return tree;
        }
        const size_t count = 1 + below(10);
        std::vector<std::wstring> paths{L""};
        for (size_t i = 0; i < count; ++i) {
            const std::wstring& parent = paths[below(paths.size())];
            const size_t level = parent.empty() ? 1 : 2 + std::count(parent.begin(), parent.end(), L'\\');
            const std::wstring name = key_name(level, i);
            tree.breaks_lines |= name.find_first_of(L"\r\n") != std::wstring::npos;
            const std::wstring path = parent.empty() ? name : parent + L"\\" + name;
            tree.keys[path] = values();
            paths.push_back(path);
            tree.depth = std::max(tree.depth, level);
        }
        return tree;
    }

private:
    using Values = std::map<std::wstring, std::pair<DWORD, std::string>>;

    size_t below(size_t n) { return static_cast<size_t>(random_() % n); }

    // Characters that a registration file must quote, escape or carry
    // whole; line breaks are rare.
    std::wstring hostile(size_t length, bool in_key)
    {
        static const std::wstring kPlain = L"abcxyz019 \"=[]@;-.,\u00e9\u00df\u4e2d\u0436";
        std::wstring out;
        while (out.size() < length) {
            const size_t pick = below(400);
            if (pick == 0)
                out += below(2) ? L'\r' : L'\n';
            else if (pick < 5)
                out += L"\U0001D11E";  // a character of two UTF-16 units
            else if (pick < 10 && !in_key)
                out += L'\\';
            else
                out += kPlain[below(kPlain.size())];
        }
        return out.substr(0, length);
    }

    // Unique at its level by the number at its end, whatever the case of
    // the rest; at the first levels now and then 255 or 256 characters.
    std::wstring key_name(size_t level, size_t index)
    {
        const std::wstring tail = L"#" + std::to_wstring(index);
        size_t length = 1 + below(12);
        if (level <= 2 && below(8) == 0)
            length = below(2) ? 255 : 256;
        return hostile(length - std::min(length - 1, tail.size()), true) + tail;
    }

    std::string data(DWORD type)
    {
        size_t size = below(4) == 0 ? 0 : 1 + below(40);
        if (below(150) == 0)
            size = size_t{1} << 20;
        switch (type) {
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN:
            if (below(4))
                size = 4;
            break;
        case REG_QWORD:
            if (below(4))
                size = 8;
            break;
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_MULTI_SZ:
            if (below(3)) {
                const std::wstring text = hostile(size / 2, false) + std::wstring(type == REG_MULTI_SZ ? 2 : 1, L'\0');
                return wide_bytes(text);
            }
            break;
        }
        std::string bytes(size, '\0');
        for (char& b : bytes)
            b = static_cast<char>(random_());
        return bytes;
    }

    Values values()
    {
        static const DWORD kTypes[] = {REG_NONE,  REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
                                       REG_DWORD_BIG_ENDIAN, REG_LINK, REG_MULTI_SZ,
                                       REG_RESOURCE_LIST, REG_QWORD, 0x42, 0x7fffffff};
        Values out;
        for (size_t n = below(5); n-- > 0;) {
            const DWORD type = kTypes[below(std::size(kTypes))];
            const std::wstring name = below(6) == 0 ? std::wstring() : hostile(1 + below(16), false) + L"#" + std::to_wstring(n);
            out[name] = {type, data(type)};
        }
        return out;
    }

    std::mt19937 random_;
};

bool plant(const std::wstring& top, const Planted& tree)
{
    for (const auto& [path, values] : tree.keys) {
        const std::wstring key = path.empty() ? top : top + L"\\" + path;
        if (make_key(HKEY_CURRENT_USER, key) != ERROR_SUCCESS)
            return false;
        for (const auto& [name, value] : values)
            if (set_wide(HKEY_CURRENT_USER, key, name.c_str(), value.first, value.second.data(),
                         static_cast<DWORD>(value.second.size())) != ERROR_SUCCESS)
                return false;
    }
    return true;
}

size_t value_count(const KeyTree& tree)
{
    size_t n = 0;
    for (const auto& [key, values] : tree)
        n += values.size();
    return n;
}

bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(HostileTrees, ExportImportCopyFindAndDeleteKeepEveryTreeWhole)
{
    Apartment apartment;
    ASSERT_EQ(apartment.hr, S_OK);
    auto reg = create<_Registry3>(CLSID_Registry);
    ASSERT_TRUE(reg) << "library not registered";
    const std::wstring base = test_key(L"hostile");
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    delete_tree(HKEY_CURRENT_USER, base);

    // A canary in every root, and the library's registration.
    const struct Canary {
        HKEY root;
        std::wstring path;
    } canaries[] = {{HKEY_CURRENT_USER, base + L"-canary"},
                    {HKEY_LOCAL_MACHINE, L"Software\\TarnwickTests\\hostile-canary-" + pid},
                    {HKEY_USERS, L".DEFAULT\\Software\\TarnwickTests-canary-" + pid},
                    {HKEY_CLASSES_ROOT, L"TarnwickTests.Canary-" + pid},
                    {HKEY_CURRENT_CONFIG, L"Software\\TarnwickTests-canary-" + pid}};
    for (const Canary& c : canaries) {
        ASSERT_EQ(make_key(c.root, c.path), ERROR_SUCCESS) << narrow(c.path);
        ASSERT_EQ(set_text(c.root, c.path, L"v", L"alive"), ERROR_SUCCESS);
    }
    const std::wstring clsid = L"CLSID\\" + guid_text(CLSID_Registry);
    const KeyTree registration = key_tree(HKEY_CLASSES_ROOT, clsid);
    ASSERT_FALSE(registration.empty());

    const unsigned seed = 20261209;
    Grower grower(seed);
    constexpr int kTrees = 300;
    const std::wstring file = temp_path(L"hostile.reg");
    unsigned exported = 0, refused = 0, deep = 0, wrong = 0;
    const DWORD start = GetTickCount();
    for (int i = 0; i < kTrees && wrong < 5; ++i) {
        SCOPED_TRACE("tree " + std::to_string(i));
        const Planted tree = grower.grow();
        const std::wstring top = base + L"\\t" + std::to_wstring(i);
        ASSERT_TRUE(plant(top, tree));
        const KeyTree planted = key_tree(HKEY_CURRENT_USER, top);
        // What the registry holds is the tree: Wine ends a text without its
        // NUL with one where the byte after it happens to be zero.
        ASSERT_EQ(planted.size(), tree.keys.size());
        const bool too_deep = tree.depth > 512;
        deep += too_deep;
        Bstr top_text(top), file_text(file);
        VARIANT_BOOL ok = 7;

        // Copy beside it: the same tree, or False past the depth limit.
        const std::wstring copy = base + L"\\c" + std::to_wstring(i);
        ASSERT_EQ(reg->RegCopyKey(Arg(L"HKCU"), top_text.get(), Arg(L"HKCU"), Bstr(copy).get(),
                                  Arg::missing(), &ok),
                  S_OK);
        EXPECT_EQ(ok == VARIANT_TRUE, !too_deep);
        if (!too_deep) {
            EXPECT_EQ(differences(planted, key_tree(HKEY_CURRENT_USER, copy)), "");
        }
        // Into itself: refused before anything is copied.
        EXPECT_EQ(reg->RegCopyKey(Arg(L"HKCU"), top_text.get(), Arg(L"HKCU"),
                                  Bstr(top + L"\\into").get(), Arg::missing(), &ok),
                  kInvalidCall);

        // Search: every key below the top, or error 5 past the limit.
        Variant found;
        const HRESULT searched = reg->RegFind(Arg(L"HKCU"), top_text.get(), Bstr(L"*").get(),
                                              Arg(L"Keys"), Arg::missing(), &found);
        if (too_deep) {
            EXPECT_EQ(searched, kInvalidCall);
        } else {
            ASSERT_EQ(searched, S_OK);
            ASSERT_EQ(V_VT(&found), VT_ARRAY | VT_VARIANT);
            EXPECT_EQ(V_ARRAY(&found)->rgsabound[0].cElements, planted.size() - 1);
        }

        // Export, delete, import: the same tree, or False and no file.
        DeleteFileW(file.c_str());
        ASSERT_EQ(reg->RegExportKey(Arg(L"HKCU"), top_text.get(), file_text.get(), Arg::missing(), &ok), S_OK);
        const bool can_export = !tree.breaks_lines && !too_deep;
        EXPECT_EQ(ok == VARIANT_TRUE, can_export);
        EXPECT_EQ(file_exists(file), ok == VARIANT_TRUE);
        ASSERT_EQ(reg->RegDeleteKey(Arg(L"HKCU"), top_text.get(), Arg(1L), Arg::missing(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, top));
        if (can_export) {
            LONG count = -1;
            SetErrorInfo(0, nullptr);
            EXPECT_EQ(reg->RegImportFile(file_text.get(), Arg::missing(), &count), S_OK) << narrow(error_description());
            EXPECT_EQ(count, static_cast<LONG>(value_count(planted)));
            EXPECT_EQ(differences(planted, key_tree(HKEY_CURRENT_USER, top)), "")
                << "the tree after export, delete, import";
            ++exported;
        } else {
            ++refused;
        }
        ASSERT_EQ(reg->RegDeleteKey(Arg(L"HKCU"), Bstr(copy).get(), Arg(1L), Arg::missing(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        delete_tree(HKEY_CURRENT_USER, top);
        wrong += ::testing::Test::HasFailure();  // stops the run a few trees after the first
    }
    DeleteFileW(file.c_str());
    std::printf("seed %u: %d trees, %u exported and imported back, %u refused (%u past the depth "
                "limit), in %.1f s\n",
                seed, kTrees, exported, refused, deep, (GetTickCount() - start) / 1000.0);
    EXPECT_GT(exported, 0u);
    EXPECT_GT(refused, deep);
    EXPECT_GT(deep, 0u);

    for (const Canary& c : canaries) {
        EXPECT_EQ(read_text(c.root, c.path, L"v"), L"alive") << narrow(c.path);
        delete_tree(c.root, c.path);
    }
    EXPECT_EQ(differences(registration, key_tree(HKEY_CLASSES_ROOT, clsid)), "");
    delete_tree(HKEY_CURRENT_USER, base);
}

}  // namespace
