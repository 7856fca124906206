#include "test_device.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "sim_process.h"

struct CTestDevice::Process {
    CSimProcess sim;
};

CTestDevice::CTestDevice() : m_com(21), m_process(new Process) {
    if (!m_process->sim.Start(LOOPSIM_PATH, {})) {
        m_problem = "loopsim did not start: " + m_process->sim.Log();
        return;
    }
    m_name = m_process->sim.Path();
    setenv(("PORTLINK_COM" + std::to_string(m_com)).c_str(), m_name.c_str(), 1);
}

CTestDevice::~CTestDevice() {
    unsetenv(("PORTLINK_COM" + std::to_string(m_com)).c_str());
    delete m_process;
}

bool CTestDevice::TakeAway() {
    return m_process->sim.Stop(SIGKILL) != -1;
}

namespace {

std::string Contents(FILE *file) {
    std::string text;
    rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(char(c));
    std::fclose(file);
    return text;
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                      const std::string &outFile) {
    // Files rather than pipes: nothing to drain while the program runs.
    FILE *out = std::tmpfile(), *err = std::tmpfile();
    std::vector<char *> args, vars;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    for (const std::string &v : env) vars.push_back(const_cast<char *>(v.c_str()));
    for (char **v = environ; *v; ++v) vars.push_back(*v);  // after env's, which win
    args.push_back(nullptr), vars.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFile.empty()) {
        posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
    ProgramRun run;
    pid_t pid = -1;
    int status = 0;
    rusage use{};
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), vars.data()) == 0 &&
        wait4(pid, &status, 0, &use) == pid) {
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.cpuSeconds = double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                         double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = Contents(out), run.err = Contents(err);
    return run;
}
