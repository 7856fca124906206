// A backend that plays the device in memory, for what a pseudo-terminal cannot
// do: breaks, line errors, a transmitter that never drains, and a failure of
// any single OS call on demand.
#pragma once

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

class FakeBackend final : public SerialBackend {
public:
    // The calls a test can make fail; None is for those that cannot fail.
    enum class Op { Open, GetState, SetState, Modem, Read, Write, Purge, Waker, Wait, None };
    struct Device {
        bool hungUp = false;
        int openCount = 0, outputPurges = 0;
        LineState state{9600, 8, 0, false, 0, 0};
        LineCounters counters{};
        std::deque<uint8_t> rx;
        size_t txRoom = SIZE_MAX;
    };

    template <typename F>
    void Change(const std::string &name, F change) {
        Do(Op::None, [&] { change(m_devices[name]); });
    }
    void Receive(const std::string &name, std::vector<uint8_t> bytes) {
        Change(name, [&](Device &d) { d.rx.insert(d.rx.end(), bytes.begin(), bytes.end()); });
    }
    // As a UART driver has it: a break reads as a NUL, a bad byte as received,
    // and the counter goes up.
    void Condition(const std::string &name, uint32_t LineCounters::*counter, uint8_t byte) {
        Change(name, [&](Device &d) { ++(d.counters.*counter), d.rx.push_back(byte); });
    }
    Device Snapshot(const std::string &name) {
        std::lock_guard lock(m_mutex);
        return m_devices.at(name);
    }
    void FailNext(Op op, uint32_t code) {
        Do(Op::None, [&] { m_failures[op] = code; });
    }

    uint32_t Probe(const char *path) override {
        std::lock_guard lock(m_mutex);
        if (m_devices.count(path) == 0) return kErrFileNotFound;
        return m_devices[path].openCount ? kErrAccessDenied : kOk;
    }
    uint32_t Open(const char *path, int &h) override {
        if (const uint32_t code = Probe(path)) return code;
        return Do(Op::Open, [&] { ++m_devices[m_handles[h = m_next++] = path].openCount; });
    }
    void Close(int h) override {
        Do(Op::None, [&] { --Dev(h).openCount; });
    }
    uint32_t GetState(int h, LineState &state) override {
        return Do(Op::GetState, [&] { state = Dev(h).state; });
    }
    uint32_t SetState(int h, const LineState &state) override {
        return Do(Op::SetState, [&] { Dev(h).state = state; });
    }
    uint32_t SetModemLines(int, bool, bool) override {
        return Do(Op::Modem, [] {});
    }
    uint32_t Read(int h, uint8_t *buffer, size_t count, size_t &got) override {
        bool hungUp = false;
        got = 0;
        const uint32_t code = Do(Op::Read, [&] {
            Device &d = Dev(h);
            for (; got < count && !d.rx.empty(); d.rx.pop_front()) buffer[got++] = d.rx.front();
            hungUp = got == 0 && d.hungUp;
        });
        return hungUp ? kErrHangUp : code;
    }
    uint32_t Write(int h, const uint8_t *, size_t count, size_t &done) override {
        done = 0;
        return Do(Op::Write, [&] { Dev(h).txRoom -= done = std::min(count, Dev(h).txRoom); });
    }
    uint32_t Purge(int h, bool input, bool output) override {
        return Do(Op::Purge, [&] {
            if (input) Dev(h).rx.clear();
            Dev(h).outputPurges += output;
        });
    }
    uint32_t ReadCounters(int h, LineCounters &counters) override {
        return Do(Op::None, [&] { counters = Dev(h).counters; });
    }
    uint32_t CreateWaker(int &waker) override {
        return Do(Op::Waker, [&] { m_wakes[waker = m_next++] = 0; });
    }
    void CloseWaker(int waker) override {
        Do(Op::None, [&] { m_wakes.erase(waker); });
    }
    void Wake(int waker) override {
        Do(Op::None, [&] { ++m_wakes.at(waker); });
    }
    uint32_t Wait(int h, unsigned want, int waker, uint32_t timeoutMs, unsigned &ready) override {
        std::unique_lock lock(m_mutex);
        ready = 0;
        if (const uint32_t code = Take(Op::Wait)) return code;
        const auto check = [&] {
            const Device &d = Dev(h);
            ready = (d.hungUp ? kHangUp : 0) | (want & kReadable && !d.rx.empty() ? kReadable : 0) |
                    (want & kWritable && d.txRoom ? kWritable : 0) |
                    (waker >= 0 && std::exchange(m_wakes.at(waker), 0) ? kWoken : 0);
            return ready != 0;
        };
        const std::chrono::milliseconds span =
            timeoutMs == kInfinite ? std::chrono::hours(24) : std::chrono::milliseconds(timeoutMs);
        m_changed.wait_for(lock, span, check);
        return kOk;
    }

private:
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
    Device &Dev(int handle) { return m_devices.at(m_handles.at(handle)); }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, Device> m_devices;
    std::map<int, std::string> m_handles;
    std::map<int, uint64_t> m_wakes;
    std::map<Op, uint32_t> m_failures;
    int m_next = 3;
};

}  // namespace portlink::test
