// WindowsInfo: the platform id, the operating system's name and version,
// and the program path of the default web browser. Every registry read goes
// through a Registry object of the calling method's own, and the methods
// that build on others (GetOSVersionInfo on GetOSType, GetDefaultBrowserPath
// on GetWebBrowser and GetLocation) call them through the object's own
// interface. Both are load-bearing: a failure inside QueryRegValue reaches
// the caller with the Registry object's status and error source, and an
// inner method's failing status ends the outer call unchanged.
#include "Registry.h"
#include "text.h"

namespace tarnwick {

class WindowsInfo final : public Object<WindowsInfo, _WindowsInfo, kWindowsInfo> {
public:
    HRESULT STDMETHODCALLTYPE GetOSType(LONG* result) override;
    HRESULT STDMETHODCALLTYPE GetOSVersionInfo(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetWebBrowser(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetLocation(BSTR* strPath) override;
    HRESULT STDMETHODCALLTYPE GetDefaultBrowserPath(BSTR* result) override;
};

const ClassInfo kWindowsInfo{&CLSID_WindowsInfo, {&IID__WindowsInfo}, L"WindowsInfo",
                             L"TarnwickDLL.WindowsInfo", &WindowsInfo::create};

namespace {

constexpr LONG kLocalMachine = static_cast<LONG>(0x80000002);

// Reads a value under HKEY_LOCAL_MACHINE through QueryRegValue; false when
// the key or value is missing.
bool read(_Registry* registry, const Bstr& key, std::wstring_view name, Bstr& out)
{
    Bstr name_text = Bstr::join({name});
    VARIANT_BOOL found = VARIANT_FALSE;
    check(registry->QueryRegValue(kLocalMachine, key.get(), name_text.get(), out.ref(), &found));
    return found != VARIANT_FALSE;
}

}  // namespace

HRESULT WindowsInfo::GetOSType(LONG* result)
{
    return method(result, [](LONG& id) { id = platform::platform_id(); });
}

HRESULT WindowsInfo::GetOSVersionInfo(BSTR* result)
{
    return method(result, [&](Bstr& text) {
        LONG platform_id = 0;
        check(self()->GetOSType(&platform_id));
        std::wstring_view key, version_name;
        if (platform_id == 1) {
            key = L"Software\\Microsoft\\Windows\\CurrentVersion";
            version_name = L"VersionNumber";
        } else if (platform_id == 2) {
            key = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
            version_name = L"CurrentVersion";
        } else {
            return;
        }
        const auto registry = Registry::make();
        const Bstr key_text = Bstr::join({key});
        Bstr product, version;
        if (!read(registry.get(), key_text, L"ProductName", product))
            return;
        if (read(registry.get(), key_text, version_name, version))
            text = Bstr::join(
                {L"Operating System: ", product.view(), L" Version ", version.view(), L"\r\n"});
        else
            text = Bstr::join({L"Operating System: ", product.view(), L" "});
    });
}

HRESULT WindowsInfo::GetWebBrowser(BSTR* result)
{
    return method(result, [&](Bstr& path) {
        const auto registry = Registry::make();
        Bstr prog_id, command;
        if (!read(registry.get(), Bstr::join({L"Software\\Classes\\.htm"}), L"", prog_id))
            return;
        // The ProgID is used as read, even when it is empty.
        const Bstr key =
            Bstr::join({L"Software\\Classes\\", prog_id.view(), L"\\shell\\open\\command"});
        if (!read(registry.get(), key, L"", command))
            return;
        check(self()->GetLocation(command.ref()));
        path = std::move(command);
    });
}

// Cuts a command line down to its program path: a leading double quote goes,
// and so does everything after the last lower-case "exe". A text without
// one becomes empty.
HRESULT WindowsInfo::GetLocation(BSTR* strPath)
{
    return method(ByRef(strPath), [&] {
        const wchar_t* s = *strPath;
        const UINT length = SysStringLen(*strPath);
        const UINT start = length > 0 && s[0] == L'"' ? 1 : 0;
        UINT end = start;
        for (UINT i = length; i >= start + 3; --i) {
            if (s[i - 3] == L'e' && s[i - 2] == L'x' && s[i - 1] == L'e') {
                end = i;
                break;
            }
        }
        if (start == 0 && end == length)
            return;  // already a path that ends in "exe"
        Bstr path = Bstr::copy(s + start, end - start);
        SysFreeString(*strPath);
        *strPath = path.release();
    });
}

HRESULT WindowsInfo::GetDefaultBrowserPath(BSTR* result)
{
    return method(result, [&](Bstr& path) {
        check(self()->GetWebBrowser(path.put()));
        if (!path.empty())
            check(self()->GetLocation(path.ref()));
    });
}

}  // namespace tarnwick
