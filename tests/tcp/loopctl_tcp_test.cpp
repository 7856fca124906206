// loopctl --tcp against loopsim --tcp, both as separate processes: the three
// commands over a real loopback connection, the device shared by clients,
// the simulator's faults, and what a missing server looks like.
#include <gtest/gtest.h>
#include <sys/mman.h>
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
};

std::string ReadAll(int fd) {
    std::string s;
    lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        s.append(buffer, static_cast<size_t>(n));
    close(fd);
    return s;
}

class LoopctlTcpTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/loopctl-tcp-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        unlink((dir + "/config.ini").c_str());
        rmdir(dir.c_str());
    }

    Result Loopctl(std::vector<std::string> args) const {
        args.insert(args.begin(), {LOOPCTL_PATH, "--settings", dir + "/config.ini"});
        const int outFd = memfd_create("out", MFD_CLOEXEC);
        const int errFd = memfd_create("err", MFD_CLOEXEC);
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
        waitpid(pid, &status, 0);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.out = ReadAll(outFd);
        run.err = ReadAll(errFd);
        return run;
    }

    std::string dir;
};

TEST_F(LoopctlTcpTest, TheThreeCommandsOverTcpShareOneDevice) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--tcp", "0"})) << sim.Log();
    const std::string address = sim.Path();  // 127.0.0.1:PORT
    ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;

    const Result adc = Loopctl({"--tcp", address, "adc"});
    ASSERT_EQ(adc.exitCode, 0) << adc.err;
    EXPECT_NE(adc.out.find("CH.1"), std::string::npos) << adc.out;
    for (const char *line : {"\tStart!\n", "\tSend ADC Read\n", "\tCMD_GET_ADC_VALUE\n", "\tOk!\n"})
        EXPECT_NE(adc.err.find(line), std::string::npos) << line << " missing in\n" << adc.err;

    // Each command is a client of its own; what one writes the next reads.
    const Result write = Loopctl({"--tcp", address, "config-write", "100", "3900", "0", "1000",
                                  "200", "3800", "5", "65535"});
    ASSERT_EQ(write.exitCode, 0) << write.err;
    EXPECT_EQ(write.out.rfind("CRC16 Ok!\n", 0), 0u) << write.out;

    const Result read = Loopctl({"--tcp", address, "--json", "config-read"});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    EXPECT_NE(read.out.find("{\"tcp\": \"" + address +
                            "\", \"command\": \"config-read\", \"result\": \"Ok!\", \"ch1\": "
                            "{\"ref_min\": 100, \"ref_max\": 3900, \"disp_min\": 0, "
                            "\"disp_max\": 1000}, \"ch2\": {\"ref_min\": 200, \"ref_max\": 3800, "
                            "\"disp_min\": 5, \"disp_max\": 65535}"),
              std::string::npos)
        << read.out;
    EXPECT_EQ(sim.Stop(), 0) << sim.Log();
    EXPECT_NE(sim.Log().find("stopped after 3 requests"), std::string::npos) << sim.Log();
}

TEST_F(LoopctlTcpTest, ClientsAtTheSameTimeAreAllAnswered) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--tcp", "0", "--delay", "100"})) << sim.Log();
    std::vector<Result> results(4);
    std::vector<std::thread> runs;
    for (Result &result : results)
        runs.emplace_back([&] { result = Loopctl({"--tcp", sim.Path(), "adc"}); });
    for (std::thread &run : runs) run.join();
    for (const Result &result : results) EXPECT_EQ(result.exitCode, 0) << result.err;
}

TEST_F(LoopctlTcpTest, FaultsOfTheDeviceReachTheClientAsOverASerialLine) {
    // An answer in pieces a few milliseconds apart is gathered whole; garbage
    // followed by a gap longer than the link's idle gap is left behind.
    for (const std::vector<std::string> &faults :
         {std::vector<std::string>{"--split", "5", "--pause", "3"},
          {"--garbage", "20", "--pause", "40"}}) {
        std::vector<std::string> args = {"--tcp", "0"};
        args.insert(args.end(), faults.begin(), faults.end());
        CSimProcess sim;
        ASSERT_TRUE(sim.Start(LOOPSIM_PATH, args)) << sim.Log();
        const Result run = Loopctl({"--tcp", sim.Path(), "config-read"});
        EXPECT_EQ(run.exitCode, 0) << faults[0] << "\n" << run.err;
    }
    {
        CSimProcess sim;
        ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--tcp", "0", "--bad-checksum"})) << sim.Log();
        const Result run = Loopctl({"--tcp", sim.Path(), "adc"});
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_NE(run.err.find("\tERROR CRC\n"), std::string::npos) << run.err;
    }
    {
        CSimProcess sim;
        ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--tcp", "0", "--silent"})) << sim.Log();
        const Result run = Loopctl({"--tcp", sim.Path(), "--timeout", "0.5", "adc"});
        EXPECT_EQ(run.exitCode, 3) << run.err;
        EXPECT_NE(run.err.find("no answer from " + sim.Path() + " within 0.5 s"), std::string::npos)
            << run.err;
    }
}

TEST_F(LoopctlTcpTest, NoServerOrBadAddressIsReportedNotWaitedFor) {
    // A port that was just free: nobody listens there.
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--tcp", "0"})) << sim.Log();
    const std::string address = sim.Path();
    ASSERT_EQ(sim.Stop(), 0);

    const Result refused = Loopctl({"--tcp", address, "--json", "adc"});
    EXPECT_EQ(refused.exitCode, 4) << refused.err;
    EXPECT_NE(refused.err.find("cannot connect to " + address), std::string::npos) << refused.err;
    EXPECT_NE(refused.out.find("\"exit\": 4"), std::string::npos) << refused.out;

    const Result shortHost = Loopctl({"--tcp", "1.2.3:502", "adc"});
    EXPECT_EQ(shortHost.exitCode, 4) << shortHost.err;
    EXPECT_NE(shortHost.err.find("1.2.3:502 IP 설정 오류"), std::string::npos) << shortHost.err;

    for (const char *bad :
         {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:70000", ":502", "a-very-long-hostname:502"}) {
        const Result run = Loopctl({"--tcp", bad, "adc"});
        EXPECT_EQ(run.exitCode, 2) << bad << ": " << run.err;
    }
    EXPECT_EQ(Loopctl({"--tcp", address, "--port", "3", "adc"}).exitCode, 2);
}

}  // namespace
