#include "frames.h"

namespace {

// The usual table-driven Modbus CRC keeps the 16-bit table entries as two
// byte tables, derived here from the reflected polynomial instead of being
// typed in.
struct CrcTables {
    uint8_t entryLow[256];   // the low byte of each entry
    uint8_t entryHigh[256];  // the high byte of each entry
};

constexpr CrcTables MakeCrcTables() {
    CrcTables t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        t.entryLow[i] = static_cast<uint8_t>(crc & 0xFFu);
        t.entryHigh[i] = static_cast<uint8_t>(crc >> 8);
    }
    return t;
}

constexpr CrcTables kCrc = MakeCrcTables();
static_assert(kCrc.entryLow[1] == 0xC1 && kCrc.entryLow[2] == 0x81 && kCrc.entryLow[3] == 0x40);
static_assert(kCrc.entryHigh[1] == 0xC0 && kCrc.entryHigh[2] == 0xC1 && kCrc.entryHigh[3] == 0x01);

constexpr ReadFrame kAdcReadFrame{STX, 0x00, 0x08, CMD_GET_ADC_VALUE, CONTROL_REQUEST, 0x00, 0xA1, ETX};
constexpr ReadFrame kConfigReadFrame{STX,  0x00, 0x08, CMD_GET_CONFIG_DATA,
                                     CONTROL_REQUEST, 0x00, 0xB1, ETX};

}  // namespace

const ReadFrame &BuildAdcReadFrame() { return kAdcReadFrame; }
const ReadFrame &BuildConfigReadFrame() { return kConfigReadFrame; }

uint16_t Crc16(const uint8_t *bytes, uint32_t count) {
    uint8_t hi = 0xFF;
    uint8_t lo = 0xFF;
    count &= 0xFFFFu;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t index = hi ^ bytes[i];
        hi = lo ^ kCrc.entryLow[index];
        lo = kCrc.entryHigh[index];
    }
    return static_cast<uint16_t>((hi << 8) | lo);
}

uint8_t XorChecksum(const uint8_t *bytes, size_t count) {
    uint8_t x = 0;
    for (size_t i = 0; i < count; ++i) x ^= bytes[i];
    return x;
}

ConfigWriteFrame BuildConfigWriteFrame(const ConfigValues &values) {
    ConfigWriteFrame f{};
    f[0] = STX;
    WriteBe16(f.data(), kOffsetLength, static_cast<uint16_t>(kConfigWriteFrameSize));
    f[kOffsetCommand] = CMD_SET_CONFIG_DATA;
    f[kOffsetControl] = CONTROL_REQUEST;
    for (size_t i = 0; i < kConfigValueCount; ++i) WriteBe16(f.data(), kWriteOffsetBlock + 2 * i, values[i]);
    const uint16_t crc = Crc16(&f[kWriteOffsetBlock], kConfigBlockSize);
    // The high register (the standard CRC's low byte) goes first.
    WriteBe16(f.data(), kWriteOffsetCrc, crc);
    f[kConfigWriteFrameSize - 2] = XorChecksum(f.data(), kConfigWriteFrameSize - 2);
    f[kConfigWriteFrameSize - 1] = ETX;
    return f;
}
