#include "sim_device.h"

#include <algorithm>
#include <cstdio>

#include "sim_checks.h"

void FillGarbage(uint8_t *bytes, uint32_t count, CSimRandom &random) {
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t b = static_cast<uint8_t>(random.Next() >> 24);
        bytes[i] = b == STX ? static_cast<uint8_t>(0xFD) : b;
    }
}

namespace {

const char *CommandName(uint8_t command) {
    switch (command) {
        case CMD_GET_ADC_VALUE:
            return "CMD_GET_ADC_VALUE";
        case CMD_GET_CONFIG_DATA:
            return "CMD_GET_CONFIG_DATA";
        case CMD_SET_CONFIG_DATA:
            return "CMD_SET_CONFIG_DATA";
        default:
            return nullptr;
    }
}

}  // namespace

CSimDevice::CSimDevice(uint32_t seed) : m_random(seed) {}

void CSimDevice::Drift() {
    // Each channel follows a slowly wandering set point with a little noise,
    // the way a real loop current creeps; it stays within the converter's range.
    for (int i = 0; i < 2; ++i) {
        m_target[i] = std::clamp(m_target[i] + m_random.Range(-24, 24), 819, 4095);
        const int value = m_channel[i] + (m_target[i] - m_channel[i]) / 8 + m_random.Range(-3, 3);
        m_channel[i] = static_cast<uint16_t>(std::clamp(value, 0, 4095));
    }
}

void CSimDevice::Measure() {
    const int noise = m_instrument.noise;
    for (int i = 0; i < 2; ++i)
        m_channel[i] = m_instrument.Counts(i, noise ? m_random.Range(-noise, noise) : 0);
}

size_t CSimDevice::Finish(uint8_t *reply, size_t length) {
    reply[0] = STX;
    WriteBe16(reply, kOffsetLength, static_cast<uint16_t>(length));
    reply[kOffsetControl] = CONTROL_RESPONSE;
    reply[length - 2] = DeviceXor(reply, length - 2);
    reply[length - 1] = ETX;
    return length;
}

size_t CSimDevice::Answer(const uint8_t *request, size_t length, uint8_t *reply, char *description,
                          size_t descriptionSize) {
    const uint8_t command = request[kOffsetCommand];
    const char *name = CommandName(command);
    if (!name) {
        snprintf(description, descriptionSize, "command 0x%02X unknown: no answer", command);
        return 0;
    }
    const size_t wanted = command == CMD_SET_CONFIG_DATA ? kConfigWriteFrameSize : kReadFrameSize;
    if (length != wanted) {
        snprintf(description, descriptionSize, "%s of %zu bytes instead of %zu: no answer", name,
                 length, wanted);
        return 0;
    }

    ++m_answers;
    reply[kOffsetCommand] = command;
    switch (command) {
        case CMD_GET_ADC_VALUE: {
            if (m_instrument.on)
                Measure();
            else
                Drift();
            reply[kOffsetStatus] = STATUS_OK;
            reply[kAdcOffsetChannelCount] = kAdcChannelCount;
            reply[kAdcOffsetChannelCount + 1] = 0;  // reserved
            WriteBe16(reply, kAdcOffsetCh1, m_channel[0]);
            WriteBe16(reply, kAdcOffsetCh2, m_channel[1]);
            WriteBe16(reply, kAdcOffsetExtra, m_answers);
            snprintf(description, descriptionSize, "%s: ch1 %u ch2 %u extra %u", name, m_channel[0],
                     m_channel[1], m_answers);
            return Finish(reply, kAdcResponseSize);
        }
        case CMD_GET_CONFIG_DATA: {
            reply[kOffsetStatus] = STATUS_OK;
            for (size_t i = 0; i < kConfigValueCount; ++i)
                WriteBe16(reply, kConfigReadOffsetValues + 2 * i, m_config[i]);
            WriteBe16(reply, kConfigReadOffsetExtra, m_answers);
            snprintf(description, descriptionSize, "%s: %u %u %u %u / %u %u %u %u extra %u", name,
                     m_config[0], m_config[1], m_config[2], m_config[3], m_config[4], m_config[5],
                     m_config[6], m_config[7], m_answers);
            return Finish(reply, kConfigReadResponseSize);
        }
        default: {
            // The CRC travels low byte first, as Modbus sends it.
            const uint8_t *block = request + kWriteOffsetBlock;
            const uint16_t crc = DeviceCrc16(block, kConfigBlockSize);
            const uint8_t crcFirst = static_cast<uint8_t>(crc & 0xFF);
            const uint8_t crcSecond = static_cast<uint8_t>(crc >> 8);
            const uint8_t *sent = request + kWriteOffsetCrc;
            const bool good = sent[0] == crcFirst && sent[1] == crcSecond;
            if (good) {
                for (size_t i = 0; i < kConfigValueCount; ++i) m_config[i] = ReadBe16(block, 2 * i);
            }
            reply[kOffsetStatus] = good ? STATUS_OK : STATUS_CRC_ERROR;
            WriteBe16(reply, kConfigWriteOffsetExtra, m_answers);
            if (good) {
                snprintf(description, descriptionSize,
                         "%s: CRC16 ok, stored %u %u %u %u / %u %u %u %u extra %u", name,
                         m_config[0], m_config[1], m_config[2], m_config[3], m_config[4],
                         m_config[5], m_config[6], m_config[7], m_answers);
            } else {
                snprintf(description, descriptionSize,
                         "%s: CRC16 %02X %02X, expected %02X %02X: kept the old block, extra %u",
                         name, sent[0], sent[1], crcFirst, crcSecond, m_answers);
            }
            return Finish(reply, kConfigWriteResponseSize);
        }
    }
}
