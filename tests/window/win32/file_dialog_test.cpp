// The system's file box as the windows ask it: the path chosen comes back,
// a cancel says nothing, and a failure is told rather than taken for a cancel.
#include "file_dialog.h"

#include <dlgs.h>
#include <gtest/gtest.h>

#include "text_utf16.h"

namespace {

std::wstring g_typed, g_said;  // what the user types (empty: Cancel); what boxes said

// Plays the user: types into the file box and closes it, and each message box.
LRESULT CALLBACK Answer(int code, WPARAM wParam, LPARAM lParam) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t said[64] = {};
    if (code == HCBT_ACTIVATE && !SetDlgItemTextW(box, cmb13, g_typed.c_str()))
        g_said += std::wstring(said, GetDlgItemTextW(box, 0xFFFF, said, 64));
    if (code == HCBT_ACTIVATE) PostMessageW(box, WM_COMMAND, g_typed.empty() ? IDCANCEL : IDOK, 0);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST(FileDialog, ChosenPathComesBackCancelIsQuietAndAFailureIsTold) {
    const HHOOK hook = SetWindowsHookExW(WH_CBT, Answer, nullptr, GetCurrentThreadId());
    wchar_t folder[MAX_PATH] = {};
    const std::wstring chosen = std::wstring(folder, GetTempPathW(MAX_PATH, folder)) + L"c.json";
    const FileChoice choice{L"Configurations\0*.json\0", L"json", L"Save configuration", nullptr};
    g_typed = chosen;
    EXPECT_EQ(AskFilePath(nullptr, choice, true), Utf16ToUtf8(chosen));
    // Too little room for the answer: the system refuses it, which is said.
    EXPECT_EQ(AskFilePath(nullptr, choice, true, chosen.size()), "");
    EXPECT_EQ(g_said, L"The path chosen is too long.");
    g_typed.clear();
    EXPECT_EQ(AskFilePath(nullptr, choice, true), "");
    EXPECT_EQ(g_said, L"The path chosen is too long.") << "a cancel says nothing";
    UnhookWindowsHookEx(hook);
}
