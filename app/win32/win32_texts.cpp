#include "win32_texts.h"

#include <windows.h>

#include "settings.h"
#include "text_utf16.h"
#include "wine.h"

std::string CWin32Texts::Text(UiText id) const {
    // With no room given, LoadStringW answers with the text in the resource
    // itself: no length limit, nothing copied twice. 0 for an empty entry.
    const wchar_t *text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                   reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) return SourceText(id);
    return Utf16ToUtf8(std::wstring_view(text, static_cast<size_t>(length)));
}

const CWin32Texts &Win32Texts() {
    static const CWin32Texts texts;
    return texts;
}

void InstallLanguage(UiLanguage language) {
    const LANGID id = language == UiLanguage::Korean ? MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN)
                                                     : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    SetThreadUILanguage(id);
    // Wine's SetThreadUILanguage changes nothing (Wine 8): its resource
    // loader picks by the thread's locale, as Windows did before its UI
    // languages. On Windows the locale stays the user's.
    if (UnderWine()) SetThreadLocale(MAKELCID(id, SORT_DEFAULT));
}

UiLanguage ProgramLanguage(std::optional<UiLanguage> commandLine) {
    const SettingsFiles files = ProgramSettingsFiles();
    return ChooseLanguage(commandLine, StoredLanguage(files.path, files.fallback),
                          SystemLocaleName());
}
