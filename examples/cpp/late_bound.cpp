// Late-bound Tarnwick client: creates each class by ProgID and calls its
// methods by name through IDispatch alone (GetIDsOfNames, then Invoke), the
// way a script host does. It needs no Tarnwick header.
//
//   late_bound.exe            calls every method except Reboot
//   late_bound.exe --reboot   also asks Windows to restart the machine
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <initializer_list>
#include <vector>

namespace {

int failures = 0;

IDispatch* create(const wchar_t* progid)
{
    CLSID clsid;
    IDispatch* object = nullptr;
    HRESULT hr = CLSIDFromProgID(progid, &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&object));
    if (FAILED(hr)) {
        std::printf("create %ls failed: 0x%08lX\n", progid, static_cast<unsigned long>(hr));
        ++failures;
    }
    return object;
}

// Calls a method by name. The arguments are given in declared order; a
// by-reference argument is a VARIANT with VT_BYREF pointing at the caller's
// variable. The result is returned in a VARIANT (VT_EMPTY for none).
VARIANT call(IDispatch* object, const wchar_t* method, std::initializer_list<VARIANT> args)
{
    VARIANT result;
    VariantInit(&result);
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(method)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (SUCCEEDED(hr)) {
        std::printf("%ls has dispatch id 0x%08lX\n", method, static_cast<unsigned long>(id));
        // Invoke takes the arguments last to first.
        std::vector<VARIANT> reversed(args.size());
        std::size_t i = args.size();
        for (const VARIANT& a : args)
            reversed[--i] = a;
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        EXCEPINFO error{};
        UINT bad_argument = 0;
        hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                            &error, &bad_argument);
        SysFreeString(error.bstrSource);
        SysFreeString(error.bstrDescription);
        SysFreeString(error.bstrHelpFile);
    }
    if (FAILED(hr)) {
        std::printf("%ls failed: 0x%08lX\n", method, static_cast<unsigned long>(hr));
        ++failures;
    }
    return result;
}

// Argument makers. The strings belong to the caller, who frees them.
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
VARIANT number(LONG n)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}
VARIANT number_ref(LONG* n)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4 | VT_BYREF;
    v.plVal = n;
    return v;
}

// Prints a result as text (numbers and Booleans as numbers), without a
// trailing CR LF, and frees it.
void print(const char* label, VARIANT& v)
{
    if (v.vt != VT_BSTR && FAILED(VariantChangeType(&v, &v, 0, VT_BSTR)))
        v.vt = VT_EMPTY;
    BSTR s = v.vt == VT_BSTR ? v.bstrVal : nullptr;
    UINT n = SysStringLen(s);
    if (n >= 2 && s[n - 2] == L'\r' && s[n - 1] == L'\n')
        n -= 2;
    std::printf("%s: %.*ls\n", label, static_cast<int>(n), s ? s : L"");
    VariantClear(&v);
}

void use_registry()
{
    IDispatch* reg = create(L"TarnwickDLL.Registry");
    if (!reg)
        return;
    BSTR root = SysAllocString(L"HKCU");
    BSTR key = SysAllocString(L"Software\\Tarnwick Examples\\Late bound");
    BSTR name = SysAllocString(L"Greeting");
    BSTR value = SysAllocString(L"Hello by name");
    VARIANT r = call(reg, L"RegCreateKey", {text(root), text(key)});
    print("RegCreateKey", r);
    r = call(reg, L"RegWriteString", {text(root), text(key), text(name), text(value)});
    print("RegWriteString", r);
    r = call(reg, L"RegReadString", {text(root), text(key), text(name)});
    print("RegReadString", r);

    // HKEY_CURRENT_USER as the Long the handle-level methods take.
    const LONG hkcu = static_cast<LONG>(0x80000001);
    LONG status = 0;
    BSTR child = SysAllocString(L"Software\\Tarnwick Examples\\Late bound\\Child");
    r = call(reg, L"CreateRegKey", {number(hkcu), text(child), number_ref(&status)});
    print("CreateRegKey", r);
    std::printf("CreateRegKey KeyStatus: %ld\n", status);
    BSTR data = SysAllocString(L"");
    r = call(reg, L"QueryRegValue", {number(hkcu), text(key), text(name), text_ref(&data)});
    print("QueryRegValue", r);
    VARIANT d = text(data);
    print("QueryRegValue strData", d);  // frees data
    for (BSTR s : {root, key, name, value, child})
        SysFreeString(s);
    reg->Release();
}

void use_windows_info()
{
    IDispatch* info = create(L"TarnwickDLL.WindowsInfo");
    if (!info)
        return;
    VARIANT r = call(info, L"GetOSType", {});
    print("GetOSType", r);
    r = call(info, L"GetOSVersionInfo", {});
    print("GetOSVersionInfo", r);
    r = call(info, L"GetDefaultBrowserPath", {});
    print("GetDefaultBrowserPath", r);
    BSTR command = SysAllocString(L"C:\\Tools\\viewer.exe %1");
    r = call(info, L"GetLocation", {text_ref(&command)});
    VariantClear(&r);
    VARIANT c = text(command);
    print("GetLocation", c);  // frees command
    info->Release();
}

void use_time()
{
    IDispatch* clock = create(L"TarnwickDLL.Time");
    if (!clock)
        return;
    VARIANT r = call(clock, L"CurrentGMTTime", {});
    print("CurrentGMTTime", r);
    r = call(clock, L"CurrentLocalTime", {});
    print("CurrentLocalTime", r);
    clock->Release();
}

void use_reboot(bool really)
{
    IDispatch* restart = create(L"TarnwickDLL.Reboot");
    if (!restart)
        return;
    if (really) {
        VARIANT r = call(restart, L"Reboot", {});
        print("Reboot", r);
    } else {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"Reboot")};
        if (SUCCEEDED(restart->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
            std::printf("Reboot has dispatch id 0x%08lX\n", static_cast<unsigned long>(id));
        std::printf("Reboot: not called (pass --reboot to restart the machine)\n");
    }
    restart->Release();
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
    std::printf("Done.\n");
    return failures == 0 ? 0 : 1;
}
