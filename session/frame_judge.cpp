#include "frame_judge.h"

#include <cstring>

namespace {

constexpr char kSerialFull[] = "Serial Full";
constexpr char kMalformed[] = "ERROR STX or ETX or Contol";
constexpr char kChecksumError[] = "ERROR CRC";

bool Reaches(std::span<const uint8_t> frame, size_t size) {
    return frame.size() >= size;
}

}  // namespace

ResponseOutcome JudgeFrame(std::span<const uint8_t> frame) {
    using Kind = ResponseOutcome::Kind;
    ResponseOutcome out;
    const uint8_t *f = frame.data();
    const size_t n = frame.size();
    // A frame too short to hold its control byte cannot pass the test; reading
    // on would test a byte of an older frame.
    if (n < kMinFrameSize || f[0] != STX || f[n - 1] != ETX || f[kOffsetControl] != CONTROL_RESPONSE) {
        out.kind = Kind::Malformed;
        out.text = kMalformed;
        return out;
    }
    out.command = f[kOffsetCommand];
    out.status = n > kOffsetStatus ? f[kOffsetStatus] : 0;
    // A wrong checksum is reported, not fatal.
    out.checksumOk = n >= 2 && XorChecksum(f, n - 2) == f[n - 2];
    const Kind success = out.checksumOk ? Kind::Ok : Kind::ChecksumError;
    // Each command's answer: whether it carries what it is read for (a
    // response shorter than its command's size cannot: reading on would show
    // bytes of an older frame), then what it says.
    const auto conclude = [&](bool usable, Kind kind, const char *text) {
        out.kind = usable ? kind : Kind::Refused;
        out.text = usable ? text : "Error response!";
        return usable;
    };
    switch (out.command) {
        case CMD_GET_ADC_VALUE:
            if (conclude(Reaches(frame, kAdcResponseSize) && out.status == STATUS_OK &&
                             f[kAdcOffsetChannelCount] == kAdcChannelCount,
                         success, "Ok!")) {
                out.hasAdc = out.hasExtra = true;
                out.ch1 = ReadBe16(f, kAdcOffsetCh1);
                out.ch2 = ReadBe16(f, kAdcOffsetCh2);
                out.extra = ReadBe16(f, kAdcOffsetExtra);
            }
            break;
        case CMD_GET_CONFIG_DATA:
            if (conclude(Reaches(frame, kConfigReadResponseSize) && out.status == STATUS_OK,
                         success, "Ok!")) {
                out.hasConfig = out.hasExtra = true;
                for (size_t i = 0; i < kConfigValueCount; ++i)
                    out.config[i] = ReadBe16(f, kConfigReadOffsetValues + 2 * i);
                out.extra = ReadBe16(f, kConfigReadOffsetExtra);
            }
            break;
        case CMD_SET_CONFIG_DATA: {
            // The device's word on the block's CRC16: accepted, or found wrong.
            const bool crcOk = out.status == STATUS_OK;
            if (conclude(Reaches(frame, kConfigWriteResponseSize) &&
                             (crcOk || out.status == STATUS_CRC_ERROR),
                         crcOk ? success : Kind::Refused, crcOk ? "CRC16 Ok!" : "CRC16 Error!")) {
                out.hasExtra = true;
                out.extra = ReadBe16(f, kConfigWriteOffsetExtra);
            }
            break;
        }
        default:
            out.kind = Kind::UnknownCommand;
            break;
    }
    return out;
}

ResponseLogLines LogLinesOf(const ResponseOutcome &out) {
    ResponseLogLines lines;
    auto add = [&](const char *text) {
        if (text && *text) lines.line[lines.count++] = text;
    };
    add(kSerialFull);
    if (out.kind == ResponseOutcome::Kind::Malformed) {
        add(kMalformed);
        return lines;
    }
    if (!out.checksumOk) add(kChecksumError);
    add(CommandName(out.command));
    if (out.kind != ResponseOutcome::Kind::UnknownCommand) add(out.text);
    return lines;
}

const char *SendLogText(uint8_t command) {
    switch (command) {
        case CMD_GET_ADC_VALUE: return "Send ADC Read";
        case CMD_GET_CONFIG_DATA: return "Send Config Read";
        case CMD_SET_CONFIG_DATA: return "Send Config Write";
        default: return "";
    }
}

const char *CommandName(uint8_t command) {
    switch (command) {
        case CMD_GET_ADC_VALUE: return "CMD_GET_ADC_VALUE";
        case CMD_GET_CONFIG_DATA: return "CMD_GET_CONFIG_DATA";
        case CMD_SET_CONFIG_DATA: return "CMD_SET_CONFIG_DATA";
        default: return "";
    }
}

int32_t AnswerSize(uint8_t command) {
    switch (command) {
        case CMD_GET_ADC_VALUE: return static_cast<int32_t>(kAdcResponseSize);
        case CMD_GET_CONFIG_DATA: return static_cast<int32_t>(kConfigReadResponseSize);
        case CMD_SET_CONFIG_DATA: return static_cast<int32_t>(kConfigWriteResponseSize);
        default: return 0;
    }
}

const char *ResultText(const ResponseOutcome &out) {
    return out.kind == ResponseOutcome::Kind::ChecksumError ? kChecksumError : out.text;
}
