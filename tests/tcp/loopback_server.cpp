#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

int ListenOnLoopback(uint16_t *port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        listen(fd, 128) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        std::abort();
    *port = ntohs(address.sin_port);
    return fd;
}

uint16_t UnusedPort() {
    uint16_t port = 0;
    close(ListenOnLoopback(&port));
    return port;
}

LoopbackServer::LoopbackServer(OnData onData, OnAccept onAccept)
    : m_onData(std::move(onData)), m_onAccept(std::move(onAccept)) {
    m_listen = ListenOnLoopback(&m_port);
    m_wake = eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread(&LoopbackServer::Run, this);
}

LoopbackServer::~LoopbackServer() {
    m_stop.store(true);
    Wake();
    m_thread.join();
    for (int fd : m_clients) close(fd);
    close(m_listen);
    close(m_wake);
}

void LoopbackServer::Wake() {
    const uint64_t one = 1;
    if (write(m_wake, &one, sizeof one) != sizeof one) std::abort();
}

int LoopbackServer::OpenClients() const {
    std::lock_guard lock(m_lock);
    return static_cast<int>(m_clients.size());
}

std::vector<uint8_t> LoopbackServer::Received() const {
    std::lock_guard lock(m_lock);
    return m_received;
}

void LoopbackServer::ResetClients() {
    const int asked = m_resetsAsked.fetch_add(1) + 1;
    Wake();
    while (m_resetsDone.load() < asked) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void LoopbackServer::Run() {
    std::vector<pollfd> waits;
    uint8_t buffer[65536];
    while (!m_stop.load()) {
        waits.assign({{m_wake, POLLIN, 0}, {m_listen, POLLIN, 0}});
        {
            std::lock_guard lock(m_lock);
            for (int fd : m_clients) waits.push_back({fd, POLLIN, 0});
        }
        if (poll(waits.data(), waits.size(), -1) < 0) continue;
        if (waits[0].revents) {
            uint64_t count;
            if (read(m_wake, &count, sizeof count) < 0) std::abort();
            std::lock_guard lock(m_lock);
            if (m_resetsDone.load() < m_resetsAsked.load()) {
                for (int fd : m_clients) {
                    const linger abort = {1, 0};
                    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                    close(fd);
                }
                m_clients.clear();
                m_resetsDone.store(m_resetsAsked.load());
            }
            continue;
        }
        if (waits[1].revents) {
            const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                m_accepts.fetch_add(1);
                if (m_onAccept && !m_onAccept(fd)) {
                    close(fd);
                } else {
                    std::lock_guard lock(m_lock);
                    m_clients.push_back(fd);
                }
            }
        }
        for (size_t i = 2; i < waits.size(); ++i) {
            if (!waits[i].revents) continue;
            const int fd = waits[i].fd;
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                std::lock_guard lock(m_lock);
                m_clients.erase(std::find(m_clients.begin(), m_clients.end(), fd));
                close(fd);
                continue;
            }
            {
                std::lock_guard lock(m_lock);
                m_received.insert(m_received.end(), buffer, buffer + n);
            }
            if (m_onData) m_onData(fd, buffer, static_cast<size_t>(n));
        }
    }
}
