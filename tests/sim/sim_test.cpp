// The simulated device's answers and framing, in memory; every end-to-end
// suite drives the program itself. The instrument's control FIFO is tried on
// the program, since what counts is the order of its lines and the requests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "request_parser.h"
#include "sim_checks.h"
#include "sim_device.h"
#include "sim_process.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAdcRead{0x02, 0x00, 0x08, 0x2B, 0x80, 0x00, 0xA1, 0x03};
const Bytes kConfigRead{0x02, 0x00, 0x08, 0x3B, 0x80, 0x00, 0xB1, 0x03};

// The answer to a configuration read of a fresh device: the factory block, extra 1.
const Bytes kFactoryAnswer{0x02, 0x00, 0x1A, 0x3B, 0x00, 0xAA, 0x03, 0x33, 0x0F,
                           0xFF, 0x00, 0x00, 0x03, 0xE8, 0x03, 0x33, 0x0F, 0xFF,
                           0x00, 0x00, 0x07, 0xD0, 0x00, 0x01, 0xB4, 0x03};

Bytes Answer(CSimDevice &device, const Bytes &request) {
    uint8_t reply[kMaxResponseSize];
    char text[200];
    return Bytes(reply,
                 reply + device.Answer(request.data(), request.size(), reply, text, sizeof text));
}

// A write of sixteen zero bytes, whose CRC-16/MODBUS is 0xF0BE: BE F0 on the wire.
Bytes ZeroWrite(uint8_t crcFirst, uint8_t crcSecond) {
    Bytes f{0x02, 0x00, 0x19, 0x4B, 0x80};
    f.resize(21, 0x00);
    f.push_back(crcFirst);
    f.push_back(crcSecond);
    uint8_t x = 0;
    for (uint8_t b : f) x ^= b;
    f.push_back(x);
    f.push_back(0x03);
    return f;
}

// The good frames in input pushed in pieces; bad checksums are counted.
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

using Counts = std::pair<int, int>;

Counts Read(CSimDevice &device) {
    const Bytes adc = Answer(device, kAdcRead);
    return {adc[8] << 8 | adc[9], adc[10] << 8 | adc[11]};
}

// The counts of one ADC read over the line fd; {-1, -1} when no whole answer came.
Counts Ask(int fd) {
    if (write(fd, kAdcRead.data(), kAdcRead.size()) != 8) return {-1, -1};
    uint8_t got[16];
    size_t have = 0;
    pollfd p{fd, POLLIN, 0};
    for (ssize_t n;
         have < 16 && poll(&p, 1, 5000) > 0 && (n = read(fd, got + have, 16 - have)) > 0;)
        have += static_cast<size_t>(n);
    return have == 16 ? Counts{got[8] << 8 | got[9], got[10] << 8 | got[11]} : Counts{-1, -1};
}

}  // namespace

TEST(SimInstrument, ReadsEachChannelsCurrentThroughItsGainAndOffsetWithinTheConverter) {
    struct Case {
        const char *input, *gain, *offset;
        Counts counts;
    } const cases[] = {
        {"4,20", "1", "0", {819, 4095}},       {"12,0", "1", "0", {2457, 0}},
        {"4,20", "0.98", "10", {813, 4023}},  // 812.62 and 4023.1, rounded
        {"0,20", "1", "-1,1", {0, 4095}},      {"30", "2", "0", {4095, 4095}},
        {"8,6", "1,0.5", "3,-3", {1641, 611}},
    };
    for (const Case &c : cases) {
        CSimDevice device;
        SimInstrument &instrument = device.Instrument();
        instrument.on = true;
        ASSERT_TRUE(SetInstrumentValues(instrument, SimSetting::Input, c.input) &&
                    SetInstrumentValues(instrument, SimSetting::Gain, c.gain) &&
                    SetInstrumentValues(instrument, SimSetting::Offset, c.offset));
        EXPECT_EQ(Read(device), c.counts) << c.input << " " << c.gain << " " << c.offset;
    }
    CSimDevice device;
    device.Instrument() = {true, {12, 12}, {1, 1}, {0, 0}, 2};
    int low = 4095, high = 0;
    for (int i = 0; i < 100; ++i) {
        const Counts counts = Read(device);
        low = std::min({low, counts.first, counts.second});
        high = std::max({high, counts.first, counts.second});
    }
    EXPECT_EQ(low, 2455);
    EXPECT_EQ(high, 2459);
}

TEST(SimInstrument, TakesValuesAtTheirLimitsAndRefusesAnythingElseChangingNothing) {
    SimInstrument instrument;
    char error[160];
    for (const char *line : {"input 0,30", "gain 2", "offset -4095,4095", "noise 1000"})
        EXPECT_TRUE(ApplyControlLine(instrument, line, error, sizeof error)) << line;
    const SimInstrument before = instrument;
    // clang-format off
    const char *const bad[] = {
        "input 30.01", "-0.1", "4,4,4", "4,", "inf", "4mA", "input",  // currents
        "gain 0", "gain 2.001", "offset 4096", "offset -4095.5",     // the converter
        "noise 1001", "noise 1.5", "noise 1,1",
        "3=4", "0=4", "1=31", "1=", "1=4,5", "hello", "input4"};
    // clang-format on
    for (const char *line : bad)
        EXPECT_FALSE(ApplyControlLine(instrument, line, error, sizeof error)) << line;
    EXPECT_EQ(instrument, before);
    for (const char *line : {"2=20", "5,6", "7", "1=12.5", "gain 0.5,1", "offset\t-3", "noise 0"})
        EXPECT_TRUE(ApplyControlLine(instrument, line, error, sizeof error)) << line;
    EXPECT_EQ(instrument, (SimInstrument{false, {12.5, 7}, {0.5, 1}, {-3, -3}, 0}));
}

// What a calibration script does: set a channel's current, then read at once.
TEST(Loopsim, AppliesAControlLineBeforeTheNextRequestAndIgnoresBadOnes) {
    char dir[] = "/tmp/loopsim-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/ctl";
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(
        LOOPSIM_PATH, {"--input", "4,12", "--gain", "0.98", "--offset", "10", "--control", fifo}))
        << sim.Log();
    const int line = open(sim.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int control = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(line, 0);
    ASSERT_GE(control, 0);
    EXPECT_EQ(Ask(line), Counts(813, 2418));
    for (int i = 0; i < 50; ++i) {
        const bool full = i % 2 == 0;
        ASSERT_EQ(write(control, full ? "1=20\n" : "1=4\n", full ? 5 : 4), full ? 5 : 4);
        ASSERT_EQ(Ask(line), Counts(full ? 4023 : 813, 2418)) << i;
    }
    ASSERT_EQ(write(control, "2=31\n2=20\n", 10), 10);
    EXPECT_EQ(Ask(line), Counts(813, 4023));
    EXPECT_NE(sim.Log().find("control: \"2=31\": channel 2 needs a current"), std::string::npos);
    close(control);
    close(line);
    const int status = sim.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(access(fifo.c_str(), F_OK), 0) << "the FIFO it made is left behind";
    rmdir(dir);

    EXPECT_FALSE(sim.Start(LOOPSIM_PATH, {"--gain", "0.98"}));
    EXPECT_EQ(sim.Stop(), 2 << 8);
    EXPECT_NE(sim.Log().find("--gain models an instrument"), std::string::npos) << sim.Log();
}

TEST(SimDevice, AnswersTheThreeRequestsAndChecksTheCrc16OfAWriteOnItsOwn) {
    const uint8_t check[] = "123456789";
    EXPECT_EQ(DeviceCrc16(check, 9), 0x4B37);

    CSimDevice device;
    const Bytes adc = Answer(device, kAdcRead);
    ASSERT_EQ(adc.size(), 16u);
    EXPECT_EQ(Bytes(adc.begin(), adc.begin() + 8),
              (Bytes{0x02, 0x00, 0x10, 0x2B, 0x00, 0xAA, 0x02, 0x00}));
    EXPECT_EQ(adc[12] << 8 | adc[13], 1);  // the first answer
    uint8_t x = 0;
    for (size_t i = 0; i < 14; ++i) x ^= adc[i];
    EXPECT_EQ(adc[14], x);
    EXPECT_EQ(adc[15], 0x03);

    Bytes factory = kFactoryAnswer;
    factory[23] = 2;
    factory[24] ^= 3;
    EXPECT_EQ(Answer(device, kConfigRead), factory);

    // Low byte first takes; either byte wrong, or the two swapped, is refused
    // and the block kept.
    for (const Bytes &wrong : {ZeroWrite(0xF0, 0xBE), ZeroWrite(0xBF, 0xF0), ZeroWrite(0xBE, 0xF1)})
        EXPECT_EQ(Answer(device, wrong)[5], 0x55);
    EXPECT_EQ(device.Config(), CSimDevice::kFactoryConfig);
    const Bytes stored = Answer(device, ZeroWrite(0xBE, 0xF0));
    EXPECT_EQ(stored, (Bytes{0x02, 0x00, 0x0A, 0x4B, 0x00, 0xAA, 0x00, 0x06, 0xEF, 0x03}));
    EXPECT_EQ(device.Config(), ConfigValues{});

    // The program's own frames agree with the device.
    const ConfigWriteFrame frame = BuildConfigWriteFrame({1, 2, 3, 4, 5, 6, 7, 65535});
    EXPECT_EQ(Answer(device, Bytes(frame.begin(), frame.end()))[5], 0xAA);
    EXPECT_EQ(device.Config(), (ConfigValues{1, 2, 3, 4, 5, 6, 7, 65535}));

    // An unknown command or a read of the wrong length gets no answer.
    EXPECT_TRUE(Answer(device, {0x02, 0x00, 0x08, 0x5B, 0x80, 0x00, 0xD1, 0x03}).empty());
    EXPECT_TRUE(Answer(device, {0x02, 0x00, 0x09, 0x2B, 0x80, 0x00, 0x00, 0xA0, 0x03}).empty());
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
