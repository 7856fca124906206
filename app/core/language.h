// Which language the windows speak: Korean (the designed texts) for a Korean
// user and where no language is set (C, POSIX), English for any other; an
// explicit choice (loopset --lang, or Lang in config.ini's [Data]) wins.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class UiLanguage { Korean, English };

// "ko" or "en" (any case); none for anything else.
std::optional<UiLanguage> ParseLanguage(std::string_view text);
// "ko", "en".
const char *LanguageCode(UiLanguage language);
// A system's name for the user's language ("ko_KR.UTF-8", "en-US", "C",
// empty) as the rule reads it.
UiLanguage LanguageOfLocale(std::string_view locale);
// What the system says the user reads: on Linux the first of LC_ALL,
// LC_MESSAGES and LANG that is set; on Windows the user's display language.
std::string SystemLocaleName();
// The rule: the command line's choice, else the settings', else the system's.
UiLanguage ChooseLanguage(std::optional<UiLanguage> commandLine, std::optional<UiLanguage> settings,
                          std::string_view systemLocale);
// The Lang of the settings file (the fallback file when it has none).
std::optional<UiLanguage> StoredLanguage(const std::string &path, const std::string &fallback = {});
