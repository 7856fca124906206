// A TCP server on 127.0.0.1 with a port of the system's choosing, run by one
// thread that sleeps in poll: it accepts every client, keeps what they send,
// can answer each read, and can reset all its connections on request.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class LoopbackServer {
public:
    // Called on the server's thread for every read; may write to fd.
    using OnData = std::function<void(int fd, const uint8_t *bytes, size_t n)>;
    // Called on the server's thread for every accepted client; false closes it.
    using OnAccept = std::function<bool(int fd)>;

    explicit LoopbackServer(OnData onData = {}, OnAccept onAccept = {});
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    uint16_t Port() const { return m_port; }
    int Accepts() const { return m_accepts.load(); }
    int OpenClients() const;
    std::vector<uint8_t> Received() const;
    // Closes every accepted connection with a reset (RST), as a crashed peer
    // would; returns once done.
    void ResetClients();

private:
    void Run();
    void Wake();

    OnData m_onData;
    OnAccept m_onAccept;
    int m_listen = -1;
    int m_wake = -1;
    uint16_t m_port = 0;
    std::atomic<int> m_accepts{0};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_resetsAsked{0}, m_resetsDone{0};
    mutable std::mutex m_lock;
    std::vector<int> m_clients;
    std::vector<uint8_t> m_received;
    std::thread m_thread;
};

// A socket listening on 127.0.0.1 at a port of the system's choosing; a
// client's connect succeeds (the kernel completes it) even if nobody accepts.
int ListenOnLoopback(uint16_t *port);
// A port on 127.0.0.1 where nobody listens (bound once, then released).
uint16_t UnusedPort();
