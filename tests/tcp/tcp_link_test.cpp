// The link's TCP transport against real loopback peers, with its socket calls
// counted: what a frame costs, a missing or vanished peer, the boxes of failed
// cycles, a flood, and that no link leaves a thread or socket behind.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "device_link.h"
#include "fake_portlink.h"

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

namespace {

const Bytes kRequest = {0x02, 0x00, 0x08, 0x2B, 0x00, 0xAA, 0x8B, 0x03};
const Bytes kAnswer = {0x02, 0x00, 0x09, 0x2B, 0x01, 0x05, 0x06, 0x07, 0x03};

struct Counts {
    std::atomic<int> sockets, connects, sends, closes, receiveThreads, receiveEnds;
    std::atomic<long long> received;
    std::function<void()> beforeFirstSend;  // runs on the send worker
};
Counts *g = nullptr;

// The system's calls, counted; each thread that receives counts itself once.
const SocketApi kCounting = {
    [](int d, int t, int p) { return ++g->sockets, ::socket(d, t, p); },
    [](int fd, const sockaddr *a, socklen_t n) { return ++g->connects, ::connect(fd, a, n); },
    [](int fd, const void *bytes, size_t n, int flags) {
        if (g->sends++ == 0 && g->beforeFirstSend) g->beforeFirstSend();
        return ::send(fd, bytes, n, flags);
    },
    [](int fd, void *buffer, size_t size, int flags) {
        thread_local bool counted = false;
        if (!std::exchange(counted, true)) ++g->receiveThreads;
        const ssize_t n = ::recv(fd, buffer, size, flags);
        n > 0 ? g->received += n : ++g->receiveEnds;
        return n;
    },
    ::shutdown,
    [](int fd) { return ++g->closes, ::close(fd); },
};

template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (; !done(); std::this_thread::sleep_for(1ms))
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
}

// Standard output, where failed sends are reported: three lines of them.
bool ThreeFailedSends(const std::string &text) {
    size_t at = 0;
    for (int i = 0; i < 3; ++i, ++at)
        if (text.compare(at, 9, "[send()] ") || (at = text.find('\n', at)) == std::string::npos)
            return false;
    return at == text.size();
}

// Field 0 of /proc/self/statm is the size, 1 the resident part, in KiB.
long StatmKiB(int field) {
    long values[2] = {};
    std::ifstream("/proc/self/statm") >> values[0] >> values[1];
    return values[field] * (sysconf(_SC_PAGESIZE) / 1024);
}

long Entries(const char *folder) {
    using std::filesystem::directory_iterator;
    return std::distance(directory_iterator(folder), directory_iterator());
}

// On 127.0.0.1 at a port of the system's choosing; the kernel completes a
// client's connect even before an accept.
int Listen(uint16_t *port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    auto *named = reinterpret_cast<sockaddr *>(&address);
    if (bind(fd, named, length) || listen(fd, 128) || getsockname(fd, named, &length)) abort();
    *port = ntohs(address.sin_port);
    return fd;
}

uint16_t UnusedPort() {
    uint16_t port = 0;
    close(Listen(&port));
    return port;
}

bool Readable(int fd, int ms = 10000) {
    pollfd wait = {fd, POLLIN, 0};
    return poll(&wait, 1, ms) == 1;
}

// Reads on the accepted socket give up after 10 s.
int Accept(int listener) {
    const int fd = Readable(listener) ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    const timeval limit = {10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

Bytes Read(int fd, size_t n) {
    Bytes got(n);
    got.resize(static_cast<size_t>(std::max<ssize_t>(0, recv(fd, got.data(), n, MSG_WAITALL))));
    return got;
}

}  // namespace

class TcpLinkTest : public ::testing::Test {
protected:
    TcpLinkTest() { Fake() = {}, g = &counts; }
    ~TcpLinkTest() override { link.reset(), close(listener); }
    std::unique_ptr<CDeviceLink> MakeLink(const char *host, uint16_t port) {
        auto made = std::make_unique<CDeviceLink>(FakePortlinkApi(), &boxes);
        made->SetSockets(kCounting);
        std::strncpy(made->m_szHost, host, sizeof made->m_szHost);
        made->m_nTcpPort = port;
        made->m_nTransport = LINK_TCP;
        return made;
    }
    // A peer that listens, with the link pointed at it.
    void Listen(const char *host = "127.0.0.1") {
        listener = ::Listen(&port);
        link = MakeLink(host, port);
    }
    void Send(const Bytes &frame) { link->Send(frame.data(), static_cast<int32_t>(frame.size())); }
    bool WaitIdle(CDeviceLink *l = nullptr) {
        return WaitFor([&] { return !(l ? l : link.get())->m_bSending; });
    }
    std::string SendAndPrint(const Bytes &frame) {
        testing::internal::CaptureStdout();
        Send(frame);
        EXPECT_TRUE(WaitIdle());
        return testing::internal::GetCapturedStdout();
    }
    std::vector<int> Tally() const {
        return {counts.sockets, counts.connects, counts.sends, counts.closes};
    }

    Counts counts;
    Boxes boxes;
    int listener = -1;
    uint16_t port = 0;
    std::unique_ptr<CDeviceLink> link = MakeLink("127.0.0.1", UnusedPort());
};

// Open connects in the background and sends nothing; a frame handed over
// while a worker runs is dropped; every other frame goes out once, on the one
// connection, whose receive worker delivers the answer.
TEST_F(TcpLinkTest, ListeningServerGetsOneConnectionAndEveryFrameOnceOnIt) {
    Listen();
    link->Open(LINK_TCP, nullptr);
    const int peer = Accept(listener);
    ASSERT_TRUE(WaitIdle());
    std::atomic<bool> inSend{false}, release{false};
    counts.beforeFirstSend = [&] { WaitFor([&] { return inSend = true, release.load(); }); };
    Send(kRequest);
    const bool sending = WaitFor([&] { return inSend.load(); });
    Send(kAnswer);
    release = true;
    ASSERT_TRUE(sending && WaitIdle());
    Send(kRequest);
    EXPECT_EQ(Read(peer, 16),
              (Bytes{2, 0, 8, 0x2B, 0, 0xAA, 0x8B, 3, 2, 0, 8, 0x2B, 0, 0xAA, 0x8B, 3}));
    ASSERT_EQ(write(peer, kAnswer.data(), kAnswer.size()), 9);
    ASSERT_TRUE(WaitFor([&] { return link->Tick(), link->m_nFramesReady != 0; }));
    EXPECT_EQ(Bytes(link->m_frameBuffer, link->m_frameBuffer + 9), kAnswer);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Tally(), (std::vector<int>{1, 1, 2, 0}));
    EXPECT_EQ(counts.receiveThreads.load(), 1);
    close(peer);
}

TEST_F(TcpLinkTest, VanishedPeerIsNoticedByAFailedSendAndTheNextFrameReconnects) {
    Listen();
    Send(kRequest);
    int peer = Accept(listener);
    EXPECT_EQ(Read(peer, 8), kRequest);
    const linger reset = {1, 0};  // closes with a reset, as a crashed peer would
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(peer);
    // The receive worker ends without a word; the link still counts itself connected.
    ASSERT_TRUE(WaitFor([&] { return counts.receiveEnds == 1; }));
    ASSERT_TRUE(WaitIdle());

    EXPECT_TRUE(ThreeFailedSends(SendAndPrint(kAnswer)));
    EXPECT_EQ(Tally(), (std::vector<int>{1, 1, 4, 1}));  // on the old socket, then closed

    Send(kRequest);
    peer = Accept(listener);
    EXPECT_EQ(Read(peer, 8), kRequest);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Tally(), (std::vector<int>{2, 2, 5, 1}));
    EXPECT_TRUE(WaitFor([&] { return counts.receiveThreads == 2; }));
    EXPECT_TRUE(boxes.empty());
    close(peer);
}

// A cycle that fails goes on to the next: no server (and neither failed
// socket stays open), a system out of sockets (the second time with a code the
// system has no text for) and a name the resolver does not know show a box each.
TEST_F(TcpLinkTest, NoServerMeansTwoSocketsFourConnectsAndThreeReportedSends) {
    const std::string printed = SendAndPrint(kRequest);
    EXPECT_TRUE(ThreeFailedSends(printed)) << printed;
    EXPECT_EQ(Tally(), (std::vector<int>{2, 4, 3, 2}));
    EXPECT_EQ(link->m_bConnected.load(), 0);

    static std::atomic<int> made{0};
    static const SocketApi noSockets = [] {
        SocketApi api = kCounting;
        api.socket = [](int, int, int) { return errno = made++ ? 0 : EMFILE, -1; };
        return api;
    }();
    link->SetSockets(noSockets);
    EXPECT_TRUE(ThreeFailedSends(SendAndPrint(kRequest)));
    EXPECT_EQ(boxes, (std::vector<std::string>{std::string("socket(): ") + std::strerror(EMFILE),
                                               "socket(): Socket error 0"}));
    EXPECT_EQ(counts.connects.load(), 8);

    const auto start = std::chrono::steady_clock::now();
    addrinfo *found = nullptr;
    const int result = getaddrinfo("nohost.invalid", nullptr, nullptr, &found);
    freeaddrinfo(found);
    if (result == 0 || std::chrono::steady_clock::now() - start > 2s)
        GTEST_SKIP() << "the system resolver is slow or answers for .invalid";
    boxes.clear();
    Listen("nohost.invalid");
    SendAndPrint(kRequest);
    ASSERT_EQ(boxes.size(), 2u);
    for (const std::string &box : boxes) EXPECT_EQ(box.rfind("gethostbyname error: ", 0), 0u);
}

// 10 MB of answers as fast as the peer can send them: the link gathers inside
// its buffer, and memory measured once the first megabyte is in (the workers,
// their stacks and the buffers all in use) grows no further.
TEST_F(TcpLinkTest, FloodStaysInsideTheBufferAndKeepsMemoryFlat) {
    constexpr long long kFirst = 1 << 20, kFlood = 10 << 20;
    Listen();
    std::atomic<bool> measured{false};
    std::thread peer([&] {
        const int fd = Accept(listener);
        Bytes block;
        while (block.size() + 9 <= 65536) block.insert(block.end(), kAnswer.begin(), kAnswer.end());
        for (long long sent = 0, n = 0; sent < kFlood && n >= 0; sent += n) {
            if (sent == kFirst) WaitFor([&] { return measured.load(); }, 60s);
            const long long end = sent < kFirst ? kFirst : kFlood;
            n = write(fd, block.data(), std::min<size_t>(block.size(), end - sent));
        }
        close(fd);
    });
    link->Open(LINK_TCP, nullptr);
    long before = -1;
    const bool ended = WaitFor(
        [&] {
            link->Tick();
            if (before < 0 && counts.received >= kFirst) before = StatmKiB(1);
            measured = before >= 0;
            return counts.receiveEnds > 0;
        },
        60s);
    const long after = StatmKiB(1);
    measured = true;
    peer.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(counts.received.load(), kFlood);
    EXPECT_LE(link->m_nRxCount, CDeviceLink::kBufferSize);
    EXPECT_LT(after - before, 2048) << before << " KiB after 1 MB, " << after << " after 10";
}

TEST_F(TcpLinkTest, ManyLinksWithLiveConnectionsLeaveNoSocketOrThreadBehind) {
    Listen();
    int accepted = 0;
    const auto drain = [&] {
        for (int fd; Readable(listener, 0) && (fd = Accept(listener)) >= 0; ++accepted) close(fd);
    };
    // Every other link ends while its connect may be under way, the others
    // with a connection and a frame in flight.
    const auto cycle = [&](int i) {
        auto made = MakeLink("127.0.0.1", port);
        made->Open(LINK_TCP, nullptr);
        if (i % 2 == 0 && WaitIdle(made.get())) made->Send(kRequest.data(), 8);
    };
    cycle(0), drain();  // the sanitizers start helper threads of their own at first use
    const long fds = Entries("/proc/self/fd"), tasks = Entries("/proc/self/task");
    for (int i = 0; i < 1000; ++i) cycle(i), drain();
    std::this_thread::sleep_for(100ms);
    drain();
    EXPECT_GT(accepted, 500);
    EXPECT_EQ(Entries("/proc/self/fd"), fds);
    EXPECT_TRUE(WaitFor([&] { return Entries("/proc/self/task") == tasks; }));
    EXPECT_TRUE(boxes.empty());
}

// A receive worker delivers while the UI thread ticks: every frame must come
// out whole (and TSan watches the sharing).
TEST_F(TcpLinkTest, TcpArrivalOnAnotherThreadInterleavesSafelyWithTick) {
    std::atomic<int> taken{0};
    std::thread worker([&] {
        for (int i = 0; i < 200 && WaitFor([&] { return taken == i; }); ++i) {
            Bytes frame = kRequest;
            frame[5] = static_cast<uint8_t>(i);
            link->TcpArrival(frame.data(), 8);
        }
    });
    while (taken < 200 && WaitFor([&] { return link->Tick(), link->m_nFramesReady != 0; })) {
        link->m_nFramesReady = 0;
        EXPECT_EQ(link->m_frameBuffer[5], taken++);
    }
    worker.join();
    EXPECT_EQ(taken, 200);
}

// A peer that accepts nothing and reads nothing: once the buffers are full the
// send worker blocks in send, and the link's end must still come promptly.
TEST_F(TcpLinkTest, DestructionEndsASendThatThePeerNeverReads) {
    Listen();
    static const Bytes big(65535, 0x55);
    bool blocked = false;
    for (int i = 0; i < 2000 && !blocked; ++i) {
        Send(big);
        blocked = !WaitFor([&] { return !link->m_bSending.load(); }, 200ms);
    }
    ASSERT_TRUE(blocked);
    const auto start = std::chrono::steady_clock::now();
    link.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

// A worker that cannot start must not leave m_bSending set, or every later
// frame would be dropped. Threads are made to fail by an address-space limit
// in a child process (the sanitizers need more address space than any limit
// that would stop a thread). A process that has already joined threads keeps
// their stacks for reuse and starts threads regardless; ctest runs every test
// in a process of its own, where the limit bites.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST_F(TcpLinkTest, WorkerThatCannotStartDoesNotBlockLaterFrames) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        rlimit saved{};
        getrlimit(RLIMIT_AS, &saved);
        const rlimit tight = {static_cast<rlim_t>(StatmKiB(0) + 1024) * 1024, saved.rlim_max};
        setrlimit(RLIMIT_AS, &tight);
        link->Open(LINK_TCP, nullptr);
        std::this_thread::sleep_for(200ms);  // a worker that started makes its socket at once
        const int code = counts.sockets ? 2 : link->m_bSending ? 3 : 0;
        if (setrlimit(RLIMIT_AS, &saved), code) _exit(code);
        link->Open(LINK_TCP, nullptr);
        _exit(WaitIdle() && counts.sockets == 2 ? 0 : 1);
    }
    int status = 0;
    ASSERT_TRUE(waitpid(child, &status, 0) == child && WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "the limit did not stop the thread";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif
