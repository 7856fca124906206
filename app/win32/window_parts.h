// What the program's own top-level windows (the live view, the calibration)
// share: their window class, the dialog's message font, texts in and out of
// controls, and a place beside the dialog.
#pragma once

#include <windows.h>

#include <string>

// Registers a window class of the program once (later calls find it): a
// top-level window with the program's icon on the dialog's face colour, or
// a drawing inside one that scales with its size and paints every pixel.
void RegisterWindowClass(const wchar_t *name, WNDPROC proc, bool topLevel);
// The font the system's message boxes use; the caller deletes it.
HFONT CreateMessageFont();
// A child control of parent in font, placed later by the window's layout.
HWND AddChild(HWND parent, HFONT font, const wchar_t *cls, const wchar_t *text, DWORD style,
              int id, DWORD exStyle = 0);

std::wstring WindowText(HWND hwnd);
// A static control redraws on every SetWindowText, so unchanged texts are
// left alone: ten refreshes a second would otherwise flicker. True when the
// text changed.
bool SetTextIfChanged(HWND hwnd, const std::wstring &text);
SIZE TextSize(HDC dc, const std::wstring &text);

// Sizes window to show a client area of least (twice its height when
// tallTwice), beside owner where the screen has room. The window's least
// size, frame included, for WM_GETMINMAXINFO.
POINT PlaceBeside(HWND window, HWND owner, SIZE least, bool tallTwice);
