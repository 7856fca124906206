#include <windows.h>

#include <initializer_list>

#include "language.h"
#include "text_utf16.h"
#include "wine.h"

namespace {

std::wstring Variable(const wchar_t *name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size <= 1) return {};
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

}  // namespace

std::string SystemLocaleName() {
    // Under Wine the user's language is the Unix one: Wine passes LC_ALL,
    // LC_MESSAGES and LANG on to every program, while its own display
    // language makes English of C (no language set) and of any locale the
    // machine has not generated. Windows has no such variables of its own
    // (a Unix-like shell may set them for its programs), so they are read
    // under Wine alone, in the order Linux reads them.
    if (UnderWine()) {
        for (const wchar_t *name : {L"LC_ALL", L"LC_MESSAGES", L"LANG"})
            if (const std::wstring value = Variable(name); !value.empty())
                return Utf16ToUtf8(value);
        return {};
    }
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name,
                         LOCALE_NAME_MAX_LENGTH, 0) == 0)
        return {};
    return Utf16ToUtf8(name);
}
