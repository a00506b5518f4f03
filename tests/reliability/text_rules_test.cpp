// The text rules against small reference models, over generated inputs
// from a fixed seed: GetLocation's cut of a command line, and the text
// QueryRegValue makes of a value's bytes.
#include <cstdio>

#include "exercise.h"

namespace reliability {
namespace {

// splitmix64: the same numbers on every compiler and target.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
    bool one_in(unsigned n) { return below(n) == 0; }

private:
    uint64_t state_;
};

// The decided rule: a leading double quote goes; then the text is cut
// after its last lower-case "exe"; a text without one becomes empty.
std::wstring location_model(std::wstring s)
{
    if (!s.empty() && s[0] == L'"')
        s.erase(0, 1);
    const size_t at = s.rfind(L"exe");
    return at == std::wstring::npos ? std::wstring() : s.substr(0, at + 3);
}

std::wstring command_line(Random& random)
{
    static const wchar_t* const pieces[] = {
        L"exe",      L"EXE",
        L"Exe",      L"eXe",
        L"exE",      L"eXE",
        L"ex",       L"xe",
        L"e",        L"x",
        L"ee",       L"xx",
        L"\"",       L"\"\"",
        L" ",        L"  ",
        L"C:\\",     L"Program Files\\",
        L"app",      L".",
        L".exe",     L".EXE",
        L" -arg",    L" /x",
        L" \"%1\"",  L"\u00e9",
        L"\u00ebxe", L"\u0435x\u0435",
        L"\t",       L"\r\n",
        L"exeexe",   L"eexe",
        L"exee",
    };
    std::wstring s;
    if (random.below(3) == 0)
        s += L'"';
    const unsigned count = random.one_in(500) ? 2000 + random.below(20000) : random.below(12);
    for (unsigned i = 0; i < count; ++i) {
        switch (random.below(8)) {
        case 0:  // any UTF-16 unit, NUL included
            s += static_cast<wchar_t>(random.below(0x10000));
            break;
        case 1:
            s += static_cast<wchar_t>(0x20 + random.below(0x5F));
            break;
        default:
            s += pieces[random.below(static_cast<unsigned>(std::size(pieces)))];
            break;
        }
    }
    return s;
}

std::string show(const std::wstring& s)
{
    std::string out;
    for (wchar_t c : s.substr(0, 120)) {
        char buffer[12];
        if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c)),
                out += buffer;
    }
    if (s.size() > 120)
        out += "... (" + std::to_string(s.size()) + " characters)";
    return out;
}

TEST(TextRules, GetLocationFollowsTheModelForGeneratedCommandLines)
{
    Apartment apartment;
    ASSERT_TRUE(seam().ok());
    Com<_WindowsInfo> info = seam().create<_WindowsInfo>(CLSID_WindowsInfo);
    ASSERT_TRUE(info);
    Com<IDispatch> late = info.as<IDispatch>();

    // Fixed cases first: empty, null, a lone quote, every case of "exe",
    // quotes and arguments, then generated ones.
    std::vector<std::wstring> fixed = {L"",
                                       L"",
                                       L"\"",
                                       L"\"\"",
                                       L"exe",
                                       L"\"exe",
                                       L"EXE",
                                       L"Exe",
                                       L"exE",
                                       L"x.EXE arg.exe",
                                       L"\"C:\\Program Files\\App\\app.exe\" -n \"%1\"",
                                       L"C:\\app.exe -x file.exe tail",
                                       L"C:\\APP.EXE",
                                       L"exeexe",
                                       L"\"\"exe",
                                       L"ex e",
                                       std::wstring(L"a\0exe\0b", 7),
                                       std::wstring(100000, L'e') + L"xe",
                                       std::wstring(100000, L'x')};
    Random random(0x5441524E5749434Bull);
    const unsigned kGenerated = 100000;
    unsigned checked = 0, failures = 0, late_checked = 0, emptied = 0;
    for (unsigned i = 0; i < fixed.size() + kGenerated && failures < 10; ++i) {
        const std::wstring input = i < fixed.size() ? fixed[i] : command_line(random);
        const std::wstring expected = location_model(input);
        Bstr path(input);
        if (i == 0)
            path = Bstr();  // the null string; the next one is the empty string
        HRESULT hr = info->GetLocation(path.ref());
        if (hr != S_OK || path.str() != expected) {
            ++failures;
            ADD_FAILURE() << "input " << i << " \"" << show(input) << "\": status " << std::hex
                          << hr << ", got \"" << show(path.str()) << "\", expected \""
                          << show(expected) << "\"";
        }
        emptied += expected.empty();
        ++checked;
        // Every hundredth one late bound as well, the variable passed by reference.
        if (i % 100 == 0) {
            Variant v, result;
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = SysAllocStringLen(input.data(), static_cast<UINT>(input.size()));
            EXPECT_EQ(call_by_name(late.get(), L"GetLocation", {v_ref(&v)}, &result), S_OK);
            EXPECT_EQ(V_VT(&v), VT_BSTR);
            EXPECT_EQ(std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v))), expected)
                << "late bound, input " << i;
            ++late_checked;
        }
    }
    std::printf("GetLocation: %u inputs checked (%u generated, %u with no \"exe\"), %u also late "
                "bound\n",
                checked, kGenerated, emptied, late_checked);
    EXPECT_GE(checked, 100000u);
}

// The model of a value's bytes as text: one trailing NUL dropped, the rest
// converted from the ANSI code page.
std::wstring bytes_model(const std::vector<BYTE>& bytes)
{
    size_t n = bytes.size();
    if (n > 0 && bytes[n - 1] == 0)
        --n;
    if (n == 0)
        return std::wstring();
    std::wstring out(n, L'\0');
    int written = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes.data()),
                                      static_cast<int>(n), out.data(), static_cast<int>(n));
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

std::string hex(const std::vector<BYTE>& bytes)
{
    std::string out;
    char buffer[4];
    for (size_t i = 0; i < bytes.size() && i < 48; ++i)
        std::snprintf(buffer, sizeof buffer, "%02x ", bytes[i]), out += buffer;
    if (bytes.size() > 48)
        out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

TEST(TextRules, ValueBytesBecomeTheModelText)
{
    Apartment apartment;
    ASSERT_TRUE(seam().ok());
    Com<_Registry> registry = seam().create<_Registry>(CLSID_Registry);
    ASSERT_TRUE(registry);
    const std::wstring path = test_key(L"reliability\\text-rules");
    delete_tree(HKEY_CURRENT_USER, path);
    ASSERT_EQ(make_key(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
    Key key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, key.put()),
              ERROR_SUCCESS);
    Bstr sub(path), name(L"bytes"), hkcu(L"HKCU");

    Random random(0x42595445530A0D00ull);
    const unsigned kRoundTrips = 5000;
    unsigned failures = 0, second_read = 0, trailing_nul = 0, every_byte[256] = {};
    for (unsigned i = 0; i < kRoundTrips && failures < 10; ++i) {
        std::vector<BYTE> bytes;
        if (i < 4) {
            // Every byte value, in order and reversed, with and without a last NUL.
            for (unsigned b = 0; b < 256; ++b)
                bytes.push_back(static_cast<BYTE>(i % 2 ? 255 - b : b));
            if (i >= 2)
                bytes.push_back(0);
        } else {
            unsigned length;
            switch (random.below(6)) {
            case 0:
                length = random.below(9);
                break;  // very short
            case 1:
                length = 2040 + random.below(16);
                break;  // around the first read's buffer
            default:
                length = random.below(2100);
                break;
            }
            for (unsigned k = 0; k < length; ++k)
                bytes.push_back(static_cast<BYTE>(random.below(256)));
            // Trailing NULs: none, one, two or several.
            unsigned nuls = random.below(4) == 0 ? random.below(4) : 0;
            for (unsigned k = 0; k < nuls; ++k)
                bytes.push_back(0);
        }
        for (BYTE b : bytes)
            ++every_byte[b];
        ASSERT_EQ(RegSetValueExA(key.get(), "bytes", 0, REG_BINARY, bytes.data(),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        Bstr data(L"untouched");
        VARIANT_BOOL found = 7;
        HRESULT hr = registry->QueryRegValue(kHKCU, sub.get(), name.get(), data.ref(), &found);
        // Every length reads whole, in one read or, past 2048 bytes, two.
        const std::wstring expected = bytes_model(bytes);
        const VARIANT_BOOL expected_found = VARIANT_TRUE;
        second_read += bytes.size() > 2048;
        trailing_nul += !bytes.empty() && bytes.back() == 0;
        if (hr != S_OK || found != expected_found || data.str() != expected) {
            ++failures;
            ADD_FAILURE() << "round trip " << i << " [" << hex(bytes) << "]: status " << std::hex
                          << hr << ", found " << found << ", " << std::dec << data.str().size()
                          << " characters, expected " << expected.size();
        }
        // Every tenth one by name as well: the same text, or the empty text.
        if (i % 10 == 0) {
            Bstr key_name(path), value_name(L"bytes"), text;
            EXPECT_EQ(
                registry->RegReadString(hkcu.get(), key_name.ref(), value_name.ref(), text.put()),
                S_OK);
            EXPECT_EQ(text.str(), expected) << "RegReadString, round trip " << i;
        }
    }
    for (unsigned b = 0; b < 256; ++b)
        EXPECT_GT(every_byte[b], 0u) << "byte " << b << " never tried";
    std::printf("QueryRegValue: %u REG_BINARY round trips (%u longer than 2048 bytes, %u ending "
                "in NUL), code page %u\n",
                kRoundTrips, second_read, trailing_nul, GetACP());
    key.put();
    delete_tree(HKEY_CURRENT_USER, path);
}

}  // namespace
}  // namespace reliability
