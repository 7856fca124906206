// What the tests share: a host window that records its messages, and real
// pseudo-terminals.
#pragma once

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "portlink.h"

namespace portlink::test {

using Posted = std::tuple<uint32_t, uint32_t, int32_t>;  // message, wparam, lparam

// post() as the library asks for it: thread-safe and never blocking for long.
class Recorder {
public:
    PortlinkWindow Window() { return PortlinkWindow{&Recorder::Post, this}; }
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
};

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
    // The device goes away: the port's side of the pty hangs up.
    void HangUp() { close(std::exchange(master, -1)), close(std::exchange(slave, -1)); }
    std::string variable;
    int master = -1, slave = -1;
};

}  // namespace portlink::test
