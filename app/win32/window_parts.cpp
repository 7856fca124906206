#include "window_parts.h"

#include <algorithm>

#include "dialog_template.h"

void RegisterWindowClass(const wchar_t *name, WNDPROC proc, bool topLevel) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    if (GetClassInfoExW(instance, name, &wc)) return;
    wc = {};
    wc.cbSize = sizeof wc;
    // A drawing is redrawn whole when resized: it scales with its size.
    wc.style = topLevel ? 0 : CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    if (topLevel) {
        wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    }
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
}

HFONT CreateMessageFont() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return nullptr;
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

HWND AddChild(HWND parent, HFONT font, const wchar_t *cls, const wchar_t *text, DWORD style,
              int id, DWORD exStyle) {
    const HWND hwnd = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0,
                                      0, parent, reinterpret_cast<HMENU>(INT_PTR{id}),
                                      GetModuleHandleW(nullptr), nullptr);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return hwnd;
}

std::wstring WindowText(HWND hwnd) {
    if (!hwnd) return {};
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool SetTextIfChanged(HWND hwnd, const std::wstring &text) {
    if (WindowText(hwnd) == text) return false;
    SetWindowTextW(hwnd, text.c_str());
    return true;
}

SIZE TextSize(HDC dc, const std::wstring &text) {
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size;
}

POINT PlaceBeside(HWND window, HWND owner, SIZE least, bool tallTwice) {
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    RECT frame = {0, 0, least.cx, least.cy};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const POINT minTrack = {frame.right - frame.left, frame.bottom - frame.top};
    if (tallTwice) frame.bottom += least.cy;
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT at = {};
    GetWindowRect(owner, &at);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT &work = monitor.rcWork;
    int x = at.right + 8;
    if (x + width > work.right) x = std::max<int>(work.left, at.left - 8 - width);
    const int y = std::clamp<int>(at.top, work.top, std::max<int>(work.top, work.bottom - height));
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    return minTrack;
}
