// One client's conversation with the simulated device, free of any transport:
// bytes in, timed pieces out. The pseudo-terminal loop and the TCP one each
// feeds it what it reads, writes what falls due, and sleeps until NextDeadline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "request_parser.h"
#include "sim_device.h"
#include "sim_options.h"

// Answers waiting for their time, as pieces: a piece is either a run of
// garbage or up to kMaxResponseSize answer bytes. A ring of fixed size.
class COutbox {
public:
    static constexpr size_t kMaxPieces = 512;

    struct Piece {
        int64_t dueUs = 0;
        uint32_t garbage = 0;  // garbage bytes still to send (then length is 0)
        uint8_t length = 0;
        uint8_t bytes[kMaxResponseSize];
    };

    // Queues one answer as options say (delay, garbage, split, pause, second
    // copy); a flipped checksum is the caller's. False, and nothing queued,
    // when it does not fit.
    bool Plan(const uint8_t *reply, size_t length, int64_t nowUs, const SimOptions &options);

    bool Empty() const { return m_count == 0; }
    size_t Size() const { return m_count; }
    Piece &Front() { return m_pieces[m_head]; }
    const Piece &Front() const { return m_pieces[m_head]; }
    Piece &At(size_t index) { return m_pieces[(m_head + index) % kMaxPieces]; }
    void PopFront();
    void Clear();

private:
    bool Push(const Piece &piece);

    Piece m_pieces[kMaxPieces];
    size_t m_head = 0;
    size_t m_count = 0;
    int64_t m_lastDueUs = INT64_MIN;
};

class CSimSession {
public:
    // Bytes that look like the start of a frame but stay incomplete this long
    // are dropped, so a stray STX cannot swallow the next request.
    static constexpr int64_t kStaleUs = 100000;
    // A client that floods requests must not flood the log as well: past this
    // many lines in a second the rest are only counted, and one line says how many.
    static constexpr int kLogLinesPerSecond = 50;
    static constexpr int64_t kLogWindowUs = 1000000;

    // Every client of one device has a session of its own; they share the device.
    CSimSession(const SimOptions &options, CSimDevice &device, FILE *log);

    // Bytes read from the client at time nowUs (microseconds); answers go to the outbox.
    void OnBytes(const uint8_t *bytes, size_t count, int64_t nowUs);
    // Time passes: drops stale partial input and sums up a finished second of
    // unlogged requests. Call when a deadline passed.
    void OnTime(int64_t nowUs);
    // Writes the line for the requests counted but not logged, if any.
    void FlushLogSummary();
    // The earliest time something is due (a stale drop, a log summary, and
    // unless excluded the next piece), or -1 for none.
    int64_t NextDeadline(bool includeOutbox = true) const;
    // The client left: forget its half-sent request and the answers not yet sent.
    void Reset();

    COutbox &Outbox() { return m_outbox; }
    CSimRandom &Random() { return m_random; }
    CSimDevice &Device() { return m_device; }

private:
    void Handle(CRequestParser::Result result, const CRequestParser::Request &request,
                int64_t nowUs);
    // Whether the request at nowUs gets its own log line.
    bool TakeLogLine(int64_t nowUs);

    SimOptions m_options;
    FILE *m_log;
    CSimDevice &m_device;
    CSimRandom m_random;
    CRequestParser m_parser;
    CRequestParser::Request m_request;
    COutbox m_outbox;
    int64_t m_lastInputUs = 0;
    int64_t m_logWindowUs = INT64_MIN / 2;
    int m_logLines = 0;
    unsigned long m_unlogged = 0;
};

// Writes every piece that is due by nowUs to a non-blocking fd. Returns 0 when
// all due pieces went out, 1 when the fd is full (wait for POLLOUT), -1 with
// errno on a write error.
int WriteDuePieces(int fd, CSimSession &session, int64_t nowUs);
