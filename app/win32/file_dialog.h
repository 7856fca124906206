// The system's box for choosing a file to open or to save.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "ui_text.h"

struct FileChoice {
    const wchar_t *filter;       // pairs of "name\0pattern\0", ending in "\0"
    const wchar_t *extension;    // added to a name typed without one
    const wchar_t *title;
    const wchar_t *defaultName;  // proposed when saving; may be null
};

// A FileChoice's filter: each kind of file as "name (pattern)" and its
// pattern, in order.
std::wstring FileFilter(std::initializer_list<std::pair<std::string, const wchar_t *>> kinds);

// The path chosen in UTF-8, or empty when the user cancelled or the box
// failed; a failure is told in a message box of its own (in texts' words),
// a cancel is not. Saving asks before replacing a file; opening takes only
// one that exists.
std::string AskFilePath(HWND owner, const FileChoice &choice, bool save, const ITexts &texts);
