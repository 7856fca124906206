// What the end-to-end tests need of the system, written once for Linux and
// Windows: the simulated device behind a COM port, and a program run with its
// exit status and output. On Linux the device is a loopsim of the test's own
// on a pseudo-terminal; a Windows program cannot start the Linux simulator, so
// under Wine it is the one tests/windows/with_loopsim.sh maps to COM<n>, shared
// by the whole program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CTestDevice {
public:
    CTestDevice();
    ~CTestDevice();
    CTestDevice(const CTestDevice &) = delete;
    CTestDevice &operator=(const CTestDevice &) = delete;

    // Empty once the device is there, else what went wrong.
    const std::string &Problem() const { return m_problem; }
    int32_t Com() const { return m_com; }
    // The device as loopctl's --device names it.
    const std::string &Name() const { return m_name; }
    // Ends the simulator, as a device unplugged with the port open.
    bool TakeAway();

private:
    int32_t m_com = 0;
    std::string m_name, m_problem;
    struct Process;
    Process *m_process = nullptr;
};

struct ProgramRun {
    int exitCode = -1;
    std::string out, err;
    double cpuSeconds = 0;  // of the program alone
};

// Runs argv[0] (found on the PATH on Linux) with env's NAME=value added to the
// environment; its standard output goes to outFile when one is named.
ProgramRun RunProgram(const std::vector<std::string> &argv,
                      const std::vector<std::string> &env = {}, const std::string &outFile = {});
