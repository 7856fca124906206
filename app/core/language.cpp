#include "language.h"

#include "settings.h"

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if ((text[i] | 0x20) != (prefix[i] | 0x20)) return false;
    return true;
}

}  // namespace

std::optional<UiLanguage> ParseLanguage(std::string_view text) {
    if (text.size() == 2 && StartsWithNoCase(text, "ko")) return UiLanguage::Korean;
    if (text.size() == 2 && StartsWithNoCase(text, "en")) return UiLanguage::English;
    return std::nullopt;
}

const char *LanguageCode(UiLanguage language) {
    return language == UiLanguage::Korean ? "ko" : "en";
}

UiLanguage LanguageOfLocale(std::string_view locale) {
    // No language set: the designed texts.
    if (locale.empty() || locale == "C" || locale == "POSIX" || StartsWithNoCase(locale, "C.") ||
        StartsWithNoCase(locale, "ko"))
        return UiLanguage::Korean;
    return UiLanguage::English;
}

UiLanguage ChooseLanguage(std::optional<UiLanguage> commandLine, std::optional<UiLanguage> settings,
                          std::string_view systemLocale) {
    if (commandLine) return *commandLine;
    if (settings) return *settings;
    return LanguageOfLocale(systemLocale);
}

std::optional<UiLanguage> StoredLanguage(const std::string &path, const std::string &fallback) {
    std::string value = ReadProfileString(path, kSettingsSection, "Lang", "");
    if (value.empty() && !fallback.empty())
        value = ReadProfileString(fallback, kSettingsSection, "Lang", "");
    return ParseLanguage(value);
}
