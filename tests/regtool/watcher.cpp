// Starts a program and watches the desktop while it runs, the way a person
// in front of the screen would: every message box that shows up is read
// (caption, text, icon, buttons), answered with OK, and written to stdout as
// one line. Any other window that the program shows is reported too.
//
//   watcher [--timeout MS] [--unquoted] [--cwd DIR] PROGRAM [ARGUMENTS]
//
// PROGRAM is started with the command line PROGRAM ARGUMENTS, the program's
// name in double quotes unless --unquoted is given. Output, one item a line:
//   box caption="..." text="..." icon=NAME buttons=ID:"TEXT",...
//   window class="..." caption="..."
//   exit CODE                 the program ended; CODE is its exit code
//   timeout                   it was still running after MS milliseconds
// Exit status: 0 when the program ended in time, 1 on a timeout, 2 when it
// could not be started.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

void Say(const std::wstring& line) {
  const std::string bytes = Utf8(line) + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

// A control's text, asked of the thread that owns it (the box's own modal
// loop answers); bounded so a stuck box cannot hang the watcher.
std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, 2000, &copied)) {
    return L"<no answer>";
  }
  return std::wstring(text, copied);
}

// Pixels of an icon's colour image and mask, for comparing two icons.
std::vector<BYTE> IconBits(HICON icon) {
  ICONINFO info{};
  if (icon == nullptr || !GetIconInfo(icon, &info)) return {};
  std::vector<BYTE> bits;
  HDC dc = GetDC(nullptr);
  for (HBITMAP bitmap : {info.hbmColor, info.hbmMask}) {
    if (bitmap == nullptr) continue;
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    if (!GetDIBits(dc, bitmap, 0, 0, nullptr, &format, DIB_RGB_COLORS)) continue;
    const LONG width = format.bmiHeader.biWidth;
    const LONG height = format.bmiHeader.biHeight < 0 ? -format.bmiHeader.biHeight
                                                      : format.bmiHeader.biHeight;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    format.bmiHeader.biHeight = height;
    std::vector<BYTE> part(static_cast<size_t>(width) * height * 4);
    if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), part.data(), &format,
                  DIB_RGB_COLORS)) {
      bits.insert(bits.end(), part.begin(), part.end());
    }
  }
  ReleaseDC(nullptr, dc);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return bits;
}

// Names the box's icon by comparing its pixels with the system's standard
// message-box icons: "none" without an icon control, "unreadable" when the
// icon's pixels cannot be read from this process, "other" when they match
// none of them.
std::wstring NameIcon(HWND iconControl) {
  if (iconControl == nullptr) return L"none";
  DWORD_PTR handle = 0;
  SendMessageTimeoutW(iconControl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &handle);
  const std::vector<BYTE> seen = IconBits(reinterpret_cast<HICON>(handle));
  if (seen.empty()) return L"unreadable";
  const struct {
    const wchar_t* id;
    const wchar_t* name;
  } standard[] = {{IDI_EXCLAMATION, L"exclamation"},
                  {IDI_HAND, L"hand"},
                  {IDI_QUESTION, L"question"},
                  {IDI_ASTERISK, L"asterisk"}};
  for (const auto& s : standard) {
    if (IconBits(LoadIconW(nullptr, s.id)) == seen) return s.name;
  }
  return L"other";
}

struct BoxParts {
  std::vector<std::wstring> texts;
  HWND icon = nullptr;
  std::wstring buttons;
  HWND ok = nullptr;
};

BOOL CALLBACK CollectPart(HWND child, LPARAM param) {
  auto& parts = *reinterpret_cast<BoxParts*>(param);
  if (!IsWindowVisible(child)) return TRUE;
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
    if (!parts.buttons.empty()) parts.buttons += L",";
    parts.buttons += std::to_wstring(id) + L":\"" + TextOf(child) + L"\"";
    if (id == IDOK) parts.ok = child;
  }
  return TRUE;
}

// Reads one box, reports it and closes it with OK (or, lacking OK, as the
// window's close box would).
void Answer(HWND box) {
  BoxParts parts;
  EnumChildWindows(box, CollectPart, reinterpret_cast<LPARAM>(&parts));
  wchar_t caption[512] = {};
  GetWindowTextW(box, caption, 512);
  std::wstring text;
  for (const auto& t : parts.texts) {
    if (t.empty()) continue;
    if (!text.empty()) text += L" | ";
    text += t;
  }
  Say(L"box caption=\"" + std::wstring(caption) + L"\" text=\"" + text +
      L"\" icon=" + NameIcon(parts.icon) + L" buttons=" + parts.buttons);
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

BOOL CALLBACK Inspect(HWND window, LPARAM param) {
  auto& scan = *reinterpret_cast<Scan*>(param);
  if (!IsWindowVisible(window)) return TRUE;
  for (HWND known : *scan.seen) {
    if (known == window) return TRUE;
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

int wmain(int argc, wchar_t** argv) {
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
    fwprintf(stderr, L"usage: watcher [--timeout MS] [--unquoted] [--cwd DIR] PROGRAM [ARGUMENTS]\n");
    return 2;
  }
  const std::wstring program = argv[i];
  std::wstring commandLine = quoted ? L"\"" + program + L"\"" : program;
  if (i + 1 < argc && argv[i + 1][0] != L'\0') commandLine += L" " + std::wstring(argv[i + 1]);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      cwd, &startup, &child)) {
    fwprintf(stderr, L"cannot start %ls: error %lu\n", program.c_str(), GetLastError());
    return 2;
  }
  CloseHandle(child.hThread);

  std::vector<HWND> seen;
  Scan scan{child.dwProcessId, &seen};
  const ULONGLONG deadline = GetTickCount64() + timeout;
  for (;;) {
    EnumWindows(Inspect, reinterpret_cast<LPARAM>(&scan));
    if (WaitForSingleObject(child.hProcess, 50) == WAIT_OBJECT_0) break;
    if (GetTickCount64() >= deadline) {
      Say(L"timeout");
      TerminateProcess(child.hProcess, 1);
      return 1;
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  wchar_t hex[16];
  swprintf(hex, 16, L"0x%lX", code);
  Say(std::wstring(L"exit ") + hex);
  return 0;
}
