#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

CSimProcess::~CSimProcess() {
    if (m_pid > 0) Stop(SIGKILL, 2000);
    if (m_stdout >= 0) close(m_stdout);
    if (m_stderr >= 0) close(m_stderr);
}

bool CSimProcess::Start(const std::string &program, const std::vector<std::string> &args,
                        int timeoutMs) {
    // A process object can run the simulator again once the last run stopped.
    if (m_pid > 0) Stop(SIGKILL, 2000);
    if (m_stdout >= 0) close(m_stdout);
    if (m_stderr >= 0) close(m_stderr);
    m_stdout = m_stderr = -1;
    m_path.clear();
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    m_stderr = memfd_create("loopsim-log", MFD_CLOEXEC);
    if (m_stderr < 0) return false;

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, m_stderr, 2);
    const int spawned =
        posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        m_pid = -1;
        close(out[0]);
        return false;
    }
    m_stdout = out[0];

    const int64_t deadline = NowMs() + timeoutMs;
    char c = 0;
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) return false;
        pollfd p{m_stdout, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t got = read(m_stdout, &c, 1);
        if (got <= 0) return false;  // it exited without a path
        if (c == '\n') return !m_path.empty();
        m_path.push_back(c);
    }
}

int CSimProcess::Stop(int sig, int timeoutMs) {
    if (m_pid <= 0) return -1;
    kill(m_pid, sig);
    const int64_t deadline = NowMs() + timeoutMs;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) break;
        if (NowMs() >= deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            m_pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
    return status;
}

std::string CSimProcess::Log() const {
    std::string text;
    if (m_stderr < 0) return text;
    char buffer[4096];
    off_t at = 0;
    for (;;) {
        const ssize_t got = pread(m_stderr, buffer, sizeof buffer, at);
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
        at += got;
    }
    return text;
}

bool CSimProcess::WaitForLog(const std::string &text, int timeoutMs) const {
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        if (Log().find(text) != std::string::npos) return true;
        if (NowMs() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
