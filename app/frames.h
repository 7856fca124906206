// The device's frames: STX, big-endian length, command, control, payload,
// XOR checksum, ETX; a CRC-16/MODBUS over a written configuration block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr uint8_t STX = 0x02;
inline constexpr uint8_t ETX = 0x03;
inline constexpr uint8_t CMD_GET_ADC_VALUE = 0x2B;
inline constexpr uint8_t CMD_GET_CONFIG_DATA = 0x3B;
inline constexpr uint8_t CMD_SET_CONFIG_DATA = 0x4B;
inline constexpr uint8_t CONTROL_REQUEST = 0x80;
inline constexpr uint8_t CONTROL_RESPONSE = 0x00;
inline constexpr uint8_t STATUS_OK = 0xAA;
inline constexpr uint8_t STATUS_CRC_ERROR = 0x55;

inline constexpr size_t kReadFrameSize = 8;
inline constexpr size_t kConfigWriteFrameSize = 25;
inline constexpr size_t kConfigValueCount = 8;
inline constexpr size_t kConfigBlockSize = 16;

using ReadFrame = std::array<uint8_t, kReadFrameSize>;
using ConfigWriteFrame = std::array<uint8_t, kConfigWriteFrameSize>;
using ConfigValues = std::array<uint16_t, kConfigValueCount>;

// The two constant requests: 02 00 08 2B 80 00 A1 03 and 02 00 08 3B 80 00 B1 03.
const ReadFrame &BuildAdcReadFrame();
const ReadFrame &BuildConfigReadFrame();

// The 25-byte configuration write from the eight values in block order
// (ch1 ref min, ref max, disp min, disp max, then channel 2 likewise).
ConfigWriteFrame BuildConfigWriteFrame(const ConfigValues &values);

// CRC-16/MODBUS as the device computes it, with the high and low registers
// kept apart: the result is (high << 8) | low, the standard value with its two
// bytes swapped, so the high register goes on the wire first. count is taken
// modulo 65536; no bytes give 0xFFFF.
uint16_t Crc16(const uint8_t *bytes, uint32_t count);

// XOR of count bytes (0 for none).
uint8_t XorChecksum(const uint8_t *bytes, size_t count);

// An edit field's text as the device gets it: converted the way atoi does
// (leading blanks, sign, digits, the rest ignored, no digits gives 0) from at
// most its first 15 characters, keeping the low 16 bits.
uint16_t FieldTextToWord(const char *text);

// Big-endian 16-bit value at frame[offset], frame[offset + 1].
inline uint16_t ReadBe16(const uint8_t *frame, size_t offset) {
    return static_cast<uint16_t>((frame[offset] << 8) | frame[offset + 1]);
}
