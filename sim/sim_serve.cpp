#include "sim_serve.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "clock.h"

namespace {

constexpr size_t kStop = 0;
constexpr size_t kReader = 1;
constexpr size_t kWatch = 2;
constexpr size_t kFirstPeer = 4;

// Rounded up: waking early would only mean another poll.
int TimeoutMs(int64_t deadline, int64_t now) {
    if (deadline < 0) return -1;
    const int64_t wait = (deadline - now + 999) / 1000;
    return wait <= 0 ? 0 : wait > INT_MAX ? INT_MAX : static_cast<int>(wait);
}

}  // namespace

SimPeer::~SimPeer() {
    session.FlushLogSummary();
    if (owned) close(fd);
}

SimPeer *CSimServer::Add(int fd, bool owned, const char *name) {
    if (m_peers.size() == kMaxPeers) return nullptr;
    m_peers.push_back(std::make_unique<SimPeer>(fd, owned, m_options, m_device, m_log));
    SimPeer &peer = *m_peers.back();
    snprintf(peer.name, sizeof peer.name, "%s", name);
    return &peer;
}

bool CSimServer::Lose(CSimFront &front, size_t index, const char *why) {
    m_peers[index]->session.FlushLogSummary();
    if (front.OnLost(*m_peers[index], why) == CSimFront::Lost::Fail) return false;
    m_peers.erase(m_peers.begin() + static_cast<long>(index));
    return true;
}

bool CSimServer::WriteDue(CSimFront &front, int64_t now, int64_t &deadline) {
    deadline = -1;
    for (size_t i = 0; i < m_peers.size();) {
        SimPeer &peer = *m_peers[i];
        peer.session.OnTime(now);
        const int written = WriteDuePieces(peer.fd, peer.session, now);
        if (written < 0) {
            if (!Lose(front, i, strerror(errno))) return false;
            continue;
        }
        peer.blocked = written == 1;
        // A blocked peer waits for POLLOUT, not for its (past) due time.
        const int64_t due = peer.session.NextDeadline(!peer.blocked);
        if (due >= 0 && (deadline < 0 || due < deadline)) deadline = due;
        ++i;
    }
    return true;
}

bool CSimServer::ReadTurns(CSimFront &front, size_t polled) {
    // One read per peer and round, whatever is left waits for the next: a
    // peer that never stops sending still lets the others have their turn.
    uint8_t buffer[kTurnBytes];
    size_t index = 0;
    for (size_t slot = kFirstPeer; slot < kFirstPeer + polled; ++slot) {
        const short revents = m_fds[slot].revents;
        SimPeer &peer = *m_peers[index];
        if (revents & POLLNVAL) return false;
        if (!(revents & (POLLIN | POLLHUP | POLLERR))) {
            ++index;
            continue;
        }
        ssize_t got;
        do {
            got = read(peer.fd, buffer, sizeof buffer);
        } while (got < 0 && errno == EINTR);
        if (got > 0) {
            peer.session.OnBytes(buffer, static_cast<size_t>(got), MonotonicMicros());
            ++index;
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            ++index;
            continue;
        }
        const size_t before = m_peers.size();
        if (!Lose(front, index, got == 0 ? kEndOfStream : strerror(errno))) return false;
        if (m_peers.size() == before) ++index;
    }
    return true;
}

int CSimServer::Run(CSimFront &front, int stopFd, int readerFd) {
    m_fds.reserve(kFirstPeer + kMaxPeers);
    for (;;) {
        const int64_t now = MonotonicMicros();
        int64_t deadline = -1;
        if (!WriteDue(front, now, deadline)) return 1;

        m_fds.clear();
        m_fds.push_back({stopFd, POLLIN, 0});
        m_fds.push_back({readerFd, 0, 0});  // reports POLLERR once the reader has gone
        m_fds.push_back({front.WatchFd(), POLLIN, 0});
        m_fds.push_back({m_control ? m_control->Fd() : -1, POLLIN, 0});
        for (const auto &peer : m_peers)
            m_fds.push_back(
                {peer->fd, static_cast<short>(POLLIN | (peer->blocked ? POLLOUT : 0)), 0});
        const size_t polled = m_peers.size();

        if (poll(m_fds.data(), m_fds.size(), TimeoutMs(deadline, now)) < 0) {
            if (errno == EINTR) continue;
            fprintf(m_log, "loopsim: poll: %s\n", strerror(errno));
            return 1;
        }
        if (m_fds[kStop].revents) return 0;
        if (m_fds[kReader].revents) {
            fprintf(m_log, "loopsim: whoever read the path has gone\n");
            return 0;
        }
        // A control line written before a request must count for its answer.
        // Poll may have looked at the FIFO before the line came and at the
        // peer after the request did, so read it whatever poll said.
        if (m_control) m_control->Drain(m_device.Instrument(), m_log);
        // Peers first: the slots follow the list as it was polled, and the
        // watch may add peers.
        if (!ReadTurns(front, polled)) return 1;
        if ((m_fds[kWatch].revents & POLLIN) && !front.OnWatch(*this)) return 1;
    }
}
