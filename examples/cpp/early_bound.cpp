// Early-bound Tarnwick client: creates each class by its class identifier
// and calls the methods through the interface's method table, as declared
// in the generated header Tarnwick.h (identifiers in Tarnwick_i.c).
//
//   early_bound.exe            calls every method except Reboot
//   early_bound.exe --reboot   also asks Windows to restart the machine
//
// Every method returns an HRESULT and hands its result back through its
// last parameter. Strings are BSTRs: the caller frees the ones it receives.
#include <windows.h>
#include <oleauto.h>
// windows.h maps RegCreateKey, GetComputerName and GetUserName to their
// wide forms; the methods of the same names must keep their own names.
#undef RegCreateKey
#undef GetComputerName
#undef GetUserName
#include "Tarnwick.h"

#include <cstdio>
#include <cwchar>
#include <initializer_list>

namespace {

int failures = 0;

// Reports a failed call (a failing HRESULT) and counts it.
bool ok(HRESULT hr, const char* what)
{
    if (SUCCEEDED(hr))
        return true;
    std::printf("%s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    ++failures;
    return false;
}

// Prints a BSTR on one line, with a CR LF at its end left out.
void print(const char* label, BSTR text)
{
    UINT n = SysStringLen(text);
    if (n >= 2 && text[n - 2] == L'\r' && text[n - 1] == L'\n')
        n -= 2;
    std::printf("%s: %.*ls\n", label, static_cast<int>(n), text ? text : L"");
}

template <class I> I* create(REFCLSID clsid, REFIID iid, const char* name)
{
    I* object = nullptr;
    ok(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                        reinterpret_cast<void**>(&object)),
       name);
    return object;
}

// The root key as the Long that the handle-level methods take.
LONG root_value(HKEY root)
{
    return static_cast<LONG>(reinterpret_cast<LONG_PTR>(root));
}

void use_registry()
{
    _Registry* reg = create<_Registry>(CLSID_Registry, IID__Registry, "create Registry");
    if (!reg)
        return;
    // Name-level methods: the root key by name, plain results.
    // RegCreateKey and RegReadString take some texts by reference.
    BSTR root = SysAllocString(L"HKCU");
    BSTR key = SysAllocString(L"Software\\Tarnwick Examples\\Early bound");
    BSTR name = SysAllocString(L"Greeting");
    BSTR value = SysAllocString(L"Hello from C++");
    SHORT created = 0, written = 0;
    if (ok(reg->RegCreateKey(&root, &key, &created), "RegCreateKey"))
        std::printf("RegCreateKey: %d\n", created);  // 1 created, 2 existed, 0 failed
    if (ok(reg->RegWriteString(root, key, name, value, &written), "RegWriteString"))
        std::printf("RegWriteString: %d\n", written);  // 1 written, 0 failed
    BSTR text = nullptr;
    if (ok(reg->RegReadString(root, &key, &name, &text), "RegReadString"))
        print("RegReadString", text);
    SysFreeString(text);

    // Handle-level methods: the root key as a handle value, Boolean results
    // (VARIANT_TRUE is -1), texts and numbers handed back by reference.
    const LONG hkcu = root_value(HKEY_CURRENT_USER);  // 0x80000001
    LONG status = 0;
    VARIANT_BOOL done = VARIANT_FALSE;
    BSTR child = SysAllocString(L"Software\\Tarnwick Examples\\Early bound\\Child");
    if (ok(reg->CreateRegKey(hkcu, child, &status, &done), "CreateRegKey"))
        std::printf("CreateRegKey: %d, KeyStatus %ld\n", done, status);
    BSTR setting = SysAllocString(L"set by SetRegValue");
    BSTR note = SysAllocString(L"Note");
    if (ok(reg->SetRegValue(hkcu, key, note, &setting, &done), "SetRegValue"))
        std::printf("SetRegValue: %d\n", done);
    BSTR data = nullptr;
    if (ok(reg->QueryRegValue(hkcu, key, note, &data, &done), "QueryRegValue")) {
        std::printf("QueryRegValue: %d\n", done);
        print("QueryRegValue strData", data);
    }
    BSTR missing = SysAllocString(L"No such value");
    if (ok(reg->QueryRegValue(hkcu, key, missing, &data, &done), "QueryRegValue"))
        std::printf("QueryRegValue of a missing value: %d\n", done);  // 0, data untouched
    for (BSTR s : {root, key, name, value, child, setting, note, data, missing})
        SysFreeString(s);
    reg->Release();
}

// A Variant that holds a text, for the methods of release 1.11 and later,
// whose root key and options are Variants; cleared by the caller.
VARIANT text_variant(const wchar_t* text)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

// Release 1.12 (_Registry3): export, import, copy, find, last write and
// security, the optional View left out as a missing argument.
void use_registry3()
{
    _Registry3* reg = create<_Registry3>(CLSID_Registry, IID__Registry3, "create Registry 1.2");
    if (!reg)
        return;
    VARIANT hkcu = text_variant(L"HKCU"), none;
    VariantInit(&none);
    V_VT(&none) = VT_ERROR;
    V_ERROR(&none) = DISP_E_PARAMNOTFOUND;
    BSTR key = SysAllocString(L"Software\\Tarnwick Examples\\Early bound");
    BSTR copy = SysAllocString(L"Software\\Tarnwick Examples\\Early bound copy");
    // A BSTR's length is the path's own: the library refuses a name with a
    // NUL in it, so the text is formatted first and then copied.
    wchar_t temp[MAX_PATH + 1], path[MAX_PATH + 32];
    GetTempPathW(MAX_PATH, temp);
    std::swprintf(path, sizeof path / sizeof *path, L"%lstarnwick-early-bound.reg", temp);
    BSTR file = SysAllocString(path);
    VARIANT_BOOL done = VARIANT_FALSE;
    if (ok(reg->RegExportKey(hkcu, key, file, none, &done), "RegExportKey"))
        std::printf("RegExportKey: %d\n", done);
    LONG values = 0;
    if (ok(reg->RegImportFile(file, none, &values), "RegImportFile"))
        std::printf("RegImportFile: %ld values\n", values);
    DeleteFileW(file);
    if (ok(reg->RegCopyKey(hkcu, key, hkcu, copy, none, &done), "RegCopyKey"))
        std::printf("RegCopyKey: %d\n", done);
    // Each match is an array of three texts: key path, value name, what matched.
    BSTR pattern = SysAllocString(L"Hello*");
    VARIANT where = text_variant(L"Data"), found;
    VariantInit(&found);
    if (ok(reg->RegFind(hkcu, copy, pattern, where, none, &found), "RegFind") &&
        V_VT(&found) == (VT_ARRAY | VT_VARIANT))
        std::printf("RegFind: %lu match\n", V_ARRAY(&found)->rgsabound[0].cElements);
    BSTR text = nullptr;
    if (ok(reg->RegKeyLastWrite(hkcu, copy, none, &text), "RegKeyLastWrite"))
        print("RegKeyLastWrite", text);
    SysFreeString(text);
    VARIANT access = text_variant(L"Write");
    if (ok(reg->RegCheckAccess(hkcu, copy, access, none, &done), "RegCheckAccess"))
        std::printf("RegCheckAccess: %d\n", done);
    text = nullptr;
    if (ok(reg->RegGetSecurity(hkcu, copy, none, &text), "RegGetSecurity"))
        std::printf("RegGetSecurity: %s\n", text && std::wcsstr(text, L"D:") ? "a DACL" : "none");
    BSTR sddl = text;
    if (ok(reg->RegSetSecurity(hkcu, copy, sddl, none, &done), "RegSetSecurity"))
        std::printf("RegSetSecurity: %d\n", done);
    VARIANT recursive;
    VariantInit(&recursive);
    V_VT(&recursive) = VT_BOOL;
    V_BOOL(&recursive) = VARIANT_TRUE;
    reg->RegDeleteKey(hkcu, copy, recursive, none, &done);
    for (VARIANT* v : {&hkcu, &where, &found, &access})
        VariantClear(v);
    for (BSTR s : {key, copy, file, pattern, sddl})
        SysFreeString(s);
    reg->Release();
}

void use_windows_info()
{
    _WindowsInfo* info =
        create<_WindowsInfo>(CLSID_WindowsInfo, IID__WindowsInfo, "create WindowsInfo");
    if (!info)
        return;
    LONG platform = 0;
    if (ok(info->GetOSType(&platform), "GetOSType"))
        std::printf("GetOSType: %ld\n", platform);  // 2: NT family
    BSTR text = nullptr;
    if (ok(info->GetOSVersionInfo(&text), "GetOSVersionInfo"))
        print("GetOSVersionInfo", text);
    SysFreeString(text);
    text = nullptr;
    if (ok(info->GetDefaultBrowserPath(&text), "GetDefaultBrowserPath"))
        print("GetDefaultBrowserPath", text);
    SysFreeString(text);
    // GetLocation rewrites its by-reference text in place.
    BSTR command = SysAllocString(L"\"C:\\Program Files\\Example\\browser.exe\" -nohome");
    if (ok(info->GetLocation(&command), "GetLocation"))
        print("GetLocation", command);
    SysFreeString(command);
    info->Release();
}

void use_time()
{
    _Time* clock = create<_Time>(CLSID_Time, IID__Time, "create Time");
    if (!clock)
        return;
    BSTR text = nullptr;
    if (ok(clock->CurrentGMTTime(&text), "CurrentGMTTime"))
        print("CurrentGMTTime", text);
    SysFreeString(text);
    text = nullptr;
    if (ok(clock->CurrentLocalTime(&text), "CurrentLocalTime"))
        print("CurrentLocalTime", text);
    SysFreeString(text);
    clock->Release();
}

void use_reboot(bool really)
{
    _Reboot* restart = create<_Reboot>(CLSID_Reboot, IID__Reboot, "create Reboot");
    if (!restart)
        return;
    if (really) {
        SHORT accepted = 0;
        if (ok(restart->Reboot(&accepted), "Reboot"))
            std::printf("Reboot: %d\n", accepted);  // 1 accepted, 0 refused
    } else {
        std::printf("Reboot: not called (pass --reboot to restart the machine)\n");
    }
    restart->Release();
}

// Release 1.12 (_WindowsInfo3, _Time3, _Reboot3): the machine's name and
// its programs, when it started, whether a restart is pending.
void use_machine()
{
    _WindowsInfo3* info =
        create<_WindowsInfo3>(CLSID_WindowsInfo, IID__WindowsInfo3, "create WindowsInfo 1.2");
    _Time3* clock = create<_Time3>(CLSID_Time, IID__Time3, "create Time 1.2");
    _Reboot3* restart = create<_Reboot3>(CLSID_Reboot, IID__Reboot3, "create Reboot 1.2");
    if (info) {
        VARIANT format = text_variant(L"DNS"), list;
        VariantInit(&list);
        BSTR name = nullptr;
        if (ok(info->GetComputerName(format, &name), "GetComputerName"))
            print("GetComputerName DNS", name);
        // Each program is an array of six texts; the user's only here.
        VARIANT scope = text_variant(L"User");
        if (ok(info->GetInstalledPrograms(scope, &list), "GetInstalledPrograms"))
            std::printf("GetInstalledPrograms User: %lu\n", V_ARRAY(&list)->rgsabound[0].cElements);
        for (VARIANT* v : {&format, &list, &scope})
            VariantClear(v);
        SysFreeString(name);
        info->Release();
    }
    if (clock) {
        BSTR boot = nullptr;
        double seconds = 0;
        if (ok(clock->GetBootTimestamp(&boot), "GetBootTimestamp") &&
            ok(clock->GetUptime(&seconds), "GetUptime"))
            std::printf("Started %ls, %.0f s ago\n", boot, seconds);
        SysFreeString(boot);
        clock->Release();
    }
    if (restart) {
        VARIANT_BOOL pending = VARIANT_FALSE;
        if (ok(restart->IsRebootPending(&pending), "IsRebootPending"))
            std::printf("IsRebootPending: %d\n", pending);
        restart->Release();
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::printf("CoInitializeEx failed\n");
        return 1;
    }
    use_registry();
    use_registry3();
    use_windows_info();
    use_time();
    use_machine();
    use_reboot(argc > 1 && std::wcscmp(argv[1], L"--reboot") == 0);
    CoUninitialize();
    std::printf("Done.\n");
    return failures == 0 ? 0 : 1;
}
