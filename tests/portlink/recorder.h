// A host window for the tests: records every posted message, thread-safe and
// never blocking for long, as the library asks of post().
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "portlink.h"

namespace portlink::test {

struct Posted {
    uint32_t message;
    uint32_t wparam;
    int32_t lparam;
};

class Recorder {
public:
    PortlinkWindow Window() { return PortlinkWindow{&Recorder::Post, this}; }

    size_t Count() {
        std::lock_guard lock(m_mutex);
        return m_posted.size();
    }
    std::vector<Posted> All() {
        std::lock_guard lock(m_mutex);
        return m_posted;
    }
    // Waits until at least n messages have come; false after the time-out.
    bool WaitFor(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_posted.size() >= n; });
    }

private:
    static void Post(void *context, uint32_t message, uint32_t wparam, int32_t lparam) {
        auto *self = static_cast<Recorder *>(context);
        std::lock_guard lock(self->m_mutex);
        self->m_posted.push_back(Posted{message, wparam, lparam});
        self->m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Posted> m_posted;
};

}  // namespace portlink::test
