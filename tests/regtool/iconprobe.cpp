// Icon probe: a window-hook procedure that the watcher hooks into the thread
// of a message box it has found. Running inside the box's own process, it can
// read the icon that the box shows (another process cannot) and compares its
// pixels with the system's standard message-box icons. The answer is left on
// the icon control as the window property "TarnwickIconProbe":
// 1 exclamation, 2 hand, 3 question, 4 asterisk, 5 another icon, 6 no icon.

#include <windows.h>

#include <vector>

namespace {

constexpr wchar_t kProbe[] = L"TarnwickIconProbe";

// The colour image and the mask of an icon, as 32-bit pixels.
std::vector<BYTE> IconBits(HICON icon)
{
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info))
        return {};
    std::vector<BYTE> bits;
    HDC dc = GetDC(nullptr);
    for (HBITMAP bitmap : {info.hbmColor, info.hbmMask}) {
        if (bitmap == nullptr)
            continue;
        BITMAPINFO format{};
        format.bmiHeader.biSize = sizeof(format.bmiHeader);
        if (!GetDIBits(dc, bitmap, 0, 0, nullptr, &format, DIB_RGB_COLORS))
            continue;
        const LONG width = format.bmiHeader.biWidth;
        const LONG height =
            format.bmiHeader.biHeight < 0 ? -format.bmiHeader.biHeight : format.bmiHeader.biHeight;
        format.bmiHeader.biHeight = height;
        format.bmiHeader.biBitCount = 32;
        format.bmiHeader.biCompression = BI_RGB;
        std::vector<BYTE> part(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
        if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), part.data(), &format,
                      DIB_RGB_COLORS)) {
            bits.insert(bits.end(), part.begin(), part.end());
        }
    }
    ReleaseDC(nullptr, dc);
    if (info.hbmColor != nullptr)
        DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr)
        DeleteObject(info.hbmMask);
    return bits;
}

INT_PTR NameShownIcon(HWND control)
{
    const auto shown = reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
    if (shown == nullptr)
        return 6;
    const std::vector<BYTE> seen = IconBits(shown);
    const LPCWSTR standard[] = {IDI_EXCLAMATION, IDI_HAND, IDI_QUESTION, IDI_ASTERISK};
    for (INT_PTR i = 0; i < 4; ++i) {
        const std::vector<BYTE> bits = IconBits(LoadIconW(nullptr, standard[i]));
        if (!bits.empty() && bits == seen)
            return i + 1;
    }
    return 5;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ProbeIcon(int code, WPARAM wparam, LPARAM lparam)
{
    static const UINT probe = RegisterWindowMessageW(kProbe);
    if (code == HC_ACTION) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lparam);
        if (message->message == probe) {
            SetPropW(message->hwnd, kProbe, reinterpret_cast<HANDLE>(NameShownIcon(message->hwnd)));
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}
