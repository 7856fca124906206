// A backend that plays the device in memory, for what a pseudo-terminal cannot
// do: breaks, line errors, a transmitter that never drains, and a failure of
// any single OS call on demand.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "backend.h"
#include "codes.h"

namespace portlink::test {

inline constexpr const char *kFakeDevice = "fake0";

class FakeBackend final : public SerialBackend {
public:
    // The calls a test can make fail; None is for those that cannot fail.
    enum class Op { Open, GetState, SetState, Modem, Read, Write, Purge, Waker, Wait, None };
    struct Device {
        int openCount = 0;
        LineState state{9600, 8, 0, false, 0, 0};
        LineCounters counters{};
        std::deque<uint8_t> rx;
        size_t txRoom = SIZE_MAX;
    };

    void MoveTo(std::string path) {
        Do(Op::None, [&] { m_path = std::move(path); });
    }
    template <typename F>
    void Change(F change) {
        Do(Op::None, [&] { change(m_device); });
    }
    void Receive(std::vector<uint8_t> bytes) {
        Change([&](Device &d) { d.rx.insert(d.rx.end(), bytes.begin(), bytes.end()); });
    }
    // As a UART driver has it: a break reads as a NUL, a bad byte as received,
    // and the counter goes up.
    void Condition(uint32_t LineCounters::*counter, uint8_t byte) {
        Change([&](Device &d) { ++(d.counters.*counter), d.rx.push_back(byte); });
    }
    void FailNext(Op op, uint32_t code) {
        Do(Op::None, [&] { m_failures[op] = code; });
    }

    uint32_t Probe(const char *path) override {
        std::lock_guard lock(m_mutex);
        if (path != m_path) return kErrFileNotFound;
        return m_device.openCount ? kErrAccessDenied : kOk;
    }
    uint32_t Open(const char *path, uint32_t, uint32_t, PortHandle &handle) override {
        if (const uint32_t code = Probe(path)) return code;
        return Do(Op::Open, [&] { handle = ++m_device.openCount; });
    }
    void Close(PortHandle) override {
        Change([](Device &d) { --d.openCount; });
    }
    uint32_t GetState(PortHandle, LineState &state) override {
        return Do(Op::GetState, [&] { state = m_device.state; });
    }
    uint32_t SetState(PortHandle, const LineState &state) override {
        return Do(Op::SetState, [&] { m_device.state = state; });
    }
    uint32_t SetModemLines(PortHandle, bool, bool) override { return Do(Op::Modem, Nothing); }
    uint32_t Read(PortHandle, uint8_t *buffer, size_t count, bool waitAll, uint32_t timeoutMs,
                  size_t &got) override {
        std::unique_lock lock(m_mutex);
        got = 0;
        if (const uint32_t code = Take(Op::Read)) return code;
        std::deque<uint8_t> &rx = m_device.rx;
        const bool all = Until(lock, timeoutMs, [&] {
            for (; got < count && !rx.empty(); rx.pop_front()) buffer[got++] = rx.front();
            return !waitAll || got == count;
        });
        return all ? kOk : kErrTimeout;
    }
    // The transmitter takes what it has room for; the rest waits for room.
    uint32_t Write(PortHandle, const uint8_t *, size_t count, uint32_t timeoutMs,
                   size_t &done) override {
        std::unique_lock lock(m_mutex);
        done = 0;
        if (const uint32_t code = Take(Op::Write)) return code;
        size_t &room = m_device.txRoom;
        if (Until(lock, timeoutMs, [&] {
                const size_t n = std::min(count - done, room);
                return room -= n, (done += n) == count;
            })) {
            return kOk;
        }
        room = SIZE_MAX;  // the unsent rest is discarded
        done = 0;
        return kErrTimeout;
    }
    uint32_t Purge(PortHandle, bool input, bool output) override {
        return Do(Op::Purge, [&] {
            if (input) m_device.rx.clear();
            if (output) m_device.txRoom = SIZE_MAX;  // what was queued is gone
        });
    }
    uint32_t ReadCounters(PortHandle, LineCounters &counters) override {
        return Do(Op::None, [&] { counters = m_device.counters; });
    }
    // One port at a time, so one waker.
    uint32_t CreateWaker(PortHandle &waker) override {
        return Do(Op::Waker, [&] { waker = m_wakes = 0; });
    }
    void CloseWaker(PortHandle) override {}
    void Wake(PortHandle) override {
        Do(Op::None, [&] { ++m_wakes; });
    }
    uint32_t Wait(PortHandle, unsigned want, PortHandle waker, uint32_t timeoutMs,
                  unsigned &ready) override {
        std::unique_lock lock(m_mutex);
        ready = 0;
        if (const uint32_t code = Take(Op::Wait)) return code;
        Until(lock, timeoutMs, [&] {
            ready = (want & kReadable && !m_device.rx.empty() ? kReadable : 0) |
                    (waker != kNoHandle && std::exchange(m_wakes, 0) ? kWoken : 0);
            return ready != 0;
        });
        return kOk;
    }

private:
    static void Nothing() {}
    // Waits for done() under the lock, for ever or timeoutMs.
    template <typename F>
    bool Until(std::unique_lock<std::mutex> &lock, uint32_t timeoutMs, F done) {
        const uint32_t ms = timeoutMs == kInfinite ? 86'400'000 : timeoutMs;  // a day for ever
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), done);
    }
    // The failure queued for op, once.
    uint32_t Take(Op op) {
        auto failure = m_failures.extract(op);
        return failure ? failure.mapped() : kOk;
    }
    // One OS call under the lock; any change wakes the waits it may concern.
    template <typename F>
    uint32_t Do(Op op, F call) {
        std::lock_guard lock(m_mutex);
        const uint32_t code = Take(op);
        if (code == kOk) call();
        m_changed.notify_all();
        return code;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_path = kFakeDevice;
    Device m_device;
    int m_wakes = 0;
    std::map<Op, uint32_t> m_failures;
};

}  // namespace portlink::test
