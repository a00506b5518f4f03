// WindowsInfo: the platform id, the operating system's name and version,
// and the program path of the default web browser. Every registry read goes
// through a Registry object of the calling method's own.
#include <string>

#include "Registry.h"
#include "text.h"

namespace tarnwick {

using platform::call;
using platform::Fn;

class WindowsInfo final : public Object<WindowsInfo, _WindowsInfo, kWindowsInfo> {
public:
    HRESULT STDMETHODCALLTYPE GetOSType(LONG* result) override;
    HRESULT STDMETHODCALLTYPE GetOSVersionInfo(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetWebBrowser(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetLocation(BSTR* strPath) override;
    HRESULT STDMETHODCALLTYPE GetDefaultBrowserPath(BSTR* result) override;
};

const ClassInfo kWindowsInfo{&CLSID_WindowsInfo, &IID__WindowsInfo, L"WindowsInfo",
                             L"TarnwickDLL.WindowsInfo", 3, &WindowsInfo::create};

namespace {

constexpr LONG kLocalMachine = static_cast<LONG>(0x80000002);

// Reads a value under HKEY_LOCAL_MACHINE through QueryRegValue; false when
// the key or value is missing.
bool read(_Registry* registry, std::wstring_view key, std::wstring_view name, Bstr& out)
{
    Bstr key_text = Bstr::copy(key.data(), static_cast<UINT>(key.size()));
    Bstr name_text = Bstr::copy(name.data(), static_cast<UINT>(name.size()));
    VARIANT_BOOL found = VARIANT_FALSE;
    check(registry->QueryRegValue(kLocalMachine, key_text.get(), name_text.get(), out.ref(), &found));
    return found != VARIANT_FALSE;
}

std::wstring_view view(const Bstr& s) { return {s.get(), s.length()}; }

}  // namespace

HRESULT WindowsInfo::GetOSType(LONG* result)
{
    return method(result, [](LONG& platform_id) {
        OSVERSIONINFOA version{};
        version.dwOSVersionInfoSize = sizeof version;
        static_assert(sizeof version == 148);
        if (call<Fn::GetVersionExA>(&version))
            platform_id = static_cast<LONG>(version.dwPlatformId);
    });
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
        ComPtr<_Registry> registry = Registry::make();
        Bstr product, version;
        if (!read(registry.get(), key, L"ProductName", product))
            return;
        std::wstring line = L"Operating System: ";
        line.append(view(product)).append(L" ");
        if (read(registry.get(), key, version_name, version))
            line.append(L"Version ").append(view(version)).append(L"\r\n");
        text = Bstr::copy(line.data(), static_cast<UINT>(line.size()));
    });
}

HRESULT WindowsInfo::GetWebBrowser(BSTR* result)
{
    return method(result, [&](Bstr& path) {
        ComPtr<_Registry> registry = Registry::make();
        Bstr prog_id, command;
        if (!read(registry.get(), L"Software\\Classes\\.htm", L"", prog_id))
            return;
        // The ProgID is used as read, even when it is empty.
        std::wstring key = L"Software\\Classes\\";
        key.append(view(prog_id)).append(L"\\shell\\open\\command");
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
    return method([&] {
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
    }, strPath);
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
