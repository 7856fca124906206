#include "files.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace {

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The file a path finally names: links followed, so that the replacement
// lands on the target and the link stays a link. A dangling link names the
// target it would create.
std::string FinalTarget(const std::string &path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        char target[PATH_MAX];
        const ssize_t n = readlink(current.c_str(), target, sizeof target - 1);
        if (n <= 0) return current;
        std::string next(target, static_cast<size_t>(n));
        if (next.front() != '/') {
            const size_t slash = current.rfind('/');
            if (slash != std::string::npos) next = current.substr(0, slash + 1) + next;
        }
        current = next;
    }
    return current;
}

}  // namespace

bool ReadWholeFile(const std::string &path, std::string &out, size_t limit) {
    // A pipe would hold a plain open up until a writer came, and a serial
    // device until its carrier did; what is opened is checked before any read.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        ok = false;
        errno = S_ISDIR(st.st_mode) ? EISDIR : kNotARegularFile;
    }
    out.clear();
    if (ok && static_cast<uint64_t>(st.st_size) > limit) {
        ok = false;
        errno = EFBIG;
    }
    if (ok) out.reserve(static_cast<size_t>(st.st_size));
    char chunk[65536];
    while (ok) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        // The size may have grown since it was looked at.
        if (out.size() + static_cast<size_t>(n) > limit) {
            ok = false;
            errno = EFBIG;
            out.clear();
            break;
        }
        out.append(chunk, static_cast<size_t>(n));
    }
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

bool ReplaceFileContents(const std::string &path, std::string_view contents) {
    const std::string target = FinalTarget(path);
    struct stat st {};
    mode_t mode = 0;
    if (stat(target.c_str(), &st) == 0) {
        // The permission bits are the owner's word; root passes access() but
        // must not override a file marked read-only either.
        if ((st.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0) {
            errno = EACCES;
            return false;
        }
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }

    std::string tmp = target + ".XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return false;
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, contents) && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(tmp.c_str(), target.c_str()) == 0) return true;
    if (ok) err = errno;
    unlink(tmp.c_str());
    errno = err;
    return false;
}
