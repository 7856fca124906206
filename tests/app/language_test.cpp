// Which language the windows speak: the user's locale as the rule reads it,
// and the order of the explicit choices.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "language.h"

TEST(Language, KoreanForKoreanOrNoneSetEnglishForAnyOtherAndExplicitChoicesFirst) {
    const std::pair<const char *, UiLanguage> locales[] = {
        {"", UiLanguage::Korean},          {"C", UiLanguage::Korean},
        {"C.UTF-8", UiLanguage::Korean},   {"POSIX", UiLanguage::Korean},
        {"ko_KR.UTF-8", UiLanguage::Korean}, {"ko-KR", UiLanguage::Korean},
        {"en_US.UTF-8", UiLanguage::English}, {"de_DE", UiLanguage::English},
        {"en-GB", UiLanguage::English},    {"Chinese", UiLanguage::English}};
    for (const auto &[locale, language] : locales)
        EXPECT_EQ(LanguageOfLocale(locale), language) << locale;
    EXPECT_EQ(ParseLanguage("KO"), UiLanguage::Korean);
    EXPECT_EQ(ParseLanguage("en"), UiLanguage::English);
    EXPECT_FALSE(ParseLanguage("fr"));
    EXPECT_FALSE(ParseLanguage("eng"));
    // The command line wins over the settings, the settings over the locale.
    EXPECT_EQ(ChooseLanguage(UiLanguage::Korean, UiLanguage::English, "en_US"), UiLanguage::Korean);
    EXPECT_EQ(ChooseLanguage(std::nullopt, UiLanguage::English, "ko_KR"), UiLanguage::English);
    EXPECT_EQ(ChooseLanguage(std::nullopt, UiLanguage::Korean, "en_US"), UiLanguage::Korean);
    EXPECT_EQ(ChooseLanguage(std::nullopt, std::nullopt, "en_US"), UiLanguage::English);

    const auto dir = std::filesystem::temp_directory_path() / "loopset-language-test";
    std::filesystem::create_directories(dir);
    const std::string user = (dir / "user.ini").string(), beside = (dir / "beside.ini").string();
    std::ofstream(beside) << "[data]\nlang=EN\n";
    std::ofstream(user) << "[Data]\nCom=3\n";
    EXPECT_EQ(StoredLanguage(user, beside), UiLanguage::English) << "the default beside the program";
    std::ofstream(user) << "[Data]\nLang=ko\n";
    EXPECT_EQ(StoredLanguage(user, beside), UiLanguage::Korean);
    std::ofstream(user) << "[Data]\nLang=klingon\n";
    EXPECT_FALSE(StoredLanguage(user));
    std::filesystem::remove_all(dir);
}
