// A host window for the tests on Linux: a post() that records its messages.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <tuple>
#include <vector>

#include "portlink.h"

namespace portlink::test {

using Posted = std::tuple<uint32_t, uint32_t, int32_t>;  // message, wparam, lparam

// post() as the library asks for it: thread-safe and never blocking for long.
class Recorder {
public:
    PortlinkWindow *Handle() { return &m_window; }
    std::vector<Posted> All() {
        std::lock_guard lock(m_mutex);
        return m_posted;
    }
    size_t Count() { return All().size(); }
    bool WaitFor(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_posted.size() >= n; });
    }

private:
    static void Post(void *context, uint32_t message, uint32_t wparam, int32_t lparam) {
        auto *self = static_cast<Recorder *>(context);
        std::lock_guard lock(self->m_mutex);
        self->m_posted.emplace_back(message, wparam, lparam);
        self->m_changed.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Posted> m_posted;
    PortlinkWindow m_window{&Recorder::Post, this};
};

}  // namespace portlink::test
