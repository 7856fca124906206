// The link against a recording portlink: a serial Open's calls and warnings,
// Send, how arrivals become frames, and a port that hung up.
#include "device_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "fake_portlink.h"

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

    PortlinkWindow window{};
    Boxes warnings;
    std::unique_ptr<CDeviceLink> link = std::make_unique<CDeviceLink>(FakePortlinkApi(), &warnings);
};

// The old port is closed and the window given before the port opens; the
// line is set up on the open port, and notification comes on last.
TEST_F(LinkTest, SerialOpenSendAndEndCallPortlinkInOrderAndWarnOnFailure) {
    link->m_nOpenPort = 5;
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

TEST_F(LinkTest, FrameCompletesOnTheTickAfterItsLastByteWithinTheIdleGap) {
    Open(3);
    Arrive(Bytes(kFrame.begin(), kFrame.begin() + 4), 4);
    Arrive(Bytes(kFrame.begin() + 4, kFrame.end()));
    EXPECT_EQ(link->m_nFramesReady, 0);
    link->Tick();
    EXPECT_EQ(link->m_nFramesReady, 1);
    EXPECT_EQ(Frame(9), (Bytes{0x02, 0x00, 0x08, 0x2B, 0x00, 0xAA, 0x8B, 0x03, 0x00}));
    EXPECT_EQ(link->m_nRxCount, 0);

    link->m_nFramesReady = 0;
    Arrive(Bytes(kFrame.begin(), kFrame.begin() + 3), 5);
    Arrive(Bytes(kFrame.begin() + 3, kFrame.end()), 10);  // after the gap: from index 0
    EXPECT_EQ(link->m_rxBuffer[0], 0x2B);
    // A lone STX after the gap is no frame start yet: the length behind it is
    // what garbage left there.
    Arrive({0x55, 0x00, 0x01}, 5);
    Arrive({0x02}, 1);
    EXPECT_EQ(link->m_nFramesReady, 0);
}

// Once a frame completes its length is spent: neither its surplus nor noise
// of the same length that follows ever completes a frame by itself.
TEST_F(LinkTest, OneFramePerTickAndTheSurplusIsNeverDelivered) {
    Open(3);
    Bytes twelve = kFrame;
    twelve.insert(twelve.end(), {0x02, 0x00, 0x04, 0x03});
    Arrive(twelve, 10);
    EXPECT_EQ(link->m_nFramesReady, 1);
    EXPECT_EQ(Bytes(link->m_rxBuffer, link->m_rxBuffer + link->m_nRxCount),
              Bytes(twelve.begin() + 8, twelve.end()));
    Arrive({0x02, 0x00, 0x03, 0x2B, 0x00}, 1);  // a short length completes at once
    EXPECT_EQ(link->m_nFramesReady, 2);
    EXPECT_EQ(Frame(4), (Bytes{0x02, 0x00, 0x03, 0x00}));
    EXPECT_EQ(link->m_nRxCount, 2);

    const Bytes noise(kFrame.size(), 0x55);
    link->m_nFramesReady = 0;
    Arrive(kFrame, 1);
    Arrive(noise, 10);
    link->TcpArrival(kFrame.data(), 8);
    link->Tick();
    link->TcpArrival(noise.data(), 8);
    for (int i = 0; i < 10; ++i) link->Tick();
    EXPECT_EQ(link->m_nFramesReady, 2);
    EXPECT_EQ(Frame(8), kFrame);
}

TEST_F(LinkTest, CountAboveTheLimitDropsWhatWasGatheredAndNeverOverruns) {
    Open(3);
    link->m_nRxCount = 30000;
    link->m_nIdleTicks = 0;
    Arrive(Bytes(6000, 0x11));
    EXPECT_EQ(link->m_nRxCount, 0);
    // A full buffer gathered over TCP must not push a serial read past its end.
    link->m_nRxCount = CDeviceLink::kBufferSize;
    Arrive({0x02, 0x00});
    EXPECT_EQ(link->m_nRxCount, 2);
    // Nor a TCP chunk that does not fit behind what was gathered: it starts afresh.
    link->m_nRxCount = CDeviceLink::kBufferSize - 4;
    link->TcpArrival(kFrame.data(), 8);
    EXPECT_EQ(link->m_nRxCount, 8);
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
    EXPECT_EQ(link->m_nRxCount, 3);
    EXPECT_EQ(link->m_nIdleTicks, 2);
    link->Send(kFrame.data(), 8);
    EXPECT_FALSE(link->LinkLost());
    Arrive({});
    Open(3);
    EXPECT_FALSE(link->LinkLost());
}
