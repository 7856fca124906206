#include <windows.h>

#include "language.h"
#include "text_utf16.h"

std::string SystemLocaleName() {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name,
                         LOCALE_NAME_MAX_LENGTH, 0) == 0)
        return {};
    return Utf16ToUtf8(name);
}
