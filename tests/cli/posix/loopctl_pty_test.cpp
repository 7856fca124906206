// loopctl on Linux where only Linux gives the case: the simulator over TCP or
// misbehaving, paths and settings files, and pseudo-terminals playing devices
// whose every value differs, checked by the whole output and the requests
// each device saw.
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>
#include <utility>

#include "../loopctl_run.h"
#include "frames.h"
#include "settings.h"
#include "sim_process.h"

namespace {

// A pseudo-terminal playing device k: it answers each request by its command
// with values that all differ, from each other and from other devices' (ADC
// k101, k202, extra k303; the configuration as last written, at first k001
// to k008 with extra k009; a write's extra k404), counts the requests, and
// misbehaves as told.
struct FakeDevice {
    enum Fault { kNone, kSilent, kIgnoresFirst, kRefuses, kHangsUp, kForgets, kGarbles, kLate, kLeaves,
                 kSilentThenRefuses };
    int master = -1, slave = -1;
    char name[128] = {};
    std::atomic<int> requests{0};
    std::thread thread;

    explicit FakeDevice(int k, Fault fault = kNone) {
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        // loopctl must not inherit our ends: a hang-up needs the last one closed.
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        thread = std::thread([this, k, fault] { Serve(k, fault); });
    }
    ~FakeDevice() {
        close(slave);
        if (thread.joinable()) thread.join();
        if (master >= 0) close(master);
    }
    void Answer(std::vector<uint8_t> frame, bool garble = false) {
        frame.insert(frame.begin(), {STX, 0, static_cast<uint8_t>(frame.size() + 5)});
        frame.push_back(static_cast<uint8_t>(XorChecksum(frame.data(), frame.size()) ^ garble));
        frame.push_back(ETX);
        [[maybe_unused]] ssize_t n = write(master, frame.data(), frame.size());
    }
    void Serve(int k, Fault fault) {
        // head followed by device k's values as big-endian words.
        const auto words = [k](std::vector<uint8_t> head, std::initializer_list<int> values) {
            for (int v : values)
                head.insert(head.end(), {uint8_t((k * 1000 + v) >> 8), uint8_t(k * 1000 + v)});
            return head;
        };
        std::vector<uint8_t> config = words({}, {1, 2, 3, 4, 5, 6, 7, 8});
        uint8_t request[64];
        while (read(master, request, sizeof request) > 0) {
            const int count = ++requests;
            if (fault == kHangsUp) return (void)close(std::exchange(master, -1));
            if (fault == kSilent || ((fault == kIgnoresFirst || fault == kSilentThenRefuses) && count == 1))
                continue;
            const uint8_t status = fault == kRefuses || fault == kSilentThenRefuses ? 3 : STATUS_OK;
            const auto adc = words({CMD_GET_ADC_VALUE, 0, status, 2, 0}, {101, 202, 303});
            std::vector<uint8_t> read = {CMD_GET_CONFIG_DATA, 0, status};
            read.insert(read.end(), config.begin(), config.end());
            read = words(read, {9});
            switch (request[kOffsetCommand]) {
                case CMD_GET_ADC_VALUE:
                    if (fault == kLate) {  // a late answer to another request first
                        Answer(read);
                        std::this_thread::sleep_for(std::chrono::milliseconds(30));
                    }
                    Answer(adc);
                    // Gone between two requests: soon after its third answer.
                    if (fault == kLeaves && count == 3) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                        return (void)close(std::exchange(master, -1));
                    }
                    break;
                case CMD_GET_CONFIG_DATA:
                    Answer(read, fault == kGarbles);
                    break;
                case CMD_SET_CONFIG_DATA:
                    config.assign(request + kWriteOffsetBlock, request + kWriteOffsetCrc);
                    if (fault == kForgets) ++config.front(), ++config.back();
                    Answer(words({CMD_SET_CONFIG_DATA, 0, status}, {404}));
                    break;
            }
        }
    }
};

// What device k gives, as loopctl prints it.
std::string AdcText(int k) {
    const std::string p = std::to_string(k);
    return "CH.1   " + p + "101\nCH.2   " + p + "202\nextra  " + p + "303\n";
}
Json AdcJson(int port, int k) {
    return {{"port", port},          {"command", "adc"},      {"result", "Ok!"},
            {"ch1", k * 1000 + 101}, {"ch2", k * 1000 + 202}, {"extra", k * 1000 + 303}};
}
// Preloaded: opencom pauses (so that ports of a list open at the same
// time) and a name lookup never answers.
const std::vector<std::string> kSlowSystem = {"LD_PRELOAD=" SLOW_SYSTEM_PATH,
                                              "ASAN_OPTIONS=verify_asan_link_order=0"};
const std::string kPid = std::to_string(getpid());

}  // namespace

TEST(Loopctl, ReadsWritesAndReadsBackOverTcp) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--tcp", "0"})) << sim.Log();
    ExpectAdcWriteReadBack("--tcp " + sim.Path());
    EXPECT_EQ(JsonOf(Loopctl("--json --tcp " + sim.Path() + " adc"))["tcp"], sim.Path());
}

// Values whose checksum failed are shown, but the answer is an error: status
// 1 and "ERROR CRC", never the command's "Ok!".
TEST(Loopctl, AChecksumErrorIsAnErrorWithItsValues) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--bad-checksum"})) << sim.Log();
    const ProgramRun run = Loopctl("--json --device " + sim.Path() + " adc");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const Json j = JsonOf(run);
    EXPECT_EQ(j["result"], "ERROR CRC");
    EXPECT_TRUE(j["ch1"].is_number()) << j;
}

// Names of devices and hosts that lead nowhere, each said with its culprit; a name lookup that
// never answers holds loopctl up no longer than its time-out.
TEST(Loopctl, DevicesAndHostsThatFail) {
    const std::string file = "loopctl-plain-" + kPid;
    std::ofstream(file) << "not a tty";
    for (const auto &[args, culprit] : std::vector<std::pair<std::string, std::string>>{
             {"--device /no/tty --port 3", "/no/tty"},
             {"--device " + file, file},
             {"--tcp 127.0.0.1:1", "127.0.0.1:1"},
             {"--tcp no-such-host.invalid:502", "no-such-host.invalid"}})
        ExpectFailure(args + " adc", 4, culprit);
    // The resolver's own reason ("Name or service not known", or without a
    // name server "Temporary failure in name resolution"), not an errno's.
    std::string lookup = ExpectFailure("--tcp no-such-host.invalid:502 adc", 4, "(").err;
    std::transform(lookup.begin(), lookup.end(), lookup.begin(), ::tolower);
    EXPECT_TRUE(Has(lookup, "name") && !Has(lookup, "unknown error")) << lookup;
    std::remove(file.c_str());
    ExpectFailure("adc", 4, "/no/\"tty\xff", {.more = {"--device", "/no/\"tty\xff"}});
    const auto start = std::chrono::steady_clock::now();
    ExpectFailure("--timeout 1 --tcp hangs.example:502 adc", 4, "hangs.example:502",
                  {.env = kSlowSystem});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "two runs";
}

// What the operator's settings hold after a run: the port of --port, nothing
// for a device used once, and a file that cannot be written reported but not
// fatal.
TEST(Loopctl, SettingsKeepThePortOnlyWhenAskedAndReportAFailedStore) {
    namespace fs = std::filesystem;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--seed", "0"})) << sim.Log();
    const std::string to = "--device " + sim.Path(), ini = "loopctl-settings-" + kPid + ".ini";
    std::remove(ini.c_str());
    EXPECT_EQ(Loopctl(to + " adc", {.settings = ini}).exitCode, 0);
    EXPECT_FALSE(fs::exists(ini)) << "a device for one run was stored";
    EXPECT_EQ(Loopctl(to + " --port 4 adc", {.settings = ini}).exitCode, 0);
    EXPECT_EQ(ReadComPort(ini), 4);

    ASSERT_EQ(chmod(ini.c_str(), 0444), 0);
    const ProgramRun readOnly = Loopctl(to + " --port 5 adc", {.settings = ini});
    EXPECT_EQ(readOnly.exitCode, 0) << readOnly.err;
    EXPECT_TRUE(Has(readOnly.err, "not stored in " + ini)) << readOnly.err;
    EXPECT_EQ(ReadComPort(ini), 4) << "the file was left as it was";
    std::remove(ini.c_str());

    // Output that cannot be written is a system error, not a success.
    EXPECT_EQ(Loopctl(to + " adc", {.out = "/dev/full"}).exitCode, 5);
}

TEST(Loopctl, EveryOutputFormWholeWithRetriesVerifyAndPortLists) {
    FakeDevice good(1);
    const std::string to = std::string("--device ") + good.name;
    EXPECT_EQ(Loopctl(to + " adc").out, AdcText(1));
    EXPECT_EQ(JsonOf(Loopctl("--json " + to + " adc")), AdcJson(1, 1));
    EXPECT_EQ(Loopctl(to + " config-read").out,
              "       ADC Reference    Display Value\n         Min     Max      Min     Max\n"
              "CH.1    1001    1002     1003    1004\nCH.2    1005    1006     1007    1008\n"
              "extra  1009\n");
    EXPECT_EQ(JsonOf(Loopctl("--json " + to + " config-read")),
              Json::parse(R"({"port":1,"command":"config-read","result":"Ok!",
                  "ch1":{"ref_min":1001,"ref_max":1002,"disp_min":1003,"disp_max":1004},
                  "ch2":{"ref_min":1005,"ref_max":1006,"disp_min":1007,"disp_max":1008},"extra":1009})"));
    good.requests = 0;
    const std::string write = " config-write 11 12 13 14 15 16 17 18";
    const Json written = JsonOf(Loopctl("--json --verify " + to + write));
    EXPECT_EQ(written["extra"], 1404) << written;
    EXPECT_EQ(written["verified"], true) << written;
    EXPECT_EQ(good.requests, 2);

    // A retry that mends a silence leaves no trace of it; without one the
    // requests sent are the retries and one.
    FakeDevice once(2, FakeDevice::kIgnoresFirst), silent(3, FakeDevice::kSilent);
    const ProgramRun mended =
        Loopctl(std::string("--json --timeout 0.3 --retries 1 --device ") + once.name + " adc");
    EXPECT_EQ(mended.exitCode, 0) << mended.err;
    EXPECT_EQ(JsonOf(mended), AdcJson(1, 2));
    EXPECT_EQ(once.requests, 2);
    const ProgramRun unanswered =
        Loopctl(std::string("--json --timeout 0.2 --retries 2 --device ") + silent.name + " adc");
    EXPECT_EQ(unanswered.exitCode, 3);
    EXPECT_TRUE(Has(unanswered.err, "sending again (1 of 2)") &&
                Has(unanswered.err, "sending again (2 of 2)") && !Has(unanswered.err, "(0 of"))
        << unanswered.err;
    EXPECT_TRUE(Has(JsonOf(unanswered)["error"], silent.name)) << unanswered.out;
    EXPECT_EQ(silent.requests, 3);

    // A device that refuses, one that keeps another value than written, one
    // whose read back is garbled, and one whose late answer to another
    // command comes first.
    FakeDevice refusing(4, FakeDevice::kRefuses), forgetful(5, FakeDevice::kForgets),
        garbled(6, FakeDevice::kGarbles), late(7, FakeDevice::kLate);
    const ProgramRun refused = Loopctl(std::string("--json --device ") + refusing.name + " adc");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(JsonOf(refused)["exit"], 1);
    const ProgramRun lied =
        Loopctl(std::string("--json --verify --device ") + forgetful.name + write);
    EXPECT_EQ(lied.exitCode, 1);
    const Json lie = JsonOf(lied);
    EXPECT_EQ(lie["verified"], false);
    EXPECT_EQ(lie["differ"], Json::parse(R"(["ch1.ref_min","ch2.disp_max"])")) << lie;
    const ProgramRun unproven = Loopctl(std::string("--verify --device ") + garbled.name + write);
    EXPECT_EQ(unproven.exitCode, 1);
    EXPECT_EQ(Loopctl(std::string("--device ") + late.name + " adc").out, AdcText(7));

    // Lists, their ports opened at the same moment: one line per port in the
    // order given, each with its own device's values, and the status of the
    // first failure; a retry mends one port's silence only.
    std::vector<std::string> env = kSlowSystem;
    int port = 3;
    for (const FakeDevice *d : {&good, &once, &silent, &refusing, &late})
        env.push_back("PORTLINK_COM" + std::to_string(port++) + "=" + d->name);
    env.push_back("PORTLINK_COM8=/no/\xff");
    const std::string ini = "loopctl-list-" + kPid + ".ini";
    const ProgramRun all =
        Loopctl("--timeout 0.3 --port 7,3,5,6 adc", {.settings = ini, .env = env});
    EXPECT_EQ(all.exitCode, 3) << all.err;
    EXPECT_FALSE(std::filesystem::exists(ini)) << "a list stored a port";
    EXPECT_EQ(all.out,
              "COM7  CH.1   7101  CH.2   7202  extra  7303\n"
              "COM3  CH.1   1101  CH.2   1202  extra  1303\n"
              "COM5  error: no answer from COM5 (" +
                  std::string(silent.name) +
                  ") within 0.3 s\n"
                  "COM6  error: the device answered with an error: Error response!\n");
    once.requests = 0;
    const ProgramRun json =
        Loopctl("--json --timeout 0.3 --retries 1 --port 4,8,3 adc", {.env = env});
    EXPECT_EQ(json.exitCode, 4) << json.err;
    const std::vector<Json> objects = JsonLines(json);
    ASSERT_EQ(objects.size(), 3u) << json.out;
    EXPECT_EQ(objects[0], AdcJson(4, 2));
    EXPECT_EQ(objects[1]["error"], "cannot open COM8 (/no/\xEF\xBF\xBD): no such device");
    EXPECT_EQ(objects[2], AdcJson(3, 1));

    // A port's path may hold anything, a line end too: still one line, one object.
    const std::string odd = "/tmp/loopctl-odd\nport\xff" + kPid;
    unlink(odd.c_str());
    ASSERT_EQ(symlink(good.name, odd.c_str()), 0);
    const std::vector<std::string> oddEnv = {"PORTLINK_COM29=" + odd};
    const std::string escaped = "COM29 /tmp/loopctl-odd\\x0aport\\xff" + kPid;
    EXPECT_TRUE(Has(Loopctl("ports", {.env = oddEnv}).out, escaped + "\n"));
    const Json ports = JsonOf(Loopctl("ports --json", {.env = oddEnv}))["ports"];
    EXPECT_TRUE(std::any_of(ports.begin(), ports.end(), [&](const Json &p) {
        return p["path"] == "/tmp/loopctl-odd\nport\xEF\xBF\xBD" + kPid;
    })) << ports;
    unlink(odd.c_str());
}

// watch: a line per sample in each form, the ranges read once, derived values,
// failed samples as lines, a lost line as the end, SIGINT as a clean end with
// the summary; configuration files saved, compared and written, a bad one
// sending nothing.
TEST(Loopctl, WatchAndConfigurationFiles) {
    FakeDevice dev(4), silent(5, FakeDevice::kSilent), gone(6, FakeDevice::kHangsUp);
    const std::string to = std::string("--device ") + dev.name;
    // Ranges 4001..4002 and 4003..4004: ADC 4101 is 4 + 16 * 100 mA.
    const ProgramRun json = Loopctl(to + " --json watch --count 3 --interval 0");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const std::vector<Json> lines = JsonLines(json);
    ASSERT_EQ(lines.size(), 3u);
    for (Json line : lines) {
        EXPECT_EQ(line["time"].get<std::string>().size(), 23u) << line;
        line.erase("time");
        EXPECT_EQ(line,
                  Json::parse(R"({"ch1":{"adc":4101,"mA":1604.0,"display":4103.0,"level":"failure"},
            "ch2":{"adc":4202,"mA":3156.0,"display":4204.0,"level":"failure"}})"));
    }
    EXPECT_EQ(dev.requests, 4) << "the ranges once, then three reads";
    EXPECT_TRUE(Has(json.err,
                    "loopctl: watch: 3 samples, 0 failed; CH.1 min 4101 mean 4101.00 max "
                    "4101 sd 0.00; CH.2 min 4202"))
        << json.err;
    const std::string csv = Loopctl(to + " watch --csv --no-derived --count 2 --interval 0").out;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3) << "a head and two samples:\n" << csv;
    EXPECT_TRUE(Has(csv, ",4101,,,4202,,,\n")) << csv;
    EXPECT_EQ(dev.requests, 6);
    const ProgramRun failing = Loopctl(std::string("--device ") + silent.name +
                                       " --timeout 0.2 watch --no-derived --count 2 --interval 0");
    EXPECT_EQ(failing.exitCode, 3);
    EXPECT_EQ(std::count(failing.out.begin(), failing.out.end(), '\n'), 2) << failing.out;
    EXPECT_TRUE(Has(failing.out, "  error: no answer within 0.2 s\n")) << failing.out;
    EXPECT_TRUE(Has(failing.err, "watch: 2 samples, 2 failed (raw")) << failing.err;
    EXPECT_EQ(Loopctl(std::string("--device ") + gone.name + " watch --no-derived").exitCode, 6);
    // The first failure's status: no answer (3), then a refusal (1).
    FakeDevice mixed(7, FakeDevice::kSilentThenRefuses);
    EXPECT_EQ(Loopctl(std::string("--device ") + mixed.name +
                      " --timeout 0.2 watch --no-derived --count 2 --interval 0")
                  .exitCode,
              3);
    for (const char *signal : {"INT", "TERM"}) {
        const ProgramRun stopped = Loopctl(
            to + " watch --interval 0.05",
            {.wrapper = {"timeout", "--foreground", "--preserve-status", "-s", signal, "0.5"}});
        // However many samples a slow start left room for: the summary, and 0.
        EXPECT_EQ(stopped.exitCode, 0) << signal << "\n" << stopped.err;
        EXPECT_TRUE(Has(stopped.err, "loopctl: watch: ")) << signal << "\n" << stopped.err;
    }
    // Three readings 0.2 s apart take 0.4 s at least; one reading's spread is 0.
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun paced = Loopctl(to + " watch --no-derived --count 3 --interval 0.2");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_TRUE(Has(Loopctl(to + " watch --no-derived --count 1").err, "max 4202 sd 0.00 (raw"));

    const std::string file = "loopctl-config-" + kPid + ".json";
    ASSERT_EQ(Loopctl("--json " + to + " config-read", {.out = file}).exitCode, 0);
    const std::string same = Loopctl(to + " config-diff " + file).out;
    EXPECT_EQ(same.substr(same.find("extra  4009\n") + 12), "same as " + file + "\n");
    std::ofstream(file) << R"({"ch1":{"ref_min":1,"ref_max":4002,"disp_min":4003,"disp_max":4004},
        "ch2":{"ref_min":4005,"ref_max":4006,"disp_min":4007,"disp_max":9}})";
    const ProgramRun differ = Loopctl(to + " --json config-diff " + file);
    EXPECT_EQ(differ.exitCode, 1);
    EXPECT_EQ(JsonOf(differ)["differ"], Json::parse(R"(["ch1.ref_min","ch2.disp_max"])"));
    // The device's value first, the file's in brackets.
    EXPECT_TRUE(Has(Loopctl(to + " config-diff " + file).out,
                    "differs from " + file + ": ch1.ref_min 4001 (file 1), ch2.disp_max 4008 (file 9)"));
    ASSERT_EQ(Loopctl(to + " --verify config-write --from " + file).exitCode, 0);
    EXPECT_EQ(JsonOf(Loopctl("--json " + to + " config-read"))["ch2"]["disp_max"], 9);
    // Only the last of the eight values differs now.
    std::ofstream(file) << R"({"ch1":{"ref_min":1,"ref_max":4002,"disp_min":4003,"disp_max":4004},
        "ch2":{"ref_min":4005,"ref_max":4006,"disp_min":4007,"disp_max":65535}})";
    const ProgramRun last = Loopctl(to + " --json config-diff " + file);
    EXPECT_EQ(last.exitCode, 1);
    EXPECT_EQ(JsonOf(last)["differ"], Json::parse(R"(["ch2.disp_max"])"));
    std::ofstream(file) << R"({"ch1":{"ref_min":1}})";
    const int sent = dev.requests;
    const ProgramRun bad = Loopctl(to + " --json config-write --from " + file);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(JsonOf(bad)["error"], file + ": no ch1.ref_max");
    EXPECT_EQ(dev.requests, sent) << "nothing sent";
    unlink(file.c_str());
}

// Every sample is the answer to its own request: answers a USB adapter
// splits, TCP at speed, answers too late for their request; and the ways a
// watch ends: SIGINT with a sample on its way, a line lost between samples,
// nobody reading the output any more.
TEST(Loopctl, EverySampleIsTheAnswerToItsOwnRequestAndWatchEndsAsItShould) {
    const std::string watch = " --no-derived watch --interval ";
    for (const char *pause : {"16", "30", "100"}) {
        CSimProcess split;
        ASSERT_TRUE(split.Start(LOOPSIM_PATH, {"--split", "8", "--pause", pause})) << split.Log();
        const ProgramRun r = Loopctl("--device " + split.Path() + watch + "0.05 --count 5");
        EXPECT_EQ(r.exitCode, 0) << pause << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, "watch: 5 samples, 0 failed")) << pause << "\n" << r.err;
    }
    CSimProcess tcp;
    ASSERT_TRUE(tcp.Start(LOOPSIM_PATH, {"--tcp", "0"})) << tcp.Log();
    const ProgramRun fast = Loopctl("--tcp " + tcp.Path() + watch + "0 --count 2000");
    EXPECT_TRUE(Has(fast.err, "watch: 2000 samples, 0 failed")) << fast.err;
    // loopsim's values drift: the summary's least, mean and most in order.
    double least = 0, mean = 0, most = 0;
    ASSERT_EQ(std::sscanf(fast.err.c_str() + fast.err.find("CH.1 min"), "CH.1 min %lf mean %lf max %lf",
                          &least, &mean, &most), 3) << fast.err;
    EXPECT_TRUE(least < mean && mean < most) << fast.err;

    // Every answer comes 50 ms after its request's time-out: none is taken
    // for the next request, each is said to be dropped.
    CSimProcess late;
    ASSERT_TRUE(late.Start(LOOPSIM_PATH, {"--delay", "250"})) << late.Log();
    const std::string to = "--device " + late.Path();
    const ProgramRun lateRun = Loopctl(to + " --timeout 0.2" + watch + "0 --count 3");
    EXPECT_EQ(lateRun.exitCode, 3);
    EXPECT_TRUE(Has(lateRun.err, "watch: 3 samples, 3 failed")) << lateRun.err;
    EXPECT_TRUE(Has(lateRun.err, "Late answer dropped: CMD_GET_ADC_VALUE ")) << lateRun.err;
    // SIGINT while the first answer is on its way: it is heard, then the end.
    CSimProcess slow;
    ASSERT_TRUE(slow.Start(LOOPSIM_PATH, {"--delay", "1500"})) << slow.Log();
    const ProgramRun stopped =
        Loopctl("--timeout 5 --device " + slow.Path() + watch + "5",
                {.wrapper = {"timeout", "--foreground", "--preserve-status", "-s", "INT", "0.5"}});
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err;
    EXPECT_TRUE(Has(stopped.err, "watch: 1 samples, 0 failed")) << stopped.err;

    // The device goes away between samples, behind a path whose comma CSV
    // must quote: the watch ends at once with the line lost.
    FakeDevice leaving(8, FakeDevice::kLeaves);
    const std::string comma = "/tmp/loopctl,leaving-" + kPid;
    unlink(comma.c_str());
    ASSERT_EQ(symlink(leaving.name, comma.c_str()), 0);
    const ProgramRun lost = Loopctl("--device " + comma + " --csv" + watch + "0.2",
                                    {.wrapper = {"timeout", "-s", "KILL", "5"}});
    unlink(comma.c_str());
    EXPECT_EQ(lost.exitCode, 6) << lost.err;
    const std::string last = lost.out.substr(lost.out.rfind('\n', lost.out.size() - 2) + 1);
    EXPECT_TRUE(Has(last, ",,,,,,,\"lost COM1 (" + comma + "): ")) << lost.out;
    EXPECT_EQ(std::count(lost.out.begin(), lost.out.end(), '\n'), 5) << "a head, three samples, the loss";
    EXPECT_LT(lost.cpuSeconds, 0.25);

    // Nobody reads the samples any more, and SIGPIPE is ignored (a service
    // manager's default): the watch ends, saying why once.
    const ProgramRun unread = Loopctl(
        "--device " + late.Path() + watch + "0.05",
        {.wrapper = {"timeout", "-s", "KILL", "5", "bash", "-c",
                     "trap '' PIPE; \"$0\" \"$@\" | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}"}});
    EXPECT_EQ(unread.exitCode, 5) << unread.err;
    const std::string broken = "cannot write the output: Broken pipe";
    EXPECT_EQ(unread.err.find(broken), unread.err.rfind(broken)) << unread.err;
    EXPECT_TRUE(Has(unread.err, broken)) << unread.err;
}

// calibrate against loopsim modelling a converter that reads 2 % low with a
// 10-count offset: at I mA it reads round(I / 20 * 4095 * 0.98 + 10) counts,
// 813, 1615, 2418, 3220 and 4023 at 4, 8, 12, 16 and 20 mA. On the factory
// ranges (819..4095 counts for 0..1000) 1615 shows 1000 * 796 / 3276 =
// 242.979 against 250: -0.702 % of span. By hand likewise: -0.183, -1.190,
// -1.709, -2.198. Adjusted, the line through the points gives 813..4023.
TEST(Loopctl, CalibrateProvesAChannelAdjustsItAndKeepsARecord) {
    const std::string fifo = "/tmp/loopctl-source-" + kPid, record = "loopctl-record-" + kPid;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--input", "4,4", "--gain", "0.98", "--offset", "10",
                                         "--control", fifo})) << sim.Log();
    const std::string to = "--device " + sim.Path() + " calibrate --steady 0.3 ";
    const ProgramRun run = Loopctl(to + "--channel 1 --adjust --json --record " + record + ".json --report " +
                                       record + ".html --tag FT-101",
                                   {.more = {"--source-cmd", "echo 1={mA} > " + fifo}});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json r = JsonOf(run);
    const double found[] = {-0.183, -0.702, -1.190, -1.709, -2.198};
    ASSERT_EQ(r["as_found"].size(), 5u) << r;
    for (size_t i = 0; i < 5; ++i) EXPECT_NEAR(r["as_found"][i]["error_pct_span"], found[i], 0.05) << i;
    EXPECT_EQ(r["verdict_as_found"], "fail");
    EXPECT_EQ(r["config_after"]["ch1"]["ref_min"], 813);
    EXPECT_EQ(r["config_after"]["ch1"]["ref_max"], 4023);
    EXPECT_EQ(r["config_after"]["ch2"], r["config_before"]["ch2"]);
    for (const Json &p : r["as_left"]) EXPECT_LE(std::abs(p["error_pct_span"].get<double>()), 0.1) << p;
    EXPECT_EQ(r["verdict_as_left"], "pass");
    std::ifstream saved(record + ".json"), page(record + ".html");
    EXPECT_EQ(Json::parse(saved, nullptr, false), r);
    EXPECT_TRUE(Has(std::string(std::istreambuf_iterator<char>(page), {}), "<svg"));

    // Answers typed on standard input: one that is no current is asked
    // again; when they end, the record so far is kept and nothing is written.
    const ProgramRun typed =
        Loopctl(to + "--channel 2 --adjust --points 4,20 --record " + record + ".json",
                {.wrapper = {"bash", "-c", "printf 'abc\\n4.02\\n' | \"$0\" \"$@\""}});
    EXPECT_EQ(typed.exitCode, 2) << typed.err;
    EXPECT_TRUE(Has(typed.err, "'abc' is not a current in mA; once more")) << typed.err;
    EXPECT_TRUE(Has(typed.err, "Apply 20.000 mA to CH.2 (as found, point 2 of 2)")) << typed.err;
    const Json kept = Json::parse(std::ifstream(record + ".json"), nullptr, false);
    EXPECT_EQ(kept["complete"], false);
    EXPECT_EQ(kept["as_found"].size(), 1u);
    EXPECT_EQ(kept["as_found"][0]["applied_mA"], 4.02);
    // A source that fails writes nothing either.
    const ProgramRun failed = Loopctl(to + "--channel 1 --adjust --record " + record + ".json",
                                      {.more = {"--source-cmd", "exit 3 # {mA}"}});
    EXPECT_EQ(failed.exitCode, 5) << failed.err;
    EXPECT_TRUE(Has(failed.err, "the source command failed: it answered 3")) << failed.err;
    EXPECT_EQ(JsonOf(Loopctl("--json --device " + sim.Path() + " config-read"))["ch1"]["ref_min"], 813);
    // The line lost in the middle ends it too: status 6, the record marked.
    FakeDevice leaving(9, FakeDevice::kLeaves);
    const ProgramRun lost = Loopctl(std::string("--device ") + leaving.name +
                                        " calibrate --steady 0.5 --channel 1 --record " + record + ".json",
                                    {.more = {"--source-cmd", "true {mA}"}});
    EXPECT_EQ(lost.exitCode, 6) << lost.err;
    EXPECT_EQ(Json::parse(std::ifstream(record + ".json"), nullptr, false)["complete"], false);
    std::remove((record + ".json").c_str());
    std::remove((record + ".html").c_str());
}
