// The simulated device's answers and framing, in memory; every end-to-end
// suite drives the program itself.
#include <gtest/gtest.h>

#include <vector>

#include "request_parser.h"
#include "sim_checks.h"
#include "sim_device.h"

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

}  // namespace

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
