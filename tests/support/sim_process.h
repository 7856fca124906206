// Starts loopsim as a separate process and takes the path it prints: for the
// end-to-end tests, the timing tool and anyone else driving the simulator.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <string>
#include <vector>

class CSimProcess {
public:
    CSimProcess() = default;
    ~CSimProcess();
    CSimProcess(const CSimProcess &) = delete;
    CSimProcess &operator=(const CSimProcess &) = delete;

    // Runs program with args and waits (at most timeoutMs) for the first line
    // of its standard output. Its standard error is kept for Log().
    bool Start(const std::string &program, const std::vector<std::string> &args,
               int timeoutMs = 5000);
    const std::string &Path() const { return m_path; }
    pid_t Pid() const { return m_pid; }

    // Sends sig and waits at most timeoutMs for the exit; returns the wait
    // status, or -1 when it did not end in time (it is then killed).
    int Stop(int sig = SIGTERM, int timeoutMs = 3000);
    // Everything written to standard error so far.
    std::string Log() const;
    // Waits (at most timeoutMs) until the log holds text; true if it does.
    bool WaitForLog(const std::string &text, int timeoutMs) const;

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    int m_stderr = -1;  // a memory file the child writes its log into
    std::string m_path;
};
