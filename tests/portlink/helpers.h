// What the tests share: a host window that records its messages, real
// pseudo-terminals, and process measurements.
#pragma once

#include <dirent.h>
#include <pty.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "portlink.h"

namespace portlink::test {

struct Posted {
    uint32_t message, wparam;
    int32_t lparam;
};

// post() as the library asks for it: thread-safe and never blocking for long.
class Recorder {
public:
    PortlinkWindow Window() { return PortlinkWindow{&Recorder::Post, this}; }
    std::vector<Posted> All() {
        std::lock_guard lock(m_mutex);
        return m_posted;
    }
    size_t Count() { return All().size(); }
    // Waits until at least n messages have come; false after the time-out.
    bool WaitFor(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_posted.size() >= n; });
    }

private:
    static void Post(void *context, uint32_t message, uint32_t wparam, int32_t lparam) {
        auto *self = static_cast<Recorder *>(context);
        std::lock_guard lock(self->m_mutex);
        self->m_posted.push_back(Posted{message, wparam, lparam});
        self->m_changed.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Posted> m_posted;
};

// A pseudo-terminal whose slave is COM<n>; the test plays the device on the
// master. The test keeps a slave descriptor too, so the master keeps working
// while the port is closed and reopened.
class Pty {
public:
    explicit Pty(int n) : m_variable("PORTLINK_COM" + std::to_string(n)) {
        char name[128] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) return;
        m_path = name;
        setenv(m_variable.c_str(), name, 1);
    }
    ~Pty() {
        HangUp();
        unsetenv(m_variable.c_str());
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool Ok() const { return m_master >= 0; }
    int Master() const { return m_master; }
    const std::string &Path() const { return m_path; }
    void Send(const std::vector<uint8_t> &bytes) const {
        if (write(m_master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            std::abort();
        }
    }
    // The device goes away: the port's side of the pty hangs up.
    void HangUp() {
        for (int *fd : {&m_master, &m_slave}) {
            if (*fd >= 0) close(*fd);
            *fd = -1;
        }
    }

private:
    std::string m_variable, m_path;
    int m_master = -1, m_slave = -1;
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
