// The device's frames: STX, big-endian length, command, control, payload,
// XOR checksum, ETX; a CRC-16/MODBUS over a written configuration block.
// Everything both ends of the line must agree on lives here: the program,
// the link and the simulated device all take their numbers from this file.
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

// Where the fields sit in every frame.
inline constexpr size_t kOffsetLength = 1;  // big-endian, two bytes, the whole frame
inline constexpr size_t kOffsetCommand = 3;
inline constexpr size_t kOffsetControl = 4;
inline constexpr size_t kOffsetPayload = 5;
// Framing alone: STX, length, command, control, checksum, ETX.
inline constexpr size_t kFramingSize = 7;
// STX, length, command and control: the fewest bytes whose framing can be tested.
inline constexpr size_t kMinFrameSize = 5;

// Requests.
inline constexpr size_t kReadFrameSize = 8;
inline constexpr size_t kConfigWriteFrameSize = 25;
inline constexpr size_t kConfigValueCount = 8;
inline constexpr size_t kConfigBlockSize = 16;
inline constexpr size_t kWriteOffsetBlock = kOffsetPayload;  // the eight values, big-endian
inline constexpr size_t kWriteOffsetCrc = kWriteOffsetBlock + kConfigBlockSize;

// Responses: every one starts its payload with a status byte.
inline constexpr size_t kOffsetStatus = kOffsetPayload;

// ADC read: status, channel count (2), a reserved byte, ch1, ch2, extra.
inline constexpr size_t kAdcResponseSize = 16;
inline constexpr size_t kAdcOffsetChannelCount = 6;
inline constexpr uint8_t kAdcChannelCount = 2;
inline constexpr size_t kAdcOffsetCh1 = 8;
inline constexpr size_t kAdcOffsetCh2 = 10;
inline constexpr size_t kAdcOffsetExtra = 12;

// Configuration read: status, the eight values in block order, extra.
inline constexpr size_t kConfigReadResponseSize = 26;
inline constexpr size_t kConfigReadOffsetValues = 6;
inline constexpr size_t kConfigReadOffsetExtra = kConfigReadOffsetValues + kConfigBlockSize;

// Configuration write: status (OK or CRC error), extra.
inline constexpr size_t kConfigWriteResponseSize = 10;
inline constexpr size_t kConfigWriteOffsetExtra = 6;

inline constexpr size_t kMaxResponseSize = kConfigReadResponseSize;

using ReadFrame = std::array<uint8_t, kReadFrameSize>;
using ConfigWriteFrame = std::array<uint8_t, kConfigWriteFrameSize>;
using ConfigValues = std::array<uint16_t, kConfigValueCount>;

// The block order of the eight configuration values: per channel the ADC
// reference minimum and maximum, then the display minimum and maximum.
enum ConfigValueIndex : size_t {
    kCh1RefMin,
    kCh1RefMax,
    kCh1DispMin,
    kCh1DispMax,
    kCh2RefMin,
    kCh2RefMax,
    kCh2DispMin,
    kCh2DispMax,
};

// The two constant requests: 02 00 08 2B 80 00 A1 03 and 02 00 08 3B 80 00 B1 03.
const ReadFrame &BuildAdcReadFrame();
const ReadFrame &BuildConfigReadFrame();

// The 25-byte configuration write from the eight values in block order.
ConfigWriteFrame BuildConfigWriteFrame(const ConfigValues &values);

// CRC-16/MODBUS as the device computes it, with the high and low registers
// kept apart: the result is (high << 8) | low, the standard value with its two
// bytes swapped, so the high register goes on the wire first. count is taken
// modulo 65536; no bytes give 0xFFFF.
uint16_t Crc16(const uint8_t *bytes, uint32_t count);

// XOR of count bytes (0 for none).
uint8_t XorChecksum(const uint8_t *bytes, size_t count);

// Big-endian 16-bit value at frame[offset], frame[offset + 1].
inline uint16_t ReadBe16(const uint8_t *frame, size_t offset) {
    return static_cast<uint16_t>((frame[offset] << 8) | frame[offset + 1]);
}

inline void WriteBe16(uint8_t *frame, size_t offset, uint16_t value) {
    frame[offset] = static_cast<uint8_t>(value >> 8);
    frame[offset + 1] = static_cast<uint8_t>(value & 0xFF);
}
