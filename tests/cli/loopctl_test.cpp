// loopctl as a user runs it: a separate process against the simulated device,
// over a pseudo-terminal and over TCP (or a pseudo-terminal that answers what
// the simulator will not), checked by its exit status, its output and the CPU
// it burns while it waits.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "sim_process.h"

namespace {

struct Result {
    int exitCode = -1;
    std::string out, err;
    double cpuSeconds = 0;
};

std::string Contents(int fd) {
    std::string text(static_cast<size_t>(lseek(fd, 0, SEEK_END)), '\0');
    if (pread(fd, text.data(), text.size(), 0) < 0) text.clear();
    close(fd);
    return text;
}

// Each run gets a settings file of its own, removed afterwards.
Result Loopctl(std::vector<std::string> args) {
    const std::string ini = "loopctl-test-" + std::to_string(getpid()) + ".ini";
    args.insert(args.begin(), {LOOPCTL_PATH, "--settings", ini});
    const int out = memfd_create("out", MFD_CLOEXEC), err = memfd_create("err", MFD_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Result run;
    int status = 0;
    rusage use{};
    wait4(pid, &status, 0, &use);
    unlink(ini.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.cpuSeconds = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                     static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    run.out = Contents(out);
    run.err = Contents(err);
    return run;
}

bool Has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(Loopctl, ReadsWritesAndReadsBackOverAPseudoTerminalAndOverTcp) {
    for (const std::string transport : {"--device", "--tcp"}) {
        CSimProcess sim;
        ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {transport == "--tcp" ? "--tcp" : "--seed", "0"}))
            << sim.Log();
        const Result adc = Loopctl({transport, sim.Path(), "adc"});
        ASSERT_EQ(adc.exitCode, 0) << adc.err;
        EXPECT_TRUE(Has(adc.out, "CH.1")) << adc.out;
        for (const char *line :
             {"\tStart!\n", "\tSend ADC Read\n", "\tCMD_GET_ADC_VALUE\n", "\tOk!\n"})
            EXPECT_TRUE(Has(adc.err, line)) << transport << ": " << line << " missing in\n"
                                            << adc.err;

        const Result write = Loopctl({transport, sim.Path(), "config-write", "100", "3900", "0",
                                      "1000", "200", "3800", "5", "65535"});
        ASSERT_EQ(write.exitCode, 0) << write.err;
        EXPECT_EQ(write.out.rfind("CRC16 Ok!\n", 0), 0u) << write.out;

        const Result read = Loopctl({transport, sim.Path(), "--json", "config-read"});
        ASSERT_EQ(read.exitCode, 0) << read.err;
        EXPECT_TRUE(Has(read.out,
                        "\"ch1\": {\"ref_min\": 100, \"ref_max\": 3900, \"disp_min\": 0, "
                        "\"disp_max\": 1000}, \"ch2\": {\"ref_min\": 200, \"ref_max\": "
                        "3800, \"disp_min\": 5, \"disp_max\": 65535}"))
            << read.out;
        EXPECT_EQ(sim.Stop(), 0) << sim.Log();
        EXPECT_TRUE(Has(sim.Log(), "stopped after 3 requests")) << sim.Log();
    }
}

TEST(Loopctl, NoAnswerIsATimeoutAndTheWaitSleeps) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--silent"})) << sim.Log();
    const auto start = std::chrono::steady_clock::now();
    const Result run = Loopctl({"--device", sim.Path(), "--timeout", "1", "adc"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_TRUE(Has(run.err, "no answer from COM1 (" + sim.Path() + ") within 1 s")) << run.err;
    EXPECT_GE(took, std::chrono::milliseconds(950));
    EXPECT_LT(took, std::chrono::seconds(5));
    // A 2 ms timer for a second is 500 wake-ups; spinning would be a whole second.
    EXPECT_LT(run.cpuSeconds, 0.25) << "busy waiting";
}

TEST(Loopctl, APortThatWillNotOpenSaysWhichDevice) {
    const Result run = Loopctl({"--device", "/nonexistent/tty", "--port", "3", "--json", "adc"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(Has(run.err, "cannot open COM3 (/nonexistent/tty)")) << run.err;
    EXPECT_TRUE(Has(run.out, "\"exit\": 4")) << run.out;
}

TEST(Loopctl, AWrongChecksumOrAnErrorResponseIsAFailure) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--bad-checksum"})) << sim.Log();
    const Result bad = Loopctl({"--device", sim.Path(), "adc"});
    EXPECT_EQ(bad.exitCode, 1) << bad.err;
    EXPECT_TRUE(Has(bad.err, "\tERROR CRC\n")) << bad.err;

    // A device that refuses (status byte 6 is 3, not 2): the simulator always
    // answers well, so a pseudo-terminal plays the device.
    int master, slave;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    std::thread device([master] {
        uint8_t request[8], answer[16] = {2, 0, 16, 0x2B, 0, 0xAA, 3, 0, 0, 1, 0, 2, 0, 3, 0, 3};
        for (ssize_t got = 0, n = 0; got < 8; got += n)
            if ((n = read(master, request, 8 - static_cast<size_t>(got))) <= 0) return;
        for (int i = 0; i < 14; ++i) answer[14] ^= answer[i];
        [[maybe_unused]] ssize_t n = write(master, answer, sizeof answer);
    });
    const Result refused = Loopctl({"--device", name, "adc"});
    device.join();
    close(slave);
    close(master);
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_TRUE(Has(refused.err, "\tError response!\n")) << refused.err;
}

TEST(Loopctl, BadUsageIsRefusedBeforeAnyPortIsTouched) {
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{},
          {"frobnicate"},
          {"adc", "1"},
          {"--port", "31", "adc"},
          {"--timeout", "0", "adc"},
          {"--tcp", "127.0.0.1:0", "adc"},
          {"--tcp", "127.0.0.1:502", "--port", "3", "adc"},
          {"config-write", "1", "2", "3", "4", "5", "6", "7"},
          {"config-write", "1", "2", "3", "4", "5", "6", "7", "65536"},
          {"config-write", "1", "2", "3", "4", "5", "6", "7", "12abc"}}) {
        const Result run = Loopctl(args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_FALSE(Has(run.err, "Start!")) << run.err;
    }
}
