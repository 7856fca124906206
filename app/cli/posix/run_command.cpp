#include "run_command.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "system_error.h"

CommandResult RunCommand(const std::string &command, int limitMs) {
    CommandResult result;
    const pid_t pid = fork();
    if (pid < 0) {
        result.problem = "cannot start it: " + ErrorText(errno);
        return result;
    }
    if (pid == 0) {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    // Checked every 10 ms: a source command takes a moment, and nothing else
    // waits meanwhile.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            result.problem = "lost it: " + ErrorText(errno);
            return result;
        }
        if (std::chrono::steady_clock::now() >= end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.problem = "it did not end within " + std::to_string(limitMs / 1000) + " s";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.ran = true;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}
