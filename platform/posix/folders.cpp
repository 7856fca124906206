#include "folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// $variable when it is an absolute path (a relative one is to be ignored),
// else the home folder's fallback.
std::string XdgFolder(const char *variable, const char *fallback) {
    const char *xdg = std::getenv(variable);
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/loopset/";
    const char *home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd *pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    if (!home || home[0] != '/') return {};
    return std::string(home) + fallback + "/loopset/";
}

}  // namespace

std::string UserSettingsFolder() {
    return XdgFolder("XDG_CONFIG_HOME", "/.config");
}

std::string UserDataFolder() {
    return XdgFolder("XDG_DATA_HOME", "/.local/share");
}

bool FolderIsWritable(const std::string &folder) {
    return access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
}

bool CreateFolders(const std::string &folder) {
    std::string path;
    size_t at = 0;
    while (at < folder.size()) {
        const size_t slash = folder.find('/', at + 1);
        path = folder.substr(0, slash);
        at = slash == std::string::npos ? folder.size() : slash;
        if (path.empty()) continue;
        if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}
