// The link against a recording portlink: a serial Open's calls and warnings,
// Send, how arrivals become frames, and a port that hung up.
#include "device_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "fake_portlink.h"
#include "frames.h"

// The link's headers leave the system's socket interface to the socket
// layer's own file, so that its Winsock twin can take its place unseen.
#if defined(AF_INET) || defined(SOCK_STREAM) || defined(INADDR_ANY) || defined(INVALID_SOCKET)
#error "a header of the link brought in the system's socket interface"
#endif

using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

namespace {

const Bytes kFrame = {0x02, 0x00, 0x08, 0x2B, 0x00, 0xAA, 0x8B, 0x03};

// Whether call a was recorded, and before call b.
bool Before(const std::string &a, const std::string &b) {
    const Strings &calls = Fake().calls;
    const auto at = std::ranges::find(calls, a), bt = std::ranges::find(calls, b);
    return at != calls.end() && bt != calls.end() && at < bt;
}

Strings Sorted(Strings calls) {
    return std::ranges::sort(calls), calls;
}

// Sockets that never reach a network: every connect is refused at once, and
// where it was to go is kept.
std::mutex g_connectLock;
std::vector<Ipv4Endpoint> g_connects;
const SocketApi kUnreachable = {
    [](SocketError *) { return SocketHandle{1000}; },
    [](SocketHandle, const Ipv4Endpoint &to, const CStopEvent &) {
        std::lock_guard<std::mutex> lock(g_connectLock);
        g_connects.push_back(to);
        return SocketError{SocketFault::kFailed, 0};
    },
    [](SocketHandle, const void *, int32_t, SocketError *e) {
        return *e = {SocketFault::kFailed, 0}, -1;
    },
    [](SocketHandle, void *, int32_t, SocketError *) { return 0; },
    [](SocketHandle) {},
    [](SocketHandle) {},
};

}  // namespace

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { Fake() = {}; }
    void Open(uint8_t port, int32_t rate = 115200) {
        link->UsePort(port, rate);
        link->Open(LINK_SERIAL, &window);
    }
    void Arrive(const Bytes &bytes, int ticksAfter = 0) {
        Fake().chunks.push_back(bytes);
        link->ReadSerial();
        while (ticksAfter--) link->Tick();
    }
    Bytes Frame(size_t n) const { return Bytes(link->m_frameBuffer, link->m_frameBuffer + n); }
    Bytes Take() {
        const auto frame = link->TakeFrame();
        return Bytes(frame.begin(), frame.end());
    }

    PortlinkWindow window{};
    Boxes warnings;
    std::unique_ptr<CDeviceLink> link = std::make_unique<CDeviceLink>(FakePortlinkApi(), &warnings);
};

// The old port is closed and the window given before the port opens; the
// line is set up on the open port, and notification comes on last.
TEST_F(LinkTest, SerialOpenSendAndEndCallPortlinkInOrderAndWarnOnFailure) {
    Open(5);
    Fake().calls.clear();
    Open(3);
    EXPECT_EQ(Sorted(Fake().calls),
              Sorted({"closecom(5)", "closecom(3)", "initcom()", "opencom(3)", "setcom(3,3,115200)",
                      "setmdm(3,0)", "flowcom(3,0)", "ondata(3,1)"}));
    for (const char *first : {"closecom(5)", "closecom(3)", "initcom()"})
        EXPECT_TRUE(Before(first, "opencom(3)")) << first;
    for (const char *setting : {"setcom(3,3,115200)", "setmdm(3,0)", "flowcom(3,0)"})
        EXPECT_TRUE(Before("opencom(3)", setting) && Before(setting, "ondata(3,1)")) << setting;

    Fake().calls.clear();
    Open(2, 14400);
    EXPECT_EQ(Fake().calls, (Strings{"closecom(3)"}));
    Fake().opencomResult = 1;
    Open(7);
    // The refused rate, then the port that would not open, named.
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0].find("COM"), std::string::npos);
    EXPECT_NE(warnings[1].find("COM 7"), std::string::npos);

    // Send passes the low 16 bits of the length; the end closes both ports.
    static const uint8_t bytes[70000] = {};
    Fake().calls.clear();
    link->Send(bytes, 70000);
    link->UsePort(9, 115200);  // changed since the port was opened
    link.reset();
    EXPECT_EQ(Fake().calls[0], "writecom(7,4464)");
    EXPECT_EQ(Sorted({Fake().calls.begin() + 1, Fake().calls.end()}),
              Sorted({"closecom(9)", "closecom(7)"}));
}

// Seven characters ("1.2.3.4") is the shortest host the link takes: it then
// connects there in the background; anything shorter, or port 0, is a warning.
TEST_F(LinkTest, TcpOpenChecksItsSettingsAndTouchesNoPort) {
    link->SetSockets(kUnreachable);
    for (const char *host : {"1.2.34", "hhhhhhhhhhhhhhhh", "1.2.3.4"}) {
        link->UseHost(host, host[0] == 'h' ? 0 : 502);
        link->Open(LINK_TCP, &window);
    }
    for (int i = 0; i < 10000 && link->Sending(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_FALSE(link->Sending()) << "connecting gives up";
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0].rfind("1.2.34:502 ", 0), 0u);
    // A host too long for the field is cut, never read past its end.
    EXPECT_EQ(warnings[1].rfind(std::string(CTcpTransport::kHostSize - 1, 'h') + ":0 ", 0), 0u);
    std::lock_guard<std::mutex> lock(g_connectLock);
    const Ipv4Endpoint to = {{0x01020304}, 502};
    EXPECT_GT(g_connects.size(), 1u) << "a failed connect is tried again";
    EXPECT_EQ(std::count(g_connects.begin(), g_connects.end(), to), std::ssize(g_connects));
    EXPECT_TRUE(Fake().calls.empty());
}

// An ADC answer: 16 bytes, checksum set right.
Bytes Answer(uint8_t ch1Low) {
    Bytes f = {0x02, 0x00, 0x10, 0x2B, 0x00, 0xAA, 0x02, 0x00, 0x01, ch1Low, 0x0F, 0xA0, 0x12, 0x34, 0, 0x03};
    f[14] = XorChecksum(f.data(), 14);
    return f;
}

Bytes Cat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(LinkTest, FrameCompletesOnTheTickAfterItsLastByteOnePerTickAndNoSurplusIsDelivered) {
    Open(3);
    Arrive(Bytes(kFrame.begin(), kFrame.begin() + 4), 4);  // no length before 5 bytes
    Arrive(Bytes(kFrame.begin() + 4, kFrame.end()));
    EXPECT_FALSE(link->FrameReady());
    link->Tick();
    ASSERT_TRUE(link->FrameReady());
    EXPECT_EQ(Frame(9), (Bytes{0x02, 0x00, 0x08, 0x2B, 0x00, 0xAA, 0x8B, 0x03, 0x00}));
    EXPECT_EQ(Take(), kFrame);
    EXPECT_EQ(Take(), Bytes{});

    // Two frames in one read: the first is delivered, the second is surplus
    // that the next arrival throws away (and says so).
    Arrive(Cat(kFrame, Answer(0x2C)), 1);
    EXPECT_EQ(link->TakeFrame().size(), 8u);
    link->TakeDiscarded();
    Arrive({0x02, 0x00, 0x03, 0x2B, 0x00}, 10);  // a short length completes at once
    EXPECT_EQ(link->TakeDiscarded(), 16u);
    EXPECT_EQ(Take(), (Bytes{0x02, 0x00, 0x03}));
    for (int i = 0; i < 5; ++i) link->Tick();
    EXPECT_FALSE(link->FrameReady()) << "a frame's length is spent once it is delivered";
    Arrive({0x02, 0x00, 0x03}, 5);
    EXPECT_FALSE(link->FrameReady()) << "no length is read from fewer than 5 bytes";
}

// A USB adapter hands over what it holds when its latency timer fires, so an
// answer comes in pieces 16 ms (8 ticks) or more apart. A piece that can start
// the awaited answer is kept; anything else after a pause goes, counted.
TEST_F(LinkTest, APausedAnswerIsKeptOnlyWhenItCanStartTheAnswerAwaited) {
    Open(3);
    const Bytes a = Answer(0x2C);
    // awaited size, first piece, ticks between, delivered
    const std::tuple<int32_t, size_t, int, bool> cases[] = {
        {16, 8, 8, true},  {16, 2, 50, true}, {16, 1, 8, true},   {26, 8, 8, true},
        {15, 8, 8, false}, {0, 8, 8, false},  {16, 8, 4, true},  // within the gap anyway
    };
    for (const auto &[awaited, first, ticks, delivered] : cases) {
        link->ResetRxCount();
        link->TakeDiscarded();
        link->AwaitAnswer(awaited);
        Arrive(Bytes(a.begin(), a.begin() + static_cast<long>(first)), ticks);
        Arrive(Bytes(a.begin() + static_cast<long>(first), a.end()), 1);
        EXPECT_EQ(link->TakeFrame().size(), delivered ? 16u : 0u) << awaited << " " << first;
        EXPECT_EQ(link->TakeDiscarded(), delivered ? 0u : first + (16 - first)) << awaited << " " << first;
    }
}

TEST_F(LinkTest, GarbageBeforeAFrameGoesAndAFrameCutShortGivesWayToTheNextWhole) {
    Open(3);
    link->AwaitAnswer(16);
    const Bytes good = Answer(0x2C);
    // Noise in front of the answer, in the same read.
    Arrive(Cat({0x55, 0xFF, 0x00, 0x03}, good), 1);
    EXPECT_EQ(Take(), good);
    EXPECT_EQ(link->TakeDiscarded(), 4u);
    // The first 10 bytes of an answer that never finished, a pause, then a
    // whole one, itself in two pieces: the whole one is delivered.
    const Bytes cut(good.begin(), good.begin() + 10), other = Answer(0x77);
    Arrive(cut, 10);
    Arrive(Bytes(other.begin(), other.begin() + 9), 10);
    EXPECT_FALSE(link->FrameReady());
    Arrive(Bytes(other.begin() + 9, other.end()), 1);
    EXPECT_EQ(Take(), other);
    EXPECT_EQ(link->TakeDiscarded(), 10u);
    // Across a pause a frame must hold together: a wrong checksum there is
    // a piece of something else, and nothing follows it.
    Bytes bad = good;
    bad[14] ^= 0xFF;
    Arrive(Bytes(bad.begin(), bad.begin() + 8), 10);
    Arrive(Bytes(bad.begin() + 8, bad.end()), 2);
    EXPECT_FALSE(link->FrameReady());
    // Without a pause the frame is the holder's to judge, checksum and all.
    Arrive(bad, 1);
    EXPECT_EQ(Take(), bad);
    // Over TCP the same.
    link->ResetRxCount();
    link->TcpArrival(cut.data(), 10);
    for (int i = 0; i < 10; ++i) link->Tick();
    link->TcpArrival(good.data(), 16);
    link->Tick();
    EXPECT_EQ(Take(), good);
}

TEST_F(LinkTest, CountAboveTheLimitDropsWhatWasGatheredAndNeverOverruns) {
    Open(3);
    // A frame start whose length no read can reach: what is gathered behind
    // it grows to the serial limit and then goes.
    Bytes huge(10000, 0x11);
    huge[0] = 0x02, huge[1] = 0xFF, huge[2] = 0xFF;
    Arrive(huge);
    Arrive(Bytes(10000, 0x11));
    Arrive(Bytes(10000, 0x11));
    link->TakeDiscarded();
    Arrive(Bytes(6000, 0x11));
    EXPECT_EQ(link->TakeDiscarded(), 36000u);
    // Nor a TCP chunk that does not fit behind what was gathered: it starts afresh.
    Bytes full(CDeviceLink::kBufferSize - 4, 0x11);
    full[0] = 0x02, full[1] = 0xFF, full[2] = 0xFF;
    link->TcpArrival(full.data(), static_cast<int32_t>(full.size()));
    link->TcpArrival(kFrame.data(), 8);
    link->Tick();
    EXPECT_EQ(Take(), kFrame);
    // A serial read behind more than the serial limit gathered over TCP (a
    // change of line) starts afresh instead of reading on at the buffer's end.
    link->TcpArrival(full.data(), static_cast<int32_t>(full.size()));
    Arrive(Bytes(kFrame.begin(), kFrame.begin() + 4));
    Arrive(Bytes(kFrame.begin() + 4, kFrame.end()));
    link->Tick();
    EXPECT_EQ(Take(), kFrame);
}

// portlink answers 999 on a port whose device hung up: the holder learns it
// at once and why, while the read counts as an arrival of no bytes as before.
TEST_F(LinkTest, HungUpPortIsALostLinkUntilTheNextOpenOrSend) {
    Open(3);
    Arrive({0x02, 0x00, 0x08});
    Fake().readcomResult = 2;  // a port not in the table: nothing hung up
    Arrive({});
    EXPECT_FALSE(link->LinkLost());
    Fake().readcomResult = 999;
    Arrive({}, 2);
    std::string reason;
    EXPECT_TRUE(link->LinkLost(&reason));
    EXPECT_EQ(reason, "readcom answered 999 (the port hung up)");
    EXPECT_TRUE(link->FrameGathered() || !link->Quiet()) << "a failed read counts as an arrival";
    link->Send(kFrame.data(), 8);
    EXPECT_FALSE(link->LinkLost());
    Arrive({});
    Open(3);
    EXPECT_FALSE(link->LinkLost());
}
