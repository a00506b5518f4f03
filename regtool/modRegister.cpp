// modRegister: the whole of Pelmora.exe.
//
// Registers Tarnwick.dll (or, with "-U" anywhere in the arguments, unregisters
// it) by calling the library's own self-registration export. The program has
// no window of its own; it only speaks up, through a message box, when the
// library cannot be bound or its export reports a failure.

#include <windows.h>

#include <cwchar>

namespace {

constexpr wchar_t kTitle[] = L"Tarnwick Register Application";
constexpr wchar_t kLibraryName[] = L"Tarnwick.dll";
constexpr wchar_t kSwitch[] = L"-U";
constexpr char kRegisterExport[] = "DllRegisterServer";
constexpr char kUnregisterExport[] = "DllUnregisterServer";
constexpr wchar_t kCallFailed[] = L"Error calling function in Tarnwick.dll.";
constexpr wchar_t kCannotBind[] = L"Can't find Tarnwick.dll";

// Exclamation icon (0x30) and a single OK button (0): the style value 48
// that the message box has always had.
constexpr UINT kBoxStyle = MB_ICONEXCLAMATION | MB_OK;
static_assert(kBoxStyle == 48);

// Both self-registration exports share this shape.
using Registration = HRESULT(STDAPICALLTYPE*)();

// The argument text: the command line with the program's own name taken off,
// skipped the way the platform splits off the first argument. A quoted name
// runs to the next quote; an unquoted one to the first blank.
const wchar_t* argument_text(const wchar_t* command_line)
{
    const wchar_t* p = command_line;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"')
            ++p;
        if (*p == L'"')
            ++p;
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

// Exact, case-sensitive search for the switch anywhere in the text, also
// inside a longer word.
bool has_switch(const wchar_t* text)
{
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (p[0] == kSwitch[0] && p[1] == kSwitch[1])
            return true;
    }
    return false;
}

void show_message(const wchar_t* text)
{
    // Modal, no owner; which button closed it does not matter.
    MessageBoxW(nullptr, text, kTitle, kBoxStyle);
}

// Makes the tool's own folder the current folder, which takes the folder
// the tool was started from out of the library search: registration runs
// with an administrator's rights, and a Tarnwick.dll that someone left
// there must not get them. The search is then the tool's own folder, the
// system folders and PATH, as before. False when the folder cannot be made
// current; the library is then not loaded at all.
bool leave_current_folder()
{
    wchar_t folder[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    if (n == 0 || n == MAX_PATH)
        return false;
    wchar_t* name = wcsrchr(folder, L'\\');
    if (name == nullptr)
        return false;
    name[1] = L'\0';
    return SetCurrentDirectoryW(folder) != 0;
}

// Binds the export by library and function name at the moment of the call.
// Returns nullptr when either cannot be bound. The library handle is
// deliberately dropped: the library stays loaded until the process ends,
// so nothing here ever frees it.
Registration bind_export(const char* export_name)
{
    if (!leave_current_folder())
        return nullptr;
    HMODULE library = LoadLibraryW(kLibraryName);
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<Registration>(
        reinterpret_cast<void*>(GetProcAddress(library, export_name)));
}

}  // namespace

// Start-up procedure: one call of one export, at most one message box.
void Main()
{
    const bool unregister = has_switch(argument_text(GetCommandLineW()));
    const Registration call = bind_export(unregister ? kUnregisterExport : kRegisterExport);
    if (call == nullptr) {
        show_message(kCannotBind);
        return;
    }
    if (call() != 0)
        show_message(kCallFailed);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    Main();
    // The tool has no exit code of its own: a plain, successful end on
    // every path.
    return 0;
}
