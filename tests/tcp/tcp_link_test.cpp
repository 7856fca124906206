// The link's TCP transport against real loopback servers: how many sockets,
// connects and sends a frame costs, what a missing or vanished peer does, the
// resolver's boxes, a flood, and that no link leaves a thread or socket behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "counting_sockets.h"
#include "device_link.h"
#include "fake_portlink.h"
#include "loopback_server.h"

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const Bytes kRequest = {0x02, 0x00, 0x08, 0x2B, 0x00, 0xAA, 0x8B, 0x03};
const Bytes kOther = {0x02, 0x00, 0x08, 0x2C, 0x00, 0x11, 0x22, 0x03};
const Bytes kAnswer = {0x02, 0x00, 0x09, 0x2B, 0x01, 0x05, 0x06, 0x07, 0x03};

template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Message boxes, as the holder's view would get them from a worker.
struct Boxes : ILinkMessages {
    struct Box {
        std::string caption, text;
    };
    void ShowWarning(const std::string &text) override { ShowError("", text); }
    void ShowError(const std::string &caption, const std::string &text) override {
        std::lock_guard lock(m_lock);
        m_boxes.push_back({caption, text});
    }
    std::vector<Box> Shown() const {
        std::lock_guard lock(m_lock);
        return m_boxes;
    }

private:
    mutable std::mutex m_lock;
    std::vector<Box> m_boxes;
};

// Standard output (where failed sends are reported) into a file for a while.
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        m_file = std::tmpfile();
        dup2(fileno(m_file), STDOUT_FILENO);
    }
    ~StdoutCapture() { Finish(); }
    std::string Finish() {
        if (m_saved < 0) return m_text;
        std::fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
        m_saved = -1;
        std::rewind(m_file);
        char chunk[512];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, m_file)) > 0;)
            m_text.append(chunk, n);
        std::fclose(m_file);
        return m_text;
    }

private:
    int m_saved = -1;
    FILE *m_file = nullptr;
    std::string m_text;
};

int Occurrences(const std::string &text, const std::string &what) {
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

int EntriesIn(const char *folder) {
    DIR *dir = opendir(folder);
    int count = 0;
    while (dirent *entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// Answers every read with kAnswer.
void Answer(int fd, const uint8_t *, size_t) {
    if (write(fd, kAnswer.data(), kAnswer.size()) < 0) std::perror("answer");
}

}  // namespace

class TcpLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fake() = {};
        ResetCounts();
        link = MakeLink();
    }
    void TearDown() override {
        link.reset();
        ResetCounts();
    }
    std::unique_ptr<CDeviceLink> MakeLink() {
        auto made = std::make_unique<CDeviceLink>(FakePortlinkApi(), &boxes);
        made->SetSockets(CountingSockets());
        return made;
    }
    // As a holder would before Open(LINK_TCP); the transport is set directly
    // where a test wants to see what one Send does on its own.
    static void Configure(CDeviceLink &target, const char *host, uint16_t port) {
        std::strncpy(target.m_szHost, host, sizeof target.m_szHost);
        target.m_nTcpPort = port;
        target.m_nTransport = LINK_TCP;
    }
    void Configure(const char *host, uint16_t port) { Configure(*link, host, port); }
    void Send(const Bytes &frame) { link->Send(frame.data(), static_cast<int32_t>(frame.size())); }
    static bool WaitIdle(CDeviceLink &target) {
        return WaitFor([&] { return target.m_bSending.load() == 0; });
    }
    bool WaitIdle() { return WaitIdle(*link); }
    // Ticks like the dialog's timer until a frame completes.
    bool WaitForFrame() {
        return WaitFor([&] {
            link->Tick();
            return link->m_nFramesReady != 0;
        });
    }
    Bytes Frame() const {
        return Bytes(link->m_frameBuffer, link->m_frameBuffer + link->m_nFrameLength);
    }

    Boxes boxes;
    std::unique_ptr<CDeviceLink> link;
};

TEST_F(TcpLinkTest, ListeningServerGetsOneConnectionAndEveryFrameOnIt) {
    LoopbackServer server(Answer);
    Configure("127.0.0.1", server.Port());
    link->Open(LINK_TCP, nullptr);
    ASSERT_TRUE(WaitIdle());
    // The open connects in the background and sends nothing.
    EXPECT_EQ(link->m_bConnected.load(), 1);
    EXPECT_EQ(Counts().sockets.load(), 1);
    EXPECT_EQ(Counts().connects.load(), 1);
    EXPECT_EQ(Counts().sends.load(), 0);
    ASSERT_TRUE(WaitFor([] { return Counts().receiveThreads.load() == 1; }));

    Send(kRequest);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitForFrame());
    EXPECT_EQ(Frame(), kAnswer);

    Send(kOther);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitFor([&] { return server.Received().size() == 16; }));
    Bytes both = kRequest;
    both.insert(both.end(), kOther.begin(), kOther.end());
    EXPECT_EQ(server.Received(), both);
    EXPECT_EQ(server.Accepts(), 1);
    EXPECT_EQ(Counts().sockets.load(), 1);
    EXPECT_EQ(Counts().connects.load(), 1);
    EXPECT_EQ(Counts().sends.load(), 2);
    EXPECT_EQ(Counts().receiveThreads.load(), 1);
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(TcpLinkTest, NoServerMeansTwoSocketsFourConnectsAndThreeReportedSends) {
    Configure("127.0.0.1", UnusedPort());
    StdoutCapture out;
    const auto start = std::chrono::steady_clock::now();
    Send(kRequest);
    ASSERT_TRUE(WaitIdle());
    const auto took = std::chrono::steady_clock::now() - start;
    const std::string printed = out.Finish();

    EXPECT_EQ(Counts().sockets.load(), 2);
    EXPECT_EQ(Counts().connects.load(), 4);
    EXPECT_EQ(Counts().sends.load(), 3);
    EXPECT_EQ(Occurrences(printed, "[send()] "), 3) << printed;
    EXPECT_EQ(Occurrences(printed, "\n"), 3) << printed;
    EXPECT_GE(took, 40ms);  // a 10 ms pause after each failed connect
    EXPECT_EQ(link->m_bConnected.load(), 0);
    // Neither failed socket stays open.
    EXPECT_EQ(Counts().closes.load(), 2);
    EXPECT_EQ(link->m_socket, -1);
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(TcpLinkTest, FrameHandedOverWhileAWorkerRunsIsDropped) {
    LoopbackServer server;
    Configure("127.0.0.1", server.Port());
    std::atomic<bool> inSend{false}, release{false};
    Counts().beforeFirstSend = [&] {
        inSend.store(true);
        while (!release.load()) std::this_thread::sleep_for(1ms);
    };
    Send(kRequest);
    ASSERT_TRUE(WaitFor([&] { return inSend.load(); }));
    Send(kOther);
    EXPECT_EQ(link->m_bSending.load(), 1);
    release.store(true);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitFor([&] { return server.Received().size() >= 8; }));
    EXPECT_EQ(server.Received(), kRequest);
    EXPECT_EQ(Counts().sends.load(), 1);

    // Once the worker is done, frames go out again.
    Send(kOther);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitFor([&] { return server.Received().size() >= 16; }));
    const Bytes received = server.Received();
    EXPECT_EQ(Bytes(received.begin() + 8, received.end()), kOther);
}

TEST_F(TcpLinkTest, VanishedPeerIsNoticedByAFailedSendAndTheNextFrameReconnects) {
    LoopbackServer server;
    Configure("127.0.0.1", server.Port());
    Send(kRequest);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitFor([&] { return server.Received().size() == 8; }));
    ASSERT_TRUE(WaitFor([] { return Counts().receiveThreads.load() == 1; }));

    server.ResetClients();
    // The receive worker ends without a word and the link still counts itself
    // connected.
    ASSERT_TRUE(WaitFor([] { return Counts().receiveEnds.load() == 1; }));
    EXPECT_EQ(link->m_bConnected.load(), 1);

    StdoutCapture out;
    Send(kOther);
    ASSERT_TRUE(WaitIdle());
    const std::string printed = out.Finish();
    EXPECT_EQ(Counts().sockets.load(), 1);
    EXPECT_EQ(Counts().connects.load(), 1);
    EXPECT_EQ(Counts().sends.load(), 1 + 3);
    EXPECT_EQ(Occurrences(printed, "[send()] "), 3) << printed;
    EXPECT_EQ(link->m_bConnected.load(), 0);
    EXPECT_EQ(Counts().closes.load(), 1);  // the broken socket

    Send(kRequest);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitFor([&] { return server.Received().size() == 16; }));
    EXPECT_EQ(server.Accepts(), 2);
    EXPECT_EQ(Counts().sockets.load(), 2);
    EXPECT_EQ(Counts().connects.load(), 2);
    EXPECT_EQ(link->m_bConnected.load(), 1);
    EXPECT_TRUE(WaitFor([] { return Counts().receiveThreads.load() == 2; }));
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(TcpLinkTest, AlreadyConnectedCountsAsConnected) {
    LoopbackServer server;
    Configure("127.0.0.1", server.Port());
    Counts().connectAnswersIsConn.store(true);
    Send(kRequest);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Counts().connects.load(), 1);
    EXPECT_EQ(link->m_bConnected.load(), 1);
    ASSERT_TRUE(WaitFor([&] { return server.Received().size() == 8; }));
    EXPECT_TRUE(WaitFor([] { return Counts().receiveThreads.load() == 1; }));
}

TEST_F(TcpLinkTest, HostNamesGoThroughTheResolverWithOneBoxPerFailedCycle) {
    // The test needs a resolver that answers at once for a reserved name.
    const auto start = std::chrono::steady_clock::now();
    addrinfo *found = nullptr;
    const int result = getaddrinfo("nohost.invalid", nullptr, nullptr, &found);
    if (found) freeaddrinfo(found);
    if (result == 0 || std::chrono::steady_clock::now() - start > 2s)
        GTEST_SKIP() << "the system resolver is slow or answers for .invalid";

    LoopbackServer server;
    Configure("nohost.invalid", server.Port());
    StdoutCapture out;
    Send(kRequest);
    ASSERT_TRUE(WaitIdle());
    out.Finish();
    const auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 2u);
    for (const auto &box : shown) {
        EXPECT_EQ(box.caption, "gethostbyname error");
        EXPECT_FALSE(box.text.empty());
    }
    EXPECT_EQ(Counts().connects.load(), 4);

    // The all-ones dotted text is looked up by name too: no box, and the
    // connects to the broadcast address fail.
    Configure("255.255.255.255", server.Port());
    StdoutCapture out2;
    Send(kRequest);
    ASSERT_TRUE(WaitIdle());
    out2.Finish();
    EXPECT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(Counts().connects.load(), 8);

    Configure("localhost", server.Port());
    Send(kRequest);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(WaitFor([&] { return server.Received() == kRequest; }));
    EXPECT_EQ(server.Accepts(), 1);
    EXPECT_EQ(boxes.Shown().size(), 2u);
}

// A system out of sockets: the cycle still runs (its connects fail on no
// socket) and the box says why, with a text of our own when the system has
// none for the code.
TEST_F(TcpLinkTest, SocketThatCannotBeMadeIsShownAndTheCycleGoesOn) {
    static std::atomic<int> calls{0};
    calls.store(0);
    static const SocketApi noSockets = [] {
        SocketApi api = CountingSockets();
        api.socket = [](int, int, int) {
            errno = calls.fetch_add(1) == 0 ? EMFILE : 0;
            return -1;
        };
        return api;
    }();
    link->SetSockets(noSockets);
    Configure("127.0.0.1", UnusedPort());
    StdoutCapture out;
    Send(kRequest);
    ASSERT_TRUE(WaitIdle());
    const std::string printed = out.Finish();
    const auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].caption, "socket()");
    EXPECT_EQ(shown[0].text, std::strerror(EMFILE));
    EXPECT_EQ(shown[1].caption, "socket()");
    EXPECT_EQ(shown[1].text, "Socket error 0");
    EXPECT_EQ(Counts().connects.load(), 4);
    EXPECT_EQ(Occurrences(printed, "[send()] "), 3) << printed;
    EXPECT_EQ(link->m_bConnected.load(), 0);
}

// 10 MB of answers as fast as the peer can send them: the link gathers inside
// its buffer, completes frames, and allocates nothing on the way.
TEST_F(TcpLinkTest, FloodStaysInsideTheBufferAndKeepsMemoryFlat) {
    constexpr size_t kFlood = 10u << 20;
    // Set once the link has seen the whole flood and more than its idle gap
    // of ticks has passed; the server's last answer waits for it.
    std::atomic<bool> quiet{false}, measured{false};
    constexpr size_t kFirst = 1u << 20;
    LoopbackServer server({}, [&](int fd) {
        Bytes block;
        while (block.size() + kAnswer.size() <= 65536)
            block.insert(block.end(), kAnswer.begin(), kAnswer.end());
        size_t sent = 0;
        while (sent < kFlood) {
            // The rest of the flood waits until the memory has been measured.
            if (sent == kFirst) WaitFor([&] { return measured.load(); }, 60s);
            const size_t part = std::min({block.size(), kFlood - sent, kFirst - sent % kFirst});
            const ssize_t n = write(fd, block.data(), part);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        // After a gap, one clean answer: it must still come through whole.
        WaitFor([&] { return quiet.load(); }, 60s);
        if (write(fd, kAnswer.data(), kAnswer.size()) < 0) std::perror("answer");
        return false;
    });
    Configure("127.0.0.1", server.Port());
    link->Open(LINK_TCP, nullptr);
    // Measured once the first megabyte is in: the workers, their stacks and
    // the buffers are all in use by then, and the other nine must add nothing.
    long before = -1;
    int bad = 0, ticksAfterFlood = 0;
    const bool ended = WaitFor(
        [&] {
            link->Tick();
            if (before < 0 && Counts().bytesReceived.load() >= static_cast<long long>(kFirst)) {
                before = ResidentKiB();
                measured.store(true);
            }
            if (Counts().bytesReceived.load() >= static_cast<long long>(kFlood) &&
                ++ticksAfterFlood > CDeviceLink::kIdleGap)
                quiet.store(true);
            if (link->m_nFramesReady) {
                link->m_nFramesReady = 0;
                // Misaligned restarts may complete garbage (the holder rejects
                // it), but only ever of the one length the stream declares.
                if (link->m_nFrameLength != static_cast<int32_t>(kAnswer.size())) ++bad;
            }
            return Counts().receiveEnds.load() > 0;
        },
        60s);
    const long after = ResidentKiB();
    quiet.store(true);
    measured.store(true);
    ASSERT_TRUE(ended);
    link->Tick();
    EXPECT_EQ(Frame(), kAnswer);
    EXPECT_EQ(Counts().bytesReceived.load(), static_cast<long long>(kFlood + kAnswer.size()));
    EXPECT_EQ(bad, 0);
    EXPECT_GE(link->m_nRxCount, 0);
    EXPECT_LE(link->m_nRxCount, CDeviceLink::kBufferSize);
    EXPECT_LT(after - before, 2048) << before << " KiB after 1 MB, " << after << " KiB after 10";
}

TEST_F(TcpLinkTest, ManyLinksWithLiveConnectionsLeaveNoSocketOrThreadBehind) {
    constexpr int kLinks = 1000;
    LoopbackServer server;
    const auto cycle = [&](int i) {
        auto made = MakeLink();
        Configure(*made, "127.0.0.1", server.Port());
        made->Open(LINK_TCP, nullptr);
        // Every other link is destroyed while its connect may be under way;
        // the others with a connection and a frame in flight.
        if (i % 2 == 0) {
            ASSERT_TRUE(WaitIdle(*made));
            made->Send(kRequest.data(), 8);
        }
    };
    cycle(0);  // the sanitizers start helper threads of their own at first use
    ASSERT_TRUE(WaitFor([&] { return server.OpenClients() == 0; }));
    const int fds = EntriesIn("/proc/self/fd");
    const int tasks = EntriesIn("/proc/self/task");

    for (int i = 0; i < kLinks; ++i) cycle(i);

    // Every connection the server saw has been closed by its link.
    EXPECT_TRUE(WaitFor([&] { return server.OpenClients() == 0; }));
    EXPECT_GT(server.Accepts(), kLinks / 2);
    EXPECT_EQ(EntriesIn("/proc/self/fd"), fds);
    EXPECT_TRUE(WaitFor([&] { return EntriesIn("/proc/self/task") == tasks; }))
        << EntriesIn("/proc/self/task") << " threads, " << tasks << " before";
    EXPECT_TRUE(boxes.Shown().empty());
}

// A peer that accepts nothing and reads nothing: once the buffers are full the
// send worker blocks in send, and the link's end must still come promptly.
TEST_F(TcpLinkTest, DestructionEndsASendThatThePeerNeverReads) {
    uint16_t port = 0;
    const int listener = ListenOnLoopback(&port);
    Configure("127.0.0.1", port);
    static const Bytes big(65535, 0x55);
    bool blocked = false;
    for (int i = 0; i < 2000 && !blocked; ++i) {
        link->Send(big.data(), static_cast<int32_t>(big.size()));
        blocked = !WaitFor([&] { return link->m_bSending.load() == 0; }, 200ms);
    }
    ASSERT_TRUE(blocked);
    const auto start = std::chrono::steady_clock::now();
    link.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    close(listener);
}

// A worker that cannot start must not leave m_bSending set, or every later
// frame would be dropped. Threads are made to fail by an address-space limit
// in a child process (the sanitizers need more address space than any limit
// that would stop a thread). A process that has already joined threads keeps
// their stacks for reuse and starts threads regardless; ctest runs every test
// in a process of its own, where the limit bites.
TEST_F(TcpLinkTest, WorkerThatCannotStartDoesNotBlockLaterFrames) {
    if (kSanitized) GTEST_SKIP() << "address-space limits do not mix with sanitizers";
    Configure("127.0.0.1", UnusedPort());
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        std::ifstream status("/proc/self/status");
        long sizeKiB = 0;
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmSize:", 0) == 0) sizeKiB = std::stol(line.substr(7));
        rlimit saved{};
        getrlimit(RLIMIT_AS, &saved);
        rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(sizeKiB + 1024) * 1024;
        setrlimit(RLIMIT_AS, &tight);
        link->Open(LINK_TCP, nullptr);
        // A worker that did start makes its sockets at once.
        std::this_thread::sleep_for(200ms);
        const bool started = Counts().sockets.load() > 0;
        const bool stuck = link->m_bSending.load() != 0;
        setrlimit(RLIMIT_AS, &saved);
        if (started) _exit(2);
        if (stuck) _exit(3);
        link->Open(LINK_TCP, nullptr);
        const bool ran = WaitIdle() && Counts().sockets.load() == 2;
        _exit(ran ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "the limit did not stop the thread";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
