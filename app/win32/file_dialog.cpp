#include "file_dialog.h"

#include <commdlg.h>

#include <cwchar>

#include "text_utf16.h"

std::string AskFilePath(HWND owner, const FileChoice &choice, bool save) {
    wchar_t path[MAX_PATH] = {};
    if (save && choice.defaultName) wcsncpy(path, choice.defaultName, MAX_PATH - 1);
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = choice.filter;
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = choice.extension;
    ofn.lpstrTitle = choice.title;
    // The working folder stays where the program started it.
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY |
                (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    return chosen ? Utf16ToUtf8(path) : std::string();
}
