// The Qt windows' texts in both languages: every one there, a translation or
// the text as written, never empty; without a translation loaded, the texts
// as written.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "qt_texts.h"

TEST(QtTexts, EveryTextIsThereInBothLanguagesAndWithoutATranslationAsWritten) {
    const auto each = [](auto check) {
        for (int id = 1000; id < 1500; ++id)
            if (*SourceText(static_cast<UiText>(id))) check(static_cast<UiText>(id));
    };
    for (UiLanguage language : {UiLanguage::Korean, UiLanguage::English}) {
        ASSERT_TRUE(InstallTranslation(language));
        each([&](UiText id) { EXPECT_FALSE(QtTexts().Text(id).empty()) << int(id); });
    }
    // English now: the designed Korean boxes and dialog texts are translated.
    EXPECT_NE(QtTexts().Text(UiText::CannotOpenPort), SourceText(UiText::CannotOpenPort));
    EXPECT_NE(DialogText(LOOPSET_DIALOG_TITLE), QString::fromUtf8(LOOPSET_DIALOG_TITLE));
    InstallTranslation(UiLanguage::Korean);
    EXPECT_EQ(DialogText(LOOPSET_DIALOG_TITLE), QString::fromUtf8(LOOPSET_DIALOG_TITLE));
    EXPECT_NE(QtTexts().Text(UiText::LiveTitle), SourceText(UiText::LiveTitle));
    RemoveTranslation();
    each([](UiText id) { EXPECT_EQ(QtTexts().Text(id), SourceText(id)) << int(id); });
}
