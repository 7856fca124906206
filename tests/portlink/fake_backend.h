// A backend that plays the device in memory, for what a pseudo-terminal cannot
// do: breaks, line errors, a transmitter that never drains, and a failure of
// any single OS call on demand.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "backend.h"

namespace portlink::test {

class FakeBackend final : public SerialBackend {
public:
    enum class Op {
        Probe,
        Open,
        GetState,
        SetState,
        SetModemLines,
        Read,
        Write,
        Purge,
        ReadCounters,
        CreateWaker,
        Wait
    };

    struct Device {
        bool present = true;
        bool heldElsewhere = false;
        int openCount = 0;
        LineState state{9600, 8, 0, false, 0, 0};
        bool hasCounters = true;
        LineCounters counters{};
        std::deque<uint8_t> rx;
        std::vector<uint8_t> tx;
        size_t txRoom = SIZE_MAX;
        bool hungUp = false;
        bool dtr = true;
        bool rts = true;
        int inputPurges = 0;
        int outputPurges = 0;
    };

    // Test side. Every call wakes waiters that may now be ready.
    void AddDevice(const std::string &name);
    void Update(const std::string &name, void (*change)(Device &));
    void Receive(const std::string &name, const std::vector<uint8_t> &bytes);
    // A break reads as a NUL and counts; a framing error delivers the bad byte.
    void Break(const std::string &name);
    void FrameError(const std::string &name, uint8_t byte);
    void Overrun(const std::string &name, uint8_t byte);
    void HangUp(const std::string &name);
    Device Snapshot(const std::string &name);
    // The next call of op fails with code.
    void FailNext(Op op, uint32_t code);
    int Calls(Op op);

    uint32_t Probe(const char *path) override;
    uint32_t Open(const char *path, int &handle) override;
    void Close(int handle) override;
    uint32_t GetState(int handle, LineState &state) override;
    uint32_t SetState(int handle, const LineState &state) override;
    uint32_t SetModemLines(int handle, bool dtr, bool rts) override;
    uint32_t Read(int handle, uint8_t *buffer, size_t count, size_t &got) override;
    uint32_t Write(int handle, const uint8_t *data, size_t count, size_t &done) override;
    uint32_t Purge(int handle, bool input, bool output) override;
    uint32_t ReadCounters(int handle, LineCounters &counters) override;
    uint32_t CreateWaker(int &waker) override;
    void CloseWaker(int waker) override;
    void Wake(int waker) override;
    uint32_t Wait(int handle, unsigned want, int waker, uint32_t timeoutMs,
                  unsigned &ready) override;

private:
    // Counts the call and answers the failure queued for it, if any.
    uint32_t Enter(Op op);
    Device &At(int handle);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, Device> m_devices;
    std::map<int, std::string> m_handles;
    std::map<int, uint64_t> m_wakers;
    std::map<Op, uint32_t> m_failures;
    std::map<Op, int> m_calls;
    int m_nextHandle = 3;
};

}  // namespace portlink::test
