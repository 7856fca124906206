// The twelve exports through the shared library, over real pseudo-terminals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "portlink.h"
#include "pty.h"
#include "recorder.h"

extern char **environ;

namespace portlink::test {
namespace {

using namespace std::chrono_literals;

#ifndef PORTLINK_OPEN_CYCLES
#define PORTLINK_OPEN_CYCLES 10000
#endif

constexpr int32_t kCom = 3;

// Every test starts from an empty table and no window.
class Exports : public ::testing::Test {
protected:
    void SetUp() override {
        destroycom();
        initcom(nullptr);
    }
    void TearDown() override {
        destroycom();
        initcom(nullptr);
    }
    // The device link's own sequence.
    int32_t OpenLikeTheLink(int32_t n) {
        closecom(n);
        initcom(&window);
        const int32_t result = opencom(n);
        setcom(n, 3, 115200);
        setmdm(n, 0);
        flowcom(n, 0);
        ondata(n, 1);
        return result;
    }
    std::vector<uint8_t> ReadAll(int32_t n, size_t expected) {
        std::vector<uint8_t> out;
        uint8_t buffer[10000];
        for (int i = 0; i < 500 && out.size() < expected; ++i) {
            int32_t count = 0;
            if (readcom(n, buffer, &count) != 0) break;
            out.insert(out.end(), buffer, buffer + count);
            if (count == 0) std::this_thread::sleep_for(2ms);
        }
        return out;
    }
    static void WriteMaster(const Pty &pty, const std::vector<uint8_t> &bytes) {
        ASSERT_EQ(write(pty.Master(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    Recorder recorder;
    PortlinkWindow window = recorder.Window();
};

TEST_F(Exports, ArgumentChecksInOrder) {
    uint8_t byte = 0;
    int32_t count = 0;
    // Port numbers below 1 answer 4 even without a window.
    for (int32_t n : {0, -1, INT32_MIN}) {
        EXPECT_EQ(opencom(n), 4);
        EXPECT_EQ(setcom(n, 3, 9600), 4);
        EXPECT_EQ(setmdm(n, 0), 4);
        EXPECT_EQ(flowcom(n, 0), 4);
        EXPECT_EQ(ondata(n, 1), 4);
        EXPECT_EQ(closecom(n), 4);
        EXPECT_EQ(writecom(n, &byte, 1), 4);
        EXPECT_EQ(readcom(n, &byte, &count), 4);
        EXPECT_EQ(clearbfr(n, 1), 4);
        EXPECT_EQ(checkbfr(n, 0, 0), 4);
    }
    // Without a window (none, or one that cannot post) every per-port call is 16.
    PortlinkWindow mute{nullptr, nullptr};
    for (PortlinkWindow *w : {static_cast<PortlinkWindow *>(nullptr), &mute}) {
        EXPECT_EQ(initcom(w), 1);
        EXPECT_EQ(opencom(1), 16);
        EXPECT_EQ(setcom(1, 0, -1), 16);
        EXPECT_EQ(setmdm(1, 9), 16);
        EXPECT_EQ(flowcom(1, 9), 16);
        EXPECT_EQ(ondata(1, 1), 16);
        EXPECT_EQ(closecom(1), 16);
        EXPECT_EQ(writecom(1, &byte, 1), 16);
        EXPECT_EQ(readcom(1, &byte, &count), 16);
        EXPECT_EQ(clearbfr(1, 9), 16);
        EXPECT_EQ(checkbfr(1, 0, 0), 16);
    }
    // With a window, a number never opened is not in the table: 2, before any
    // check of the other arguments.
    initcom(&window);
    EXPECT_EQ(setcom(7, 0, -1), 2);
    EXPECT_EQ(setmdm(7, 9), 2);
    EXPECT_EQ(flowcom(7, 9), 2);
    EXPECT_EQ(ondata(7, 1), 2);
    EXPECT_EQ(closecom(7), 2);
    EXPECT_EQ(writecom(7, nullptr, -1), 2);
    EXPECT_EQ(readcom(7, nullptr, nullptr), 2);
    EXPECT_EQ(clearbfr(7, 9), 2);
    EXPECT_EQ(checkbfr(7, 5, 6), 2);
    EXPECT_EQ(destroycom(), 1);

    // On an open port, the arguments themselves.
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(opencom(kCom), 0);
    EXPECT_EQ(setcom(kCom, 0, 9600), 4);
    EXPECT_EQ(setcom(kCom, 0x38, 9600), 4);
    EXPECT_EQ(setcom(kCom, 3, -1), 4);
    for (int32_t mode : {4, -1, 100}) {
        EXPECT_EQ(setmdm(kCom, mode), 4);
        EXPECT_EQ(flowcom(kCom, mode), 4);
    }
    for (int32_t selector : {0, 4, -1}) EXPECT_EQ(clearbfr(kCom, selector), 4);
    EXPECT_EQ(writecom(kCom, &byte, -1), 4);
    EXPECT_EQ(writecom(kCom, nullptr, 1), 4);
    EXPECT_EQ(readcom(kCom, nullptr, &count), 4);
    EXPECT_EQ(readcom(kCom, &byte, nullptr), 4);
    count = -5;
    EXPECT_EQ(readcom(kCom, &byte, &count), 4);
    EXPECT_EQ(checkbfr(kCom, 0, 0), 1);
    EXPECT_EQ(checkbfr(kCom, -9, 12345), 1);
    EXPECT_EQ(ondata(kCom, 0), 0);
    EXPECT_EQ(setcom(kCom, 3, 0), 1) << "a rate the port refuses";
}

TEST_F(Exports, LineSettingsReachTheDevice) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(OpenLikeTheLink(kCom), 0);
    termios t{};
    // The master side reads the slave's settings.
    auto settings = [&] {
        tcgetattr(pty.Master(), &t);
        return t.c_cflag;
    };
    // A pseudo-terminal always reads back as 8 bits without parity, so the
    // data bits and the parity switch are checked over the fake device; the
    // rate, the stop bits and the parity kind do reach the pty.
    ASSERT_EQ(setcom(kCom, 3, 9600), 0);
    tcflag_t c = settings();
    EXPECT_EQ(c & (PARODD | CMSPAR | CSTOPB), 0u);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    ASSERT_EQ(setcom(kCom, 0x1F, 19200), 0);  // 8 bits, two stop bits, even parity
    c = settings();
    EXPECT_EQ(c & (PARODD | CMSPAR | CSTOPB), static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    ASSERT_EQ(setcom(kCom, 0x2A, 115200), 0);  // 7 bits, mark parity, one stop bit
    c = settings();
    EXPECT_EQ(c & (PARODD | CMSPAR | CSTOPB), static_cast<tcflag_t>(PARODD | CMSPAR));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    // A rate without a Bnnn code goes through as it is (BOTHER, alias CBAUDEX).
    ASSERT_EQ(setcom(kCom, 3, 250000), 0);
    c = settings();
    EXPECT_EQ(c & CBAUD, static_cast<tcflag_t>(CBAUDEX));

    // setmdm and flowcom each choose the whole kind: the later call wins.
    ASSERT_EQ(setmdm(kCom, 1), 1);
    EXPECT_NE(settings() & CRTSCTS, 0u);
    ASSERT_EQ(setmdm(kCom, 3), 1);
    EXPECT_NE(settings() & CRTSCTS, 0u);
    ASSERT_EQ(flowcom(kCom, 2), 1);
    EXPECT_EQ(settings() & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    ASSERT_EQ(flowcom(kCom, 0), 1);
    EXPECT_EQ(settings() & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

TEST_F(Exports, WriteReadBackAndNotify) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(OpenLikeTheLink(kCom), 0);
    uint8_t buffer[64];
    int32_t count = 0;
    ASSERT_EQ(readcom(kCom, buffer, &count), 0);
    EXPECT_EQ(count, 0) << "nothing waits";

    const uint8_t frame[] = {0x02, 0x00, 0x06, 0x10, 0x00, 0x03};
    ASSERT_EQ(writecom(kCom, frame, sizeof frame), 0);
    uint8_t got[sizeof frame] = {};
    ASSERT_EQ(read(pty.Master(), got, sizeof got), static_cast<ssize_t>(sizeof got));
    EXPECT_EQ(0, memcmp(got, frame, sizeof frame));

    // A frame of 0xFF bytes arrives unchanged (no parity marking).
    const std::vector<uint8_t> ones(32, 0xFF);
    WriteMaster(pty, ones);
    ASSERT_TRUE(recorder.WaitFor(1));
    const Posted p = recorder.All()[0];
    EXPECT_EQ(p.message, PORTLINK_WM_PORT_NOTIFY);
    EXPECT_EQ(p.lparam, kCom);
    EXPECT_EQ(p.wparam & 0xFFFF, PORTLINK_EV_RXCHAR);
    EXPECT_EQ(ReadAll(kCom, ones.size()), ones);

    // clearbfr(1) throws away what waits.
    WriteMaster(pty, {1, 2, 3});
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ(clearbfr(kCom, 1), 1);
    EXPECT_EQ(clearbfr(kCom, 3), 1);
    count = 0;
    ASSERT_EQ(readcom(kCom, buffer, &count), 0);
    EXPECT_EQ(count, 0);
}

TEST_F(Exports, BurstGivesFewerMessagesThanBytesAndNothingIsLost) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(OpenLikeTheLink(kCom), 0);
    std::vector<uint8_t> burst(3000);
    for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<uint8_t>(i * 7);
    WriteMaster(pty, burst);
    // Read on each message, as the device link does.
    std::vector<uint8_t> received;
    size_t handled = 0;
    for (int i = 0; i < 1000 && received.size() < burst.size(); ++i) {
        if (!recorder.WaitFor(handled + 1, 1s)) break;
        ++handled;
        uint8_t buffer[10000];
        int32_t count = 0;
        ASSERT_EQ(readcom(kCom, buffer, &count), 0);
        received.insert(received.end(), buffer, buffer + count);
    }
    EXPECT_EQ(received, burst);
    EXPECT_LT(recorder.Count(), burst.size());
}

TEST_F(Exports, ReadcomClampsToItsStagingBuffer) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(OpenLikeTheLink(kCom), 0);
    // More than a pseudo-terminal's input queue takes at once: write in parts.
    std::vector<uint8_t> data(12000, 0x5A);
    std::thread writer([&] {
        size_t off = 0;
        while (off < data.size()) {
            const ssize_t n = write(pty.Master(), data.data() + off, data.size() - off);
            if (n > 0) off += static_cast<size_t>(n);
        }
    });
    std::vector<uint8_t> big(1 << 16, 0);
    size_t total = 0;
    for (int i = 0; i < 1000 && total < data.size(); ++i) {
        int32_t count = 1 << 20;
        ASSERT_EQ(readcom(kCom, big.data(), &count), 0);
        ASSERT_LE(count, 10000);
        total += static_cast<size_t>(count);
        if (count == 0) std::this_thread::sleep_for(2ms);
    }
    writer.join();
    EXPECT_EQ(total, data.size());
}

TEST_F(Exports, ClosecomJoinsTheListenerAndReopenResumes) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(OpenLikeTheLink(kCom), 0);
    // Keep bytes coming while the port closes.
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        const uint8_t byte = 0x55;
        while (!stop) {
            (void)!write(pty.Master(), &byte, 1);
            std::this_thread::sleep_for(100us);
        }
    });
    std::this_thread::sleep_for(20ms);
    uint8_t buffer[10000];
    int32_t count = 0;
    readcom(kCom, buffer, &count);
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(closecom(kCom), 1);
    const size_t atClose = recorder.Count();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.Count(), atClose) << "nothing posted after closecom returned";
    count = 0;
    EXPECT_EQ(readcom(kCom, buffer, &count), 999) << "the port is closed";
    EXPECT_EQ(closecom(kCom), 1) << "closing twice does no harm";
    EXPECT_EQ(checkbfr(kCom, 0, 0), 1) << "the entry stays";

    ASSERT_EQ(opencom(kCom), 0);
    stop = true;
    feeder.join();
    count = 0;
    readcom(kCom, buffer, &count);
    const size_t before = recorder.Count();
    WriteMaster(pty, {0x11});
    ASSERT_TRUE(recorder.WaitFor(before + 1));
    EXPECT_EQ(recorder.All().back().lparam, kCom);
    EXPECT_EQ(ReadAll(kCom, 1).back(), 0x11);
}

TEST_F(Exports, OpenFailsForAbsentHeldOrAlreadyOpenDevices) {
    initcom(&window);
    setenv("PORTLINK_COM9", "/dev/portlink-no-such-device", 1);
    EXPECT_EQ(opencom(9), 1);
    EXPECT_EQ(checkbfr(9, 0, 0), 2) << "a failed open adds nothing";
    setenv("PORTLINK_COM9", "/etc/hostname", 1);
    EXPECT_EQ(opencom(9), 1) << "not a serial device";
    unsetenv("PORTLINK_COM9");

    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    // Held by someone else's lock.
    const int other = open(pty.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(opencom(kCom), 1);
    close(other);
    ASSERT_EQ(opencom(kCom), 0);
    // Already open here: answers 1 and the port keeps working.
    EXPECT_EQ(opencom(kCom), 1);
    WriteMaster(pty, {0x42});
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(ReadAll(kCom, 1), std::vector<uint8_t>{0x42});
    // Nobody else gets it while it is open, root included.
    const int again = open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (again >= 0) {
        EXPECT_NE(flock(again, LOCK_EX | LOCK_NB), 0);
        close(again);
    }
}

TEST_F(Exports, SecondProcessFindsThePortInUse) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(OpenLikeTheLink(kCom), 0);
    auto runProbe = [&] {
        const std::string arg = std::to_string(kCom);
        char *argv[] = {const_cast<char *>(PORTLINK_OPEN_PROBE), const_cast<char *>(arg.c_str()),
                        nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, PORTLINK_OPEN_PROBE, nullptr, nullptr, argv, environ) != 0) {
            return -1;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(runProbe(), 1);
    ASSERT_EQ(closecom(kCom), 1);
    EXPECT_EQ(runProbe(), 0) << "free once closed";
}

TEST_F(Exports, HangUpEndsTheListenerWithoutCpuAndThePortReopens) {
    auto pty = std::make_unique<Pty>(kCom);
    ASSERT_TRUE(pty->Ok());
    ASSERT_EQ(OpenLikeTheLink(kCom), 0);
    WriteMaster(*pty, {1});
    ASSERT_TRUE(recorder.WaitFor(1));
    ReadAll(kCom, 1);
    pty->CloseMaster();
    pty->CloseSlave();
    std::this_thread::sleep_for(50ms);
    const size_t posted = recorder.Count();
    const double cpu0 = ProcessCpuMs();
    std::this_thread::sleep_for(1s);
    const double cpu = ProcessCpuMs() - cpu0;
    EXPECT_LT(cpu, 100.0) << "a hung-up port must not spin";
    EXPECT_EQ(recorder.Count(), posted);
    uint8_t buffer[16];
    int32_t count = 0;
    EXPECT_EQ(readcom(kCom, buffer, &count), 999);
    EXPECT_EQ(writecom(kCom, buffer, 1), 999);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(closecom(kCom), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);

    // The simulator comes back on a new pseudo-terminal under the same number.
    pty.reset();
    pty = std::make_unique<Pty>(kCom);
    ASSERT_EQ(OpenLikeTheLink(kCom), 0);
    WriteMaster(*pty, {2});
    ASSERT_TRUE(recorder.WaitFor(posted + 1));
    EXPECT_EQ(ReadAll(kCom, 1), std::vector<uint8_t>{2});
}

TEST_F(Exports, QuietOpenPortUsesNoCpu) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(OpenLikeTheLink(kCom), 0);
    // Unread data must not keep the listener busy either.
    WriteMaster(pty, {1, 2, 3});
    ASSERT_TRUE(recorder.WaitFor(1));
    const double cpu0 = ProcessCpuMs();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(ProcessCpuMs() - cpu0, 100.0);
    EXPECT_EQ(recorder.Count(), 1u) << "one message until the host reads";
    // A hang-up while the listener waits for that read still ends it.
    pty.CloseMaster();
    pty.CloseSlave();
    std::this_thread::sleep_for(50ms);
    const double cpu1 = ProcessCpuMs();
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(ProcessCpuMs() - cpu1, 50.0);
    EXPECT_EQ(closecom(kCom), 1);
}

TEST_F(Exports, OpenCloseCyclesLeaveNoFdOrThread) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    initcom(&window);
    ASSERT_EQ(opencom(kCom), 0);
    ASSERT_EQ(closecom(kCom), 1);
    const int fds = OpenFds();
    const int threads = Threads();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < PORTLINK_OPEN_CYCLES; ++i) {
        ASSERT_EQ(opencom(kCom), 0) << "cycle " << i;
        ASSERT_EQ(closecom(kCom), 1);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(OpenFds(), fds);
    EXPECT_EQ(Threads(), threads);
    EXPECT_LT(seconds, 60.0);
    RecordProperty("cycles_per_second", static_cast<int>(PORTLINK_OPEN_CYCLES / seconds));
}

}  // namespace
}  // namespace portlink::test
