// loopctl against the simulated device, on Linux and under Wine, and the
// failures every system has.
#include "loopctl_run.h"

void ExpectAdcWriteReadBack(const std::string &to) {
    const ProgramRun adc = Loopctl(to + " --json adc");
    ASSERT_EQ(adc.exitCode, 0) << adc.err;
    const Json read = JsonOf(adc);
    EXPECT_EQ(read["command"], "adc") << read;
    EXPECT_TRUE(read["ch1"].is_number() && read["ch2"].is_number()) << read;
    EXPECT_FALSE(adc.err.empty()) << "the exchange is logged";
    EXPECT_NO_THROW((void)Json(adc.err).dump()) << "the log is UTF-8";

    const int values[2][4] = {{100, 3900, 0, 1000}, {200, 3800, 5, 65535}};
    std::string write = to + " config-write";
    for (const auto &channel : values)
        for (int v : channel) write += " " + std::to_string(v);
    const ProgramRun written = Loopctl(write);
    EXPECT_EQ(written.exitCode, 0) << written.err;
    const Json kept =
        JsonOf(Loopctl("config-read --json " + to));  // options may follow the command
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(kept["ch" + std::to_string(c + 1)], (Json{{"ref_min", values[c][0]},
                                                            {"ref_max", values[c][1]},
                                                            {"disp_min", values[c][2]},
                                                            {"disp_max", values[c][3]}}))
            << kept;
    }
}

ProgramRun ExpectFailure(const std::string &args, int exitCode, const std::string &culprit,
                         const LoopctlRun &extra) {
    const ProgramRun run = Loopctl(args, extra);
    EXPECT_EQ(run.exitCode, exitCode) << args << "\n" << run.err;
    EXPECT_TRUE(Has(run.err, culprit)) << culprit << " missing in\n" << run.err;
    EXPECT_TRUE(Has(run.err, "\nloopctl: ") || run.err.starts_with("loopctl: ")) << run.err;
    EXPECT_FALSE(Has(run.err, "loopctl: loopctl:")) << run.err;
    // A 2 ms timer for a second is 500 wake-ups; spinning would be a second.
    // Starting the program is not waiting: under Wine alone it costs a quarter
    // of a second, so the bound is over what a run that waits for nothing costs.
    static const double starting = Loopctl("frobnicate").cpuSeconds;
    EXPECT_LT(run.cpuSeconds, starting + 0.25) << "busy waiting";
    LoopctlRun json = extra;
    json.more.insert(json.more.begin(), "--json");
    const Json j = JsonOf(Loopctl(args, json));
    EXPECT_EQ(j["exit"], exitCode) << args;
    EXPECT_TRUE(j["error"].is_string()) << j;
    return run;
}

TEST(Loopctl, ReadsWritesAndReadsBackTheDevice) {
    CTestDevice device;
    ASSERT_EQ(device.Problem(), "");
    ExpectAdcWriteReadBack("--device " + device.Name());
}

// Mistakes in the command line are told first, before any exchange; a port with
// no device behind it is a failure of its own.
TEST(Loopctl, FailuresGetTheirExitCodeAndMessage) {
    for (const auto &[args, culprit] : std::vector<std::pair<std::string, std::string>>{
             {"frobnicate", "frobnicate"},
             {"--timeout 0 adc", "--timeout"},
             {"config-write 1 2 3 4 5 6 7 65536", "65536"},
             {"config-write 1 2 3 4 5 6 7 8 9", "9"},
             {"config-write 0000000000000001 2 3 4 5 6 7 8", "0000000000000001"},
             {"adc --port 31", "31"},
             {"adc --port 0", "--port"},
             {"adc --port 3,4,3", "COM3"},
             {"watch --count 1.5", "whole number"},
             {"adc --interval 0.5", "--interval"},
             {"calibrate", "--channel"},
             {"calibrate --channel 3", "--channel"},
             {"calibrate --channel 2 --points 4,20,4", "twice"},
             {"calibrate --channel 2 --points 3.5,20", "3.5"},
             {"calibrate --channel 2 --tolerance 0", "--tolerance"},
             {"calibrate --channel 1 --source-cmd true", "{mA}"},
             {"adc --adjust", "calibrate"},
             {"config-write --from x.json 1 2 3 4 5 6 7 8", "not both"},
             {"config-diff a.json b.json", "one FILE"},
             {"--tcp localhost:0 adc", "localhost:0"}}) {
        EXPECT_TRUE(ExpectFailure(args, 2, culprit).err.starts_with("loopctl: ")) << "first";
    }
    ExpectFailure("--timeout 1 --port 30 adc", 4, "COM30");
}
