// The Qt windows' texts in the language they speak: Qt's own translation
// system, the .ts files under app/qt/translations compiled at build time and
// loaded from the program's resources. A text without a translation stays
// in the language it was written in (the designed texts, or English).
#pragma once

#include <QString>

#include "dialog_template.h"
#include "language.h"
#include "ui_text.h"

class CQtTexts : public ITexts {
public:
    std::string Text(UiText id) const override;
};
// The texts of the running program's windows.
const CQtTexts &QtTexts();

// A text of the dialog's template, translated.
QString DialogText(const char *designed);

// Installs the translation of language into the application; false (and the
// texts stay as written) when it cannot be loaded.
bool InstallTranslation(UiLanguage language);
// Takes the translation away again: every text as written.
void RemoveTranslation();
// The language the rule gives for the program: the command line's choice
// (may be empty), else the settings', else the user's.
UiLanguage ProgramLanguage(const QString &commandLine);
