// The MSI package against the library's own registration, in a prefix of
// its own. The steps run as separate CTest tests, in this order:
//   SelfRegistration  the library, copied to where the package installs it,
//                     registers itself; the entries are saved as the
//                     reference; it unregisters and leaves nothing.
//   SelfRegistration32  the 64-bit package carries the 32-bit library too:
//                     where the prefix has 32-bit programs, it registers
//                     itself the same way, which must give the reference
//                     moved to the 32-bit view and folder.
//   Install           msiexec /i: the files are in place and the registry
//                     holds exactly the reference entries (of both
//                     libraries, for the 64-bit package).
//   Upgrade           msiexec /i of the same sources built as a newer
//                     version: it replaces the older product (one related
//                     product, the same entries); the older package is then
//                     refused.
//   Uninstall         msiexec /x: no file, no folder and no entry is left.
// Both registry views (64-bit and 32-bit) are read, through the view flags.
#include <gtest/gtest.h>

#include "methods.h"

#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using testkit::guid_text;
using testkit::narrow;

std::wstring lower(std::wstring s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return towlower(c); });
    return s;
}

// One line per value, "view|key path|value name|type|data", key paths and
// value names in lower case (the registry ignores case in them).
void dump_key(HKEY parent, const std::wstring& path, REGSAM view, const char* view_name,
              std::vector<std::string>& out)
{
    HKEY key;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return;
    wchar_t name[256];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD name_len = 256, size = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &name_len, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        std::wstring text;
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            text.assign(reinterpret_cast<wchar_t*>(data), size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        std::ostringstream line;
        line << view_name << '|' << narrow(lower(path)) << '|' << narrow(lower(name)) << '|' << type
             << '|' << narrow(text);
        out.push_back(line.str());
    }
    // An empty key is an entry too.
    out.push_back(std::string(view_name) + '|' + narrow(lower(path)) + "|(key)");
    for (DWORD i = 0;; ++i) {
        DWORD name_len = 256;
        if (RegEnumKeyExW(key, i, name, &name_len, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        dump_key(parent, path + L"\\" + name, view, view_name, out);
    }
    RegCloseKey(key);
}

std::vector<std::string> dump_ours()
{
    std::vector<std::string> out;
    for (const std::wstring& key : testkit::registration_keys()) {
        dump_key(HKEY_CLASSES_ROOT, key, KEY_WOW64_64KEY, "64", out);
        dump_key(HKEY_CLASSES_ROOT, key, KEY_WOW64_32KEY, "32", out);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Two differences that say nothing about the library, levelled out before
// comparing: the type library's help folder may end in a backslash (the
// installer can only name a folder that way), and the platform's type
// library registration may add LIBFLAG_FHASDISKIMAGE (8) to FLAGS.
std::vector<std::string> normalised(std::vector<std::string> lines)
{
    for (std::string& line : lines) {
        if (line.find("\\helpdir||") != std::string::npos && line.back() == '\\')
            line.pop_back();
        const std::string flags = "\\flags||1|";
        size_t at = line.find(flags);
        if (at != std::string::npos) {
            unsigned value = std::stoul(line.substr(at + flags.size()));
            line = line.substr(0, at + flags.size()) + std::to_string(value & ~8u);
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string s;
    for (const auto& l : lines)
        s += l + "\n";
    return s;
}

fs::path tarnwick_in(int program_files)
{
    wchar_t path[MAX_PATH];
    SHGetFolderPathW(nullptr, program_files, nullptr, 0, path);
    return fs::path(path) / L"Tarnwick";
}

// Where the package puts its files: Program Files of this program's own
// bitness, as the package's ProgramFilesFolder or ProgramFiles64Folder.
fs::path install_folder()
{
    return tarnwick_in(CSIDL_PROGRAM_FILES);
}

// Where the 64-bit package puts the 32-bit library: Program Files (x86).
fs::path install_folder32()
{
    return tarnwick_in(CSIDL_PROGRAM_FILESX86);
}

// Whether the package carries the 32-bit library too (the 64-bit one does).
bool carries_32_bit()
{
    const char* dll = std::getenv("TARNWICK_DLL32");
    return dll && *dll;
}

fs::path reference_file()
{
    return testkit::env_path("TARNWICK_MSI_REFERENCE");
}

// Runs a command line to its end; returns its exit code.
DWORD run(std::wstring command)
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return static_cast<DWORD>(-1);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

std::wstring msi_command(const wchar_t* action)
{
    return std::wstring(L"msiexec.exe ") + action + L" \"" + testkit::env_path("TARNWICK_MSI") +
           L"\" /qn";
}

std::wstring package_property(const fs::path& package, const wchar_t* name);

// The product code of the package under test.
std::wstring product_code()
{
    return package_property(testkit::env_path("TARNWICK_MSI"), L"ProductCode");
}

std::vector<std::string> read_reference()
{
    std::ifstream in(reference_file());
    std::vector<std::string> reference;
    for (std::string line; std::getline(in, line);)
        reference.push_back(line);
    return reference;
}

void replace_all(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The 64-bit library's registration moved to the 32-bit library: the
// classes in the 32-bit view (the interfaces and the type library are
// listed in both views already, and the ProgIDs live in the key both views
// share, where 64-bit readers list them), and its own file, under the type
// library's win32 key.
std::vector<std::string> as_32_bit_library(std::vector<std::string> lines)
{
    const std::string folder = narrow(install_folder().wstring());
    const std::string folder32 = narrow(install_folder32().wstring());
    for (std::string& line : lines) {
        if (line.starts_with("64|clsid\\"))
            line.replace(0, 2, "32");
        replace_all(line, "\\0\\win64|", "\\0\\win32|");
        replace_all(line, folder, folder32);
    }
    return lines;
}

// What the package must write: the library's registration and, for the
// 64-bit package, the 32-bit library's as well. A value that both would
// write to the key the two views share (the type library's own: its help
// folder) keeps the native library's, which the package writes once.
std::vector<std::string> package_registration(const std::vector<std::string>& native)
{
    if (!carries_32_bit())
        return native;
    std::map<std::string, std::string> by_value;  // "view|key|name" -> line
    for (const auto& lines : {native, as_32_bit_library(native)})
        for (const std::string& line : lines) {
            size_t end = line.find('|', line.find('|', line.find('|') + 1) + 1);
            by_value.emplace(line.substr(0, end), line);
        }
    std::vector<std::string> out;
    for (const auto& [value, line] : by_value)
        out.push_back(line);
    return out;
}

bool contains(const std::vector<std::string>& lines, const std::string& part)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

}  // namespace

TEST(SelfRegistration, WritesTheReferenceAndRemovesItAgain)
{
    ASSERT_TRUE(dump_ours().empty()) << "entries of ours before the test:\n" << joined(dump_ours());
    const fs::path folder = install_folder();
    const fs::path dll = folder / L"Tarnwick.dll";
    fs::create_directories(folder);
    fs::copy_file(testkit::env_path("TARNWICK_DLL"), dll, fs::copy_options::overwrite_existing);

    HMODULE library = LoadLibraryW(dll.c_str());
    ASSERT_NE(library, nullptr);
    auto entry = [&](const char* name) {
        return reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(library, name)));
    };
    ASSERT_HRESULT_SUCCEEDED(entry("DllRegisterServer")());
    const std::vector<std::string> registered = dump_ours();
    ASSERT_HRESULT_SUCCEEDED(entry("DllUnregisterServer")());
    FreeLibrary(library);
    const std::vector<std::string> left = dump_ours();
    fs::remove_all(folder);

    // The reference must hold what clients need, or comparing with it
    // proves nothing.
    const std::string dll_path = narrow(lower(dll.wstring()));
    const std::string native = sizeof(void*) == 8 ? "64|" : "32|";
    EXPECT_TRUE(contains(registered, native + "clsid\\" + narrow(lower(guid_text(CLSID_Registry))) +
                                         "\\inprocserver32||1|"))
        << joined(registered);
    EXPECT_TRUE(contains(registered, "|threadingmodel|1|Apartment"));
    EXPECT_TRUE(contains(registered,
                         native + "tarnwickdll.time\\clsid||1|" + narrow(guid_text(CLSID_Time))));
    EXPECT_TRUE(contains(registered, native + "interface\\" +
                                         narrow(lower(guid_text(IID__WindowsInfo))) +
                                         "\\proxystubclsid32||1|"));
    EXPECT_TRUE(contains(registered,
                         std::string(sizeof(void*) == 8 ? "\\0\\win64||1|" : "\\0\\win32||1|")));
    EXPECT_GE(registered.size(), 60u);
    EXPECT_TRUE(left.empty()) << "left after DllUnregisterServer:\n" << joined(left);

    std::ofstream out(reference_file());
    out << joined(registered);
    ASSERT_TRUE(out.good());
}

// Only for the 64-bit package, after SelfRegistration.
TEST(SelfRegistration32, WritesTheReferenceInItsOwnViewAndFolder)
{
    wchar_t system32[MAX_PATH];
    const UINT length = GetSystemWow64DirectoryW(system32, MAX_PATH);
    const fs::path regsvr32 = fs::path(std::wstring(system32, length)) / L"regsvr32.exe";
    if (length == 0 || !fs::exists(regsvr32))
        GTEST_SKIP() << "this prefix has no 32-bit programs: the machine cannot start them";
    const std::vector<std::string> reference = read_reference();
    ASSERT_FALSE(reference.empty()) << "no reference of the 64-bit library";
    const fs::path folder = install_folder32();
    const fs::path dll = folder / L"Tarnwick.dll";
    fs::create_directories(folder);
    fs::copy_file(testkit::env_path("TARNWICK_DLL32"), dll, fs::copy_options::overwrite_existing);

    const std::wstring command = L"\"" + regsvr32.wstring() + L"\" /s \"" + dll.wstring() + L"\"";
    ASSERT_EQ(run(command), 0u);
    const std::vector<std::string> registered = dump_ours();
    ASSERT_EQ(run(L"\"" + regsvr32.wstring() + L"\" /u /s \"" + dll.wstring() + L"\""), 0u);
    const std::vector<std::string> left = dump_ours();
    fs::remove_all(folder);

    EXPECT_EQ(joined(normalised(registered)), joined(normalised(as_32_bit_library(reference))));
    EXPECT_TRUE(left.empty()) << "left after DllUnregisterServer:\n" << joined(left);
}

namespace {

// The files of the package are in place and the registry holds exactly the
// library's own registration (saved by SelfRegistration).
void expect_installed_like_the_library()
{
    std::vector<std::string> reference = package_registration(read_reference());
    ASSERT_FALSE(reference.empty()) << "no reference: SelfRegistration did not run";

    const fs::path folder = install_folder();
    EXPECT_TRUE(fs::exists(folder / L"Tarnwick.dll"));
    EXPECT_TRUE(fs::exists(folder / L"Tarnwick.manifest"));
    EXPECT_TRUE(fs::exists(folder / L"Pelmora.exe"));
    EXPECT_TRUE(fs::exists(folder / L"reference.md"));
    EXPECT_EQ(fs::file_size(folder / L"Tarnwick.dll"),
              fs::file_size(testkit::env_path("TARNWICK_DLL")));
    if (carries_32_bit()) {
        EXPECT_TRUE(fs::exists(install_folder32() / L"Tarnwick.manifest"));
        EXPECT_EQ(fs::file_size(install_folder32() / L"Tarnwick.dll"),
                  fs::file_size(testkit::env_path("TARNWICK_DLL32")));
    }

    const std::vector<std::string> installed = normalised(dump_ours());
    reference = normalised(reference);
    if (sizeof(void*) == 4) {
        // A 32-bit registration on 64-bit Windows also lists the interfaces
        // in the 64-bit view. A 32-bit package cannot write there (it has no
        // 64-bit components); 64-bit clients cannot load the 32-bit library
        // anyway. These are the only entries it leaves out.
        std::erase_if(reference,
                      [](const std::string& line) { return line.rfind("64|interface\\", 0) == 0; });
    }
    std::vector<std::string> missing, extra;
    std::set_difference(reference.begin(), reference.end(), installed.begin(), installed.end(),
                        std::back_inserter(missing));
    std::set_difference(installed.begin(), installed.end(), reference.begin(), reference.end(),
                        std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << "written by the library, not by the package:\n"
                                 << joined(missing);
    EXPECT_TRUE(extra.empty()) << "written by the package, not by the library:\n" << joined(extra);
    EXPECT_EQ(installed.size(), reference.size());
}

// The first field of the first row a query of the package's tables gives.
std::wstring package_value(const fs::path& package, const std::wstring& query)
{
    std::wstring value;
    MSIHANDLE db = 0, view = 0, record = 0;
    if (MsiOpenDatabaseW(package.c_str(), reinterpret_cast<LPCWSTR>(MSIDBOPEN_READONLY), &db) ==
            ERROR_SUCCESS &&
        MsiDatabaseOpenViewW(db, query.c_str(), &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        wchar_t text[256];
        DWORD size = 256;
        if (MsiRecordGetStringW(record, 1, text, &size) == ERROR_SUCCESS)
            value = text;
    }
    for (MSIHANDLE h : {record, view, db})
        if (h)
            MsiCloseHandle(h);
    return value;
}

std::wstring package_property(const fs::path& package, const wchar_t* name)
{
    return package_value(package,
                         std::wstring(L"SELECT `Value` FROM `Property` WHERE `Property` = '") +
                             name + L"'");
}

std::vector<std::wstring> related_products(const std::wstring& upgrade_code)
{
    std::vector<std::wstring> out;
    wchar_t code[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(upgrade_code.c_str(), 0, i, code) == ERROR_SUCCESS;
         ++i)
        out.push_back(code);
    return out;
}

bool is_installed(const std::wstring& product)
{
    return MsiQueryProductStateW(product.c_str()) == INSTALLSTATE_DEFAULT;
}

}  // namespace

TEST(Install, PutsTheFilesInPlaceAndRegistersLikeTheLibrary)
{
    ASSERT_FALSE(product_code().empty());
    ASSERT_EQ(run(msi_command(L"/i")), 0u);
    EXPECT_EQ(MsiQueryProductStateW(product_code().c_str()), INSTALLSTATE_DEFAULT);
    expect_installed_like_the_library();
}

TEST(Upgrade, NewerReplacesOlderAndOlderIsRefused)
{
    const fs::path older = testkit::env_path("TARNWICK_MSI");
    const fs::path newer = testkit::env_path("TARNWICK_MSI_NEWER");
    const std::wstring old_code = package_property(older, L"ProductCode");
    const std::wstring new_code = package_property(newer, L"ProductCode");
    const std::wstring upgrade_code = package_property(older, L"UpgradeCode");
    ASSERT_FALSE(upgrade_code.empty());
    EXPECT_EQ(package_property(newer, L"UpgradeCode"), upgrade_code);
    ASSERT_NE(old_code, new_code);
    ASSERT_TRUE(is_installed(old_code)) << "Install did not run";

    ASSERT_EQ(run(L"msiexec.exe /i \"" + newer.wstring() + L"\" /qn"), 0u);
    EXPECT_FALSE(is_installed(old_code));
    EXPECT_TRUE(is_installed(new_code));
    EXPECT_EQ(related_products(upgrade_code), std::vector<std::wstring>{new_code});
    expect_installed_like_the_library();

    // The older package over the newer one: refused. Under /qn the message
    // shows nowhere (Wine's log leaves it out too): it is the description
    // of the package's launch condition that refuses a downgrade.
    EXPECT_NE(run(L"msiexec.exe /i \"" + older.wstring() + L"\" /qn"), 0u);
    EXPECT_FALSE(is_installed(old_code));
    EXPECT_TRUE(is_installed(new_code));
    EXPECT_EQ(package_value(older, L"SELECT `Description` FROM `LaunchCondition` WHERE "
                                   L"`Condition` = 'NOT WIX_DOWNGRADE_DETECTED'"),
              L"A newer version of Tarnwick is already installed.");
}

TEST(Uninstall, LeavesNoFileAndNoEntry)
{
    const std::wstring code = product_code();
    ASSERT_FALSE(code.empty());
    ASSERT_EQ(run(msi_command(L"/x")), 0u);
    EXPECT_NE(MsiQueryProductStateW(code.c_str()), INSTALLSTATE_DEFAULT);
    EXPECT_FALSE(fs::exists(install_folder()));
    EXPECT_FALSE(fs::exists(install_folder32()));
    const std::vector<std::string> left = dump_ours();
    EXPECT_TRUE(left.empty()) << "left after uninstall:\n" << joined(left);
}
