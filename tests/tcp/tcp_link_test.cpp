// The link's TCP transport against real loopback peers, with its socket calls
// counted.
#include <gtest/gtest.h>

#include <sstream>

#include "device_link.h"
#include "fake_portlink.h"
#include "loopback_peer.h"

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

namespace {

const Bytes kRequest = {0x02, 0x00, 0x08, 0x2B, 0x00, 0xAA, 0x8B, 0x03};
const Bytes kAnswer = {0x02, 0x00, 0x09, 0x2B, 0x01, 0x05, 0x06, 0x07, 0x03};

struct Counts {
    std::atomic<int> sockets, connects, sends, closes, receiveThreads, receiveEnds;
    std::atomic<long long> received;
    // Runs on the send worker before the first send, and answers how many
    // bytes of it the system takes.
    std::function<int32_t(int32_t)> firstSend;
};
Counts *g = nullptr;

const SocketApi kCounting = {
    [](SocketError *e) { return ++g->sockets, RealSockets().socket(e); },
    [](SocketHandle s, const Ipv4Endpoint &to, const CStopEvent &stop) {
        return ++g->connects, RealSockets().connect(s, to, stop);
    },
    [](SocketHandle s, const void *bytes, int32_t n, SocketError *e) {
        if (g->sends++ == 0 && g->firstSend) n = g->firstSend(n);
        return RealSockets().send(s, bytes, n, e);
    },
    [](SocketHandle s, void *buffer, int32_t size, SocketError *e) {
        thread_local bool counted = false;
        if (!std::exchange(counted, true)) ++g->receiveThreads;
        const int32_t n = RealSockets().recv(s, buffer, size, e);
        n > 0 ? g->received += n : ++g->receiveEnds;
        return n;
    },
    [](SocketHandle s) { RealSockets().shutdown(s); },
    [](SocketHandle s) { ++g->closes, RealSockets().close(s); },
};

template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (; !done(); std::this_thread::sleep_for(1ms))
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
}

// Every line printed is a failed send, and the send was tried again.
bool FailedSends(const std::string &text) {
    std::istringstream lines(text);
    int n = 0;
    for (std::string line; std::getline(lines, line); ++n)
        if (line.rfind("[send()] ", 0) != 0) return false;
    return n > 1 && text.back() == '\n';
}

std::string Lost(const CDeviceLink &link) {
    std::string reason;
    return link.LinkLost(&reason) ? reason : "(not lost)";
}

}  // namespace

class TcpLinkTest : public ::testing::Test {
protected:
    TcpLinkTest() { Fake() = {}, g = &counts; }
    ~TcpLinkTest() override { link.reset(), ClosePeer(listener); }
    std::unique_ptr<CDeviceLink> MakeLink(const char *host, uint16_t port) {
        auto made = std::make_unique<CDeviceLink>(FakePortlinkApi(), &boxes);
        made->SetSockets(kCounting);
        made->UseHost(host, port);
        return made;
    }
    void Listen(const char *host = "127.0.0.1") {
        listener = ListenLoopback(&port);
        link = MakeLink(host, port);
        Open();
    }
    // Connects in the background and sends nothing; a Send before any Open
    // would send nothing at all.
    void Open() {
        link->Open(LINK_TCP, nullptr);
        EXPECT_TRUE(WaitIdle());
    }
    void Send(const Bytes &frame) { link->Send(frame.data(), static_cast<int32_t>(frame.size())); }
    bool WaitIdle() {
        return WaitFor([&] { return !link->Sending(); });
    }
    // Failed sends go to standard error; standard output stays the holder's.
    std::string SendAndPrint(const Bytes &frame) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        Send(frame);
        EXPECT_TRUE(WaitIdle());
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        return printed;
    }

    Counts counts;
    Boxes boxes;
    SocketHandle listener = kNoSocket;
    uint16_t port = 0;
    std::unique_ptr<CDeviceLink> link = MakeLink("127.0.0.1", UnusedLoopbackPort());
};

// Open connects and sends nothing; a frame handed over while a worker runs is
// dropped; every other frame goes out once and whole (also after a short
// send) on the one connection. A peer's close is a lost line at once and with
// the next frame, which still goes out on the old connection.
TEST_F(TcpLinkTest, ListeningServerGetsOneConnectionAndEveryFrameOnceOnIt) {
    std::string dotted, error;
    ASSERT_TRUE(ResolveIPv4("127.1", &dotted, &error)) << error;
    EXPECT_EQ(dotted, "127.0.0.1");
    ASSERT_TRUE(ResolveIPv4("localhost", &dotted, &error)) << error;
    Listen(dotted.c_str());
    link->Open(LINK_TCP, nullptr);
    const SocketHandle peer = AcceptPeer(listener);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(link->Connected());
    std::atomic<bool> inSend{false}, release{false};
    counts.firstSend = [&](int32_t) {
        WaitFor([&] { return inSend = true, release.load(); });
        return 3;
    };
    Send(kRequest);
    const bool sending = WaitFor([&] { return inSend.load(); });
    Send(kAnswer);
    release = true;
    ASSERT_TRUE(sending && WaitIdle());
    Send(kRequest);
    EXPECT_EQ(ReadPeer(peer, 16),
              (Bytes{2, 0, 8, 0x2B, 0, 0xAA, 0x8B, 3, 2, 0, 8, 0x2B, 0, 0xAA, 0x8B, 3}));
    ASSERT_EQ(WritePeer(peer, kAnswer.data(), kAnswer.size()), 9);
    ASSERT_TRUE(WaitFor([&] { return link->Tick(), link->FrameReady(); }));
    const auto frame = link->TakeFrame();
    EXPECT_EQ(Bytes(frame.begin(), frame.end()), kAnswer);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(counts.sockets == 1 && counts.connects == 1 && counts.closes == 0) << "one link";
    EXPECT_EQ(counts.receiveThreads.load(), 1);
    EXPECT_FALSE(link->LinkLost());
    EXPECT_TRUE(boxes.empty());

    ClosePeer(peer);
    EXPECT_TRUE(WaitFor([&] { return link->LinkLost(); }));
    EXPECT_EQ(Lost(*link), "the peer closed the connection");
    EXPECT_TRUE(link->Connected());
    Send(kRequest);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Lost(*link), "the peer closed the connection");
    EXPECT_EQ(counts.sockets.load(), 1);
}

// A reset peer: the next frame's sends on the old socket fail and say so, and
// the frame after that reconnects.
TEST_F(TcpLinkTest, VanishedPeerIsNoticedByAFailedSendAndTheNextFrameReconnects) {
    Listen();
    Send(kRequest);
    SocketHandle peer = AcceptPeer(listener);
    EXPECT_EQ(ReadPeer(peer, 8), kRequest);
    const bool reset = ResetPeer(peer);
    // The recv wrapper counts the end before the transport records the loss.
    ASSERT_TRUE(WaitFor([&] { return counts.receiveEnds == 1 && link->LinkLost(); }));
    ASSERT_TRUE(WaitIdle());
    const std::string cause = Lost(*link);
    EXPECT_TRUE(cause == "recv(): " + SocketErrorText({SocketFault::kFailed, kPeerResetCode}) ||
                (!reset && cause == "the peer closed the connection"))
        << cause;

    EXPECT_TRUE(FailedSends(SendAndPrint(kAnswer)));
    EXPECT_EQ(counts.sockets.load(), 1);  // the old connection, not a new one
    EXPECT_EQ(Lost(*link), cause);

    Send(kRequest);
    peer = AcceptPeer(listener);
    EXPECT_EQ(ReadPeer(peer, 8), kRequest);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(counts.sockets.load(), 2);
    EXPECT_TRUE(WaitFor([&] { return counts.receiveThreads == 2; }));
    EXPECT_FALSE(link->LinkLost());
    EXPECT_TRUE(boxes.empty());
    ClosePeer(peer);
}

// No server: connecting is tried again, on each socket and on new ones, the
// send reported, and the frame given up, with every socket closed. A system without sockets shows a
// box, with its own text or the number; so does an unknown name, each time.
TEST_F(TcpLinkTest, ConnectingToNoServerRetriesReportsAndGivesUp) {
    Open();
    EXPECT_TRUE(FailedSends(SendAndPrint(kRequest)));
    EXPECT_GT(counts.sockets.load(), 1) << "a failed round goes on with a fresh socket";
    EXPECT_GT(counts.connects.load(), counts.sockets.load()) << "each socket is tried again";
    EXPECT_EQ(counts.closes.load(), counts.sockets.load());
    EXPECT_FALSE(link->Connected());
    EXPECT_EQ(Lost(*link).rfind("send(): ", 0), 0u) << Lost(*link);

    static std::atomic<int> made{0};
    static const SocketApi noSockets = [] {
        SocketApi api = kCounting;
        api.socket = [](SocketError *e) {
            *e = {SocketFault::kFailed, made++ ? 0 : kOutOfSocketsCode};
            return kNoSocket;
        };
        return api;
    }();
    link->SetSockets(noSockets);
    EXPECT_TRUE(FailedSends(SendAndPrint(kRequest)));
    const std::string outOfSockets = SocketErrorText({SocketFault::kFailed, kOutOfSocketsCode});
    EXPECT_EQ(outOfSockets.find("Socket error"), std::string::npos) << outOfSockets;
    EXPECT_EQ(boxes,
              (std::vector<std::string>{"socket(): " + outOfSockets, "socket(): Socket error 0"}));

    const auto start = std::chrono::steady_clock::now();
    std::string error;
    const bool known = ResolveIPv4("nohost.invalid", nullptr, &error);
    if (known || std::chrono::steady_clock::now() - start > 2s)
        GTEST_SKIP() << "the system resolver is slow or answers for .invalid";
    EXPECT_NE(error, "");
    boxes.clear();
    Listen("nohost.invalid");
    SendAndPrint(kRequest);
    ASSERT_GT(boxes.size(), 1u);
    for (const std::string &box : boxes) EXPECT_EQ(box, "gethostbyname error: " + error);
}

// 10 MB of answers: the link gathers inside its buffer, and memory grows no
// further once the first megabyte is in. The receive worker delivers while
// this thread ticks (TSan watches the sharing).
TEST_F(TcpLinkTest, FloodStaysInsideTheBufferAndKeepsMemoryFlat) {
    constexpr long long kFirst = 1 << 20, kFlood = 10 << 20;
    Listen();
    std::atomic<bool> measured{false};
    std::thread peer([&] {
        const SocketHandle fd = AcceptPeer(listener);
        Bytes block;
        while (block.size() + 9 <= 65536) block.insert(block.end(), kAnswer.begin(), kAnswer.end());
        for (long long sent = 0, n = 0; sent < kFlood && n >= 0; sent += n) {
            if (sent == kFirst) WaitFor([&] { return measured.load(); }, 60s);
            const long long end = sent < kFirst ? kFirst : kFlood;
            n = WritePeer(fd, block.data(), std::min<size_t>(block.size(), end - sent));
        }
        ClosePeer(fd);
    });
    link->Open(LINK_TCP, nullptr);
    long before = -1;
    const bool ended = WaitFor(
        [&] {
            link->Tick();
            if (before < 0 && counts.received >= kFirst) before = ResidentKiB();
            measured = before >= 0;
            return counts.receiveEnds > 0;
        },
        60s);
    const long after = ResidentKiB();
    measured = true;
    peer.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(counts.received.load(), kFlood);
    EXPECT_LE(link->m_nRxCount, CDeviceLink::kBufferSize);
    EXPECT_LT(after - before, 2048) << before << " KiB after 1 MB, " << after << " after 10";
}

// A peer that never reads: the send worker blocks in send, and the link's end
// must still end it.
TEST_F(TcpLinkTest, DestructionEndsASendThatThePeerNeverReads) {
    Listen();
    static const Bytes big(65535, 0x55);
    bool blocked = false;
    for (int i = 0; i < 2000 && !blocked; ++i) {
        Send(big);
        blocked = !WaitFor([&] { return !link->Sending(); }, 200ms);
    }
    ASSERT_TRUE(blocked);
    link.reset();
}
