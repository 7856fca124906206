// The one serving loop behind every way in to the simulated device: a pty,
// a serial device, TCP clients. It sleeps in poll until a client's bytes, a
// due piece or a stop request, and gives every client a bounded turn so a
// client that floods cannot starve the others. What differs between the ways
// in (how clients come and go) is the front's.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <vector>

#include "sim_control.h"
#include "sim_device.h"
#include "sim_options.h"
#include "sim_session.h"

// One client's byte stream and its conversation with the device.
struct SimPeer {
    SimPeer(int socket, bool ownsSocket, const SimOptions &options, CSimDevice &device, FILE *log)
        : fd(socket), owned(ownsSocket), session(options, device, log) {}
    ~SimPeer();
    SimPeer(const SimPeer &) = delete;
    SimPeer &operator=(const SimPeer &) = delete;

    int fd;
    bool owned;
    bool blocked = false;  // the last write found the fd full
    char name[64] = {};
    CSimSession session;
};

class CSimServer;

// The reason a front is given when a peer's stream simply ended.
inline constexpr char kEndOfStream[] = "end of stream";

class CSimFront {
public:
    enum class Lost { Remove, Fail };

    virtual ~CSimFront() = default;
    // An fd that says clients come or go (a listener, an open watch), or -1.
    virtual int WatchFd() const { return -1; }
    // WatchFd is readable. False: serving cannot go on.
    virtual bool OnWatch(CSimServer &) { return true; }
    // peer's fd ended or failed (why says how): drop the client, or stop serving.
    virtual Lost OnLost(SimPeer &peer, const char *why) = 0;
};

class CSimServer {
public:
    // More clients than a test or a demonstration needs; further ones are turned away.
    static constexpr size_t kMaxPeers = 32;
    // A client's turn: at most one read of this many bytes (some 500 requests).
    static constexpr size_t kTurnBytes = 4096;

    // control (nullptr for none) changes the device's instrument as its lines come.
    CSimServer(CSimDevice &device, const SimOptions &options, FILE *log,
               CSimControl *control = nullptr)
        : m_device(device), m_options(options), m_log(log), m_control(control) {}

    // Adds a client on fd (closed with it when owned); nullptr when full.
    SimPeer *Add(int fd, bool owned, const char *name);
    size_t Peers() const { return m_peers.size(); }

    // Serves until stopFd becomes readable or the pipe readerFd (-1 for none)
    // loses its reader (0), or the front gives up (1).
    int Run(CSimFront &front, int stopFd, int readerFd);

private:
    // Writes what is due; drops or fails peers whose fd broke. False: fail.
    bool WriteDue(CSimFront &front, int64_t now, int64_t &deadline);
    // One turn of every readable peer. False: fail.
    bool ReadTurns(CSimFront &front, size_t polled);
    // The front's verdict on a lost peer; false: fail.
    bool Lose(CSimFront &front, size_t index, const char *why);

    CSimDevice &m_device;
    SimOptions m_options;
    FILE *m_log;
    CSimControl *m_control;
    std::vector<std::unique_ptr<SimPeer>> m_peers;
    std::vector<pollfd> m_fds;  // stop, reader, watch, control, then one per peer
};
