// The twelve exports through the shared library, over real pseudo-terminals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>

#include <atomic>
#include <memory>
#include <thread>

#include "helpers.h"

extern char **environ;

namespace portlink::test {
namespace {

using namespace std::chrono_literals;

constexpr int32_t kCom = 3;
constexpr int kCycles = 10000;  // about 2 s even under a sanitizer

// Every test starts from an empty table and no window.
class Exports : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        destroycom();
        initcom(nullptr);
    }
    // The device link's own sequence.
    int32_t Open(int32_t n = kCom) {
        closecom(n);
        initcom(&window);
        const int32_t result = opencom(n);
        setcom(n, 3, 115200);
        setmdm(n, 0);
        flowcom(n, 0);
        ondata(n, 1);
        return result;
    }
    std::vector<uint8_t> ReadAll(size_t expected) {
        std::vector<uint8_t> out;
        for (int i = 0; i < 500 && out.size() < expected; ++i) {
            int32_t count = 0;
            if (readcom(kCom, buffer, &count) != 0) break;
            out.insert(out.end(), buffer, buffer + count);
            if (count == 0) std::this_thread::sleep_for(2ms);
        }
        return out;
    }
    Recorder recorder;
    PortlinkWindow window = recorder.Window();
    uint8_t buffer[10000] = {};
};

TEST_F(Exports, ArgumentChecksInOrder) {
    int32_t count = 0;
    // Each per-port export with arguments that are all wrong but the port.
    auto all = [&](int32_t n) {
        return std::vector<int32_t>{setcom(n, 0, -1),
                                    setmdm(n, 9),
                                    flowcom(n, 9),
                                    ondata(n, 1),
                                    closecom(n),
                                    writecom(n, nullptr, -1),
                                    readcom(n, nullptr, nullptr),
                                    clearbfr(n, 9),
                                    checkbfr(n, 5, 6)};
    };
    const auto nine = [](int32_t code) { return std::vector<int32_t>(9, code); };
    for (int32_t n : {0, -1, INT32_MIN}) {
        EXPECT_EQ(opencom(n), 4);
        EXPECT_EQ(all(n), nine(4)) << "port " << n << ", before any window";
    }
    PortlinkWindow mute{nullptr, nullptr};
    for (PortlinkWindow *w : {static_cast<PortlinkWindow *>(nullptr), &mute}) {
        EXPECT_EQ(initcom(w), 1);
        EXPECT_EQ(opencom(1), 16);
        EXPECT_EQ(all(1), nine(16)) << "no window, or one that cannot post";
    }
    initcom(&window);
    EXPECT_EQ(all(7), nine(2)) << "a number never opened";
    EXPECT_EQ(destroycom(), 1);

    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(opencom(kCom), 0);
    EXPECT_EQ(setcom(kCom, 0, 9600), 4);
    EXPECT_EQ(setcom(kCom, 0x38, 9600), 4);
    EXPECT_EQ(setcom(kCom, 3, -1), 4);
    for (int32_t mode : {4, -1}) {
        EXPECT_EQ(setmdm(kCom, mode), 4);
        EXPECT_EQ(flowcom(kCom, mode), 4);
        EXPECT_EQ(clearbfr(kCom, mode), 4);
    }
    EXPECT_EQ(clearbfr(kCom, 0), 4);
    EXPECT_EQ(writecom(kCom, buffer, -1), 4);
    EXPECT_EQ(writecom(kCom, nullptr, 1), 4);
    EXPECT_EQ(readcom(kCom, nullptr, &count), 4);
    EXPECT_EQ(readcom(kCom, buffer, nullptr), 4);
    count = -5;
    EXPECT_EQ(readcom(kCom, buffer, &count), 4);
    EXPECT_EQ(checkbfr(kCom, -9, 12345), 1);
    EXPECT_EQ(setcom(kCom, 3, 0), 1) << "a rate the port refuses";
    EXPECT_EQ(destroycom(), 1);
    EXPECT_EQ(checkbfr(kCom, 0, 0), 2);
}

TEST_F(Exports, LineSettingsReachTheDevice) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(Open(), 0);
    // The master reads the slave's settings. A pseudo-terminal always reads
    // back 8 bits without PARENB (the fake device covers those); the rate, the
    // stop bits and the parity kind do show.
    termios t{};
    auto cflag = [&](tcflag_t mask) {
        tcgetattr(pty.Master(), &t);
        return t.c_cflag & mask;
    };
    const tcflag_t kind = PARODD | CMSPAR | CSTOPB;
    ASSERT_EQ(setcom(kCom, 0x1F, 19200), 0);  // 8 bits, two stop bits, even parity
    EXPECT_EQ(cflag(kind), static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    ASSERT_EQ(setcom(kCom, 0x2A, 115200), 0);  // 7 bits, mark parity
    EXPECT_EQ(cflag(kind), static_cast<tcflag_t>(PARODD | CMSPAR));
    ASSERT_EQ(setcom(kCom, 3, 250000), 0);
    EXPECT_EQ(cflag(CBAUD | kind), static_cast<tcflag_t>(CBAUDEX)) << "BOTHER: any rate";

    // setmdm and flowcom each choose the whole kind: the later call wins.
    ASSERT_EQ(setmdm(kCom, 3), 1);
    EXPECT_EQ(cflag(CRTSCTS), static_cast<tcflag_t>(CRTSCTS));
    ASSERT_EQ(flowcom(kCom, 2), 1);
    EXPECT_EQ(cflag(CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    ASSERT_EQ(flowcom(kCom, 0), 1);
    EXPECT_EQ(cflag(CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

TEST_F(Exports, WriteReadBackNotifyAndBurst) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(Open(), 0);
    int32_t count = 0;
    ASSERT_EQ(readcom(kCom, buffer, &count), 0);
    EXPECT_EQ(count, 0) << "nothing waits";

    const uint8_t frame[] = {0x02, 0x00, 0x06, 0x10, 0x00, 0x03};
    ASSERT_EQ(writecom(kCom, frame, sizeof frame), 0);
    uint8_t got[sizeof frame] = {};
    ASSERT_EQ(read(pty.Master(), got, sizeof got), static_cast<ssize_t>(sizeof got));
    EXPECT_EQ(0, memcmp(got, frame, sizeof frame));

    // 0xFF bytes arrive unchanged (no parity marking).
    const std::vector<uint8_t> ones(32, 0xFF);
    pty.Send(ones);
    ASSERT_TRUE(recorder.WaitFor(1));
    const Posted p = recorder.All()[0];
    EXPECT_EQ(p.message, PORTLINK_WM_PORT_NOTIFY);
    EXPECT_EQ(p.lparam, kCom);
    EXPECT_EQ(p.wparam, PORTLINK_EV_RXCHAR);
    EXPECT_EQ(ReadAll(ones.size()), ones);

    // A burst, read on each message as the device link does: every byte, in
    // fewer messages than bytes.
    std::vector<uint8_t> burst(3000);
    for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<uint8_t>(i * 7);
    const size_t before = recorder.Count();
    pty.Send(burst);
    std::vector<uint8_t> received;
    for (size_t handled = before; received.size() < burst.size(); ++handled) {
        ASSERT_TRUE(recorder.WaitFor(handled + 1));
        count = 0;
        ASSERT_EQ(readcom(kCom, buffer, &count), 0);
        received.insert(received.end(), buffer, buffer + count);
    }
    EXPECT_EQ(received, burst);
    EXPECT_LT(recorder.Count() - before, burst.size());

    pty.Send({1, 2, 3});
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(clearbfr(kCom, 1), 1);
    count = 0;
    ASSERT_EQ(readcom(kCom, buffer, &count), 0);
    EXPECT_EQ(count, 0) << "clearbfr(1) threw the input away";
}

TEST_F(Exports, ClosecomJoinsTheListenerAndReopenResumes) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(Open(), 0);
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        while (!stop) {
            pty.Send({0x55});
            std::this_thread::sleep_for(100us);
        }
    });
    ASSERT_TRUE(recorder.WaitFor(1));
    int32_t count = 0;
    readcom(kCom, buffer, &count);
    EXPECT_EQ(closecom(kCom), 1);
    const size_t atClose = recorder.Count();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.Count(), atClose) << "nothing posted after closecom returned";
    EXPECT_EQ(readcom(kCom, buffer, &count), 999) << "the port is closed";
    EXPECT_EQ(closecom(kCom), 1) << "closing twice does no harm";
    EXPECT_EQ(checkbfr(kCom, 0, 0), 1) << "the entry stays";

    ASSERT_EQ(opencom(kCom), 0);
    stop = true;
    feeder.join();
    ReadAll(1);
    const size_t before = recorder.Count();
    pty.Send({0x11});
    ASSERT_TRUE(recorder.WaitFor(before + 1));
    EXPECT_EQ(recorder.All().back().lparam, kCom);
}

TEST_F(Exports, AHostMayFreeItsWindowOnceItsPortsAreClosed) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    auto owned = std::make_unique<PortlinkWindow>(recorder.Window());
    initcom(owned.get());
    ASSERT_EQ(opencom(kCom), 0);
    EXPECT_EQ(closecom(kCom), 1);
    owned.reset();  // the next closecom must not read it (ASan would report)
    EXPECT_EQ(closecom(kCom), 1);
    EXPECT_EQ(checkbfr(kCom, 0, 0), 1);
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
    const int other = open(pty.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(opencom(kCom), 1) << "locked by someone else";
    close(other);
    ASSERT_EQ(opencom(kCom), 0);
    EXPECT_EQ(opencom(kCom), 1) << "already open here";
    pty.Send({0x42});
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(ReadAll(1), std::vector<uint8_t>{0x42}) << "and still working";

    // A second process, which is root here, finds it in use too.
    auto probe = [&] {
        std::string arg = std::to_string(kCom);
        char *argv[] = {const_cast<char *>(PORTLINK_OPEN_PROBE), arg.data(), nullptr};
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) return -1;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(probe(), 1);
    ASSERT_EQ(closecom(kCom), 1);
    EXPECT_EQ(probe(), 0) << "free once closed";
}

TEST_F(Exports, QuietAndHungUpPortsUseNoCpuAndThePortReopens) {
    auto pty = std::make_unique<Pty>(kCom);
    ASSERT_TRUE(pty->Ok());
    ASSERT_EQ(Open(), 0);
    auto cpuOver = [](std::chrono::milliseconds span) {
        const double start = ProcessCpuMs();
        std::this_thread::sleep_for(span);
        return ProcessCpuMs() - start;
    };
    // Unread data must not keep the listener busy.
    pty->Send({1, 2, 3});
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_LT(cpuOver(1s), 100.0);
    EXPECT_EQ(recorder.Count(), 1u) << "one message until the host reads";

    pty->HangUp();
    std::this_thread::sleep_for(50ms);
    EXPECT_LT(cpuOver(1s), 100.0) << "a hung-up port must not spin";
    EXPECT_EQ(recorder.Count(), 1u);
    int32_t count = 0;
    EXPECT_EQ(readcom(kCom, buffer, &count), 999);
    EXPECT_EQ(writecom(kCom, buffer, 1), 999);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(closecom(kCom), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);

    // The device comes back on a new pseudo-terminal under the same number.
    pty.reset();
    pty = std::make_unique<Pty>(kCom);
    ASSERT_EQ(Open(), 0);
    pty->Send({2});
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ(ReadAll(1), std::vector<uint8_t>{2});
}

TEST_F(Exports, OpenCloseCyclesLeaveNoFdOrThread) {
    Pty pty(kCom);
    ASSERT_TRUE(pty.Ok());
    initcom(&window);
    ASSERT_EQ(opencom(kCom), 0);
    ASSERT_EQ(closecom(kCom), 1);
    const int fds = OpenFds(), threads = Threads();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCycles; ++i) {
        ASSERT_EQ(opencom(kCom), 0) << "cycle " << i;
        ASSERT_EQ(closecom(kCom), 1);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    EXPECT_EQ(OpenFds(), fds);
    EXPECT_EQ(Threads(), threads);
}

}  // namespace
}  // namespace portlink::test
