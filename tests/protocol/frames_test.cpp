#include "frames.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

// Bit by bit, straight from the polynomial: shares nothing with the tables.
static uint16_t BitwiseModbusCrc(const uint8_t *p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// Crc16 answers (high register << 8) | low register, the order the bytes go out in.
TEST(Crc16, KnownVectorsBitwiseAgreementAndCountModulo65536) {
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t *>("123456789"), 9), 0x374B);  // 0x4B37
    std::vector<uint8_t> data(65536 + 7);
    EXPECT_EQ(Crc16(data.data(), 16), 0xBEF0);  // zero block 0xF0BE
    EXPECT_EQ(Crc16(data.data(), 0), 0xFFFF);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
    for (uint32_t n : {1u, 255u, 4096u}) {
        const uint16_t crc = BitwiseModbusCrc(data.data(), n);
        EXPECT_EQ(Crc16(data.data(), n), (crc & 0xFF) << 8 | crc >> 8) << n;
    }
    EXPECT_EQ(Crc16(data.data(), 65536), 0xFFFF);  // 65536 counts as no bytes
    EXPECT_EQ(Crc16(data.data(), 65536 + 7), Crc16(data.data(), 7));
}

TEST(Frames, RequestsWithTheirChecksums) {
    // STX, length 8, command, request, a zero byte, the XOR of all before, ETX.
    for (const auto &[frame, command] : {std::pair{BuildAdcReadFrame(), uint8_t{0x2B}},
                                         std::pair{BuildConfigReadFrame(), uint8_t{0x3B}}}) {
        const uint8_t x = 0x02 ^ 0x08 ^ command ^ 0x80;
        EXPECT_EQ(frame, (ReadFrame{0x02, 0x00, 0x08, command, 0x80, 0x00, x, 0x03})) << +command;
    }

    const ConfigValues v{0x0001, 0x0FA0, 0x0000, 0xFFFF, 0x1234, 0x0ABC, 0x8000, 0x7FFF};
    std::vector<uint8_t> expected = {0x02, 0x00, 0x19, 0x4B, 0x80};
    for (uint16_t word : v) expected.insert(expected.end(), {uint8_t(word >> 8), uint8_t(word)});
    const uint16_t crc = BitwiseModbusCrc(&expected[5], 16);
    expected.insert(expected.end(), {uint8_t(crc), uint8_t(crc >> 8)});  // low byte first
    uint8_t x = 0;
    for (uint8_t b : expected) x ^= b;
    expected.insert(expected.end(), {x, 0x03});
    const ConfigWriteFrame f = BuildConfigWriteFrame(v);
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.end()), expected);
}
