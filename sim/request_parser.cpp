#include "request_parser.h"

#include <cstring>

#include "frames.h"
#include "sim_checks.h"

namespace {

size_t LengthAt(const uint8_t *at) {
    return ReadBe16(at, kOffsetLength);
}

bool PlausibleLength(size_t length) {
    return length >= CRequestParser::kMinFrame && length <= CRequestParser::kMaxFrame;
}

}  // namespace

void CRequestParser::Push(const uint8_t *bytes, size_t count) {
    while (count > 0) {
        if (m_count == kCapacity) Drop(kCapacity / 2);
        const size_t take = count < kCapacity - m_count ? count : kCapacity - m_count;
        memcpy(m_buffer + m_count, bytes, take);
        m_count += take;
        bytes += take;
        count -= take;
    }
}

void CRequestParser::Drop(size_t count) {
    memmove(m_buffer, m_buffer + count, m_count - count);
    m_count -= count;
    m_skipped += count;
}

size_t CRequestParser::Flush() {
    const size_t dropped = m_count;
    m_count = 0;
    return dropped;
}

bool CRequestParser::ValidFrameAt(size_t offset) const {
    if (m_count - offset < 3 || m_buffer[offset] != STX) return false;
    const size_t length = LengthAt(m_buffer + offset);
    if (!PlausibleLength(length) || m_count - offset < length) return false;
    const uint8_t *frame = m_buffer + offset;
    return frame[length - 1] == ETX && DeviceXor(frame, length - 2) == frame[length - 2];
}

CRequestParser::Result CRequestParser::Next(Request &out) {
    for (;;) {
        const uint8_t *stx = static_cast<const uint8_t *>(memchr(m_buffer, STX, m_count));
        if (!stx) {
            Drop(m_count);
            return Result::None;
        }
        if (stx != m_buffer) Drop(static_cast<size_t>(stx - m_buffer));
        if (m_count < 3) return Result::None;

        const size_t length = LengthAt(m_buffer);
        if (!PlausibleLength(length)) {
            Drop(1);
            continue;
        }
        if (m_count < length) {
            // Perhaps a stray STX in garbage: if a whole valid frame already
            // follows it, that frame is what the client sent.
            for (size_t at = 1; at < m_count; ++at) {
                if (ValidFrameAt(at)) {
                    Drop(at);
                    break;
                }
            }
            if (m_buffer[0] == STX && m_count < LengthAt(m_buffer)) return Result::None;
            continue;
        }
        if (m_buffer[length - 1] != ETX) {
            Drop(1);
            continue;
        }

        memcpy(out.bytes, m_buffer, length);
        out.length = length;
        out.expectedChecksum = DeviceXor(m_buffer, length - 2);
        out.skipped = m_skipped;
        m_skipped = 0;
        if (out.expectedChecksum != m_buffer[length - 2]) {
            // Only the STX is dropped: the rest is searched again, in case the
            // "frame" was garbage with a real request inside it.
            Drop(1);
            m_skipped = 0;
            return Result::BadChecksum;
        }
        Drop(length);
        m_skipped = 0;
        return Result::Frame;
    }
}
