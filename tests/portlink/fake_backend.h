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
#include <vector>

#include "backend.h"
#include "codes.h"

namespace portlink::test {

class FakeBackend final : public SerialBackend {
public:
    enum class Op { Open, GetState, SetState, SetModemLines, Read, Write, Purge, Waker, Wait };

    struct Device {
        bool heldElsewhere = false;
        int openCount = 0;
        LineState state{9600, 8, 0, false, 0, 0};
        bool hasCounters = true;
        LineCounters counters{};
        std::deque<uint8_t> rx;
        size_t txRoom = SIZE_MAX;
        size_t txCount = 0;
        bool hungUp = false, dtr = true, rts = true;
        int outputPurges = 0;
    };

    // Test side: every change wakes the waits it may concern.
    template <typename F>
    void Change(const std::string &name, F change) {
        std::lock_guard lock(m_mutex);
        change(m_devices[name]);
        m_changed.notify_all();
    }
    void Receive(const std::string &name, std::vector<uint8_t> bytes) {
        Change(name, [&](Device &d) { d.rx.insert(d.rx.end(), bytes.begin(), bytes.end()); });
    }
    // As a UART driver has it: a break reads as a NUL, a bad byte as received,
    // and the counter goes up.
    void Condition(const std::string &name, uint32_t LineCounters::*counter, uint8_t byte) {
        Change(name, [&](Device &d) {
            ++(d.counters.*counter);
            d.rx.push_back(byte);
        });
    }
    Device Snapshot(const std::string &name) {
        std::lock_guard lock(m_mutex);
        return m_devices.at(name);
    }
    void FailNext(Op op, uint32_t code) {
        std::lock_guard lock(m_mutex);
        m_failures[op] = code;
    }
    int Calls(Op op) {
        std::lock_guard lock(m_mutex);
        return m_calls[op];
    }

    uint32_t Probe(const char *path) override {
        std::lock_guard lock(m_mutex);
        auto it = m_devices.find(path);
        if (it == m_devices.end()) return kErrFileNotFound;
        return it->second.heldElsewhere || it->second.openCount ? kErrAccessDenied : kOk;
    }
    uint32_t Open(const char *path, int &handle) override {
        std::lock_guard lock(m_mutex);
        if (const uint32_t code = Enter(Op::Open)) return code;
        auto it = m_devices.find(path);
        if (it == m_devices.end()) return kErrFileNotFound;
        if (it->second.heldElsewhere || it->second.openCount) return kErrAccessDenied;
        ++it->second.openCount;
        handle = m_next++;
        m_handles[handle] = path;
        return kOk;
    }
    void Close(int handle) override {
        std::lock_guard lock(m_mutex);
        --At(handle).openCount;
        m_handles.erase(handle);
    }
    uint32_t GetState(int handle, LineState &state) override {
        std::lock_guard lock(m_mutex);
        if (const uint32_t code = Enter(Op::GetState)) return code;
        state = At(handle).state;
        return kOk;
    }
    uint32_t SetState(int handle, const LineState &state) override {
        std::lock_guard lock(m_mutex);
        if (const uint32_t code = Enter(Op::SetState)) return code;
        At(handle).state = state;
        return kOk;
    }
    uint32_t SetModemLines(int handle, bool dtr, bool rts) override {
        std::lock_guard lock(m_mutex);
        if (const uint32_t code = Enter(Op::SetModemLines)) return code;
        At(handle).dtr = dtr;
        At(handle).rts = rts;
        return kOk;
    }
    uint32_t Read(int handle, uint8_t *buffer, size_t count, size_t &got) override {
        std::lock_guard lock(m_mutex);
        got = 0;
        if (const uint32_t code = Enter(Op::Read)) return code;
        Device &d = At(handle);
        for (; got < count && !d.rx.empty(); d.rx.pop_front()) buffer[got++] = d.rx.front();
        return got == 0 && d.hungUp ? kErrHangUp : kOk;
    }
    uint32_t Write(int handle, const uint8_t *, size_t count, size_t &done) override {
        std::lock_guard lock(m_mutex);
        done = 0;
        if (const uint32_t code = Enter(Op::Write)) return code;
        Device &d = At(handle);
        done = std::min(count, d.txRoom);
        if (d.txRoom != SIZE_MAX) d.txRoom -= done;
        d.txCount += done;
        return kOk;
    }
    uint32_t Purge(int handle, bool input, bool output) override {
        std::lock_guard lock(m_mutex);
        if (const uint32_t code = Enter(Op::Purge)) return code;
        if (input) At(handle).rx.clear();
        if (output) ++At(handle).outputPurges;
        return kOk;
    }
    uint32_t ReadCounters(int handle, LineCounters &counters) override {
        std::lock_guard lock(m_mutex);
        if (!At(handle).hasCounters) return kErrNotSupported;
        counters = At(handle).counters;
        return kOk;
    }
    uint32_t CreateWaker(int &waker) override {
        std::lock_guard lock(m_mutex);
        if (const uint32_t code = Enter(Op::Waker)) return code;
        waker = m_next++;
        m_wakes[waker] = 0;
        return kOk;
    }
    void CloseWaker(int waker) override {
        std::lock_guard lock(m_mutex);
        m_wakes.erase(waker);
    }
    void Wake(int waker) override {
        std::lock_guard lock(m_mutex);
        ++m_wakes.at(waker);
        m_changed.notify_all();
    }
    uint32_t Wait(int handle, unsigned want, int waker, uint32_t timeoutMs,
                  unsigned &ready) override {
        std::unique_lock lock(m_mutex);
        ready = 0;
        if (const uint32_t code = Enter(Op::Wait)) return code;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const Device &d = At(handle);
            ready |= d.hungUp ? kHangUp : 0;
            ready |= (want & kReadable) && !d.rx.empty() ? kReadable : 0;
            ready |= (want & kWritable) && d.txRoom > 0 ? kWritable : 0;
            if (waker >= 0 && m_wakes.at(waker) > 0) {
                m_wakes[waker] = 0;
                ready |= kWoken;
            }
            if (ready != 0) return kOk;
            if (timeoutMs == kInfinite) {
                m_changed.wait(lock);
            } else if (m_changed.wait_until(lock, end) == std::cv_status::timeout) {
                return kOk;
            }
        }
    }

private:
    // Counts the call and answers the failure queued for it, if any.
    uint32_t Enter(Op op) {
        ++m_calls[op];
        auto it = m_failures.find(op);
        if (it == m_failures.end()) return kOk;
        const uint32_t code = it->second;
        m_failures.erase(it);
        return code;
    }
    Device &At(int handle) { return m_devices.at(m_handles.at(handle)); }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, Device> m_devices;
    std::map<int, std::string> m_handles;
    std::map<int, uint64_t> m_wakes;
    std::map<Op, uint32_t> m_failures;
    std::map<Op, int> m_calls;
    int m_next = 3;
};

}  // namespace portlink::test
