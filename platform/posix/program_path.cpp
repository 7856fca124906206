#include "program_path.h"

#include <limits.h>
#include <unistd.h>

std::string ProgramFolder() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    std::string path(exe, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    path.erase(slash == std::string::npos ? 0 : slash + 1);
    return path;
}

bool ProgramIsInstalled(const std::string &folder) {
    // Packages put programs there; root may write there, but a file it left
    // would belong to no package and outlive the program's removal.
    for (const char *root : {"/usr/", "/opt/"})
        if (folder.rfind(root, 0) == 0) return true;
    return false;
}
