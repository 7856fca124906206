// The device session on a recording portlink and a clock the tests move:
// answers paired with their requests, time-outs and late answers, the quiet
// before the next request, the buttons' own way, and a line that is gone.
#include "device_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "fake_portlink.h"
#include "frames.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Status = RequestOutcome::Status;

int64_t g_now = 0;
int64_t FakeNow() {
    return g_now;
}

Bytes Framed(Bytes f) {
    f[f.size() - 2] = XorChecksum(f.data(), f.size() - 2);
    return f;
}
const Bytes kAdc = Framed({2, 0, 16, 0x2B, 0, 0xAA, 2, 0, 1, 0x2C, 0x0F, 0xA0, 0, 7, 0, 3});
const Bytes kConfig = Framed({2, 0, 26, 0x3B, 0, 0xAA, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7,
                              0, 8, 0, 9, 0, 3});

struct Host : ISessionHost, ISessionClient {
    PortlinkWindow window{};
    std::vector<std::string> events;  // what the session told, in order
    std::vector<RequestOutcome> outcomes;
    int64_t tickAt = -1;  // when the next tick is due; -1: none
    void ShowWarning(const std::string &t) override { events.push_back("box " + t); }
    void ShowError(const std::string &, const std::string &t) override { events.push_back("box " + t); }
    PortlinkWindow *PortWindow() override { return &window; }
    void StartTicks(unsigned firstMs) override { tickAt = g_now + firstMs; }
    void StopTicks() override { tickAt = -1; }
    void OnSend(uint8_t command) override { events.push_back(std::string("send ") + SendLogText(command)); }
    void OnFrame(const ResponseOutcome &out, bool quiet) override {
        events.push_back(std::string(quiet ? "quiet " : "frame ") + CommandName(out.command));
    }
    void OnNotice(const std::string &text) override { events.push_back(text); }
    void OnOutcome(const RequestOutcome &o) override { outcomes.push_back(o); }
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fake() = {};
        g_now = 5000;
        session.Open();
    }
    // ms later, with every tick the session asked for.
    void Pass(int64_t ms) {
        for (const int64_t end = g_now + ms; g_now < end;) {
            if (host.tickAt >= 0 && host.tickAt <= end) {
                g_now = std::max(g_now, host.tickAt);
                host.tickAt = g_now + CDeviceSession::kTickMs;
                session.Tick();
            } else {
                g_now = end;
            }
        }
    }
    void Arrive(const Bytes &bytes) {
        Fake().chunks.push_back(bytes);
        session.OnPortMessage(PORTLINK_WM_PORT_NOTIFY, 1, 1);
    }
    CDeviceSession::Submitted Sample(int64_t timeoutMs = 1000) {
        SessionRequest r;
        r.timeoutMs = timeoutMs;
        r.quiet = true;
        return session.Submit(r, &host);
    }
    size_t Sent() const {
        return static_cast<size_t>(std::count_if(Fake().calls.begin(), Fake().calls.end(),
                                                 [](const std::string &c) { return c.starts_with("writecom"); }));
    }

    Host host;
    CDeviceSession session{host, FakePortlinkApi(), &FakeNow};
};

TEST_F(SessionTest, AnAnswerIsTheFirstFrameOfItsCommandBeforeItsTimeOut) {
    SessionRequest read;
    read.command = CMD_GET_CONFIG_DATA;
    ASSERT_EQ(session.Submit(read, &host), CDeviceSession::Submitted::Sent);
    EXPECT_EQ(session.Submit(read, &host), CDeviceSession::Submitted::Busy) << "one at a time";
    Pass(10);
    Arrive(kAdc);  // an answer to no request of this one
    Pass(10);
    EXPECT_TRUE(host.outcomes.empty());
    Arrive(kConfig);
    Pass(10);
    ASSERT_EQ(host.outcomes.size(), 1u);
    const RequestOutcome &o = host.outcomes[0];
    EXPECT_EQ(o.status, Status::Answered);
    EXPECT_TRUE(o.Succeeded());
    EXPECT_EQ(o.answer.config, (ConfigValues{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(o.endedMs - o.sentMs, 20) << "taken at the first tick after its last byte";
    EXPECT_EQ(session.LastConfig(), o.answer.config);
    EXPECT_EQ(host.events, (std::vector<std::string>{"send Send Config Read", "frame CMD_GET_ADC_VALUE",
                                                     "frame CMD_GET_CONFIG_DATA"}));
    // A configuration whose checksum failed is shown, but never taken as
    // what readings mean.
    Bytes garbled = kConfig;
    garbled[7] = 99;
    Arrive(garbled);
    Pass(10);
    EXPECT_EQ(session.LastConfig(), o.answer.config);
    // With nothing out the session sleeps.
    Pass(20);
    EXPECT_EQ(host.tickAt, -1);
}

TEST_F(SessionTest, ALateAnswerBelongsToNoRequestAndTheNextWaitsForQuiet) {
    ASSERT_EQ(Sample(200), CDeviceSession::Submitted::Sent);
    Pass(199);
    EXPECT_TRUE(host.outcomes.empty());
    Pass(1);
    ASSERT_EQ(host.outcomes.size(), 1u) << "ended at its time-out, to the millisecond";
    EXPECT_EQ(host.outcomes[0].status, Status::TimedOut);
    EXPECT_EQ(host.outcomes[0].reason, "no answer within 200 ms");
    // The next request waits until the line has been quiet for 200 ms; the
    // late answer, when it comes, goes to nobody.
    EXPECT_EQ(Sample(200), CDeviceSession::Submitted::Queued);
    Pass(50);
    Arrive(kAdc);
    Pass(199);
    EXPECT_EQ(Sent(), 1u);
    EXPECT_EQ(host.events.back(), "Late answer dropped: CMD_GET_ADC_VALUE 250 ms after its request");
    Pass(2);
    EXPECT_EQ(Sent(), 2u);
    Arrive(kAdc);
    Pass(2);
    ASSERT_EQ(host.outcomes.size(), 2u);
    EXPECT_EQ(host.outcomes[1].status, Status::Answered);
    EXPECT_EQ(host.outcomes[1].answer.ch1, 300);
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "quiet CMD_GET_ADC_VALUE"), 1);
    // An answer whose bytes came after the time-out is late, though the tick
    // that would have said so comes later still (a busy machine).
    ASSERT_EQ(Sample(200), CDeviceSession::Submitted::Sent);
    g_now += 250;
    Arrive(kAdc);
    session.Tick();
    ASSERT_EQ(host.outcomes.size(), 3u);
    EXPECT_EQ(host.outcomes[2].status, Status::TimedOut);
    EXPECT_EQ(host.events.back(), "Late answer dropped: CMD_GET_ADC_VALUE 250 ms after its request");
    Pass(500);
    // A line that never goes quiet: the waiting request gives up in time.
    ASSERT_EQ(Sample(100), CDeviceSession::Submitted::Sent);
    Pass(100);
    EXPECT_EQ(Sample(100), CDeviceSession::Submitted::Queued);
    for (int i = 0; i < 30; ++i) {
        Arrive({0x55});
        Pass(10);
    }
    ASSERT_EQ(host.outcomes.size(), 5u);
    EXPECT_EQ(host.outcomes[4].status, Status::TimedOut);
    EXPECT_EQ(host.outcomes[4].reason, "the line did not go quiet");
    EXPECT_EQ(Sent(), 4u);
}

TEST_F(SessionTest, AButtonsFrameTakesWhatComesAndHoldsClientsBackUntilItsAnswer) {
    const ReadFrame &frame = BuildAdcReadFrame();
    session.SendCommandFrame(frame.data(), 8);
    EXPECT_EQ(Sample(), CDeviceSession::Submitted::Busy);
    Arrive(kConfig);  // whatever comes is the button's answer
    Pass(4);
    EXPECT_EQ(host.events.back(), "frame CMD_GET_CONFIG_DATA");
    EXPECT_EQ(Sample(), CDeviceSession::Submitted::Sent);
    Pass(1000);
    // A button's request with no answer holds clients back for a second.
    session.SendCommandFrame(frame.data(), 8);
    Pass(999);
    EXPECT_EQ(Sample(), CDeviceSession::Submitted::Busy);
    Pass(1);
    EXPECT_NE(Sample(), CDeviceSession::Submitted::Busy);
}

TEST_F(SessionTest, ALineGoneEndsTheRequestAtOnceAndAClosedPortSendsNothing) {
    ASSERT_EQ(Sample(), CDeviceSession::Submitted::Sent);
    Fake().readcomResult = 999;
    Arrive({});
    Pass(10);
    ASSERT_EQ(host.outcomes.size(), 1u);
    EXPECT_EQ(host.outcomes[0].status, Status::LineLost);
    EXPECT_EQ(host.outcomes[0].reason, "readcom answered 999 (the port hung up)");
    // Found out between requests: the next one is lost at once, not sent in vain.
    Fake().writecomResult = 999;
    EXPECT_EQ(Sample(), CDeviceSession::Submitted::Failed);
    EXPECT_EQ(host.outcomes.back().status, Status::LineLost);
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(),
                         "Line lost: readcom answered 999 (the port hung up)"), 2);
    Fake().readcomResult = 2;
    Fake().writecomResult = 2;
    EXPECT_EQ(Sample(), CDeviceSession::Submitted::Failed);
    EXPECT_EQ(host.outcomes.back().status, Status::NotSent);
    EXPECT_EQ(host.outcomes.back().reason, "the port is not open");
}

// Sockets that reach a device at once: a send can be held until released,
// and what was sent is kept.
std::atomic<bool> g_holdSend{false}, g_shut{false};
std::mutex g_sentLock;
std::vector<Bytes> g_sent;
const SocketApi kHeldSockets = {
    [](SocketError *) { return SocketHandle{1000}; },
    [](SocketHandle, const Ipv4Endpoint &, const CStopEvent &) { return SocketError{}; },
    [](SocketHandle, const void *bytes, int32_t length, SocketError *) {
        while (g_holdSend) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard lock(g_sentLock);
        g_sent.emplace_back(static_cast<const uint8_t *>(bytes), static_cast<const uint8_t *>(bytes) + length);
        return length;
    },
    [](SocketHandle, void *, int32_t, SocketError *) {
        while (!g_shut) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    },
    [](SocketHandle) { g_shut = true; },
    [](SocketHandle) {},
};

template <typename Done>
bool WaitFor(Done done) {
    for (int i = 0; i < 5000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

// Over TCP an answer can be in before the send worker has ended: the next
// request waits for that worker rather than being dropped.
TEST_F(SessionTest, OverTcpTheNextRequestWaitsForThePreviousSendToEnd) {
    CDeviceSession tcp{host, FakePortlinkApi(), &FakeNow};
    tcp.Link().SetSockets(kHeldSockets);
    tcp.UseTcp("1.2.3.4", 502);
    tcp.Open();
    ASSERT_TRUE(WaitFor([&] { return tcp.State() == CDeviceSession::LineState::Open; }));
    g_holdSend = true;
    SessionRequest sample;
    sample.quiet = true;
    ASSERT_EQ(tcp.Submit(sample, &host), CDeviceSession::Submitted::Sent);
    tcp.Link().TcpArrival(kAdc.data(), static_cast<int32_t>(kAdc.size()));
    tcp.Tick();
    ASSERT_EQ(host.outcomes.size(), 1u);
    EXPECT_EQ(tcp.Submit(sample, &host), CDeviceSession::Submitted::Queued);
    g_holdSend = false;
    ASSERT_TRUE(WaitFor([&] { return !tcp.Link().Sending(); }));
    tcp.Tick();
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard lock(g_sentLock);
        return g_sent.size() == 2;
    }));
    EXPECT_EQ(g_sent[1], Bytes(BuildAdcReadFrame().begin(), BuildAdcReadFrame().end()));
}

}  // namespace
