// loopctl as a user runs it: a separate process against the simulated device
// (or a pseudo-terminal that answers what the simulator will not), checked by
// its exit status, its output and the CPU it burns while it waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sim_process.h"

namespace {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
    double cpuSeconds = 0;
    double wallSeconds = 0;
};

std::string ReadAll(int fd) {
    std::string s;
    lseek(fd, 0, SEEK_SET);
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

class LoopctlTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/loopctl-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        unlink((dir + "/config.ini").c_str());
        rmdir(dir.c_str());
    }

    Result Loopctl(std::vector<std::string> args) {
        args.insert(args.begin(), {LOOPCTL_PATH, "--settings", dir + "/config.ini"});
        const int outFd = memfd_create("out", MFD_CLOEXEC);
        const int errFd = memfd_create("err", MFD_CLOEXEC);
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(outFd, 1);
            dup2(errFd, 2);
            std::vector<char *> argv;
            for (std::string &a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        Result run;
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        run.wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                         usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
        run.out = ReadAll(outFd);
        run.err = ReadAll(errFd);
        return run;
    }

    std::string dir;
};

TEST_F(LoopctlTest, ReadsWritesAndReadsBackAgainstTheSimulator) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {})) << sim.Log();

    Result adc = Loopctl({"--device", sim.Path(), "adc"});
    ASSERT_EQ(adc.exitCode, 0) << adc.err;
    EXPECT_NE(adc.out.find("CH.1"), std::string::npos) << adc.out;
    for (const char *line :
         {"\tStart!\n", "\tSend ADC Read\n", "\tSerial Full\n", "\tCMD_GET_ADC_VALUE\n", "\tOk!\n"})
        EXPECT_NE(adc.err.find(line), std::string::npos) << line << " missing in\n" << adc.err;

    Result write = Loopctl({"--device", sim.Path(), "--port", "5", "config-write", "100", "3900",
                            "0", "1000", "200", "3800", "5", "65535"});
    ASSERT_EQ(write.exitCode, 0) << write.err;
    EXPECT_EQ(write.out.rfind("CRC16 Ok!\n", 0), 0u) << write.out;

    Result read = Loopctl({"--device", sim.Path(), "--json", "config-read"});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    EXPECT_NE(read.out.find("\"result\": \"Ok!\", \"ch1\": {\"ref_min\": 100, \"ref_max\": 3900, "
                            "\"disp_min\": 0, \"disp_max\": 1000}, \"ch2\": {\"ref_min\": 200, "
                            "\"ref_max\": 3800, \"disp_min\": 5, \"disp_max\": 65535}"),
              std::string::npos)
        << read.out;
}

TEST_F(LoopctlTest, NoAnswerIsATimeoutAndTheWaitSleeps) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--silent"})) << sim.Log();
    Result run = Loopctl({"--device", sim.Path(), "--timeout", "1", "adc"});
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_NE(run.err.find("no answer from COM1 (" + sim.Path() + ") within 1 s"),
              std::string::npos)
        << run.err;
    EXPECT_GE(run.wallSeconds, 0.95);
    EXPECT_LT(run.wallSeconds, 5.0);
    // A 2 ms timer for a second is 500 wake-ups; spinning would be a whole second.
    EXPECT_LT(run.cpuSeconds, 0.25) << "busy waiting";
}

TEST_F(LoopctlTest, APortThatWillNotOpenSaysWhichDevice) {
    Result run = Loopctl({"--device", "/nonexistent/tty", "--port", "3", "--json", "adc"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(run.err.find("cannot open COM3 (/nonexistent/tty)"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("\"exit\": 4"), std::string::npos) << run.out;
}

TEST_F(LoopctlTest, AnAnswerWithAWrongChecksumIsNotSuccess) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--bad-checksum"})) << sim.Log();
    Result run = Loopctl({"--device", sim.Path(), "adc"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("\tERROR CRC\n"), std::string::npos) << run.err;
}

TEST_F(LoopctlTest, AnErrorResponseIsAFailure) {
    // A device that refuses: status byte 6 is 3, not 2. The simulator always
    // answers well, so a pseudo-terminal plays the device.
    int master, slave;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    std::thread device([master] {
        uint8_t request[8];
        size_t got = 0;
        while (got < sizeof request) {
            const ssize_t n = read(master, request + got, sizeof request - got);
            if (n <= 0) return;
            got += static_cast<size_t>(n);
        }
        uint8_t answer[16] = {0x02, 0x00, 0x10, 0x2B, 0x00, 0xAA, 0x03, 0,
                              0,    1,    0,    2,    0,    3,    0,    0x03};
        for (int i = 0; i < 14; ++i) answer[14] ^= answer[i];
        [[maybe_unused]] ssize_t n = write(master, answer, sizeof answer);
    });
    Result run = Loopctl({"--device", name, "adc"});
    device.join();
    close(slave);
    close(master);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("\tError response!\n"), std::string::npos) << run.err;
}

TEST_F(LoopctlTest, BadUsageIsRefusedBeforeAnyPortIsTouched) {
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{},
          {"frobnicate"},
          {"adc", "1"},
          {"--port", "31", "adc"},
          {"--port", "x", "adc"},
          {"--timeout", "0", "adc"},
          {"config-write", "1", "2", "3", "4", "5", "6", "7"},
          {"config-write", "1", "2", "3", "4", "5", "6", "7", "65536"},
          {"config-write", "1", "2", "3", "4", "5", "6", "7", "12abc"}}) {
        Result run = Loopctl(args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_EQ(run.err.find("Start!"), std::string::npos) << run.err;
    }
}

}  // namespace
