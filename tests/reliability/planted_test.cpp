// No planted libraries. A copy of a small host program loads the seam
// library and reports, for every declared function, the module it was bound
// from. Libraries named like the system's (and one named like no system
// library at all) are planted where a plain load by name looks first: beside
// the host, and in its current folder, first on its PATH. The declared
// functions must come from the system folder only.
#include <map>

#include "reliability.h"

namespace reliability {
namespace {

std::wstring folder_of(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool same_path(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

struct Module {
    std::wstring file;  // "-" when nothing was bound
    bool planted = false;
};
using Report = std::map<std::wstring, std::map<std::wstring, Module>>;  // label -> name -> module

// Runs `host` in `current` with `args`; the planted folder comes first on
// the PATH it inherits.
Report run_host(const std::wstring& host, const std::wstring& current, const std::wstring& planted,
                const std::wstring& args)
{
    Report report;
    const std::wstring out = current + L"\\report.txt";
    DeleteFileW(out.c_str());
    wchar_t path[32767] = L"";
    GetEnvironmentVariableW(L"PATH", path, 32767);
    const std::wstring old_path = path;
    SetEnvironmentVariableW(L"PATH", (planted + L";" + old_path).c_str());
    std::wstring command = L"\"" + host + L"\" \"" + out + L"\" " + args;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(host.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, current.c_str(), &startup, &process);
    SetEnvironmentVariableW(L"PATH", old_path.c_str());
    if (!started) {
        ADD_FAILURE() << "host did not start: " << GetLastError();
        return report;
    }
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(code, 0u) << "host exit code";
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    FILE* file = _wfopen(out.c_str(), L"r");
    if (!file) {
        ADD_FAILURE() << "no report from the host";
        return report;
    }
    wchar_t line[1024];
    while (fgetws(line, 1024, file)) {
        std::wstring l(line);
        while (!l.empty() && (l.back() == L'\n' || l.back() == L'\r'))
            l.pop_back();
        const size_t a = l.find(L'\t'), b = l.find(L'\t', a + 1), c = l.find(L'\t', b + 1);
        if (a != std::wstring::npos && b != std::wstring::npos && c != std::wstring::npos)
            report[l.substr(0, a)][l.substr(a + 1, b - a - 1)] =
                Module{l.substr(b + 1, c - b - 1), l.substr(c + 1) == L"planted"};
    }
    fclose(file);
    DeleteFileW(out.c_str());
    return report;
}

const wchar_t* const kPlanted[] = {L"kernel32.dll", L"advapi32.dll", L"user32.dll",
                                   L"oleaut32.dll", L"version.dll",  L"tarnwick-planted.dll"};

class PlantedLibraries : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        root_ = std::wstring(temp) + L"tarnwick-plant-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(root_.c_str(), nullptr);
        wchar_t dir[MAX_PATH];
        if (GetSystemDirectoryW(dir, MAX_PATH))
            system_.push_back(dir);
        // A 32-bit process on 64-bit Windows may see its system libraries under either name.
        if (GetSystemWow64DirectoryW(dir, MAX_PATH))
            system_.push_back(dir);
    }

    void TearDown() override
    {
        for (const std::wstring& f : made_)
            DeleteFileW(f.c_str());
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it)
            RemoveDirectoryW(it->c_str());
        RemoveDirectoryW(root_.c_str());
    }

    std::wstring folder(const wchar_t* name)
    {
        const std::wstring f = root_ + L"\\" + name;
        CreateDirectoryW(f.c_str(), nullptr);
        folders_.push_back(f);
        return f;
    }
    void copy(const std::wstring& from, const std::wstring& to)
    {
        ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << narrow(to);
        made_.push_back(to);
        made_.push_back(to + L".loaded");
    }
    void plant(const std::wstring& into)
    {
        for (const wchar_t* name : kPlanted)
            copy(env_path("TARNWICK_PLANTED_DLL"), into + L"\\" + name);
    }
    std::wstring host_in(const std::wstring& into)
    {
        const std::wstring host = into + L"\\planthost.exe";
        copy(env_path("TARNWICK_PLANT_HOST"), host);
        return host;
    }
    bool in_system(const std::wstring& file)
    {
        for (const std::wstring& s : system_)
            if (same_path(folder_of(file), s))
                return true;
        return false;
    }

    // The host's arguments: the seam library, with GetSystemTime pointed
    // at a system library that is planted too and GetLocalTime at one that
    // only the planted folder has.
    static std::wstring bind_args()
    {
        return L"\"" + env_path("TARNWICK_SEAM_DLL") +
               L"\" GetSystemTime=version.dll:GetFileVersionInfoSizeA"
               L" GetLocalTime=tarnwick-planted.dll:TarnwickPlanted";
    }

    // What holds wherever the libraries were planted.
    void expect_nothing_planted_bound(Report& report, const std::wstring& planted)
    {
        const auto& bound = report[L"bound"];
        ASSERT_EQ(bound.size(), std::size(kDeclared));
        for (const Declared& d : kDeclared) {
            const std::wstring name = widen(d.function);
            ASSERT_TRUE(bound.count(name)) << d.function;
            const Module& m = bound.at(name);
            SCOPED_TRACE(std::string(d.function) + " bound from " + narrow(m.file));
            EXPECT_FALSE(m.planted);
            // Only the planted folder has the library GetLocalTime now names.
            EXPECT_EQ(m.file == L"-", name == L"GetLocalTime");
            if (name == L"GetSystemTime") {
                EXPECT_TRUE(
                    same_path(m.file.substr(m.file.find_last_of(L'\\') + 1), L"version.dll"));
            }
        }
        // No planted library ran at all.
        for (const wchar_t* name : kPlanted)
            EXPECT_EQ(GetFileAttributesW((planted + L"\\" + name + L".loaded").c_str()),
                      INVALID_FILE_ATTRIBUTES)
                << "planted " << narrow(name) << " was loaded";
    }

    std::wstring root_;
    std::vector<std::wstring> system_, made_, folders_;
};

// Planted in the host's current folder, first on its PATH: every declared
// function is bound from the system folder.
TEST_F(PlantedLibraries, InTheCurrentFolderAndOnThePath)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    const std::wstring programs = folder(L"program"), planted = folder(L"planted");
    const std::wstring host = host_in(programs);
    plant(planted);
    Report report = run_host(host, planted, planted, bind_args());
    expect_nothing_planted_bound(report, planted);
    for (const Declared& d : kDeclared) {
        if (std::string(d.function) == "GetLocalTime")
            continue;
        const std::wstring file = report[L"bound"][widen(d.function)].file;
        EXPECT_TRUE(in_system(file)) << d.function << " bound from " << narrow(file);
        EXPECT_FALSE(same_path(folder_of(file), planted)) << d.function;
    }
    // A plain load by name would have found the planted library there.
    Report control = run_host(host, planted, planted, L"--load tarnwick-planted.dll");
    EXPECT_TRUE(control[L"load"][L"tarnwick-planted.dll"].planted);
    EXPECT_TRUE(same_path(control[L"load"][L"tarnwick-planted.dll"].file,
                          planted + L"\\tarnwick-planted.dll"));
}

// Planted beside the host (and in its current folder and PATH as well).
// Under Wine the loader names a system library that it loads in place of a
// same-named file beside the program after that file, so the file name is
// no evidence here; what is checked is that no planted code is bound or
// even loaded, and that a library only the planted folder has stays unbound.
TEST_F(PlantedLibraries, BesideTheHostProgram)
{
    TESTKIT_REQUIRE_TEB_REGISTER_KEPT();
    const std::wstring planted = folder(L"beside");
    const std::wstring host = host_in(planted);
    plant(planted);
    Report report = run_host(host, planted, planted, bind_args());
    expect_nothing_planted_bound(report, planted);
    unsigned named_system = 0;
    for (const auto& [name, m] : report[L"bound"])
        named_system += in_system(m.file);

    Report control = run_host(host, planted, planted, L"--load tarnwick-planted.dll");
    EXPECT_TRUE(control[L"load"][L"tarnwick-planted.dll"].planted);
    std::printf("%zu declared functions bound, none from a planted library (%u named after the "
                "system folder)\n",
                std::size(kDeclared) - 1, named_system);
}

}  // namespace
}  // namespace reliability
