// loopctl as a user runs it: a separate process against the simulated device,
// over a pseudo-terminal and over TCP (or a pseudo-terminal that answers what
// the simulator will not), checked by its exit status, its output and the CPU
// it burns while it waits.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <tuple>
#include <utility>

#include <nlohmann/json.hpp>

#include "frames.h"
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

// Each run gets a settings file of its own, removed afterwards unless the
// caller names one.
Result Loopctl(const std::string &args, const std::string &settings = {},
               const std::string &out = {}, const std::string &env = {}) {
    const std::string run = "loopctl-test-" + std::to_string(getpid());
    const std::string ini = settings.empty() ? run + ".ini" : settings;
    const double cpu = CpuSeconds();
    const int status =
        std::system((env + LOOPCTL_PATH " --settings '" + ini + "' " + args + " >" +
                     (out.empty() ? run + ".out" : out) + " 2>" + run + ".err")
                        .c_str());
    if (settings.empty()) unlink(ini.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out.empty() ? Take(run + ".out") : "",
            Take(run + ".err"), CpuSeconds() - cpu};
}

// The whole standard output as one JSON object, or a test failure.
nlohmann::json Json(const Result &run) {
    try {
        return nlohmann::json::parse(run.out);
    } catch (const nlohmann::json::exception &e) {
        ADD_FAILURE() << "not one JSON object: " << e.what() << "\n" << run.out;
        return {};
    }
}

// A pseudo-terminal playing a device: it reads the request, then does what
// the test says (answers, stays silent), and hangs up when asked to.
struct FakeDevice {
    int master = -1, slave = -1;
    char name[128] = {};
    std::thread thread;
    template <typename Act>
    explicit FakeDevice(Act act, bool hangUp = false) {
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        // loopctl must not inherit our ends: a hang-up needs the last one closed.
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        thread = std::thread([this, act, hangUp] {
            uint8_t request[64];
            if (read(master, request, sizeof request) > 0) act(master);
            if (hangUp) close(std::exchange(master, -1));  // seen by the destructor after join
        });
    }
    ~FakeDevice() {
        close(slave);
        if (thread.joinable()) thread.join();
        if (master >= 0) close(master);
    }
};

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

        // Options may follow the command.
        const Result read = Loopctl("config-read --json " + to);
        ASSERT_EQ(read.exitCode, 0) << read.err;
        const nlohmann::json j = Json(read);
        EXPECT_EQ(j["result"], "Ok!");
        EXPECT_EQ(j["ch1"], nlohmann::json::parse(
                                R"({"ref_min":100,"ref_max":3900,"disp_min":0,"disp_max":1000})"));
        EXPECT_EQ(j["ch2"], nlohmann::json::parse(
                                R"({"ref_min":200,"ref_max":3800,"disp_min":5,"disp_max":65535})"));
        EXPECT_TRUE(j["extra"].is_number()) << read.out;
    }
}

// The device's faults run against loopsim (its path put in front); a 2 ms
// timer for a second is 500 wake-ups, spinning would be a whole second of CPU.
// Every failure is also one JSON object with --json.
TEST(Loopctl, FailuresGetTheirExitCodeAndMessageWithoutBusyWaiting) {
    const std::string file = std::string("loopctl-plain-") + std::to_string(getpid());
    std::ofstream(file) << "not a tty";
    for (const auto &[simArg, args0, exitCode, text] :
         std::vector<std::tuple<const char *, std::string, int, std::string>>{
             {"--silent", "--timeout 1 adc", 3, ") within 1 s"},
             {"--bad-checksum", "adc", 1, "\tERROR CRC\n"},
             {"", "--device /no/tty --port 3 adc", 4, "cannot open COM3 (/no/tty): no such device"},
             {"", "--device '/no/\"tty' adc", 4, "(/no/\"tty): no such device"},
             {"", "--device " + file + " adc", 4, "not a serial device"},
             {"", "--tcp 127.0.0.1:1 adc", 4, "cannot connect to 127.0.0.1:1"},
             {"", "--tcp no-such-host.invalid:502 adc", 4, "cannot connect to no-such-host"},
             {"", "frobnicate", 2, "unknown command"},
             {"", "config-write 1 2 3 4 5 6 7 65536", 2, "65536"},
             {"", "config-write 1 2 3 4 5 6 7 8 9", 2, "8 values"},
             {"", "config-write 0000000000000001 2 3 4 5 6 7 8", 2, "15-character"},
             {"", "adc --port 31", 2, "--port"},
             {"", "adc --port 0", 2, "--port"}}) {
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
        if (exitCode == 2) continue;
        const Result json = Loopctl("--json " + args);
        EXPECT_EQ(json.exitCode, exitCode) << args;
        const nlohmann::json j = Json(json);
        EXPECT_EQ(j["exit"], exitCode) << json.out;
        EXPECT_EQ(j["command"], "adc") << json.out;
        EXPECT_TRUE(j["error"].is_string()) << json.out;
    }
    unlink(file.c_str());
}

// What the operator's settings hold after a run: the port of --port, nothing
// for a device used once, and an unwritable file reported but not fatal.
TEST(Loopctl, SettingsKeepThePortOnlyWhenAskedAndReportAFailedStore) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--seed", "0"})) << sim.Log();
    const std::string ini = "loopctl-settings-" + std::to_string(getpid()) + ".ini";
    unlink(ini.c_str());
    EXPECT_EQ(Loopctl("--device " + sim.Path() + " adc", ini).exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(ini)) << "a device for one run was stored";
    EXPECT_EQ(Loopctl("--device " + sim.Path() + " --port 4 adc", ini).exitCode, 0);
    std::ifstream in(ini);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "[Data]\nCom=4\n");

    ASSERT_EQ(chmod(ini.c_str(), 0444), 0);
    const Result readOnly = Loopctl("--device " + sim.Path() + " --port 5 adc", ini);
    EXPECT_EQ(readOnly.exitCode, 0) << readOnly.err;
    EXPECT_TRUE(Has(readOnly.err, "not stored in " + ini)) << readOnly.err;
    std::ifstream again(ini);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), "[Data]\nCom=4\n");
    unlink(ini.c_str());

    // Output that cannot be written is a system error, not a success.
    const Result full = Loopctl("--device " + sim.Path() + " adc", {}, "/dev/full");
    EXPECT_EQ(full.exitCode, 5) << full.err;
}

// A line that goes away is said at once, with its own status, not after
// the time-out as if the device had stayed silent.
TEST(Loopctl, ALostLineIsReportedAtOnce) {
    FakeDevice hangUp([](int) {}, true);
    const auto start = std::chrono::steady_clock::now();
    const Result serial = Loopctl(std::string("--timeout 10 --device ") + hangUp.name + " adc");
    EXPECT_EQ(serial.exitCode, 6) << serial.err;
    EXPECT_TRUE(Has(serial.err, "lost COM1")) << serial.err;

    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--tcp", "0", "--silent"})) << sim.Log();
    std::thread killer([&] {
        sim.WaitForLog("#1", 5000);
        sim.Stop(SIGKILL);
    });
    const Result tcp = Loopctl("--timeout 10 --tcp " + sim.Path() + " adc");
    killer.join();
    EXPECT_EQ(tcp.exitCode, 6) << tcp.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

TEST(Loopctl, AnErrorResponseIsAFailureInOneJsonObject) {
    // A device that refuses (status byte 6 is 3, not 2): the simulator always
    // answers well, so a pseudo-terminal plays the device.
    FakeDevice refusing([](int master) {
        const uint8_t answer[16] = {2, 0, 16, 0x2B, 0, 0xAA, 3, 0, 0, 1, 0, 2, 0, 3, 0x90, 3};
        [[maybe_unused]] ssize_t n = write(master, answer, sizeof answer);
    });
    const Result refused = Loopctl(std::string("--json --device ") + refusing.name + " adc");
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_TRUE(Has(refused.err, "\tError response!\n")) << refused.err;
    const nlohmann::json j = Json(refused);
    EXPECT_EQ(j["result"], "Error response!");
    EXPECT_EQ(j["exit"], 1);
    EXPECT_FALSE(j.contains("ch1")) << "values that were never shown";
}

// An installed program's folder cannot be written by its user: the port then
// goes to the user's settings folder, created on the way.
TEST(Loopctl, AnOrdinaryUserInAReadOnlyProgramFolderKeepsThePortInTheirOwnSettings) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("loopctl-ro-" + std::to_string(getpid()));
    const fs::path bin = root / "bin", home = root / "home";
    fs::create_directories(bin);
    fs::create_directories(home);
    const fs::path built = fs::path(LOOPCTL_PATH).parent_path();
    fs::copy_file(built / "loopctl", bin / "loopctl");
    for (const auto &entry : fs::directory_iterator(built))  // the library under every name
        if (entry.path().filename().string().rfind("libportlink.so", 0) == 0)
            fs::copy_file(entry.path(), bin / entry.path().filename(),
                          fs::copy_options::copy_symlinks);
    fs::permissions(bin, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--seed", "0"})) << sim.Log();
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
    std::ifstream in(home / "loopset" / "config.ini");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "[Data]\nCom=4\n");
    EXPECT_FALSE(fs::exists(bin / "config.ini"));
    fs::permissions(bin, fs::perms::owner_all);
    fs::remove_all(root);
}

// A production line's options: a write read back and compared, a request
// sent again when no answer came, several ports at once.
TEST(Loopctl, VerifyRetriesAndPortLists) {
    // A device that takes the write but keeps another CH.2 display maximum.
    FakeDevice forgetful([](int master) {
        auto answer = [master](std::vector<uint8_t> frame) {
            frame[frame.size() - 2] = XorChecksum(frame.data(), frame.size() - 2);
            [[maybe_unused]] ssize_t n = write(master, frame.data(), frame.size());
        };
        answer({2, 0, 10, 0x4B, 0, 0xAA, 0, 7, 0, 3});
        uint8_t request[64];
        if (read(master, request, sizeof request) <= 0) return;
        answer({2, 0, 26, 0x3B, 0, 0xAA, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 9, 0, 8, 0, 3});
    });
    const Result verify = Loopctl(std::string("--json --verify --device ") + forgetful.name +
                                  " config-write 1 2 3 4 5 6 7 8");
    EXPECT_EQ(verify.exitCode, 1) << verify.err;
    const nlohmann::json j = Json(verify);
    EXPECT_EQ(j["verified"], false);
    EXPECT_EQ(j["differ"], nlohmann::json::parse(R"(["ch2.disp_max"])"));
    EXPECT_TRUE(Has(verify.err, "ch2.disp_max 9 instead of 8")) << verify.err;

    // A read-back whose checksum is wrong proves nothing.
    FakeDevice garbled([](int master) {
        const std::vector<uint8_t> ok = {2, 0, 10, 0x4B, 0, 0xAA, 0, 7, 0xEE, 3};
        [[maybe_unused]] ssize_t n = write(master, ok.data(), ok.size());
        uint8_t request[64];
        if (read(master, request, sizeof request) <= 0) return;
        std::vector<uint8_t> back = {2, 0, 26, 0x3B, 0, 0xAA, 0, 1, 0, 2, 0, 3, 0,
                                     4, 0, 5, 0, 6,    0, 7,    0, 8, 0, 8, 0, 3};
        back[24] = static_cast<uint8_t>(XorChecksum(back.data(), 24) ^ 0x40);
        n = write(master, back.data(), back.size());
    });
    const Result unproven = Loopctl(std::string("--verify --device ") + garbled.name +
                                    " config-write 1 2 3 4 5 6 7 8");
    EXPECT_EQ(unproven.exitCode, 1) << unproven.err;
    EXPECT_TRUE(Has(unproven.err, "the read back failed: ERROR CRC")) << unproven.err;

    // A late answer to another command is not this command's answer.
    FakeDevice late([](int master) {
        std::vector<uint8_t> config = {2, 0, 26, 0x3B, 0, 0xAA, 0, 1, 0, 2, 0, 3, 0,
                                       4, 0, 5, 0, 6,    0, 7,    0, 8, 0, 9, 0, 3};
        config[24] = XorChecksum(config.data(), 24);
        std::vector<uint8_t> adc = {2, 0, 16, 0x2B, 0, 0xAA, 2, 0, 0, 11, 0, 22, 0, 33, 0, 3};
        adc[14] = XorChecksum(adc.data(), 14);
        [[maybe_unused]] ssize_t n = write(master, config.data(), config.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));  // past the idle gap
        n = write(master, adc.data(), adc.size());
    });
    const Result adc = Loopctl(std::string("--device ") + late.name + " adc");
    EXPECT_EQ(adc.exitCode, 0) << adc.err;
    EXPECT_EQ(adc.out, "CH.1   11\nCH.2   22\nextra  33\n");

    // Two simulated devices and a silent line, each on a port of its own.
    CSimProcess a, b;
    ASSERT_TRUE(a.Start(LOOPSIM_PATH, {"--seed", "1"})) << a.Log();
    ASSERT_TRUE(b.Start(LOOPSIM_PATH, {"--seed", "2"})) << b.Log();
    FakeDevice silent([](int) {});
    const std::string env = "PORTLINK_COM3=" + a.Path() + " PORTLINK_COM4=" + b.Path() +
                            " PORTLINK_COM5=" + silent.name + " ";
    const Result both = Loopctl("--port 3,4 --verify config-write 1 2 3 4 5 6 7 8",
                                {}, {}, env);
    EXPECT_EQ(both.exitCode, 0) << both.err;
    EXPECT_TRUE(Has(both.out, "COM3  CRC16 Ok!  extra  1  verified\n")) << both.out;
    EXPECT_TRUE(Has(both.out, "COM4  CRC16 Ok!  extra  1  verified\n")) << both.out;
    const Result oneFails = Loopctl("--json --timeout 0.3 --retries 1 --port 3,5 adc", {}, {}, env);
    EXPECT_EQ(oneFails.exitCode, 3) << oneFails.err;
    EXPECT_TRUE(Has(oneFails.err, "COM5: no answer, sending again (1 of 1)")) << oneFails.err;
    std::istringstream lines(oneFails.out);
    std::string first, second;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_EQ(nlohmann::json::parse(first)["result"], "Ok!") << oneFails.out;
    EXPECT_EQ(nlohmann::json::parse(second)["exit"], 3) << oneFails.out;
}
