// The Windows windows' texts in the language they speak: the string tables
// the build makes from the translations, one a language, which the resource
// system picks by the thread's language as it picks the dialog's template.
// A text without a translation in its table stays as it was written.
#pragma once

#include <optional>

#include "language.h"
#include "ui_text.h"

class CWin32Texts : public ITexts {
public:
    // In the language of the calling thread: the windows' thread's.
    std::string Text(UiText id) const override;
};
const CWin32Texts &Win32Texts();

// Has the calling thread's resources (the dialog, the string tables and, on
// Windows, the system's own boxes) load in language.
void InstallLanguage(UiLanguage language);
// The rule for the program: the command line's choice, else the Lang of its
// settings, else the user's language.
UiLanguage ProgramLanguage(std::optional<UiLanguage> commandLine);
