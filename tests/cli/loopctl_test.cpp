// loopctl as a user runs it: a separate process against the simulated device,
// over a pseudo-terminal and over TCP (or a pseudo-terminal that answers what
// the simulator will not), checked by its exit status, its output and the CPU
// it burns while it waits.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>
#include <tuple>

#include "sim_process.h"

namespace {

struct Result {
    int exitCode = -1;
    std::string out, err;
    double cpuSeconds = 0;
};

std::string Take(const std::string &path) {
    std::ifstream in(path);
    std::string text{std::istreambuf_iterator<char>(in), {}};
    unlink(path.c_str());
    return text;
}

double CpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_CHILDREN, &use);
    return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// Each run gets a settings file of its own, removed afterwards.
Result Loopctl(const std::string &args) {
    const std::string run = "loopctl-test-" + std::to_string(getpid());
    const double cpu = CpuSeconds();
    const int status = std::system(
        (LOOPCTL_PATH " --settings " + run + ".ini " + args + " >" + run + ".out 2>" + run + ".err")
            .c_str());
    unlink((run + ".ini").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Take(run + ".out"), Take(run + ".err"),
            CpuSeconds() - cpu};
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
        const std::string to = transport + " " + sim.Path();
        const Result adc = Loopctl(to + " adc");
        ASSERT_EQ(adc.exitCode, 0) << adc.err;
        EXPECT_TRUE(Has(adc.out, "CH.1")) << adc.out;
        for (const char *line :
             {"\tStart!\n", "\tSend ADC Read\n", "\tCMD_GET_ADC_VALUE\n", "\tOk!\n"})
            EXPECT_TRUE(Has(adc.err, line)) << to << ": " << line << " missing in\n" << adc.err;

        const Result write = Loopctl(to + " config-write 100 3900 0 1000 200 3800 5 65535");
        ASSERT_EQ(write.exitCode, 0) << write.err;
        EXPECT_EQ(write.out.rfind("CRC16 Ok!\n", 0), 0u) << write.out;

        const Result read = Loopctl(to + " --json config-read");
        ASSERT_EQ(read.exitCode, 0) << read.err;
        EXPECT_TRUE(Has(read.out,
                        "\"ch1\": {\"ref_min\": 100, \"ref_max\": 3900, \"disp_min\": 0, "
                        "\"disp_max\": 1000}, \"ch2\": {\"ref_min\": 200, \"ref_max\": "
                        "3800, \"disp_min\": 5, \"disp_max\": 65535}"))
            << read.out;
    }
}

// The device's faults run against loopsim (its path put in front); a 2 ms
// timer for a second is 500 wake-ups, spinning would be a whole second of CPU.
TEST(Loopctl, FailuresGetTheirExitCodeAndMessageWithoutBusyWaiting) {
    for (const auto &[simArg, args0, exitCode, text] :
         std::vector<std::tuple<const char *, std::string, int, const char *>>{
             {"--silent", "--timeout 1 adc", 3, ") within 1 s"},
             {"--bad-checksum", "adc", 1, "\tERROR CRC\n"},
             {"", "--device /no/tty --port 3 adc", 4, "cannot open COM3 (/no/tty)"},
             {"", "frobnicate", 2, "unknown command"},
             {"", "config-write 1 2 3 4 5 6 7 65536", 2, "65536"}}) {
        CSimProcess sim;
        std::string args = args0;
        if (*simArg) {
            ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {simArg})) << sim.Log();
            args = "--device " + sim.Path() + " " + args;
        }
        const Result run = Loopctl(args);
        EXPECT_EQ(run.exitCode, exitCode) << args << "\n" << run.err;
        EXPECT_TRUE(Has(run.err, text)) << text << " missing in\n" << run.err;
        EXPECT_LT(run.cpuSeconds, 0.25) << "busy waiting";
        EXPECT_TRUE(exitCode != 2 || !Has(run.err, "Start!")) << run.err;
    }
}

TEST(Loopctl, AnErrorResponseIsAFailure) {
    // A device that refuses (status byte 6 is 3, not 2): the simulator always
    // answers well, so a pseudo-terminal plays the device.
    int master, slave;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    std::thread device([master] {
        uint8_t request[8], answer[16] = {2, 0, 16, 0x2B, 0, 0xAA, 3, 0, 0, 1, 0, 2, 0, 3, 0x90, 3};
        if (read(master, request, sizeof request) > 0) [[maybe_unused]]
            ssize_t n = write(master, answer, sizeof answer);
    });
    const Result refused = Loopctl(std::string("--device ") + name + " adc");
    device.join();
    close(slave);
    close(master);
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_TRUE(Has(refused.err, "\tError response!\n")) << refused.err;
}
