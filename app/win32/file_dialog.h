// The system's box for choosing a file to open or to save.
#pragma once

#include <windows.h>

#include <string>

struct FileChoice {
    const wchar_t *filter;       // pairs of "name\0pattern\0", ending in "\0"
    const wchar_t *extension;    // added to a name typed without one
    const wchar_t *title;
    const wchar_t *defaultName;  // proposed when saving; may be null
};

// The path chosen in UTF-8, or empty when the user cancelled or the box
// failed; a failure is told in a message box of its own, a cancel is not.
// Saving asks before replacing a file; opening takes only one that exists.
std::string AskFilePath(HWND owner, const FileChoice &choice, bool save);
