#include "window_parts.h"

#include <algorithm>

#include "dialog_template.h"

namespace {

// Registers a class of the program once (later calls find it).
void RegisterOnce(const wchar_t *name, WNDPROC proc, bool topLevel) {
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

}  // namespace

void CObjectWindow::CreateObjectWindow(const wchar_t *cls, const wchar_t *drawingCls,
                                       const std::wstring &title, HWND owner) {
    RegisterOnce(cls, &CObjectWindow::WindowProc, true);
    RegisterOnce(drawingCls, &CObjectWindow::DrawingProc, false);
    // m_hwnd is set at the first message.
    CreateWindowExW(WS_EX_CONTROLPARENT, cls, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                    GetModuleHandleW(nullptr), this);
}

LRESULT CALLBACK CObjectWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto *self =
            static_cast<CObjectWindow *>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_hwnd = hwnd;
    }
    auto *self = reinterpret_cast<CObjectWindow *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->m_hwnd = nullptr;
            return DefWindowProcW(hwnd, message, wParam, lParam);
        case WM_COMMAND:
            self->OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_TIMER:
            if (wParam == kTickTimer) self->Tick();
            return 0;
        case WM_CLOSE:
            // Hidden, not destroyed: it opens again with what it held.
            self->Close();
            return 0;
        case WM_SIZE:
            self->Layout();
            return 0;
        case WM_GETMINMAXINFO:
            reinterpret_cast<MINMAXINFO *>(lParam)->ptMinTrackSize = self->m_minTrack;
            return 0;
        default:
            return self->OnMessage(message, wParam, lParam);
    }
}

LRESULT CObjectWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(m_hwnd, message, wParam, lParam);
}

LRESULT CALLBACK CObjectWindow::DrawingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) return 1;  // the paint covers every pixel: no flicker
    if (message == WM_PAINT) {
        const HWND parent = GetParent(hwnd);
        if (auto *self =
                reinterpret_cast<CObjectWindow *>(GetWindowLongPtrW(parent, GWLP_USERDATA))) {
            self->Paint(hwnd);
            return 0;
        }
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void CObjectWindow::Paint(HWND drawing) {
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(drawing, &ps);
    RECT rect;
    GetClientRect(drawing, &rect);
    const HDC memory = CreateCompatibleDC(dc);
    const HBITMAP bitmap =
        CreateCompatibleBitmap(dc, std::max<LONG>(1, rect.right), std::max<LONG>(1, rect.bottom));
    const HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    Draw(memory, rect);
    BitBlt(dc, 0, 0, rect.right, rect.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(drawing, &ps);
}

HFONT CreateMessageFont() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return nullptr;
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

HWND AddChild(HWND parent, HFONT font, const wchar_t *cls, const wchar_t *text, DWORD style, int id,
              DWORD exStyle) {
    const HWND hwnd =
        CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                        reinterpret_cast<HMENU>(INT_PTR{id}), GetModuleHandleW(nullptr), nullptr);
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

CTextMeasure::CTextMeasure(HWND hwnd, HFONT font)
    : m_hwnd(hwnd), m_dc(GetDC(hwnd)), m_old(SelectObject(m_dc, font)) {
    GetTextMetricsW(m_dc, &m_metrics);
}

CTextMeasure::~CTextMeasure() {
    SelectObject(m_dc, m_old);
    ReleaseDC(m_hwnd, m_dc);
}

POINT PlaceBeside(HWND window, HWND owner, SIZE least, int extraHeight) {
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    RECT frame = {0, 0, least.cx, least.cy};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const POINT minTrack = {frame.right - frame.left, frame.bottom - frame.top};
    frame.bottom += extraHeight;
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
