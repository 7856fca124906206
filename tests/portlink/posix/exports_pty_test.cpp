// The exports where only a pseudo-terminal that the test plays as the device
// will do: the line settings it reads back, bytes and silences no simulator
// sends, other holders of the device, hang-ups and many threads.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "exports.h"

namespace portlink::test {
namespace {

using namespace std::chrono_literals;
constexpr int32_t kCom = 3;
const uint8_t kFrame[] = {0x02, 0x00, 0x06, 0x10, 0x00, 0x03};

// A pseudo-terminal whose slave is COM<n>; the test plays the device on the
// master. It keeps a slave descriptor too, so the master keeps working while
// the port is closed and reopened.
struct Pty {
    explicit Pty(int n) : variable("PORTLINK_COM" + std::to_string(n)) {
        char name[128] = {};
        openpty(&master, &slave, name, nullptr, nullptr);
        setenv(variable.c_str(), name, 1);
    }
    ~Pty() { HangUp(), unsetenv(variable.c_str()); }
    void Send(const std::vector<uint8_t> &bytes) const {
        if (write(master, bytes.data(), bytes.size()) != ssize_t(bytes.size())) std::abort();
    }
    void HangUp() { close(std::exchange(master, -1)), close(std::exchange(slave, -1)); }
    std::string variable;
    int master = -1, slave = -1;
};

int Entries(const char *dir) {
    return std::distance(std::filesystem::directory_iterator(dir), {});
}

// Each test has a device behind COM3.
class OverPty : public Exports {
protected:
    int32_t Open() { return initcom(window), opencom(kCom); }
    std::optional<Pty> pty{std::in_place, kCom};
};

TEST_F(OverPty, ReopenStartsEmpty) {
    ASSERT_EQ(Open(), 0);
    ASSERT_EQ(closecom(kCom), 1);
    // A late answer to an earlier request arrives while the port is closed; the
    // port opens empty, as the dialog reopens it for each command.
    pty->Send({0xEE, 0xEE});
    ASSERT_EQ(opencom(kCom), 0);
    pty->Send({0x06});
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(Read(kCom), std::vector<uint8_t>{0x06}) << "nothing from before the open";
}

// A device that takes nothing: the write gives up once its bytes have had
// their time on the line, discards what is left, and the port writes again.
// While it waits, another port goes on working.
TEST_F(OverPty, WriteToADeviceThatNeverReadsFailsDiscardsAndHoldsUpNoOtherPort) {
    Pty com4(4);
    ASSERT_EQ(Open(), 0);
    ASSERT_EQ(opencom(4), 0);
    ASSERT_EQ(setcom(kCom, 3, 500000), 0);  // the flood below may wait 1.8 s
    std::atomic<bool> done{false};
    std::jthread writer([&] {
        std::vector<uint8_t> flood(65536, 0x55);  // far more than a pseudo-terminal queues
        EXPECT_EQ(writecom(kCom, flood.data(), int32_t(flood.size())), 999);
        done = true;
    });
    pollfd first{pty->master, POLLIN, 0};
    ASSERT_EQ(poll(&first, 1, 5000), 1) << "the flood has begun";
    ASSERT_EQ(writecom(4, kFrame, sizeof kFrame), 0);
    ASSERT_EQ(read(com4.master, buffer, sizeof buffer), ssize_t(sizeof kFrame));
    com4.Send({0x06});
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(Read(4).size(), 1u);
    EXPECT_FALSE(done) << "COM4 did not wait for COM3's write";

    writer.join();
    ASSERT_EQ(writecom(kCom, kFrame, sizeof kFrame), 0) << "room again";
    fcntl(pty->master, F_SETFL, O_NONBLOCK);
    std::vector<uint8_t> got;
    for (ssize_t n; (n = read(pty->master, buffer, sizeof buffer)) > 0;)
        got.insert(got.end(), buffer, buffer + n);
    EXPECT_LT(got.size(), 65536u) << "the unsent rest was discarded";
    ASSERT_GE(got.size(), sizeof kFrame);
    EXPECT_TRUE(std::equal(kFrame, kFrame + sizeof kFrame, got.end() - sizeof kFrame));
}

TEST_F(OverPty, ClosecomJoinsTheListenerAndReopenResumes) {
    // Heap-allocated so that ASan sees any use of it once its ports are closed.
    auto owned = std::make_unique<PortlinkWindow>(*window);
    initcom(owned.get());
    ASSERT_EQ(opencom(kCom), 0);
    std::jthread feeder([&](std::stop_token stop) {
        for (; !stop.stop_requested(); std::this_thread::sleep_for(100us)) pty->Send({0x55});
    });
    EXPECT_TRUE(recorder.WaitFor(1));
    Read(kCom);  // so that the listener has more to post
    EXPECT_EQ(closecom(kCom), 1);
    const size_t atClose = recorder.Count();
    owned.reset();  // a host may free its window once its ports are closed
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.Count(), atClose) << "nothing posted after closecom returned";
    EXPECT_EQ(Open(), 0) << "reopened while bytes arrive";
    EXPECT_TRUE(recorder.WaitFor(atClose + 1)) << "and notifying again";
}

TEST_F(OverPty, OpenFailsForNoTerminalOrADeviceHeldElsewhere) {
    ASSERT_EQ(Open(), 0);
    setenv("PORTLINK_COM9", "/etc/hostname", 1);
    EXPECT_EQ(opencom(9), 1);
    EXPECT_EQ(checkbfr(9, 0, 0), 2) << "a failed open adds nothing";
    unsetenv("PORTLINK_COM9");
    ASSERT_EQ(closecom(kCom), 1);
    // Another program holds the device with TIOCEXCL alone, no lock (refused
    // even to root, which the flag by itself does not stop), or a lock alone.
    ASSERT_EQ(ioctl(pty->slave, TIOCEXCL), 0);
    EXPECT_EQ(opencom(kCom), 1);
    ASSERT_EQ(ioctl(pty->slave, TIOCNXCL), 0);
    ASSERT_EQ(flock(pty->slave, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(opencom(kCom), 1);
    ASSERT_EQ(flock(pty->slave, LOCK_UN), 0);
    ASSERT_EQ(opencom(kCom), 0);
}

// Unread data is reported once, and a hang-up ends the listener; neither may
// keep it busy, and the port reopens once the device is back.
TEST_F(OverPty, UnreadDataAndAHangUpKeepNothingBusyAndThePortReopens) {
    ASSERT_EQ(Open(), 0);
    auto cpuMsOver = [](std::chrono::milliseconds span) {  // of the whole process
        const std::clock_t start = std::clock();
        std::this_thread::sleep_for(span);
        return (std::clock() - start) * 1000.0 / CLOCKS_PER_SEC;
    };
    pty->Send({1, 2, 3});
    ASSERT_TRUE(recorder.WaitFor(1));
    pty->Send({4});
    EXPECT_LT(cpuMsOver(1s), 100.0) << "unread data must not keep the listener busy";
    EXPECT_EQ(recorder.Count(), 1u) << "one message until the host reads";
    EXPECT_EQ(Read(kCom).size(), 4u);

    const int threads = Entries("/proc/self/task");
    pty->HangUp();
    ASSERT_TRUE(recorder.WaitFor(2));
    std::this_thread::sleep_for(50ms);
    EXPECT_LT(cpuMsOver(1s), 100.0) << "a hung-up port must not spin";
    EXPECT_EQ(Entries("/proc/self/task"), threads - 1) << "the listener has ended";
    EXPECT_EQ(closecom(kCom), 1);

    // The device comes back on a new pseudo-terminal under the same number.
    pty.emplace(kCom);
    ASSERT_EQ(opencom(kCom), 0);
    pty->Send({2});
    ASSERT_TRUE(recorder.WaitFor(3));
    EXPECT_EQ(Read(kCom), std::vector<uint8_t>{2});
}
// Hosts that call from several threads: every call answers one of its own
// codes, nothing crashes or races (the sanitizer builds watch), and no port is
// left held or locked afterwards.
TEST_F(OverPty, CallsFromSeveralThreadsOnSeveralPorts) {
    Pty com4(4), com5(5);
    const int masters[] = {pty->master, com4.master, com5.master};
    for (int master : masters) fcntl(master, F_SETFL, O_NONBLOCK);
    initcom(window);
    // The devices send now and then and take what they are sent.
    std::jthread devices([&](std::stop_token stop) {
        uint8_t sink[4096];
        for (; !stop.stop_requested(); std::this_thread::sleep_for(200us)) {
            for (int master : masters) {
                (void)!write(master, "\x06", 1);
                while (read(master, sink, sizeof sink) > 0) {
                }
            }
        }
    });
    const int fds = Entries("/proc/self/fd"), threads = Entries("/proc/self/task");
    // Each call, with the codes it may answer while the others run; the host's
    // buffer is 64 bytes (a count of 0 would ask for all that waits).
    using Call = int32_t (*)(int32_t n, uint8_t * data, unsigned random);
    const std::pair<Call, std::set<int32_t>> calls[] = {
        {[](int32_t n, uint8_t *, unsigned) { return opencom(n); }, {0, 1, 2}},
        {[](int32_t n, uint8_t *, unsigned) { return closecom(n); }, {1, 2}},
        {[](int32_t n, uint8_t *d, unsigned) {
             int32_t count = 64;
             return readcom(n, d, &count);
         },
         {0, 2, 999}},
        {[](int32_t n, uint8_t *d, unsigned) { return writecom(n, d, 6); }, {0, 2, 999}},
        {[](int32_t, uint8_t *, unsigned r) { return r % 50 ? 1 : destroycom(); }, {1}},
        {[](int32_t n, uint8_t *, unsigned) { return setcom(n, 3, 115200); }, {0, 1, 2}},
        {[](int32_t n, uint8_t *, unsigned) { return clearbfr(n, 3); }, {1, 2, 999}},
        {[](int32_t n, uint8_t *, unsigned) { return checkbfr(n, 0, 0); }, {1, 2}},
    };
    std::atomic<int> wrong{0};
    std::vector<std::jthread> hosts;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        hosts.emplace_back([&, seed] {
            std::minstd_rand random(seed);
            uint8_t data[64] = {0x02, 0x00, 0x06, 0x10, 0x00, 0x03};
            for (int i = 0; i < 3000; ++i) {
                const auto &[call, allowed] = calls[random() % 8];
                if (!allowed.contains(call(kCom + int32_t(random() % 3), data, unsigned(random()))))
                    ++wrong;
            }
        });
    }
    hosts.clear();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(destroycom(), 1);
    for (int32_t n = kCom; n < kCom + 3; ++n) EXPECT_EQ(opencom(n), 0) << "COM" << n << " free";
    destroycom();
    EXPECT_EQ(Entries("/proc/self/fd"), fds);
    EXPECT_EQ(Entries("/proc/self/task"), threads);
}

}  // namespace
}  // namespace portlink::test
