// loopsim as a separate process, spoken to over its pseudo-terminal (and over TCP).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frames.h"
#include "sim_process.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const Bytes kAdcRead{0x02, 0x00, 0x08, 0x2B, 0x80, 0x00, 0xA1, 0x03};
const Bytes kConfigRead{0x02, 0x00, 0x08, 0x3B, 0x80, 0x00, 0xB1, 0x03};

int ElapsedMs(Clock::time_point since) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// The client end: the slave side of loopsim's pty (raw), or any stream.
class DeviceClient {
public:
    explicit DeviceClient(const std::string &path) {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) return;
        termios tio{};
        tcgetattr(m_fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_fd, TCSANOW, &tio);
    }
    // Takes over an open descriptor (the master side of a test's own pty).
    explicit DeviceClient(int fd) : m_fd(fd) {}
    ~DeviceClient() { Close(); }
    void Close() {
        if (m_fd >= 0) close(m_fd);
        m_fd = -1;
    }
    bool ok() const { return m_fd >= 0; }

    void Send(const Bytes &bytes) {
        ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Collects bytes until count have come or timeoutMs passed; chunks records
    // how they arrived (size of each read).
    Bytes Receive(size_t count, int timeoutMs, std::vector<size_t> *chunks = nullptr) {
        Bytes got;
        const auto start = Clock::now();
        while (got.size() < count) {
            const int left = timeoutMs - ElapsedMs(start);
            if (left <= 0) break;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, left) <= 0) continue;
            uint8_t buffer[4096];
            const ssize_t n = read(m_fd, buffer, sizeof buffer);
            if (n <= 0) continue;
            got.insert(got.end(), buffer, buffer + n);
            if (chunks) chunks->push_back(static_cast<size_t>(n));
        }
        return got;
    }

    Bytes Ask(const Bytes &request, size_t count, int timeoutMs = 2000) {
        Send(request);
        return Receive(count, timeoutMs);
    }

private:
    int m_fd = -1;
};

struct Sim {
    CSimProcess process;
    explicit Sim(const std::vector<std::string> &args = {}) {
        EXPECT_TRUE(process.Start(LOOPSIM_PATH, args)) << process.Log();
    }
};

bool WellFramed(const Bytes &f, size_t length, uint8_t command) {
    return f.size() == length && f[0] == 0x02 && f[1] * 256 + f[2] == static_cast<int>(length) &&
           f[3] == command && f[4] == 0x00 && f[length - 2] == XorChecksum(f.data(), length - 2) &&
           f[length - 1] == 0x03;
}

Bytes WriteFrame(const ConfigValues &values) {
    const ConfigWriteFrame f = BuildConfigWriteFrame(values);
    return Bytes(f.begin(), f.end());
}

long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

int CountOf(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(Loopsim, AnswersTheThreeRequestsAndKeepsTheWrittenBlock) {
    Sim sim;
    DeviceClient client(sim.process.Path());
    ASSERT_TRUE(client.ok());

    const Bytes adc = client.Ask(kAdcRead, 16);
    ASSERT_TRUE(WellFramed(adc, 16, 0x2B));
    EXPECT_EQ(adc[5], 0xAA);
    EXPECT_EQ(adc[6], 2);
    EXPECT_LE(ReadBe16(adc.data(), 8), 4095);
    EXPECT_LE(ReadBe16(adc.data(), 10), 4095);
    EXPECT_EQ(ReadBe16(adc.data(), 12), 1);

    const Bytes factory = client.Ask(kConfigRead, 26);
    ASSERT_TRUE(WellFramed(factory, 26, 0x3B));
    EXPECT_EQ(factory[5], 0xAA);

    const ConfigValues mine{100, 4000, 0, 65535, 200, 3000, 10, 20};
    const Bytes ok = client.Ask(WriteFrame(mine), 10);
    ASSERT_TRUE(WellFramed(ok, 10, 0x4B));
    EXPECT_EQ(ok[5], 0xAA);

    Bytes badCrc = WriteFrame({1, 1, 1, 1, 1, 1, 1, 1});
    badCrc[22] ^= 0x40;
    badCrc[23] = XorChecksum(badCrc.data(), 23);
    const Bytes refused = client.Ask(badCrc, 10);
    ASSERT_TRUE(WellFramed(refused, 10, 0x4B));
    EXPECT_EQ(refused[5], 0x55);

    const Bytes stored = client.Ask(kConfigRead, 26);
    ASSERT_TRUE(WellFramed(stored, 26, 0x3B));
    for (size_t i = 0; i < kConfigValueCount; ++i)
        EXPECT_EQ(ReadBe16(stored.data(), 6 + 2 * i), mine[i]);
    EXPECT_EQ(ReadBe16(stored.data(), 22), 5);  // five answers so far

    EXPECT_EQ(sim.process.Stop(SIGTERM), 0);
    EXPECT_EQ(CountOf(sim.process.Log(), "loopsim: #"), 5) << sim.process.Log();
}

TEST(Loopsim, IgnoresBadFramesAndSkipsGarbage) {
    Sim sim;
    DeviceClient client(sim.process.Path());
    ASSERT_TRUE(client.ok());

    Bytes bad = kAdcRead;
    bad[6] = 0xA2;
    EXPECT_TRUE(client.Ask(bad, 1, 200).empty());
    const Bytes unknown{0x02, 0x00, 0x08, 0x5B, 0x80, 0x00, 0xD1, 0x03};
    EXPECT_TRUE(client.Ask(unknown, 1, 200).empty());

    // Garbage with STX in it, even one that announces a 25-byte frame.
    Bytes noisy{0x00, 0xFF, 0x02, 0x7F, 0x03, 0x02, 0x00, 0x19, 0x4B};
    noisy.insert(noisy.end(), kAdcRead.begin(), kAdcRead.end());
    const Bytes answer = client.Ask(noisy, 16, 2000);
    EXPECT_TRUE(WellFramed(answer, 16, 0x2B));
    EXPECT_TRUE(client.Receive(1, 200).empty()) << "one answer only";
    EXPECT_EQ(sim.process.Stop(SIGINT), 0);
}

TEST(Loopsim, ClientsComeAndGoWithoutSpinningAndSignalsEndIt) {
    Sim sim;
    {
        // Nobody has opened the slave yet.
        const long before = CpuTicks(sim.process.Pid());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_LE(CpuTicks(sim.process.Pid()) - before, 5);
    }
    for (int round = 0; round < 3; ++round) {
        DeviceClient client(sim.process.Path());
        ASSERT_TRUE(client.ok());
        EXPECT_TRUE(WellFramed(client.Ask(kAdcRead, 16), 16, 0x2B)) << "round " << round;
        client.Close();
        // The master now sees a hang-up until the next client opens the slave.
        const long before = CpuTicks(sim.process.Pid());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_LE(CpuTicks(sim.process.Pid()) - before, 5) << "busy while no client";
    }
    const int status = sim.process.Stop(SIGTERM, 2000);
    ASSERT_NE(status, -1) << "did not end on SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(sim.process.Log().find("stopped after 3 requests"), std::string::npos);
}

TEST(Loopsim, HelpAndBadOptions) {
    CSimProcess help;
    EXPECT_TRUE(help.Start(LOOPSIM_PATH, {"--help"}, 2000));
    EXPECT_EQ(help.Path(), "Usage: loopsim [options]");
    EXPECT_EQ(help.Stop(0), 0);

    CSimProcess bad;
    EXPECT_FALSE(bad.Start(LOOPSIM_PATH, {"--split", "0"}, 2000));
    const int status = bad.Stop(0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_NE(bad.Log().find("--split"), std::string::npos);

    CSimProcess missing;
    EXPECT_FALSE(missing.Start(LOOPSIM_PATH, {"--device", "/nonexistent/tty"}, 2000));
    EXPECT_NE(missing.Log().find("/nonexistent/tty"), std::string::npos);
}

TEST(LoopsimFaults, LateAnswer) {
    Sim sim({"--delay", "150"});
    DeviceClient client(sim.process.Path());
    const auto start = Clock::now();
    client.Send(kAdcRead);
    EXPECT_TRUE(client.Receive(1, 120).empty());
    EXPECT_TRUE(WellFramed(client.Receive(16, 2000), 16, 0x2B));
    EXPECT_GE(ElapsedMs(start), 150);
}

TEST(LoopsimFaults, SplitAnswerWithPauses) {
    Sim sim({"--split", "5", "--pause", "40"});
    DeviceClient client(sim.process.Path());
    const auto start = Clock::now();
    client.Send(kAdcRead);
    std::vector<size_t> chunks;
    const Bytes answer = client.Receive(16, 3000, &chunks);
    EXPECT_TRUE(WellFramed(answer, 16, 0x2B));
    EXPECT_GE(ElapsedMs(start), 3 * 40);
    // 5 + 5 + 5 + 1, each after a pause (a reader held up that long may take two at once).
    ASSERT_GE(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], 5u);
}

TEST(LoopsimFaults, FlippedChecksumGarbageTwiceAndSilence) {
    {
        Sim sim({"--bad-checksum"});
        DeviceClient client(sim.process.Path());
        const Bytes answer = client.Ask(kConfigRead, 26);
        ASSERT_EQ(answer.size(), 26u);
        EXPECT_EQ(answer[24], XorChecksum(answer.data(), 24) ^ 0xFF);
        EXPECT_EQ(answer[25], 0x03);
    }
    {
        Sim sim({"--garbage", "300"});
        DeviceClient client(sim.process.Path());
        const Bytes all = client.Ask(kAdcRead, 316);
        ASSERT_EQ(all.size(), 316u);
        for (size_t i = 0; i < 300; ++i) ASSERT_NE(all[i], 0x02) << "garbage holds no STX";
        EXPECT_TRUE(WellFramed(Bytes(all.begin() + 300, all.end()), 16, 0x2B));
    }
    {
        Sim sim({"--twice"});
        DeviceClient client(sim.process.Path());
        const Bytes both = client.Ask(kAdcRead, 32);
        ASSERT_EQ(both.size(), 32u);
        EXPECT_TRUE(WellFramed(Bytes(both.begin(), both.begin() + 16), 16, 0x2B));
        EXPECT_TRUE(std::equal(both.begin(), both.begin() + 16, both.begin() + 16));
    }
    {
        Sim sim({"--silent"});
        DeviceClient client(sim.process.Path());
        EXPECT_TRUE(client.Ask(kAdcRead, 1, 300).empty());
        EXPECT_TRUE(sim.process.WaitForLog("[silent]", 2000)) << sim.process.Log();
    }
}

TEST(Loopsim, ServesASerialDeviceAndStopsWhenItIsGone) {
    // The test's own pty plays the cable: loopsim opens the slave as its
    // device, the test talks on the master.
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    fcntl(master, F_SETFD, FD_CLOEXEC);  // loopsim must not hold the cable's other end
    DeviceClient cable(master);
    Sim sim({"--device", name});
    EXPECT_EQ(sim.process.Path(), name);
    EXPECT_TRUE(WellFramed(cable.Ask(kConfigRead, 26), 26, 0x3B)) << sim.process.Log();

    // A device that disappears (here: the other end closes) ends loopsim
    // with an error instead of leaving it polling a dead descriptor.
    cable.Close();
    const int status = sim.process.Stop(0, 2000);
    ASSERT_NE(status, -1) << "still running";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_NE(sim.process.Log().find("hung up"), std::string::npos) << sim.process.Log();
}

namespace {

// A connection to "127.0.0.1:PORT".
int ConnectTo(const std::string &address) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(std::stoi(address.substr(address.find(':') + 1))));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

}  // namespace

TEST(LoopsimTcp, ClientsShareTheDeviceAndEachGetsItsOwnAnswers) {
    Sim sim({"--tcp", "0"});
    const std::string address = sim.process.Path();
    ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;

    DeviceClient writer(ConnectTo(address));
    DeviceClient reader(ConnectTo(address));
    ASSERT_TRUE(writer.ok() && reader.ok());
    const ConfigValues mine{1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(writer.Ask(WriteFrame(mine), 10)[5], 0xAA);
    const Bytes stored = reader.Ask(kConfigRead, 26);
    ASSERT_TRUE(WellFramed(stored, 26, 0x3B));
    EXPECT_EQ(ReadBe16(stored.data(), 20), 8);
    EXPECT_TRUE(writer.Receive(1, 100).empty()) << "the answer went to the asker only";

    // A client that leaves before its (late) answer does not take the server with it.
    {
        Sim late({"--tcp", "0", "--delay", "100"});
        DeviceClient gone(ConnectTo(late.process.Path()));
        gone.Send(kAdcRead);
        gone.Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        DeviceClient next(ConnectTo(late.process.Path()));
        EXPECT_TRUE(WellFramed(next.Ask(kAdcRead, 16), 16, 0x2B)) << late.process.Log();
        const long before = CpuTicks(late.process.Pid());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_LE(CpuTicks(late.process.Pid()) - before, 5);
    }

    writer.Close();
    EXPECT_EQ(sim.process.Stop(SIGTERM), 0);
    EXPECT_NE(sim.process.Log().find("stopped after 2 requests"), std::string::npos)
        << sim.process.Log();
}

TEST(LoopsimTcp, PiecesArriveApart) {
    Sim sim({"--tcp", "0", "--split", "8", "--pause", "60"});
    DeviceClient client(ConnectTo(sim.process.Path()));
    std::vector<size_t> chunks;
    client.Send(kAdcRead);
    EXPECT_TRUE(WellFramed(client.Receive(16, 2000, &chunks), 16, 0x2B));
    ASSERT_GE(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], 8u);
}

TEST(Loopsim, EndsWhenTheReaderOfItsPathIsGone) {
    // A test that crashes leaves no simulator behind: the pipe it read the
    // path from closes, and loopsim notices.
    Sim sim;
    sim.process.CloseOutput();
    const int status = sim.process.Stop(0, 2000);
    ASSERT_NE(status, -1) << "still running";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(sim.process.Log().find("has gone"), std::string::npos) << sim.process.Log();
}
