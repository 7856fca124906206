#include "sim_control.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CSimControl::~CSimControl() {
    if (m_fd >= 0) close(m_fd);
    if (m_created) unlink(m_path);
}

bool CSimControl::Open(const char *path, char *error, size_t errorSize) {
    if (strlen(path) >= sizeof m_path) {
        snprintf(error, errorSize, "%s: path too long", path);
        return false;
    }
    struct stat info {};
    if (stat(path, &info) != 0) {
        if (errno != ENOENT || mkfifo(path, 0600) != 0) {
            snprintf(error, errorSize, "%s: %s", path, strerror(errno));
            return false;
        }
        m_created = true;
        snprintf(m_path, sizeof m_path, "%s", path);
    } else if (!S_ISFIFO(info.st_mode)) {
        snprintf(error, errorSize, "%s: exists and is not a FIFO", path);
        return false;
    }
    // Read-write: the FIFO always has a writer (ourselves), so writers never
    // wait for a reader and their leaving is no end of file to us.
    m_fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0 || fstat(m_fd, &info) != 0 || !S_ISFIFO(info.st_mode)) {
        snprintf(error, errorSize, "%s: %s", path, m_fd < 0 ? strerror(errno) : "not a FIFO");
        return false;
    }
    return true;
}

void CSimControl::Drain(SimInstrument &instrument, FILE *log) {
    char buffer[4096];
    for (size_t taken = 0; taken < kMaxTurnBytes;) {
        const ssize_t got = read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        taken += static_cast<size_t>(got);
        for (ssize_t i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (c == '\n') {
                Take(instrument, log);
            } else if (m_length + 1 < kMaxLine) {
                // Control bytes would reach the terminal with the log line.
                m_line[m_length++] = (c >= 0 && c < ' ' && c != '\t') || c == 0x7F ? '?' : c;
            } else if (!m_overlong) {
                m_overlong = true;
                fprintf(log, "loopsim: control: a line longer than %zu bytes, ignored\n",
                        kMaxLine - 1);
                fflush(log);
            }
        }
    }
}

void CSimControl::Take(SimInstrument &instrument, FILE *log) {
    const bool overlong = m_overlong;
    m_line[m_length] = '\0';
    m_length = 0;
    m_overlong = false;
    if (overlong) return;
    char *line = m_line;
    while (*line == ' ' || *line == '\t') ++line;
    for (size_t end = strlen(line); end > 0 && strchr(" \t\r", line[end - 1]); --end)
        line[end - 1] = '\0';
    if (*line == '\0') return;

    char error[160];
    if (!ApplyControlLine(instrument, line, error, sizeof error)) {
        fprintf(log, "loopsim: control: \"%s\": %s; ignored\n", line, error);
    } else {
        fprintf(log,
                "loopsim: control: \"%s\": ch1 %g mA ch2 %g mA, gain %g %g, offset %g %g, "
                "noise %d\n",
                line, instrument.currentMa[0], instrument.currentMa[1], instrument.gain[0],
                instrument.gain[1], instrument.offset[0], instrument.offset[1], instrument.noise);
    }
    fflush(log);
}
