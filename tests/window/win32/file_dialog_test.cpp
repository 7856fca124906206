// The system's file box as the windows ask it: the path chosen comes back,
// a cancel says nothing, and a failure is told rather than taken for a cancel.
#include "file_dialog.h"

#include <dlgs.h>
#include <gtest/gtest.h>

#include <vector>

#include "text_utf16.h"

namespace {

std::wstring g_typed;              // what the user types into the file box; empty: Cancel
std::vector<std::wstring> g_said;  // what the message boxes said

// Plays the user: answers the file box and closes each message box.
LRESULT CALLBACK Answer(int code, WPARAM wParam, LPARAM lParam) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    if (const HWND name = code == HCBT_ACTIVATE ? GetDlgItem(box, cmb13) : nullptr) {
        SetWindowTextW(name, g_typed.c_str());
        PostMessageW(box, WM_COMMAND, g_typed.empty() ? IDCANCEL : IDOK, 0);
    } else if (const HWND text = code == HCBT_ACTIVATE ? GetDlgItem(box, 0xFFFF) : nullptr) {
        wchar_t said[256] = {};
        GetWindowTextW(text, said, 256);
        g_said.push_back(said);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST(FileDialog, ChosenPathComesBackCancelIsQuietAndAFailureIsTold) {
    const HHOOK hook = SetWindowsHookExW(WH_CBT, Answer, nullptr, GetCurrentThreadId());
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring chosen = folder + std::wstring(L"chosen.json");
    const FileChoice choice{L"Configurations\0*.json\0", L"json", L"Save configuration", nullptr};
    g_typed = chosen;
    EXPECT_EQ(AskFilePath(nullptr, choice, true), Utf16ToUtf8(chosen));
    g_typed.clear();
    EXPECT_EQ(AskFilePath(nullptr, choice, true), "");
    EXPECT_TRUE(g_said.empty());

    // A path longer than the room for it is refused by the system, and said.
    g_typed = chosen;
    EXPECT_EQ(AskFilePath(nullptr, choice, true, chosen.size()), "");
    EXPECT_EQ(g_said, std::vector<std::wstring>{L"The path chosen is too long."});
    UnhookWindowsHookEx(hook);
}
