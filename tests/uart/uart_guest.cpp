// portlink on real serial drivers: runs inside the guest, where COM2 is
// /dev/ttyS1, the kernel's 8250 driver on QEMU's 16550A (the Uart cases), and
// COM11 is /dev/ttyUSB0, ftdi_sio on QEMU's FTDI adapter (the UsbAdapter
// case, in the usb part's guest). What the library sets is read back from
// the driver through a second descriptor (root may open a tty that is held
// exclusively). The far end is loopsim on the host, which also sends breaks,
// restarts loopsim and pulls the adapter out when asked on the console.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "frames.h"
#include "portlink.h"

namespace {

constexpr int32_t kCom = 2;
constexpr char kDevice[] = "/dev/ttyS1";
// The UART's loopback bit of the modem lines; its header clashes with glibc's.
constexpr int TIOCM_LOOP = 0x8000;

// One request to the host, one line of answer, both on the console.
void Ask(const std::string &what) {
    printf("@@host %s\n", what.c_str());
    fflush(stdout);
}
std::string HostAnswer() {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    char line[256] = "";
    if (poll(&p, 1, 60000) != 1 || !fgets(line, sizeof line, stdin)) return "no answer";
    line[strcspn(line, "\r\n")] = 0;
    return line;
}
std::string AskHost(const std::string &what) {
    Ask(what);
    return HostAnswer();
}

// The driver's view of the line, through a descriptor of our own.
class Side {
public:
    Side() : m_fd(open(kDevice, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~Side() { close(m_fd); }
    termios2 Line() const {
        termios2 t{};
        EXPECT_EQ(ioctl(m_fd, TCGETS2, &t), 0) << strerror(errno);
        return t;
    }
    int Modem() const {
        int bits = 0;
        EXPECT_EQ(ioctl(m_fd, TIOCMGET, &bits), 0) << strerror(errno);
        return bits;
    }
    void Raise(int bits, bool on = true) const {
        ASSERT_EQ(ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits), 0) << strerror(errno);
    }

private:
    int m_fd;
};

class Uart : public testing::Test {
protected:
    explicit Uart(int32_t com = kCom) : m_com(com) {}
    static void Post(void *context, uint32_t message, uint32_t wparam, int32_t lparam) {
        auto *self = static_cast<Uart *>(context);
        std::lock_guard lock(self->m_lock);
        if (message == PORTLINK_WM_PORT_NOTIFY && lparam == self->m_com)
            self->m_log.push_back(wparam);
        self->m_changed.notify_all();
    }

    void SetUp() override {
        ASSERT_EQ(initcom(&m_window), 1);
        ASSERT_EQ(opencom(m_com), 0);
        ASSERT_EQ(setcom(m_com, 3, 115200), 0);
    }
    void TearDown() override {
        closecom(m_com);
        Side().Raise(TIOCM_LOOP, false);
    }

    // Waits for a notification with all of bits (event bits | flags << 16).
    bool WaitPosted(uint32_t bits, int ms = 10000) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            for (uint32_t w : m_log)
                if ((w & bits) == bits) return true;
            return false;
        });
    }
    // Reads on each notification until count bytes are in, a read fails
    // (counted in m_failedReads), or ms pass.
    std::vector<uint8_t> ReadUntil(size_t count, int ms = 10000) {
        std::vector<uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < count) {
            {
                std::unique_lock lock(m_lock);
                if (!m_changed.wait_until(lock, end, [&] { return m_log.size() > m_read; })) break;
                m_read = m_log.size();
            }
            for (;;) {
                uint8_t buffer[64];
                int32_t n = sizeof buffer;
                if (readcom(m_com, buffer, &n) != 0) {
                    ++m_failedReads;
                    return got;
                }
                if (n == 0) break;
                got.insert(got.end(), buffer, buffer + n);
            }
        }
        return got;
    }

    const int32_t m_com;
    PortlinkWindow m_window{&Post, this};
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<uint32_t> m_log;  // every message; those before m_read are read on
    size_t m_read = 0;
    int m_failedReads = 0;
};

// The dialog's rule for an answer it takes: STX, the length it states, ETX
// there, and the checksum before it.
bool GoodFrame(const std::vector<uint8_t> &f) {
    if (f.size() < kMinFrameSize || f[0] != STX) return false;
    const size_t n = ReadBe16(f.data(), kOffsetLength);
    return n >= kMinFrameSize && n <= f.size() && f[n - 1] == ETX &&
           f[n - 2] == XorChecksum(f.data(), n - 2);
}

TEST_F(Uart, RatesReadBackFromTheDriverOrAreRefused) {
    // The 16550's clock gives 115200 at most; the driver takes any slower
    // rate, standard or not, and runs the nearest divisor of its clock.
    Side side;
    for (const int32_t rate : {50, 110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200,
                               12345, 31250, 230400, 460800, 921600, 3000000, 0}) {
        SCOPED_TRACE(rate);
        const bool done = rate > 0 && rate <= 115200;
        ASSERT_EQ(setcom(kCom, 0x1F, 9600), 0);  // 8E2, so that "as it was" shows
        EXPECT_EQ(setcom(kCom, 3, rate), done ? 0 : 1);
        // A refused rate leaves the line as it was, its framing too.
        const uint32_t expected = done ? static_cast<uint32_t>(rate) : 9600u;
        const termios2 t = side.Line();
        EXPECT_EQ(t.c_ospeed, expected);
        EXPECT_EQ(t.c_ispeed, expected);
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), done ? CS8 : CS8 | PARENB | CSTOPB);
    }
}

TEST_F(Uart, LineControlWordsReadBackFromTheDriver) {
    const struct {
        int32_t word;
        tcflag_t cflag;  // of CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
    } cases[] = {
        {0x03, CS8},
        {0x02, CS7},
        {0x01, CS6},
        {0x07, CS8 | CSTOPB},
        {0x0B, CS8 | PARENB | PARODD},
        {0x1F, CS8 | PARENB | CSTOPB},
        {0x2A, CS7 | PARENB | PARODD | CMSPAR},
        {0x3B, CS8 | PARENB | CMSPAR},
    };
    Side side;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.word);
        ASSERT_EQ(setcom(kCom, c.word, 9600), 0);
        EXPECT_EQ(side.Line().c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.cflag);
        // Changing the flow control reads the line back and writes it again:
        // what it read must be what was set.
        for (const int32_t flow : {1, 0}) {
            ASSERT_EQ(flowcom(kCom, flow), 1);
            EXPECT_EQ(side.Line().c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.cflag)
                << "after flowcom " << flow;
        }
    }
}

TEST_F(Uart, ModemLinesFollowTheFlowControlKind) {
    Side side;
    const struct {
        int32_t (*call)(int32_t, int32_t);
        int32_t mode;
        bool loop;
        int lines;  // of DTR | RTS | CTS | DSR
    } steps[] = {
        {setmdm, 1, false, TIOCM_DTR | TIOCM_RTS},
        {setmdm, 0, false, 0},
        {setmdm, 3, false, TIOCM_DTR | TIOCM_RTS},
        {flowcom, 0, false, 0},
        {setmdm, 2, false, TIOCM_DTR | TIOCM_RTS},
        {flowcom, 1, false, 0},
        // In loopback the UART's own outputs drive its inputs: the handshake
        // the other end would see.
        {setmdm, 1, true, TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR},
        {flowcom, 0, true, 0},
    };
    const int watched = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR;
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        if (steps[i].loop) side.Raise(TIOCM_LOOP);
        EXPECT_EQ(steps[i].call(kCom, steps[i].mode), 1);
        // Out of loopback QEMU holds CTS and DSR up whatever we do.
        const int got =
            side.Modem() & (steps[i].loop ? watched | TIOCM_LOOP : TIOCM_DTR | TIOCM_RTS);
        EXPECT_EQ(got, steps[i].lines | (steps[i].loop ? TIOCM_LOOP : 0));
    }
    // With hardware flow control in loopback, what is written comes back.
    // QEMU's loopback raises no modem-status interrupt, so the driver would
    // take CTS for down for good if the handshake began with RTS still down.
    side.Raise(TIOCM_RTS);
    ASSERT_EQ(setmdm(kCom, 1), 1);
    const std::vector<uint8_t> sent = {0x02, 0xFF, 0x00, 0x13, 0x11, 0x03};
    ASSERT_EQ(writecom(kCom, sent.data(), static_cast<int32_t>(sent.size())), 0);
    EXPECT_EQ(ReadUntil(sent.size()), sent);
    side.Raise(TIOCM_LOOP, false);
}

TEST_F(Uart, CloseDoesNotWaitForOutputThatFlowControlHolds) {
    {
        Side side;  // closed before the port, whose close is then the last
        side.Raise(TIOCM_LOOP);
    }
    // Our own XOFF comes back through the loop and stops our output.
    ASSERT_EQ(flowcom(kCom, 1), 1);
    const uint8_t xoff = 0x13;
    ASSERT_EQ(writecom(kCom, &xoff, 1), 0);
    usleep(300000);  // the driver takes it in, and reads nothing: no notification
    const std::vector<uint8_t> held(2000, 'x');
    ASSERT_EQ(writecom(kCom, held.data(), static_cast<int32_t>(held.size())), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(closecom(kCom), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(Uart, BreakIsPostedAndThePortGoesOn) {
    ASSERT_EQ(AskHost("break"), "ok");
    ASSERT_TRUE(WaitPosted(PORTLINK_EV_BREAK | PORTLINK_CE_BREAK << 16));
    EXPECT_EQ(ReadUntil(1, 1000), std::vector<uint8_t>{0}) << "a break reads as one NUL";
    const ReadFrame &request = BuildAdcReadFrame();
    ASSERT_EQ(writecom(kCom, request.data(), static_cast<int32_t>(request.size())), 0);
    const std::vector<uint8_t> answer = ReadUntil(kAdcResponseSize);
    EXPECT_TRUE(GoodFrame(answer));
    EXPECT_EQ(answer.size(), kAdcResponseSize);
}

TEST_F(Uart, BreakInsideAnAnswerSpoilsIt) {
    // The answer in two halves, two seconds apart: the break comes between.
    ASSERT_EQ(AskHost("sim --split 8 --pause 2000"), "ok");
    const ReadFrame &request = BuildAdcReadFrame();
    ASSERT_EQ(writecom(kCom, request.data(), static_cast<int32_t>(request.size())), 0);
    std::vector<uint8_t> got = ReadUntil(8);
    ASSERT_EQ(got.size(), 8u);
    ASSERT_EQ(AskHost("break"), "ok");
    EXPECT_TRUE(WaitPosted(PORTLINK_EV_BREAK));
    const std::vector<uint8_t> rest = ReadUntil(kAdcResponseSize + 1 - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
    ASSERT_EQ(got.size(), kAdcResponseSize + 1);
    ASSERT_EQ(got[8], 0) << "the break came after the answer: the host was too slow";
    EXPECT_FALSE(GoodFrame(got));
    EXPECT_EQ(AskHost("sim"), "ok");
}

// COM11, QEMU's FTDI adapter under ftdi_sio, sampled the way the live view
// does: a request, then a read on every message.
class UsbAdapter : public Uart {
protected:
    UsbAdapter() : Uart(11) {}
    void TearDown() override { closecom(m_com); }
    bool Sample() {
        const ReadFrame &request = BuildAdcReadFrame();
        return writecom(m_com, request.data(), static_cast<int32_t>(request.size())) == 0 &&
               GoodFrame(ReadUntil(kAdcResponseSize, 2000));
    }
};

// Pulled out while in use: the listener's last message tells it at once
// (EV_ERR without line flags), the port answers 999, posts nothing more and
// keeps nothing busy; closed, it opens again once the adapter is back. The
// host holds loopsim still just before the pull, so no answer is on its way
// then: the lost line's message is the only one whose read fails.
TEST_F(UsbAdapter, PulledOutWhileSampledThenPluggedBackIn) {
    using namespace std::chrono;
    ASSERT_TRUE(Sample());
    Ask("unplug");
    const auto asked = steady_clock::now();
    while (Sample() && steady_clock::now() - asked < 10s) usleep(100000);
    std::unique_lock lock(m_lock);
    EXPECT_TRUE(m_changed.wait_for(lock, 3s, [&] { return m_log.back() == PORTLINK_EV_ERR; }))
        << "the last message: the line lost, no line error";
    EXPECT_LT(steady_clock::now() - asked, 3s);
    const size_t posted = m_log.size();
    lock.unlock();
    ASSERT_EQ(HostAnswer(), "ok");
    const std::clock_t cpu = std::clock();  // of the whole process
    for (const auto end = steady_clock::now() + 2s; steady_clock::now() < end;)
        ReadUntil(SIZE_MAX, 100);  // on every message, were there any
    EXPECT_LT((std::clock() - cpu) * 1000.0 / CLOCKS_PER_SEC, 100.0) << "nothing spins";
    EXPECT_EQ(m_failedReads, 1) << "one message finds the port failed: the last";
    lock.lock();
    EXPECT_EQ(m_log.size(), posted) << "nothing more is posted";
    lock.unlock();
    const uint8_t byte = 0;
    EXPECT_EQ(writecom(m_com, &byte, 1), 999);
    EXPECT_EQ(closecom(m_com), 1);
    // Plugged back in while the old one is still open, it would be ttyUSB1.
    ASSERT_EQ(AskHost("plug"), "ok");
    for (int i = 0; i < 200 && access("/dev/ttyUSB0", F_OK) != 0; ++i) usleep(100000);
    ASSERT_EQ(opencom(m_com), 0);
    EXPECT_TRUE(Sample());
}

}  // namespace
