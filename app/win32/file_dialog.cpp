#include "file_dialog.h"

#include <cderr.h>
#include <commdlg.h>

#include <cwchar>

#include "text_utf16.h"

namespace {

// What CommDlgExtendedError's code means, for the person who chose.
std::wstring ProblemOf(DWORD code) {
    switch (code) {
        case FNERR_BUFFERTOOSMALL:
            return L"The path chosen is too long.";
        case FNERR_INVALIDFILENAME:
            return L"The file name is not valid.";
        default:
            wchar_t text[64];
            swprintf(text, 64, L"The file box failed (error 0x%04lX).", code);
            return text;
    }
}

}  // namespace

std::string AskFilePath(HWND owner, const FileChoice &choice, bool save) {
    // Room for the longest path Windows takes (its \\?\ form): no name the box
    // lets through is too long for the answer. On the heap: 64 KB.
    std::wstring path(32768, L'\0');
    if (save && choice.defaultName) wcsncpy(path.data(), choice.defaultName, path.size() - 1);
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = choice.filter;
    ofn.lpstrFile = path.data();
    ofn.nMaxFile = static_cast<DWORD>(path.size());
    ofn.lpstrDefExt = choice.extension;
    ofn.lpstrTitle = choice.title;
    // The working folder stays where the program started it.
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY |
                (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn)) return Utf16ToUtf8(path.c_str());
    // A cancel leaves no error; a failure would otherwise look like one.
    if (const DWORD problem = CommDlgExtendedError())
        MessageBoxW(owner, ProblemOf(problem).c_str(), choice.title, MB_OK | MB_ICONEXCLAMATION);
    return std::string();
}
