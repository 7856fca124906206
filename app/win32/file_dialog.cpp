#include "file_dialog.h"

#include <cderr.h>
#include <commdlg.h>

#include <cstdio>
#include <cwchar>

#include "text_utf16.h"

namespace {

// What CommDlgExtendedError's code means, for the person who chose.
std::string ProblemOf(DWORD code, const ITexts &texts) {
    switch (code) {
        case FNERR_BUFFERTOOSMALL:
            return texts.Text(UiText::FilePathTooLong);
        case FNERR_INVALIDFILENAME:
            return texts.Text(UiText::FileNameInvalid);
        default:
            char number[16];
            std::snprintf(number, sizeof number, "0x%04lX", static_cast<unsigned long>(code));
            return Fill(texts.Text(UiText::FileBoxFailed), {number});
    }
}

}  // namespace

std::wstring FileFilter(std::initializer_list<std::pair<std::string, const wchar_t *>> kinds) {
    std::wstring filter;
    for (const auto &[name, pattern] : kinds) {
        filter += Utf8ToUtf16(name) + L" (" + pattern + L")";
        filter += L'\0';
        filter += pattern;
        filter += L'\0';
    }
    // The list's end: c_str() adds the second NUL.
    filter += L'\0';
    return filter;
}

std::string AskFilePath(HWND owner, const FileChoice &choice, bool save, const ITexts &texts) {
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
        MessageBoxW(owner, Utf8ToUtf16(ProblemOf(problem, texts)).c_str(), choice.title,
                    MB_OK | MB_ICONEXCLAMATION);
    return std::string();
}
