#include <cstdlib>

#include "language.h"

std::string SystemLocaleName() {
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(variable);
        if (value && *value) return value;
    }
    return {};
}
