// What the program's own top-level windows (the live view, the calibration)
// share: the object behind the window, a drawing inside it, the dialog's
// message font, texts in and out of controls, and a place beside the dialog.
#pragma once

#include <windows.h>

#include <string>

// A top-level window with the object behind it, which the window's messages
// reach: its commands, its timer's ticks, its closing (it hides, keeping
// what it holds) and its sizing; the others go to OnMessage. A drawing
// inside it (a child of the drawing class) is drawn by Draw off screen and
// copied in one go, so that no half-drawn picture shows.
class CObjectWindow {
public:
    CObjectWindow() = default;
    virtual ~CObjectWindow() = default;
    CObjectWindow(const CObjectWindow &) = delete;
    CObjectWindow &operator=(const CObjectWindow &) = delete;

    // Null until created, and once destroyed.
    HWND Hwnd() const { return m_hwnd; }
    // Hides the window, as its close box does.
    virtual void Close() = 0;

protected:
    // The timer whose ticks go to Tick.
    static constexpr UINT_PTR kTickTimer = 1;

    // Creates the window, of class cls (with the program's icon on the
    // dialog's face colour), owned by owner: above it, minimised and closed
    // with it. Its children of class drawingCls are drawn by Draw.
    void CreateObjectWindow(const wchar_t *cls, const wchar_t *drawingCls,
                            const std::wstring &title, HWND owner);
    // Places the controls; returns the least client size that shows them.
    virtual SIZE Layout() = 0;
    virtual void OnCommand(int id, int code) = 0;
    virtual void Tick() = 0;
    // Paints every pixel of rect, the drawing's client area.
    virtual void Draw(HDC dc, const RECT &rect) = 0;
    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hwnd = nullptr;
    // The window's least size, frame included.
    POINT m_minTrack = {};

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK DrawingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint(HWND drawing);
};
// The font the system's message boxes use; the caller deletes it.
HFONT CreateMessageFont();
// A child control of parent in font, placed later by the window's layout.
HWND AddChild(HWND parent, HFONT font, const wchar_t *cls, const wchar_t *text, DWORD style, int id,
              DWORD exStyle = 0);

std::wstring WindowText(HWND hwnd);
// A static control redraws on every SetWindowText, so unchanged texts are
// left alone: ten refreshes a second would otherwise flicker. True when the
// text changed.
bool SetTextIfChanged(HWND hwnd, const std::wstring &text);
SIZE TextSize(HDC dc, const std::wstring &text);

// Texts measured in a window's font: the window's DC with the font chosen,
// given back at the end of the scope.
class CTextMeasure {
public:
    CTextMeasure(HWND hwnd, HFONT font);
    ~CTextMeasure();
    CTextMeasure(const CTextMeasure &) = delete;
    CTextMeasure &operator=(const CTextMeasure &) = delete;

    const TEXTMETRICW &Metrics() const { return m_metrics; }
    int Width(const std::wstring &text) const { return TextSize(m_dc, text).cx; }

private:
    HWND m_hwnd;
    HDC m_dc;
    HGDIOBJ m_old;
    TEXTMETRICW m_metrics = {};
};

// Sizes window to show a client area of least and extraHeight pixels more,
// beside owner where the screen has room. The window's least size, frame
// included, for WM_GETMINMAXINFO.
POINT PlaceBeside(HWND window, HWND owner, SIZE least, int extraHeight);
