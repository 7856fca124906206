// loopctl as a user runs it: a separate process against the simulated device,
// over a pseudo-terminal and over TCP, or against a pseudo-terminal playing a
// device whose every value differs, checked by its exit status, its whole
// output, the requests the device saw and the CPU it burns while it waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <tuple>
#include <utility>

#include "frames.h"
#include "sim_process.h"

namespace {

using Json = nlohmann::json;

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

// Each run gets a settings file of its own, removed afterwards unless the
// caller names one; env goes before the program (variables, or a wrapper).
Result Loopctl(const std::string &args, const std::string &settings = {},
               const std::string &out = {}, const std::string &env = {}) {
    const std::string run = "loopctl-test-" + std::to_string(getpid());
    const std::string ini = settings.empty() ? run + ".ini" : settings;
    const double cpu = CpuSeconds();
    const int status = std::system((env + LOOPCTL_PATH " --settings '" + ini + "' " + args + " >" +
                                    (out.empty() ? run + ".out" : out) + " 2>" + run + ".err")
                                       .c_str());
    if (settings.empty()) unlink(ini.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out.empty() ? Take(run + ".out") : "",
            Take(run + ".err"), CpuSeconds() - cpu};
}

// Every line of standard output as one JSON object each, or a test failure.
std::vector<Json> JsonLines(const Result &run) {
    std::vector<Json> objects;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(Json::parse(line, nullptr, false));
        EXPECT_FALSE(objects.back().is_discarded()) << "not one JSON object:\n" << line;
    }
    return objects;
}
Json JsonOf(const Result &run) {
    const std::vector<Json> objects = JsonLines(run);
    EXPECT_EQ(objects.size(), 1u) << run.out;
    return objects.empty() ? Json() : objects.front();
}

bool Has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// A pseudo-terminal playing device k: it answers each request by its command
// with values that all differ, from each other and from other devices' (ADC
// k101, k202, extra k303; the configuration as last written, at first k001
// to k008 with extra k009; a write's extra k404), counts the requests, and
// misbehaves as told.
struct FakeDevice {
    enum Fault { kNone, kSilent, kIgnoresFirst, kRefuses, kHangsUp, kForgets, kGarbles, kLate };
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
            if (fault == kSilent || (fault == kIgnoresFirst && count == 1)) continue;
            const uint8_t status = fault == kRefuses ? 3 : STATUS_OK;
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
const std::string kSlowSystem =
    "LD_PRELOAD=" SLOW_SYSTEM_PATH " ASAN_OPTIONS=verify_asan_link_order=0 ";

}  // namespace

// The simulator over TCP; its pseudo-terminal is the end-to-end tests' peer.
TEST(Loopctl, ReadsWritesAndReadsBackOverTcp) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--tcp", "0"})) << sim.Log();
    const std::string to = "--tcp " + sim.Path();
    const Result adc = Loopctl(to + " adc");
    ASSERT_EQ(adc.exitCode, 0) << adc.err;
    EXPECT_TRUE(Has(adc.out, "CH.1")) << adc.out;
    for (const char *line : {"\tStart!\n", "\tSend ADC Read\n", "\tCMD_GET_ADC_VALUE\n", "\tOk!\n"})
        EXPECT_TRUE(Has(adc.err, line)) << line << " missing in\n" << adc.err;
    EXPECT_EQ(Loopctl(to + " config-write 100 3900 0 1000 200 3800 5 65535").exitCode, 0);
    const Json j = JsonOf(Loopctl("config-read --json " + to));  // options may follow the command
    EXPECT_EQ(j["tcp"], sim.Path());
    EXPECT_EQ(j["ch1"],
              Json::parse(R"({"ref_min":100,"ref_max":3900,"disp_min":0,"disp_max":1000})"));
    EXPECT_EQ(j["ch2"],
              Json::parse(R"({"ref_min":200,"ref_max":3800,"disp_min":5,"disp_max":65535})"));
}

// Every failure gets its status and one message with one prefix, quickly and
// without busy waiting (a 2 ms timer for a second is 500 wake-ups; spinning
// would be a whole second of CPU), and with --json one object that says it.
TEST(Loopctl, FailuresGetTheirExitCodeAndMessageWithoutBusyWaiting) {
    const std::string file = std::string("loopctl-plain-") + std::to_string(getpid());
    std::ofstream(file) << "not a tty";
    for (const auto &[simArg, args0, exitCode, text] :
         std::vector<std::tuple<const char *, std::string, int, std::string>>{
             {"--silent", "--timeout 1 adc", 3, ") within 1 s\n"},
             {"--bad-checksum", "adc", 1,
              "\nloopctl: the device answered with an error: ERROR CRC\n"},
             {"", "--device /no/tty --port 3 adc", 4, "cannot open COM3 (/no/tty): no such device"},
             {"", "--device '/no/\"tty\xff' adc", 4, "(/no/\"tty\xff): no such device"},
             {"", "--device " + file + " adc", 4, "not a serial device"},
             {"", "--tcp 127.0.0.1:1 adc", 4,
              "cannot connect to 127.0.0.1:1 (connect(): Connection refused)"},
             {"", "--tcp no-such-host.invalid:502 adc", 4, "cannot connect to no-such-host"},
             {"", "frobnicate --json", 2, "unknown command"},
             {"", "--json --timeout 0 adc", 2, "--timeout"},
             {"", "config-write 1 2 3 4 5 6 7 65536", 2, "65536"},
             {"", "config-write 1 2 3 4 5 6 7 8 9", 2, "8 values"},
             {"", "config-write 0000000000000001 2 3 4 5 6 7 8", 2, "15-character"},
             {"", "adc --port 31", 2, "--port"},
             {"", "adc --port 0", 2, "--port"},
             {"", "adc --port 3,4,3", 2, "--port names COM3 twice"}}) {
        CSimProcess sim;
        std::string args = args0;
        if (*simArg) {
            ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {simArg})) << sim.Log();
            args = "--device " + sim.Path() + " " + args;
        }
        const Result run = Loopctl(args);
        EXPECT_EQ(run.exitCode, exitCode) << args << "\n" << run.err;
        EXPECT_TRUE(Has(run.err, text)) << text << " missing in\n" << run.err;
        EXPECT_FALSE(Has(run.err, "loopctl: loopctl:")) << run.err;
        EXPECT_LT(run.cpuSeconds, 0.25) << "busy waiting";
        EXPECT_TRUE(exitCode != 2 || !Has(run.err, "Start!")) << run.err;
        const Json j = JsonOf(Loopctl("--json " + args));
        EXPECT_EQ(j["exit"], exitCode) << args;
        EXPECT_TRUE(j["error"].is_string()) << j;
        EXPECT_TRUE(exitCode == 2 || j["command"] == "adc") << j;
    }
    unlink(file.c_str());

    // Neither a name lookup that never answers nor a settings file that is a
    // pipe holds loopctl up beyond its time-out.
    const auto start = std::chrono::steady_clock::now();
    const Result lookup = Loopctl("--timeout 1 --tcp hangs.example:502 adc", {}, {}, kSlowSystem);
    EXPECT_EQ(lookup.exitCode, 4) << lookup.err;
    EXPECT_TRUE(Has(lookup.err,
                    "cannot connect to hangs.example:502 (the name lookup gave no "
                    "answer within 1 s)\n"))
        << lookup.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// What the operator's settings hold after a run: the port of --port, nothing
// for a device used once, a file that cannot be written (read-only, or no
// regular file) reported but not fatal, and a program folder the user may not
// write left alone.
TEST(Loopctl, SettingsKeepThePortOnlyWhenAskedAndReportAFailedStore) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--seed", "0"})) << sim.Log();
    const std::string ini = "loopctl-settings-" + std::to_string(getpid()) + ".ini";
    unlink(ini.c_str());
    EXPECT_EQ(Loopctl("--device " + sim.Path() + " adc", ini).exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(ini)) << "a device for one run was stored";
    EXPECT_EQ(Loopctl("--device " + sim.Path() + " --port 4 adc", ini).exitCode, 0);
    const auto text = [](const std::filesystem::path &file) {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(text(ini), "[Data]\nCom=4\n");

    ASSERT_EQ(chmod(ini.c_str(), 0444), 0);
    const Result readOnly = Loopctl("--device " + sim.Path() + " --port 5 adc", ini);
    EXPECT_EQ(readOnly.exitCode, 0) << readOnly.err;
    EXPECT_TRUE(Has(readOnly.err, "not stored in " + ini)) << readOnly.err;
    EXPECT_EQ(text(ini), "[Data]\nCom=4\n");
    unlink(ini.c_str());

    ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0);
    const Result fifo = Loopctl("--device " + sim.Path() + " --port 5 adc", ini, {}, "timeout 10 ");
    EXPECT_EQ(fifo.exitCode, 0) << fifo.err;
    EXPECT_TRUE(Has(fifo.err, "not stored in " + ini + ": not a regular file\n")) << fifo.err;
    unlink(ini.c_str());

    // An installed program's folder cannot be written by its user: the port then
    // goes to the user's settings folder, created on the way.
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("loopctl-ro-" + std::to_string(getpid()));
    const fs::path bin = root / "bin", home = root / "home";
    fs::create_directories(bin);
    fs::create_directories(home);
    const fs::path built = fs::path(LOOPCTL_PATH).parent_path();
    fs::copy_file(built / "loopctl", bin / "loopctl");  // it finds the library beside it
    fs::copy_file(fs::canonical(built / "libportlink.so.1"), bin / "libportlink.so.1");
    fs::permissions(bin, fs::perms::owner_write | fs::perms::group_write, fs::perm_options::remove);
    std::string as = "";
    if (geteuid() == 0) {
        // Root may write anywhere: the case needs an ordinary user.
        ASSERT_EQ(chown(home.c_str(), 65534, 65534), 0);
        ASSERT_EQ(chmod(sim.Path().c_str(), 0666), 0);
        as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    const int status = std::system((as + "env XDG_CONFIG_HOME=" + home.string() + " " +
                                    (bin / "loopctl").string() + " --device " + sim.Path() +
                                    " --port 4 adc >/dev/null 2>&1")
                                       .c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    EXPECT_EQ(text(home / "loopset" / "config.ini"), "[Data]\nCom=4\n");
    EXPECT_FALSE(fs::exists(bin / "config.ini"));
    fs::permissions(bin, fs::perms::owner_all);
    fs::remove_all(root);

    // Output that cannot be written is a system error, not a success.
    const Result full = Loopctl("--device " + sim.Path() + " adc", {}, "/dev/full");
    EXPECT_EQ(full.exitCode, 5) << full.err;
}

// A line that goes away is said at once, with its own status, not after
// the time-out as if the device had stayed silent.
TEST(Loopctl, ALostLineIsReportedAtOnce) {
    FakeDevice hangUp(1, FakeDevice::kHangsUp);
    const auto start = std::chrono::steady_clock::now();
    const Result serial = Loopctl(std::string("--timeout 10 --device ") + hangUp.name + " adc");
    EXPECT_EQ(serial.exitCode, 6) << serial.err;
    EXPECT_TRUE(Has(serial.err,
                    "\tLine lost: readcom answered 999 (the port hung up)\nloopctl: lost COM1 (" +
                        std::string(hangUp.name) +
                        ") before the answer: readcom answered 999 (the port hung up)\n"))
        << serial.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// Each output form compared whole against devices whose every value
// differs, and the requests each device saw where the options change them.
TEST(Loopctl, EveryOutputFormWholeWithRetriesVerifyAndPortLists) {
    FakeDevice good(1);
    const std::string to = std::string("--device ") + good.name;
    const std::string com1 = "COM1 (" + std::string(good.name) + ")";
    EXPECT_EQ(Loopctl(to + " adc").out, AdcText(1));
    EXPECT_EQ(JsonOf(Loopctl("--json " + to + " adc")), AdcJson(1, 1));
    EXPECT_EQ(Loopctl(to + " config-read").out,
              "       ADC Reference    Display Value\n         Min     Max      Min     Max\n"
              "CH.1    1001    1002     1003    1004\nCH.2    1005    1006     1007    1008\nextra "
              " 1009\n");
    EXPECT_EQ(JsonOf(Loopctl("--json " + to + " config-read")),
              Json::parse(R"({"port":1,"command":"config-read","result":"Ok!",
                  "ch1":{"ref_min":1001,"ref_max":1002,"disp_min":1003,"disp_max":1004},
                  "ch2":{"ref_min":1005,"ref_max":1006,"disp_min":1007,"disp_max":1008},"extra":1009})"));
    good.requests = 0;
    const std::string write = " config-write 11 12 13 14 15 16 17 18";
    EXPECT_EQ(Loopctl("--verify " + to + write).out, "CRC16 Ok!\nextra  1404\nverified\n");
    EXPECT_EQ(good.requests, 2);
    EXPECT_EQ(
        JsonOf(Loopctl("--json " + to + " config-write 1 2 3 4 5 6 7 8")),
        Json::parse(R"({"port":1,"command":"config-write","result":"CRC16 Ok!","extra":1404})"));

    // A retry that mends a silence leaves no trace of it; without one the
    // requests sent are the retries and one.
    FakeDevice once(2, FakeDevice::kIgnoresFirst), silent(3, FakeDevice::kSilent);
    const Result mended =
        Loopctl(std::string("--json --timeout 0.3 --retries 1 --device ") + once.name + " adc");
    EXPECT_EQ(mended.exitCode, 0) << mended.err;
    EXPECT_EQ(JsonOf(mended), AdcJson(1, 2));
    EXPECT_EQ(once.requests, 2);
    const Result unanswered =
        Loopctl(std::string("--json --timeout 0.2 --retries 2 --device ") + silent.name + " adc");
    EXPECT_EQ(unanswered.exitCode, 3);
    EXPECT_EQ(
        JsonOf(unanswered),
        (Json{{"port", 1},
              {"command", "adc"},
              {"error", "no answer from COM1 (" + std::string(silent.name) + ") within 0.2 s"},
              {"exit", 3}}));
    EXPECT_EQ(silent.requests, 3);

    // A device that refuses, one that keeps another value than written, one
    // whose read back is garbled, and one whose late answer to another
    // command comes first.
    FakeDevice refusing(4, FakeDevice::kRefuses), forgetful(5, FakeDevice::kForgets),
        garbled(6, FakeDevice::kGarbles), late(7, FakeDevice::kLate);
    const Result refused = Loopctl(std::string("--json --device ") + refusing.name + " adc");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(JsonOf(refused), Json::parse(R"({"port":1,"command":"adc","result":"Error response!",
        "error":"the device answered with an error: Error response!","exit":1})"));
    const Result lied = Loopctl(std::string("--json --verify --device ") + forgetful.name + write);
    EXPECT_EQ(lied.exitCode, 1);
    Json lie = Json::parse(R"({"port":1,"command":"config-write","result":"CRC16 Ok!",
        "extra":5404,"verified":false,"differ":["ch1.ref_min","ch2.disp_max"],"exit":1})");
    lie["error"] =
        "verify: the device keeps other values: ch1.ref_min 267 instead of 11, "
        "ch2.disp_max 19 instead of 18";
    EXPECT_EQ(JsonOf(lied), lie);
    const Result unproven = Loopctl(std::string("--verify --device ") + garbled.name + write);
    EXPECT_EQ(unproven.exitCode, 1);
    EXPECT_TRUE(Has(unproven.err, "\nloopctl: verify: the read back failed: ERROR CRC\n"))
        << unproven.err;
    EXPECT_EQ(Loopctl(std::string("--device ") + late.name + " adc").out, AdcText(7));

    // Lists, their ports opened at the same moment: one line per port in the
    // order given, each with its own device's values, and the status of the
    // first failure; a retry mends one port's silence only.
    std::string env = kSlowSystem;
    int port = 3;
    for (const FakeDevice *d : {&good, &once, &silent, &refusing, &late})
        env += "PORTLINK_COM" + std::to_string(port++) + "=" + d->name + " ";
    env += "PORTLINK_COM8='/no/\xff' ";
    const std::string ini = "loopctl-list-" + std::to_string(getpid()) + ".ini";
    const Result all = Loopctl("--timeout 0.3 --port 7,3,5,6 adc", ini, {}, env);
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
    const Result json = Loopctl("--json --timeout 0.3 --retries 1 --port 4,8,3 adc", {}, {}, env);
    EXPECT_EQ(json.exitCode, 4) << json.err;
    const std::vector<Json> objects = JsonLines(json);
    ASSERT_EQ(objects.size(), 3u) << json.out;
    EXPECT_EQ(objects[0], AdcJson(4, 2));
    EXPECT_EQ(objects[1]["error"], "cannot open COM8 (/no/\xEF\xBF\xBD): no such device");
    EXPECT_EQ(objects[2], AdcJson(3, 1));

    // A port's path may hold anything, a line end too: still one line, one object.
    const std::string odd = "/tmp/loopctl-odd\nport\xff" + std::to_string(getpid());
    unlink(odd.c_str());
    ASSERT_EQ(symlink(good.name, odd.c_str()), 0);
    const std::string oddEnv = "PORTLINK_COM29='" + odd + "' ";
    const std::string escaped = "COM29 /tmp/loopctl-odd\\x0aport\\xff" + std::to_string(getpid());
    EXPECT_TRUE(Has(Loopctl("ports", {}, {}, oddEnv).out, escaped + "\n"));
    const Json ports = JsonOf(Loopctl("ports --json", {}, {}, oddEnv))["ports"];
    EXPECT_TRUE(std::any_of(ports.begin(), ports.end(), [&](const Json &p) {
        return p["path"] == "/tmp/loopctl-odd\nport\xEF\xBF\xBD" + std::to_string(getpid());
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
    const Result json = Loopctl(to + " --json watch --count 3 --interval 0");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const std::vector<Json> lines = JsonLines(json);
    ASSERT_EQ(lines.size(), 3u);
    for (Json line : lines) {
        EXPECT_EQ(line["time"].get<std::string>().size(), 23u) << line;
        line.erase("time");
        EXPECT_EQ(line, Json::parse(R"({"ch1":{"adc":4101,"mA":1604.0,"display":4103.0,"level":"failure"},
            "ch2":{"adc":4202,"mA":3156.0,"display":4204.0,"level":"failure"}})"));
    }
    EXPECT_EQ(dev.requests, 4) << "the ranges once, then three reads";
    EXPECT_TRUE(Has(json.err, "loopctl: watch: 3 samples, 0 failed; CH.1 min 4101 mean 4101.00 max "
                              "4101 sd 0.00; CH.2 min 4202"))
        << json.err;
    const std::string csv = Loopctl(to + " watch --csv --no-derived --count 2 --interval 0").out;
    EXPECT_EQ(csv.substr(0, 65), "time,ch1_adc,ch1_mA,ch1_display,ch2_adc,ch2_mA,ch2_display,error\n");
    EXPECT_EQ(csv.substr(88, 18), ",4101,,,4202,,,\n20") << csv;
    EXPECT_EQ(dev.requests, 6);
    const Result failing = Loopctl(std::string("--device ") + silent.name +
                                   " --timeout 0.2 watch --no-derived --count 2 --interval 0");
    EXPECT_EQ(failing.exitCode, 3);
    EXPECT_EQ(std::count(failing.out.begin(), failing.out.end(), '\n'), 2) << failing.out;
    EXPECT_TRUE(Has(failing.out, "  error: no answer within 0.2 s\n")) << failing.out;
    EXPECT_TRUE(Has(failing.err, "watch: 2 samples, 2 failed (raw")) << failing.err;
    EXPECT_EQ(Loopctl(std::string("--device ") + gone.name + " watch --no-derived").exitCode, 6);
    const Result stopped =
        Loopctl(to + " watch --interval 0.05", {}, {}, "timeout --preserve-status -s INT 0.5 ");
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err;
    EXPECT_TRUE(Has(stopped.err, " failed; CH.1 min 4101")) << stopped.err;

    const std::string file = "loopctl-config-" + std::to_string(getpid()) + ".json";
    ASSERT_EQ(Loopctl("--json " + to + " config-read", {}, file).exitCode, 0);
    const std::string same = Loopctl(to + " config-diff " + file).out;
    EXPECT_EQ(same.substr(same.find("extra  4009\n") + 12), "same as " + file + "\n");
    std::ofstream(file) << R"({"ch1":{"ref_min":1,"ref_max":4002,"disp_min":4003,"disp_max":4004},
        "ch2":{"ref_min":4005,"ref_max":4006,"disp_min":4007,"disp_max":9}})";
    const Result differ = Loopctl(to + " --json config-diff " + file);
    EXPECT_EQ(differ.exitCode, 1);
    EXPECT_EQ(JsonOf(differ)["differ"], Json::parse(R"(["ch1.ref_min","ch2.disp_max"])"));
    ASSERT_EQ(Loopctl(to + " --verify config-write --from " + file).exitCode, 0);
    EXPECT_EQ(JsonOf(Loopctl("--json " + to + " config-read"))["ch2"]["disp_max"], 9);
    std::ofstream(file) << R"({"ch1":{"ref_min":1}})";
    const int sent = dev.requests;
    const Result bad = Loopctl(to + " --json config-write --from " + file);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(JsonOf(bad)["error"], file + ": no ch1.ref_max");
    EXPECT_EQ(dev.requests, sent) << "nothing sent";
    unlink(file.c_str());
}
