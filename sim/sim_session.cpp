#include "sim_session.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

bool COutbox::Push(const Piece &piece) {
    if (m_count == kMaxPieces) return false;
    m_pieces[(m_head + m_count) % kMaxPieces] = piece;
    ++m_count;
    return true;
}

void COutbox::PopFront() {
    m_head = (m_head + 1) % kMaxPieces;
    --m_count;
}

void COutbox::Clear() {
    m_head = 0;
    m_count = 0;
    m_lastDueUs = INT64_MIN;
}

bool COutbox::Plan(const uint8_t *reply, size_t length, int64_t nowUs, const SimOptions &options) {
    const size_t split = options.splitSize > 0 && static_cast<size_t>(options.splitSize) < length
                             ? static_cast<size_t>(options.splitSize)
                             : length;
    const size_t copies = options.twice ? 2 : 1;
    const size_t needed = (options.garbage ? 1 : 0) + copies * ((length + split - 1) / split);
    if (needed > kMaxPieces - m_count) return false;

    // A device answers in order: a late answer also delays the ones after it.
    int64_t due = nowUs + options.delayMs * int64_t{1000};
    if (due < m_lastDueUs) due = m_lastDueUs;
    bool first = true;
    auto next = [&]() {
        if (!first) due += options.pauseMs * int64_t{1000};
        first = false;
        return due;
    };

    Piece piece;
    if (options.garbage) {
        piece.dueUs = next();
        piece.garbage = options.garbage;
        piece.length = 0;
        Push(piece);
    }
    for (size_t copy = 0; copy < copies; ++copy) {
        for (size_t at = 0; at < length; at += split) {
            piece.dueUs = next();
            piece.garbage = 0;
            piece.length = static_cast<uint8_t>(length - at < split ? length - at : split);
            memcpy(piece.bytes, reply + at, piece.length);
            Push(piece);
        }
    }
    m_lastDueUs = due;
    return true;
}

CSimSession::CSimSession(const SimOptions &options, CSimDevice &device, FILE *log)
    : m_options(options), m_log(log), m_device(device), m_random(options.seed ^ 0x5A5A5A5Au) {}

namespace {

// The request as it came over the wire, so a log shows exactly what a client sent.
const char *FormatHex(const CRequestParser::Request &request, char *hex) {
    for (size_t i = 0; i < request.length; ++i) snprintf(hex + 3 * i, 4, "%02X ", request.bytes[i]);
    hex[3 * request.length - 1] = '\0';
    return hex;
}

struct Note {
    char text[48] = "";
};

Note GarbageNote(const CRequestParser::Request &request) {
    Note note;
    if (request.skipped)
        snprintf(note.text, sizeof note.text, " (after %zu garbage bytes)", request.skipped);
    return note;
}

}  // namespace

void CSimSession::OnBytes(const uint8_t *bytes, size_t count, int64_t nowUs) {
    m_lastInputUs = nowUs;
    m_parser.Push(bytes, count);
    for (;;) {
        const CRequestParser::Result result = m_parser.Next(m_request);
        if (result == CRequestParser::Result::None) break;
        Handle(result, m_request, nowUs);
    }
}

void CSimSession::Handle(CRequestParser::Result result, const CRequestParser::Request &request,
                         int64_t nowUs) {
    const unsigned long number = m_device.CountRequest();
    if (result == CRequestParser::Result::BadChecksum) {
        if (!TakeLogLine(nowUs)) return;
        char hex[3 * CRequestParser::kMaxFrame + 1];
        fprintf(
            m_log, "loopsim: #%lu [%s] command 0x%02X: checksum %02X, expected %02X: no answer%s\n",
            number, FormatHex(request, hex), request.bytes[kOffsetCommand],
            request.bytes[request.length - 2], request.expectedChecksum, GarbageNote(request).text);
        fflush(m_log);
        return;
    }

    uint8_t reply[kMaxResponseSize];
    char description[160];
    const size_t length =
        m_device.Answer(request.bytes, request.length, reply, description, sizeof description);
    const char *fate = "";
    if (length > 0) {
        if (m_options.badChecksum) reply[length - 2] ^= 0xFF;
        if (m_options.silent) {
            fate = " [silent]";
        } else if (!m_outbox.Plan(reply, length, nowUs, m_options)) {
            fate = " [answer dropped: the client is not reading]";
        } else if (m_options.badChecksum) {
            fate = " [checksum flipped]";
        }
    }
    if (!TakeLogLine(nowUs)) return;
    char hex[3 * CRequestParser::kMaxFrame + 1];
    fprintf(m_log, "loopsim: #%lu [%s] %s%s%s\n", number, FormatHex(request, hex), description,
            fate, GarbageNote(request).text);
    fflush(m_log);
}

bool CSimSession::TakeLogLine(int64_t nowUs) {
    if (nowUs - m_logWindowUs >= kLogWindowUs) {
        FlushLogSummary();
        m_logWindowUs = nowUs;
        m_logLines = 0;
    }
    if (m_logLines < kLogLinesPerSecond) {
        ++m_logLines;
        return true;
    }
    ++m_unlogged;
    return false;
}

void CSimSession::FlushLogSummary() {
    if (m_unlogged == 0) return;
    fprintf(m_log, "loopsim: ... %lu more requests\n", m_unlogged);
    fflush(m_log);
    m_unlogged = 0;
}

void CSimSession::OnTime(int64_t nowUs) {
    if (m_parser.Pending() > 0 && nowUs - m_lastInputUs >= kStaleUs) {
        const size_t dropped = m_parser.Flush();
        fprintf(m_log, "loopsim: dropped %zu bytes of an incomplete request\n", dropped);
        fflush(m_log);
    }
    if (m_unlogged > 0 && nowUs - m_logWindowUs >= kLogWindowUs) FlushLogSummary();
}

void CSimSession::Reset() {
    m_parser.Flush();
    m_outbox.Clear();
}

int64_t CSimSession::NextDeadline(bool includeOutbox) const {
    int64_t deadline = -1;
    if (m_parser.Pending() > 0) deadline = m_lastInputUs + kStaleUs;
    if (m_unlogged > 0 && (deadline < 0 || m_logWindowUs + kLogWindowUs < deadline))
        deadline = m_logWindowUs + kLogWindowUs;
    if (includeOutbox && !m_outbox.Empty() && (deadline < 0 || m_outbox.Front().dueUs < deadline)) {
        deadline = m_outbox.Front().dueUs;
    }
    return deadline;
}

int WriteDuePieces(int fd, CSimSession &session, int64_t nowUs) {
    COutbox &outbox = session.Outbox();
    uint8_t buffer[4096 + kMaxResponseSize];
    while (!outbox.Empty() && outbox.Front().dueUs <= nowUs) {
        COutbox::Piece &piece = outbox.Front();
        size_t count = piece.length;
        size_t garbage = 0;
        if (piece.garbage) {
            garbage = piece.garbage < 4096 ? piece.garbage : 4096;
            FillGarbage(buffer, static_cast<uint32_t>(garbage), session.Random());
            count = garbage;
            // Garbage right before an answer (no pause between) goes out in
            // the same write: the receiver sees one burst, whatever the scheduler does.
            if (garbage == piece.garbage && outbox.Size() > 1) {
                const COutbox::Piece &next = outbox.At(1);
                if (next.dueUs == piece.dueUs && next.garbage == 0) {
                    memcpy(buffer + garbage, next.bytes, next.length);
                    count += next.length;
                }
            }
        } else {
            memcpy(buffer, piece.bytes, count);
        }
        const ssize_t written = write(fd, buffer, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 1;
            return -1;
        }
        size_t done = static_cast<size_t>(written);
        const size_t wanted = count;
        if (garbage) {
            // Unwritten garbage is simply made anew next time.
            const size_t fromGarbage = done < garbage ? done : garbage;
            piece.garbage -= static_cast<uint32_t>(fromGarbage);
            done -= fromGarbage;
            if (piece.garbage == 0) outbox.PopFront();
        }
        if (done > 0) {
            COutbox::Piece &bytes = outbox.Front();
            memmove(bytes.bytes, bytes.bytes + done, bytes.length - done);
            bytes.length = static_cast<uint8_t>(bytes.length - done);
            if (bytes.length == 0) outbox.PopFront();
        }
        if (static_cast<size_t>(written) < wanted) return 1;
    }
    return 0;
}
