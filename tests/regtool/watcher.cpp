// Starts a program and watches the desktop while it runs, the way a person
// in front of the screen would: every message box that shows up is read
// (caption, text, icon, buttons), answered with OK, and written to stdout as
// one line. Any other window that the program shows is reported too.
//
//   watcher [--timeout MS] [--unquoted] [--cwd DIR] PROGRAM [ARGUMENTS]
//
// PROGRAM is started with the command line PROGRAM ARGUMENTS, the program's
// name in double quotes unless --unquoted is given. Output, one item a line:
//   box caption="..." text="..." icon=NAME buttons=ID:"TEXT",... owner=OWNER
//                             OWNER is "none" or the owning window's class
//   window class="..." caption="..."
//   exit CODE                 the program ended; CODE is its exit code
//   output TEXT               a line that the program wrote to its standard
//                             output or error
//   timeout                   it was still running after MS milliseconds
// Exit status: 0 when the program ended in time, 1 on a timeout, 2 when it
// could not be started.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

void Say(const std::wstring& line)
{
    const std::string bytes = Utf8(line) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// A control's text, asked of the thread that owns it (the box's own modal
// loop answers); bounded so a stuck box cannot hang the watcher.
std::wstring TextOf(HWND window)
{
    wchar_t text[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 2000, &copied)) {
        return L"<no answer>";
    }
    return std::wstring(text, copied);
}

// Names the box's icon. Another process cannot read an icon's pixels, so
// the icon probe (a hook procedure in regtool_iconprobe.dll, next to this
// program) is hooked into the box's thread, compares the icon there with the
// system's standard ones and leaves its answer on the control. "none": no
// icon control; "unreadable": the probe gave no answer.
std::wstring NameIcon(HWND iconControl)
{
    if (iconControl == nullptr)
        return L"none";
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring probePath = path;
    probePath.erase(probePath.find_last_of(L'\\') + 1);
    probePath += L"regtool_iconprobe.dll";
    HMODULE probe = LoadLibraryW(probePath.c_str());
    const auto proc =
        reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(probe, "ProbeIcon")));
    if (probe == nullptr || proc == nullptr)
        return L"unreadable";
    const DWORD thread = GetWindowThreadProcessId(iconControl, nullptr);
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, proc, probe, thread);
    if (hook == nullptr)
        return L"unreadable";
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(iconControl, RegisterWindowMessageW(L"TarnwickIconProbe"), 0, 0,
                        SMTO_ABORTIFHUNG, 5000, &ignored);
    UnhookWindowsHookEx(hook);
    const auto answer = reinterpret_cast<INT_PTR>(GetPropW(iconControl, L"TarnwickIconProbe"));
    const wchar_t* names[] = {L"unreadable", L"exclamation", L"hand", L"question",
                              L"asterisk",   L"other",       L"none"};
    return answer >= 0 && answer <= 6 ? names[answer] : L"unreadable";
}

struct BoxParts {
    std::vector<std::wstring> texts;
    HWND icon = nullptr;
    std::wstring buttons;
    HWND ok = nullptr;
};

BOOL CALLBACK CollectPart(HWND child, LPARAM param)
{
    auto& parts = *reinterpret_cast<BoxParts*>(param);
    if (!IsWindowVisible(child))
        return TRUE;
    const std::wstring cls = ClassOf(child);
    const int id = GetDlgCtrlID(child);
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
        const LONG type = GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK;
        if (type == SS_ICON) {
            parts.icon = child;
        } else {
            parts.texts.push_back(TextOf(child));
        }
    } else if (_wcsicmp(cls.c_str(), L"Button") == 0) {
        if (!parts.buttons.empty())
            parts.buttons += L",";
        parts.buttons += std::to_wstring(id) + L":\"" + TextOf(child) + L"\"";
        if (id == IDOK)
            parts.ok = child;
    }
    return TRUE;
}

// Reads one box, reports it and closes it with OK (or, lacking OK, as the
// window's close box would).
void Answer(HWND box)
{
    BoxParts parts;
    EnumChildWindows(box, CollectPart, reinterpret_cast<LPARAM>(&parts));
    wchar_t caption[512] = {};
    GetWindowTextW(box, caption, 512);
    std::wstring text;
    for (const auto& t : parts.texts) {
        if (t.empty())
            continue;
        if (!text.empty())
            text += L" | ";
        text += t;
    }
    HWND owner = GetWindow(box, GW_OWNER);
    Say(L"box caption=\"" + std::wstring(caption) + L"\" text=\"" + text + L"\" icon=" +
        NameIcon(parts.icon) + L" buttons=" + parts.buttons + L" owner=" +
        (owner == nullptr ? L"none" : L"\"" + ClassOf(owner) + L"\""));
    if (parts.ok != nullptr) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(parts.ok));
    } else {
        PostMessageW(box, WM_CLOSE, 0, 0);
    }
}

struct Scan {
    DWORD process;
    std::vector<HWND>* seen;
};

BOOL CALLBACK Inspect(HWND window, LPARAM param)
{
    auto& scan = *reinterpret_cast<Scan*>(param);
    if (!IsWindowVisible(window))
        return TRUE;
    for (HWND known : *scan.seen) {
        if (known == window)
            return TRUE;
    }
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    const std::wstring cls = ClassOf(window);
    if (cls == L"#32770") {
        scan.seen->push_back(window);
        Answer(window);
    } else if (owner == scan.process) {
        scan.seen->push_back(window);
        wchar_t caption[512] = {};
        GetWindowTextW(window, caption, 512);
        Say(L"window class=\"" + cls + L"\" caption=\"" + caption + L"\"");
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    DWORD timeout = 20000;
    bool quoted = true;
    const wchar_t* cwd = nullptr;
    int i = 1;
    for (; i < argc && argv[i][0] == L'-' && argv[i][1] == L'-'; ++i) {
        if (wcscmp(argv[i], L"--timeout") == 0 && i + 1 < argc) {
            timeout = wcstoul(argv[++i], nullptr, 10);
        } else if (wcscmp(argv[i], L"--unquoted") == 0) {
            quoted = false;
        } else if (wcscmp(argv[i], L"--cwd") == 0 && i + 1 < argc) {
            cwd = argv[++i];
        } else {
            break;
        }
    }
    if (i >= argc || argc - i > 2) {
        fwprintf(stderr,
                 L"usage: watcher [--timeout MS] [--unquoted] [--cwd DIR] PROGRAM [ARGUMENTS]\n");
        return 2;
    }
    const std::wstring program = argv[i];
    std::wstring commandLine = quoted ? L"\"" + program + L"\"" : program;
    if (i + 1 < argc && argv[i + 1][0] != L'\0')
        commandLine += L" " + std::wstring(argv[i + 1]);

    // The program's standard output and error go into a pipe, so that
    // anything it writes shows up in the report.
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE outputRead = nullptr;
    HANDLE outputWrite = nullptr;
    if (!CreatePipe(&outputRead, &outputWrite, &inheritable, 0))
        return 2;
    SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;
    // Wine, busy, now and then loses a new process before its first
    // instruction and says ERROR_INTERNAL_ERROR; the program has not run, so
    // starting it again is the same run.
    PROCESS_INFORMATION child{};
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                           nullptr, cwd, &startup, &child)) {
            break;
        }
        const DWORD error = GetLastError();
        fwprintf(stderr, L"cannot start %ls: error %lu\n", program.c_str(), error);
        if (error != ERROR_INTERNAL_ERROR || attempt == 3)
            return 2;
        Sleep(500);
    }
    CloseHandle(child.hThread);
    CloseHandle(outputWrite);

    std::vector<HWND> seen;
    Scan scan{child.dwProcessId, &seen};
    const ULONGLONG deadline = GetTickCount64() + timeout;
    for (;;) {
        EnumWindows(Inspect, reinterpret_cast<LPARAM>(&scan));
        if (WaitForSingleObject(child.hProcess, 50) == WAIT_OBJECT_0)
            break;
        if (GetTickCount64() >= deadline) {
            Say(L"timeout");
            TerminateProcess(child.hProcess, 1);
            return 1;
        }
    }
    // Everything the program wrote is in the pipe now that it has ended. Read
    // only that: a process the platform started on its behalf (the desktop
    // process, say) may hold the pipe open for ever.
    std::string output;
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(outputRead, nullptr, 0, nullptr, &available, nullptr) ||
            available == 0) {
            break;
        }
        DWORD got = 0;
        const DWORD want = available < sizeof(buffer) ? available : sizeof(buffer);
        if (!ReadFile(outputRead, buffer, want, &got, nullptr) || got == 0)
            break;
        output.append(buffer, got);
    }
    for (size_t start = 0; start < output.size();) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::wstring line(output.begin() + static_cast<std::ptrdiff_t>(start),
                          output.begin() + static_cast<std::ptrdiff_t>(end));
        Say(L"output " + line);
        start = end + 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    wchar_t hex[16];
    swprintf(hex, 16, L"0x%lX", code);
    Say(std::wstring(L"exit ") + hex);
    return 0;
}
