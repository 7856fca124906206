// The simulated device: its answers and framing in memory, then the program
// itself over a pseudo-terminal. Its fault options are shown end to end (tests/e2e).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "request_parser.h"
#include "sim_device.h"
#include "sim_process.h"
#include "sim_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAdcRead{0x02, 0x00, 0x08, 0x2B, 0x80, 0x00, 0xA1, 0x03};
const Bytes kConfigRead{0x02, 0x00, 0x08, 0x3B, 0x80, 0x00, 0xB1, 0x03};

Bytes WriteFrame(const ConfigValues &values) {
    const ConfigWriteFrame f = BuildConfigWriteFrame(values);
    return Bytes(f.begin(), f.end());
}

Bytes Answer(CSimDevice &device, const Bytes &request) {
    uint8_t reply[kMaxResponseSize];
    char text[200];
    return Bytes(reply,
                 reply + device.Answer(request.data(), request.size(), reply, text, sizeof text));
}

// The answer's first bytes as given, then the checksum over all before it and ETX.
void ExpectFrame(const Bytes &reply, size_t length, const Bytes &head) {
    ASSERT_EQ(reply.size(), length);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + head.size()), head);
    EXPECT_EQ(reply[length - 2], XorChecksum(reply.data(), length - 2));
    EXPECT_EQ(reply[length - 1], 0x03);
}

// Frames (good and bad checksum) the parser finds in input pushed in pieces.
std::vector<Bytes> Parse(CRequestParser &parser, const std::vector<Bytes> &pieces, int *bad) {
    std::vector<Bytes> frames;
    CRequestParser::Request request;
    for (const Bytes &piece : pieces) {
        parser.Push(piece.data(), piece.size());
        for (CRequestParser::Result r;
             (r = parser.Next(request)) != CRequestParser::Result::None;) {
            if (r == CRequestParser::Result::Frame)
                frames.emplace_back(request.bytes, request.bytes + request.length);
            *bad += r == CRequestParser::Result::BadChecksum;
        }
    }
    return frames;
}

}  // namespace

TEST(SimDevice, AnswersTheThreeRequestsAndChecksTheCrc16OfAWrite) {
    CSimDevice device;
    const Bytes adc = Answer(device, kAdcRead);
    ExpectFrame(adc, 16, {0x02, 0x00, 0x10, 0x2B, 0x00, 0xAA, 0x02, 0x00});
    EXPECT_EQ(ReadBe16(adc.data(), 8), device.Channel(0));
    EXPECT_EQ(ReadBe16(adc.data(), 10), device.Channel(1));
    EXPECT_EQ(ReadBe16(adc.data(), 12), 1);  // the first answer

    ExpectFrame(Answer(device, kConfigRead), 26,
                {0x02, 0x00, 0x1A, 0x3B, 0x00, 0xAA, 0x03, 0x33, 0x0F, 0xFF, 0x00, 0x00,
                 0x03, 0xE8, 0x03, 0x33, 0x0F, 0xFF, 0x00, 0x00, 0x07, 0xD0, 0x00, 0x02});

    // A good frame around a wrong CRC16 (either byte, or the two swapped:
    // the register's high byte goes first) is refused and the block kept.
    for (int fault : {21, 22, -1}) {
        Bytes frame = WriteFrame({1, 1, 1, 1, 1, 1, 1, 1});
        if (fault < 0) std::swap(frame[21], frame[22]);
        if (fault > 0) frame[fault] ^= 0x01;
        frame[23] = XorChecksum(frame.data(), 23);
        ExpectFrame(Answer(device, frame), 10, {0x02, 0x00, 0x0A, 0x4B, 0x00, 0x55});
        EXPECT_EQ(device.Config(), CSimDevice::kFactoryConfig);
    }
    ExpectFrame(Answer(device, WriteFrame({1, 2, 3, 4, 5, 6, 7, 65535})), 10,
                {0x02, 0x00, 0x0A, 0x4B, 0x00, 0xAA, 0x00, 0x06});
    EXPECT_EQ(device.Config(), (ConfigValues{1, 2, 3, 4, 5, 6, 7, 65535}));

    // An unknown command or a read of the wrong length gets no answer.
    EXPECT_TRUE(Answer(device, {0x02, 0x00, 0x08, 0x5B, 0x80, 0x00, 0xD1, 0x03}).empty());
    EXPECT_TRUE(Answer(device, {0x02, 0x00, 0x09, 0x2B, 0x80, 0x00, 0x00, 0xA0, 0x03}).empty());
    EXPECT_EQ(device.AnswerCount(), 6);
}

TEST(SimDevice, ChannelsDriftButStayInRange) {
    CSimDevice device(7);
    int changes = 0;
    for (int i = 0; i < 20000; ++i) {
        const uint16_t last = device.Channel(0);
        const Bytes reply = Answer(device, kAdcRead);
        ASSERT_LE(ReadBe16(reply.data(), 10), 4095);
        const uint16_t now = ReadBe16(reply.data(), 8);
        ASSERT_LE(now, 4095);
        ASSERT_LE(std::abs(now - last), 600) << "a jump, not a drift";
        changes += now != last;
    }
    EXPECT_GT(changes, 10000);
}

TEST(RequestParser, SkipsGarbageAndBadChecksumsAndJoinsPieces) {
    CRequestParser parser;
    int bad = 0;
    Bytes badAdc = kAdcRead;
    badAdc[6] ^= 0x01;
    // Garbage; a stray STX with an implausible length; one whose length looks
    // fine but whose ETX is not in place; one promising 25 bytes with a real
    // request right behind it; a bad checksum; a request in two pieces.
    Bytes noise{0xFF, 0x00, 0x03, 0x02, 0xFF, 0xFF, 0x02, 0x00, 0x08,
                0x11, 0x22, 0x33, 0x44, 0x55, 0x02, 0x00, 0x19};
    noise.reserve(64);  // gcc 12 at -O2 otherwise misreads the inserts as out of bounds
    noise.insert(noise.end(), kConfigRead.begin(), kConfigRead.end());
    noise.insert(noise.end(), badAdc.begin(), badAdc.end());
    const std::vector<Bytes> frames = Parse(parser,
                                            {noise, Bytes(kAdcRead.begin(), kAdcRead.begin() + 3),
                                             Bytes(kAdcRead.begin() + 3, kAdcRead.end())},
                                            &bad);
    EXPECT_EQ(frames, (std::vector<Bytes>{kConfigRead, kAdcRead}));
    EXPECT_EQ(bad, 1);
    EXPECT_EQ(parser.Pending(), 0u);

    // Endless STX 02 02 (a length of 514, never plausible) stays within the store.
    Parse(parser, {Bytes(3 * CRequestParser::kCapacity, 0x02)}, &bad);
    EXPECT_LE(parser.Pending(), CRequestParser::kCapacity);
    EXPECT_EQ(Parse(parser, {kAdcRead}, &bad).size(), 1u);
}

TEST(SimSession, GarbageRightBeforeAnAnswerGoesOutInOneWrite) {
    // Two writes would let a gap open between them, and the receiver would
    // then see the answer as a frame of its own.
    FILE *log = tmpfile();
    SimOptions o;
    o.garbage = 10;
    CSimDevice device;
    CSimSession session(o, device, log);
    session.OnBytes(kAdcRead.data(), kAdcRead.size(), 0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(WriteDuePieces(fds[1], session, 0), 0);
    uint8_t got[64];
    ASSERT_EQ(read(fds[0], got, sizeof got), 26);
    for (int i = 0; i < 10; ++i) EXPECT_NE(got[i], 0x02);
    EXPECT_EQ(got[10], 0x02);
    close(fds[0]);
    close(fds[1]);
    fclose(log);
}

namespace {

// Clock ticks the process has spent on a CPU (its name holds no space).
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string skip;
    for (int field = 1; field < 14; ++field) stat >> skip;
    long utime = -1, stime = -1;
    stat >> utime >> stime;
    return utime + stime;
}

// Sends request on fd and collects up to count bytes within timeoutMs.
Bytes Ask(int fd, const Bytes &request, size_t count, int timeoutMs = 2000) {
    EXPECT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    Bytes got(count);
    size_t have = 0;
    pollfd p{fd, POLLIN, 0};
    while (have < count && poll(&p, 1, timeoutMs) > 0) {
        const ssize_t n = read(fd, got.data() + have, count - have);
        if (n > 0) have += static_cast<size_t>(n);
        if (n <= 0 && errno != EAGAIN) break;
    }
    got.resize(have);
    return got;
}

}  // namespace

TEST(Loopsim, ClientsComeAndGoWithoutSpinningAndSigtermEndsIt) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {})) << sim.Log();
    for (int round = 0; round < 3; ++round) {
        // Before the first client, and after each (a hang-up until the next), loopsim sleeps.
        const long before = CpuTicks(sim.Pid());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_LE(CpuTicks(sim.Pid()) - before, 5) << "busy while no client";
        const int fd = open(sim.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
        EXPECT_EQ(Ask(fd, kAdcRead, 16).size(), 16u);
        close(fd);
    }
    const int status = sim.Stop(SIGTERM, 2000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(sim.Log().find("stopped after 3 requests"), std::string::npos) << sim.Log();
}

TEST(Loopsim, ServesASerialDeviceThatIsQuiet) {
    // The test's own pty plays the cable; a quiet line must not look like a hang-up.
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {"--device", name})) << sim.Log();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Ask(master, kConfigRead, 26).size(), 26u) << sim.Log();
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
    close(master);
}
