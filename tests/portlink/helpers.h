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
#include "recorder.h"

namespace portlink::test {

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
