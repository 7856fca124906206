// Saves what the screen shows of a window (frame and caption included) as a
// PNG file.
#pragma once

#include <windows.h>

#include <string>

bool SaveWindowPicture(HWND hwnd, const std::wstring &path);
