// Registration-free Tarnwick client: uses the library with nothing of it
// registered. Its own manifest (resource type 24, id 1: regfree.manifest)
// names the assembly "Tarnwick"; Windows finds Tarnwick.manifest and
// Tarnwick.dll beside the program and resolves ProgIDs, class identifiers,
// the type library and the interfaces' marshalling through them.
//
//   regfree.exe            creates every class, by ProgID and by class
//                          identifier, and calls each early and late bound
//   regfree.exe --reboot   also asks Windows to restart the machine
//
// Folder layout:  regfree.exe  Tarnwick.dll  Tarnwick.manifest
#include <windows.h>
#include <oleauto.h>
#undef RegCreateKey
#include "Tarnwick.h"

#include <cstdio>
#include <cwchar>
#include <initializer_list>

namespace {

int failures = 0;

bool ok(HRESULT hr, const char* what)
{
    if (SUCCEEDED(hr))
        return true;
    std::printf("%s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    ++failures;
    return false;
}

void print(const char* label, BSTR text)
{
    UINT n = SysStringLen(text);
    if (n >= 2 && text[n - 2] == L'\r' && text[n - 1] == L'\n')
        n -= 2;
    std::printf("%s: %.*ls\n", label, static_cast<int>(n), text ? text : L"");
}

// Whether the class comes from the program's activation context (its
// manifest) rather than from the registry.
bool from_manifest(REFCLSID clsid)
{
    ACTCTX_SECTION_KEYED_DATA data{};
    data.cbSize = sizeof data;
    return FindActCtxSectionGuid(0, nullptr, ACTIVATION_CONTEXT_SECTION_COM_SERVER_REDIRECTION,
                                 &clsid, &data) != FALSE;
}

// A late-bound call by name; the arguments last to first, as Invoke takes them.
HRESULT call(IDispatch* object, const wchar_t* method, VARIANT* args, UINT count, VARIANT* result)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(method)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    DISPPARAMS params{args, nullptr, count, 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                          nullptr, nullptr);
}

VARIANT text(BSTR s)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = s;
    return v;
}

VARIANT text_ref(BSTR* s)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR | VT_BYREF;
    v.pbstrVal = s;
    return v;
}

// Creates the class twice: by its ProgID (for the late-bound object) and by
// its class identifier (for the early-bound one).
template <class I>
bool create(const wchar_t* progid, REFCLSID clsid, REFIID iid, IDispatch** late, I** early)
{
    std::printf("%ls: %s\n", progid,
                from_manifest(clsid) ? "found in the manifest" : "NOT in the manifest");
    // From a manifest, the ProgID may name an alias of the class
    // identifier, which creates the same class.
    CLSID by_name{};
    ok(CLSIDFromProgID(progid, &by_name), "CLSIDFromProgID");
    ok(CoCreateInstance(by_name, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                        reinterpret_cast<void**>(late)),
       "create by ProgID");
    // The object made from the ProgID describes the class's own interface.
    ITypeInfo* type = nullptr;
    if (*late && ok((*late)->GetTypeInfo(0, LOCALE_USER_DEFAULT, &type), "GetTypeInfo")) {
        TYPEATTR* attributes = nullptr;
        if (ok(type->GetTypeAttr(&attributes), "GetTypeAttr")) {
            if (!IsEqualIID(attributes->guid, iid)) {
                std::printf("%ls made an object of another class\n", progid);
                ++failures;
            }
            type->ReleaseTypeAttr(attributes);
        }
        type->Release();
    }
    ok(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(early)),
       "create by class identifier");
    return *late && *early;
}

void use_registry()
{
    IDispatch* late = nullptr;
    _Registry3* reg = nullptr;
    if (create(L"TarnwickDLL.Registry", CLSID_Registry, IID__Registry3, &late, &reg)) {
        BSTR root = SysAllocString(L"HKCU");
        BSTR key = SysAllocString(L"Software\\Tarnwick Examples\\Registration-free");
        BSTR name = SysAllocString(L"Greeting");
        BSTR value = SysAllocString(L"Hello without registering");
        SHORT done = 0;
        if (ok(reg->RegCreateKey(&root, &key, &done), "RegCreateKey") &&
            ok(reg->RegWriteString(root, key, name, value, &done), "RegWriteString"))
            std::printf("early RegWriteString: %d\n", done);
        VARIANT args[] = {text_ref(&name), text_ref(&key), text(root)};
        VARIANT result;
        VariantInit(&result);
        if (ok(call(late, L"RegReadString", args, 3, &result), "RegReadString") &&
            result.vt == VT_BSTR)
            print("late RegReadString", result.bstrVal);
        VariantClear(&result);
        // Release 1.11's typed read, through the same manifest.
        VARIANT hkcu = text(root), view;
        VariantInit(&view);
        view.vt = VT_ERROR;
        view.scode = DISP_E_PARAMNOTFOUND;
        if (ok(reg->RegReadValue(hkcu, key, name, view, &result), "RegReadValue") &&
            result.vt == VT_BSTR)
            print("early RegReadValue", result.bstrVal);
        VariantClear(&result);
        for (BSTR s : {root, key, name, value})
            SysFreeString(s);
    }
    if (reg)
        reg->Release();
    if (late)
        late->Release();
}

void use_windows_info()
{
    IDispatch* late = nullptr;
    _WindowsInfo3* info = nullptr;
    if (create(L"TarnwickDLL.WindowsInfo", CLSID_WindowsInfo, IID__WindowsInfo3, &late, &info)) {
        LONG platform = 0;
        if (ok(info->GetOSType(&platform), "GetOSType"))
            std::printf("early GetOSType: %ld\n", platform);
        BSTR architecture = nullptr;
        if (ok(info->GetProcessArchitecture(&architecture), "GetProcessArchitecture"))
            print("early GetProcessArchitecture", architecture);
        SysFreeString(architecture);
        VARIANT result;
        VariantInit(&result);
        if (ok(call(late, L"GetOSVersionInfo", nullptr, 0, &result), "GetOSVersionInfo") &&
            result.vt == VT_BSTR)
            print("late GetOSVersionInfo", result.bstrVal);
        VariantClear(&result);
    }
    if (info)
        info->Release();
    if (late)
        late->Release();
}

// The Time object is also called from a thread of another apartment,
// through a proxy: the interfaces' marshalling entries of the manifest at work.
DWORD WINAPI call_from_other_apartment(void* stream)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    _Time* proxy = nullptr;
    if (ok(CoGetInterfaceAndReleaseStream(static_cast<IStream*>(stream), IID__Time,
                                          reinterpret_cast<void**>(&proxy)),
           "unmarshal _Time")) {
        BSTR t = nullptr;
        if (ok(proxy->CurrentGMTTime(&t), "CurrentGMTTime through a proxy"))
            std::printf("other apartment CurrentGMTTime: %u characters\n", SysStringLen(t));
        SysFreeString(t);
        proxy->Release();
    }
    CoUninitialize();
    return 0;
}

void use_time()
{
    IDispatch* late = nullptr;
    _Time3* clock = nullptr;
    if (create(L"TarnwickDLL.Time", CLSID_Time, IID__Time3, &late, &clock)) {
        BSTR t = nullptr;
        if (ok(clock->CurrentGMTTime(&t), "CurrentGMTTime"))
            print("early CurrentGMTTime", t);
        SysFreeString(t);
        t = nullptr;
        if (ok(clock->CurrentUTCTimestamp(&t), "CurrentUTCTimestamp"))
            print("early CurrentUTCTimestamp", t);
        SysFreeString(t);
        VARIANT result;
        VariantInit(&result);
        if (ok(call(late, L"CurrentLocalTime", nullptr, 0, &result), "CurrentLocalTime") &&
            result.vt == VT_BSTR)
            print("late CurrentLocalTime", result.bstrVal);
        VariantClear(&result);

        IStream* stream = nullptr;
        if (ok(CoMarshalInterThreadInterfaceInStream(IID__Time, clock, &stream), "marshal _Time")) {
            HANDLE thread = CreateThread(nullptr, 0, call_from_other_apartment, stream, 0, nullptr);
            // This apartment serves the call while it waits.
            while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) ==
                   WAIT_OBJECT_0 + 1) {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageW(&msg);
            }
            CloseHandle(thread);
        }
    }
    if (clock)
        clock->Release();
    if (late)
        late->Release();
}

void use_reboot(bool really)
{
    IDispatch* late = nullptr;
    _Reboot3* restart = nullptr;
    if (create(L"TarnwickDLL.Reboot", CLSID_Reboot, IID__Reboot3, &late, &restart)) {
        // The type library, found through the manifest, names the method.
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"Reboot")};
        if (ok(late->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), "GetIDsOfNames"))
            std::printf("late Reboot has dispatch id 0x%08lX\n", static_cast<unsigned long>(id));
        SHORT accepted = 0;
        if (!really)
            std::printf("early Reboot: not called (pass --reboot to restart the machine)\n");
        else if (ok(restart->Reboot(&accepted), "Reboot"))
            std::printf("early Reboot: %d\n", accepted);
    }
    if (restart)
        restart->Release();
    if (late)
        late->Release();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::printf("CoInitializeEx failed\n");
        return 1;
    }
    use_registry();
    use_windows_info();
    use_time();
    use_reboot(argc > 1 && std::wcscmp(argv[1], L"--reboot") == 0);
    CoUninitialize();
    std::printf(failures == 0 ? "Done.\n" : "Done, %d calls failed.\n", failures);
    return failures == 0 ? 0 : 1;
}
