#include "fake_backend.h"

#include <chrono>

#include "codes.h"

namespace portlink::test {

void FakeBackend::AddDevice(const std::string &name) {
    std::lock_guard lock(m_mutex);
    m_devices[name] = Device{};
}

void FakeBackend::Update(const std::string &name, void (*change)(Device &)) {
    std::lock_guard lock(m_mutex);
    change(m_devices.at(name));
    m_changed.notify_all();
}

void FakeBackend::Receive(const std::string &name, const std::vector<uint8_t> &bytes) {
    std::lock_guard lock(m_mutex);
    Device &d = m_devices.at(name);
    d.rx.insert(d.rx.end(), bytes.begin(), bytes.end());
    m_changed.notify_all();
}

void FakeBackend::Break(const std::string &name) {
    std::lock_guard lock(m_mutex);
    Device &d = m_devices.at(name);
    ++d.counters.breaks;
    d.rx.push_back(0);
    m_changed.notify_all();
}

void FakeBackend::FrameError(const std::string &name, uint8_t byte) {
    std::lock_guard lock(m_mutex);
    Device &d = m_devices.at(name);
    ++d.counters.frame;
    d.rx.push_back(byte);
    m_changed.notify_all();
}

void FakeBackend::Overrun(const std::string &name, uint8_t byte) {
    std::lock_guard lock(m_mutex);
    Device &d = m_devices.at(name);
    ++d.counters.overrun;
    d.rx.push_back(byte);
    m_changed.notify_all();
}

void FakeBackend::HangUp(const std::string &name) {
    std::lock_guard lock(m_mutex);
    m_devices.at(name).hungUp = true;
    m_changed.notify_all();
}

FakeBackend::Device FakeBackend::Snapshot(const std::string &name) {
    std::lock_guard lock(m_mutex);
    return m_devices.at(name);
}

void FakeBackend::FailNext(Op op, uint32_t code) {
    std::lock_guard lock(m_mutex);
    m_failures[op] = code;
}

int FakeBackend::Calls(Op op) {
    std::lock_guard lock(m_mutex);
    return m_calls[op];
}

uint32_t FakeBackend::Enter(Op op) {
    ++m_calls[op];
    auto it = m_failures.find(op);
    if (it == m_failures.end()) return kOk;
    const uint32_t code = it->second;
    m_failures.erase(it);
    return code;
}

FakeBackend::Device &FakeBackend::At(int handle) {
    return m_devices.at(m_handles.at(handle));
}

uint32_t FakeBackend::Probe(const char *path) {
    std::lock_guard lock(m_mutex);
    if (const uint32_t code = Enter(Op::Probe)) return code;
    auto it = m_devices.find(path);
    if (it == m_devices.end() || !it->second.present) return kErrFileNotFound;
    if (it->second.heldElsewhere || it->second.openCount > 0) return kErrAccessDenied;
    return kOk;
}

uint32_t FakeBackend::Open(const char *path, int &handle) {
    std::lock_guard lock(m_mutex);
    if (const uint32_t code = Enter(Op::Open)) return code;
    auto it = m_devices.find(path);
    if (it == m_devices.end() || !it->second.present) return kErrFileNotFound;
    if (it->second.heldElsewhere || it->second.openCount > 0) return kErrAccessDenied;
    ++it->second.openCount;
    handle = m_nextHandle++;
    m_handles[handle] = path;
    return kOk;
}

void FakeBackend::Close(int handle) {
    std::lock_guard lock(m_mutex);
    --At(handle).openCount;
    m_handles.erase(handle);
}

uint32_t FakeBackend::GetState(int handle, LineState &state) {
    std::lock_guard lock(m_mutex);
    if (const uint32_t code = Enter(Op::GetState)) return code;
    state = At(handle).state;
    return kOk;
}

uint32_t FakeBackend::SetState(int handle, const LineState &state) {
    std::lock_guard lock(m_mutex);
    if (const uint32_t code = Enter(Op::SetState)) return code;
    At(handle).state = state;
    return kOk;
}

uint32_t FakeBackend::SetModemLines(int handle, bool dtr, bool rts) {
    std::lock_guard lock(m_mutex);
    if (const uint32_t code = Enter(Op::SetModemLines)) return code;
    At(handle).dtr = dtr;
    At(handle).rts = rts;
    return kOk;
}

uint32_t FakeBackend::Read(int handle, uint8_t *buffer, size_t count, size_t &got) {
    std::lock_guard lock(m_mutex);
    got = 0;
    if (const uint32_t code = Enter(Op::Read)) return code;
    Device &d = At(handle);
    while (got < count && !d.rx.empty()) {
        buffer[got++] = d.rx.front();
        d.rx.pop_front();
    }
    if (got == 0 && d.hungUp) return kErrHangUp;
    return kOk;
}

uint32_t FakeBackend::Write(int handle, const uint8_t *data, size_t count, size_t &done) {
    std::lock_guard lock(m_mutex);
    done = 0;
    if (const uint32_t code = Enter(Op::Write)) return code;
    Device &d = At(handle);
    if (d.hungUp) return kErrIoDevice;
    done = count < d.txRoom ? count : d.txRoom;
    if (d.txRoom != SIZE_MAX) d.txRoom -= done;
    d.tx.insert(d.tx.end(), data, data + done);
    return kOk;
}

uint32_t FakeBackend::Purge(int handle, bool input, bool output) {
    std::lock_guard lock(m_mutex);
    if (const uint32_t code = Enter(Op::Purge)) return code;
    Device &d = At(handle);
    if (input) {
        d.rx.clear();
        ++d.inputPurges;
    }
    if (output) ++d.outputPurges;
    return kOk;
}

uint32_t FakeBackend::ReadCounters(int handle, LineCounters &counters) {
    std::lock_guard lock(m_mutex);
    if (const uint32_t code = Enter(Op::ReadCounters)) return code;
    const Device &d = At(handle);
    if (!d.hasCounters) return kErrNotSupported;
    counters = d.counters;
    return kOk;
}

uint32_t FakeBackend::CreateWaker(int &waker) {
    std::lock_guard lock(m_mutex);
    if (const uint32_t code = Enter(Op::CreateWaker)) return code;
    waker = m_nextHandle++;
    m_wakers[waker] = 0;
    return kOk;
}

void FakeBackend::CloseWaker(int waker) {
    std::lock_guard lock(m_mutex);
    m_wakers.erase(waker);
}

void FakeBackend::Wake(int waker) {
    std::lock_guard lock(m_mutex);
    ++m_wakers.at(waker);
    m_changed.notify_all();
}

uint32_t FakeBackend::Wait(int handle, unsigned want, int waker, uint32_t timeoutMs,
                           unsigned &ready) {
    std::unique_lock lock(m_mutex);
    ready = 0;
    if (const uint32_t code = Enter(Op::Wait)) return code;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const Device &d = At(handle);
        if (d.hungUp) ready |= kHangUp;
        if ((want & kReadable) && !d.rx.empty()) ready |= kReadable;
        if ((want & kWritable) && d.txRoom > 0) ready |= kWritable;
        if (waker >= 0 && m_wakers.at(waker) > 0) {
            m_wakers[waker] = 0;
            ready |= kWoken;
        }
        if (ready != 0) return kOk;
        if (timeoutMs == kInfinite) {
            m_changed.wait(lock);
        } else if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            return kOk;
        }
    }
}

}  // namespace portlink::test
