// Real pseudo-terminals and process measurements for the tests.
#pragma once

#include <dirent.h>
#include <pty.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace portlink::test {

// A pseudo-terminal whose slave is COM<n> (PORTLINK_COM<n>); the test plays
// the device on the master side.
class Pty {
public:
    explicit Pty(int n) : m_n(n) {
        int slave = -1;
        char name[128] = {};
        if (openpty(&m_master, &slave, name, nullptr, nullptr) == 0) {
            // The slave stays open here so the master keeps working while the
            // port is closed and reopened.
            m_slave = slave;
            m_path = name;
            setenv(("PORTLINK_COM" + std::to_string(n)).c_str(), name, 1);
        }
    }
    ~Pty() {
        CloseMaster();
        if (m_slave >= 0) close(m_slave);
        unsetenv(("PORTLINK_COM" + std::to_string(m_n)).c_str());
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool Ok() const { return m_master >= 0; }
    int Master() const { return m_master; }
    const std::string &Path() const { return m_path; }
    // Closing the master is the device going away: the slave hangs up.
    void CloseMaster() {
        if (m_master >= 0) close(m_master);
        m_master = -1;
    }
    void CloseSlave() {
        if (m_slave >= 0) close(m_slave);
        m_slave = -1;
    }

private:
    int m_n;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

// CPU time of the whole process, in milliseconds.
inline double ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

inline int CountEntries(const char *dir) {
    int n = 0;
    if (DIR *d = opendir(dir)) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}
inline int OpenFds() {
    return CountEntries("/proc/self/fd");
}
inline int Threads() {
    return CountEntries("/proc/self/task");
}

}  // namespace portlink::test
