// The simulated device without a transport: framing, answers, faults.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "request_parser.h"
#include "sim_device.h"
#include "sim_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAdcRead{0x02, 0x00, 0x08, 0x2B, 0x80, 0x00, 0xA1, 0x03};
const Bytes kConfigRead{0x02, 0x00, 0x08, 0x3B, 0x80, 0x00, 0xB1, 0x03};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes WriteFrame(const ConfigValues &values) {
    const ConfigWriteFrame f = BuildConfigWriteFrame(values);
    return Bytes(f.begin(), f.end());
}

struct Parsed {
    std::vector<Bytes> frames;
    int badChecksums = 0;
};

Parsed ParseAll(CRequestParser &parser, const Bytes &input) {
    parser.Push(input.data(), input.size());
    Parsed out;
    CRequestParser::Request request;
    for (;;) {
        const auto r = parser.Next(request);
        if (r == CRequestParser::Result::None) break;
        if (r == CRequestParser::Result::BadChecksum) ++out.badChecksums;
        if (r == CRequestParser::Result::Frame) {
            out.frames.emplace_back(request.bytes, request.bytes + request.length);
        }
    }
    return out;
}

Bytes Answer(CSimDevice &device, const Bytes &request) {
    uint8_t reply[kMaxResponseSize];
    char text[200];
    const size_t n = device.Answer(request.data(), request.size(), reply, text, sizeof text);
    return Bytes(reply, reply + n);
}

void ExpectFramed(const Bytes &reply, size_t length, uint8_t command) {
    ASSERT_EQ(reply.size(), length);
    EXPECT_EQ(reply[0], 0x02);
    EXPECT_EQ(reply[1] * 256 + reply[2], static_cast<int>(length));
    EXPECT_EQ(reply[3], command);
    EXPECT_EQ(reply[4], 0x00);
    EXPECT_EQ(reply[length - 2], XorChecksum(reply.data(), length - 2));
    EXPECT_EQ(reply[length - 1], 0x03);
}

}  // namespace

TEST(RequestParser, FindsFramesBehindGarbageAndAcrossPieces) {
    CRequestParser parser;
    // Garbage, a stray STX with an implausible length, a second stray STX
    // whose length looks fine but whose ETX is not in place, then a request
    // split across two pushes.
    const Bytes noise{0xFF, 0x00, 0x03, 0x02, 0xFF, 0xFF, 0x02,
                      0x00, 0x08, 0x11, 0x22, 0x33, 0x44, 0x55};
    Parsed p = ParseAll(parser, Cat({noise, Bytes(kAdcRead.begin(), kAdcRead.begin() + 3)}));
    EXPECT_TRUE(p.frames.empty());
    p = ParseAll(parser, Bytes(kAdcRead.begin() + 3, kAdcRead.end()));
    ASSERT_EQ(p.frames.size(), 1u);
    EXPECT_EQ(p.frames[0], kAdcRead);
    EXPECT_EQ(parser.Pending(), 0u);
}

TEST(RequestParser, StrayStxWaitingForALongFrameDoesNotSwallowARealRequest) {
    CRequestParser parser;
    // 02 00 19 promises 25 bytes; the real request right behind it is answered at once.
    const Parsed p = ParseAll(parser, Cat({{0x02, 0x00, 0x19}, kConfigRead}));
    ASSERT_EQ(p.frames.size(), 1u);
    EXPECT_EQ(p.frames[0], kConfigRead);
}

TEST(RequestParser, BadChecksumIsReportedAndTheNextFrameStillFound) {
    CRequestParser parser;
    Bytes bad = kAdcRead;
    bad[6] ^= 0x01;
    const Parsed p = ParseAll(parser, Cat({bad, kConfigRead}));
    EXPECT_EQ(p.badChecksums, 1);
    ASSERT_EQ(p.frames.size(), 1u);
    EXPECT_EQ(p.frames[0], kConfigRead);
}

TEST(RequestParser, FlushDropsAnIncompleteStart) {
    CRequestParser parser;
    ParseAll(parser, {0x02, 0x00, 0x19, 0x4B});
    EXPECT_EQ(parser.Flush(), 4u);
    const Parsed p = ParseAll(parser, kAdcRead);
    ASSERT_EQ(p.frames.size(), 1u);
}

TEST(RequestParser, EndlessGarbageStaysWithinItsStore) {
    CRequestParser parser;
    Bytes junk(3 * CRequestParser::kCapacity, 0x02);  // STX 02 02: a length of 514, never plausible
    ParseAll(parser, junk);
    EXPECT_LE(parser.Pending(), CRequestParser::kCapacity);
    const Parsed p = ParseAll(parser, kAdcRead);
    ASSERT_EQ(p.frames.size(), 1u);
}

TEST(SimDevice, AnswersTheThreeRequestsWithCorrectFrames) {
    CSimDevice device;
    const Bytes adc = Answer(device, kAdcRead);
    ExpectFramed(adc, 16, 0x2B);
    EXPECT_EQ(adc[5], 0xAA);
    EXPECT_EQ(adc[6], 2);
    EXPECT_EQ(ReadBe16(adc.data(), 12), 1);  // the first answer

    const Bytes config = Answer(device, kConfigRead);
    const Bytes expected{0x02, 0x00, 0x1A, 0x3B, 0x00, 0xAA, 0x03, 0x33, 0x0F, 0xFF, 0x00, 0x00,
                         0x03, 0xE8, 0x03, 0x33, 0x0F, 0xFF, 0x00, 0x00, 0x07, 0xD0, 0x00, 0x02};
    ASSERT_EQ(config.size(), 26u);
    EXPECT_EQ(Bytes(config.begin(), config.begin() + 24), expected);
    ExpectFramed(config, 26, 0x3B);

    const Bytes write = Answer(device, WriteFrame({1, 2, 3, 4, 5, 6, 7, 65535}));
    ExpectFramed(write, 10, 0x4B);
    EXPECT_EQ(write[5], 0xAA);
    EXPECT_EQ(ReadBe16(write.data(), 6), 3);
    EXPECT_EQ(device.Config(), (ConfigValues{1, 2, 3, 4, 5, 6, 7, 65535}));
}

TEST(SimDevice, WrongCrc16IsAnsweredWith0x55AndKeepsTheBlock) {
    CSimDevice device;
    for (int byte : {21, 22}) {
        Bytes frame = WriteFrame({9, 9, 9, 9, 9, 9, 9, 9});
        frame[byte] ^= 0x01;
        frame[23] = XorChecksum(frame.data(), 23);  // a good frame around a bad CRC
        const Bytes reply = Answer(device, frame);
        ExpectFramed(reply, 10, 0x4B);
        EXPECT_EQ(reply[5], 0x55);
        EXPECT_EQ(device.Config(), CSimDevice::kFactoryConfig);
    }
    // The CRC16 is checked as the program sends it: high register first. The
    // standard byte order (low byte of the CRC value first) is wrong here.
    Bytes frame = WriteFrame({1, 1, 1, 1, 1, 1, 1, 1});
    std::swap(frame[21], frame[22]);
    frame[23] = XorChecksum(frame.data(), 23);
    EXPECT_EQ(Answer(device, frame)[5], 0x55);
}

TEST(SimDevice, UnknownCommandsAndWrongLengthsGetNoAnswer) {
    CSimDevice device;
    const Bytes unknown{0x02, 0x00, 0x08, 0x5B, 0x80, 0x00, 0xD1, 0x03};
    EXPECT_TRUE(Answer(device, unknown).empty());
    Bytes longRead{0x02, 0x00, 0x09, 0x2B, 0x80, 0x00, 0x00, 0x00, 0x03};
    longRead[7] = XorChecksum(longRead.data(), 7);
    EXPECT_TRUE(Answer(device, longRead).empty());
    EXPECT_EQ(device.AnswerCount(), 0);
}

TEST(SimDevice, ChannelsDriftButStayInRange) {
    CSimDevice device(7);
    int changes = 0;
    uint16_t last = device.Channel(0);
    for (int i = 0; i < 20000; ++i) {
        const Bytes reply = Answer(device, kAdcRead);
        for (size_t at : {8u, 10u}) ASSERT_LE(ReadBe16(reply.data(), at), 4095);
        const uint16_t now = ReadBe16(reply.data(), 8);
        ASSERT_LE(std::abs(now - last), 600) << "a jump, not a drift";
        changes += now != last;
        last = now;
    }
    EXPECT_GT(changes, 10000);
}

TEST(Outbox, PlansDelaySplitPauseGarbageAndASecondCopy) {
    COutbox outbox;
    const uint8_t reply[10] = {0x02, 0x00, 0x0A, 0x4B, 0x00, 0xAA, 0x00, 0x01, 0xE2, 0x03};
    SimOptions o;
    o.delayMs = 100;
    o.splitSize = 4;
    o.pauseMs = 10;
    o.garbage = 50;
    o.twice = true;
    ASSERT_TRUE(outbox.Plan(reply, sizeof reply, 1'000'000, o));
    // garbage, 4+4+2, 4+4+2; times in microseconds
    const int64_t due[] = {1'100'000, 1'110'000, 1'120'000, 1'130'000,
                           1'140'000, 1'150'000, 1'160'000};
    const int lengths[] = {0, 4, 4, 2, 4, 4, 2};
    Bytes sent;
    ASSERT_EQ(outbox.Size(), 7u);
    for (int i = 0; i < 7; ++i) {
        const COutbox::Piece &p = outbox.Front();
        EXPECT_EQ(p.dueUs, due[i]);
        EXPECT_EQ(p.length, lengths[i]);
        EXPECT_EQ(p.garbage, i == 0 ? 50u : 0u);
        sent.insert(sent.end(), p.bytes, p.bytes + p.length);
        outbox.PopFront();
    }
    EXPECT_EQ(sent, Cat({Bytes(reply, reply + 10), Bytes(reply, reply + 10)}));

    // A request arriving before the last answer went out is answered after it.
    COutbox ordered;
    o = SimOptions{};
    o.delayMs = 100;
    ASSERT_TRUE(ordered.Plan(reply, sizeof reply, 1'000'000, o));
    ASSERT_TRUE(ordered.Plan(reply, sizeof reply, 1'010'000, SimOptions{}));
    ordered.PopFront();
    EXPECT_EQ(ordered.Front().dueUs, 1'100'000);
}

TEST(SimSession, FaultsShapeWhatIsQueued) {
    FILE *log = tmpfile();
    ASSERT_NE(log, nullptr);
    SimOptions o;
    o.badChecksum = true;
    CSimDevice device;
    CSimSession flipped(o, device, log);
    flipped.OnBytes(kAdcRead.data(), kAdcRead.size(), 0);
    ASSERT_EQ(flipped.Outbox().Size(), 1u);
    const COutbox::Piece &p = flipped.Outbox().Front();
    EXPECT_NE(p.bytes[14], XorChecksum(p.bytes, 14));

    o = SimOptions{};
    o.silent = true;
    CSimSession silent(o, device, log);
    silent.OnBytes(kAdcRead.data(), kAdcRead.size(), 0);
    EXPECT_TRUE(silent.Outbox().Empty());
    EXPECT_EQ(device.Requests(), 2u);  // counted over both sessions

    // A stray frame start is dropped once the client has been quiet a while.
    CSimSession session(SimOptions{}, device, log);
    const uint8_t start[] = {0x02, 0x00, 0x19};
    session.OnBytes(start, sizeof start, 0);
    EXPECT_EQ(session.NextDeadline(), CSimSession::kStaleUs);
    session.OnTime(CSimSession::kStaleUs);
    EXPECT_EQ(session.NextDeadline(), -1);
    fclose(log);
}

TEST(SimSession, GarbageRightBeforeAnAnswerGoesOutInOneWrite) {
    FILE *log = tmpfile();
    SimOptions o;
    o.garbage = 10;
    CSimDevice device;
    CSimSession session(o, device, log);
    session.OnBytes(kAdcRead.data(), kAdcRead.size(), 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    EXPECT_EQ(WriteDuePieces(pipeFds[1], session, 0), 0);
    EXPECT_TRUE(session.Outbox().Empty());
    uint8_t got[64];
    ASSERT_EQ(read(pipeFds[0], got, sizeof got), 26);  // one write, one read
    for (int i = 0; i < 10; ++i) EXPECT_NE(got[i], 0x02);
    EXPECT_EQ(got[10], 0x02);
    EXPECT_EQ(got[25], 0x03);
    close(pipeFds[0]);
    close(pipeFds[1]);
    fclose(log);
}
