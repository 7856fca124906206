#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "frames.h"

namespace {

// Bit by bit, straight from the polynomial: shares nothing with the tables.
uint16_t BitwiseModbusCrc(const uint8_t *p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

uint16_t Swap(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

}  // namespace

TEST(Crc16, KnownVectorsAndWireOrder) {
    const auto *digits = reinterpret_cast<const uint8_t *>("123456789");
    // The standard check value 0x4B37 goes out low byte first: 37 4B.
    EXPECT_EQ(Swap(Crc16(digits, 9)), 0x4B37);
    EXPECT_EQ(Crc16(digits, 9) >> 8, 0x37);
    EXPECT_EQ(Crc16(digits, 9) & 0xFF, 0x4B);

    const uint8_t zeros[16] = {};
    EXPECT_EQ(Swap(Crc16(zeros, 16)), 0xF0BE);
    EXPECT_EQ(Crc16(zeros, 0), 0xFFFF);
}

TEST(Crc16, MatchesBitwiseCrcAndTakesCountModulo65536) {
    std::vector<uint8_t> data(65536 + 7);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
    for (size_t n : {1u, 2u, 16u, 255u, 4096u}) {
        EXPECT_EQ(Swap(Crc16(data.data(), static_cast<uint32_t>(n))), BitwiseModbusCrc(data.data(), n))
            << n;
    }
    EXPECT_EQ(Crc16(data.data(), 65536), 0xFFFF);  // 65536 counts as no bytes
    EXPECT_EQ(Crc16(data.data(), 65536 + 7), Crc16(data.data(), 7));
}

TEST(Frames, ConstantReadRequests) {
    const ReadFrame adc{0x02, 0x00, 0x08, 0x2B, 0x80, 0x00, 0xA1, 0x03};
    const ReadFrame cfg{0x02, 0x00, 0x08, 0x3B, 0x80, 0x00, 0xB1, 0x03};
    EXPECT_EQ(BuildAdcReadFrame(), adc);
    EXPECT_EQ(BuildConfigReadFrame(), cfg);
    EXPECT_EQ(XorChecksum(adc.data(), 6), 0xA1);
    EXPECT_EQ(XorChecksum(cfg.data(), 6), 0xB1);
    EXPECT_EQ(XorChecksum(adc.data(), 0), 0);
}

TEST(Frames, ConfigWriteFrameLayout) {
    const ConfigValues v{0x0001, 0x0FA0, 0x0000, 0xFFFF, 0x1234, 0x0ABC, 0x8000, 0x7FFF};
    const ConfigWriteFrame f = BuildConfigWriteFrame(v);
    EXPECT_EQ(f[0], 0x02);
    EXPECT_EQ(f[1], 0x00);
    EXPECT_EQ(f[2], 0x19);
    EXPECT_EQ(f[3], 0x4B);
    EXPECT_EQ(f[4], 0x80);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(f[5 + 2 * i], v[i] >> 8) << i;
        EXPECT_EQ(f[6 + 2 * i], v[i] & 0xFF) << i;
    }
    const uint16_t crc = BitwiseModbusCrc(&f[5], 16);
    EXPECT_EQ(f[21], crc & 0xFF);  // low byte of the CRC first
    EXPECT_EQ(f[22], crc >> 8);
    uint8_t x = 0;
    for (size_t i = 0; i < 23; ++i) x ^= f[i];
    EXPECT_EQ(f[23], x);
    EXPECT_EQ(f[24], 0x03);

    const ConfigWriteFrame zero = BuildConfigWriteFrame(ConfigValues{});
    EXPECT_EQ(zero[21], 0xBE);
    EXPECT_EQ(zero[22], 0xF0);
}

TEST(Frames, FieldTextConvertsLikeAtoiKeepingLow16Bits) {
    struct Case {
        const char *text;
        uint16_t word;
    } cases[] = {
        {"65535", 0xFFFF}, {"65536", 0x0000}, {"-1", 0xFFFF},   {"abc", 0},
        {"70000", 0x1170}, {"", 0},           {"  +12x", 12},   {"\t-0", 0},
        {"300", 300},      {"- 5", 0},        {"4294967297", 1}, {"99999999999999999999", 0x7FFF},
    };
    for (const Case &c : cases) EXPECT_EQ(FieldTextToWord(c.text), c.word) << '"' << c.text << '"';
    // Only the first 15 characters are read: the sixteenth digit is not there.
    EXPECT_EQ(FieldTextToWord("000000000000001" "9"), 1);
    EXPECT_EQ(FieldTextToWord(nullptr), 0);
}

TEST(Frames, ReadBe16) {
    const uint8_t b[] = {0x00, 0x01, 0x2C, 0xFF, 0xFF};
    EXPECT_EQ(ReadBe16(b, 1), 0x012C);
    EXPECT_EQ(ReadBe16(b, 3), 65535);
    EXPECT_EQ(ReadBe16(b, 0), 1);
}
