// CPortlinkApp: the library's one application object. It holds the table of
// port objects and the window that notifications go to, and carries out the
// twelve exports. Safe to call from several threads at once: the table is
// guarded by its own lock, held only to look entries up and change the table,
// never during a device call; each port's calls take turns on the port's own
// lock, so a slow call on one port never holds up another port.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "backend.h"
#include "com_event_port.h"
#include "notify_target.h"
#include "portlink.h"

namespace portlink {

// Result codes of the exports, as the public header names them.
inline constexpr int32_t kPlOk = PORTLINK_OK;
inline constexpr int32_t kPlDone = PORTLINK_DONE;
inline constexpr int32_t kPlNotInTable = PORTLINK_NOT_IN_TABLE;
inline constexpr int32_t kPlInvalidArgument = PORTLINK_INVALID;
inline constexpr int32_t kPlNoWindow = PORTLINK_NO_WINDOW;
inline constexpr int32_t kPlFailed = PORTLINK_FAILED;

// readcom stages its bytes in a buffer of this size; a larger request is
// clamped to it.
inline constexpr int32_t kStagingSize = 10000;

// writecom gives the device the time its bytes need on the line plus this
// much before it gives up on a device that takes nothing.
inline constexpr uint32_t kWriteMarginMs = 500;

class CPortlinkApp {
public:
    // One port number's place in the table. A call holds it by a shared
    // pointer for as long as it uses it, so that destroycom can take it out of
    // the table while another thread is still in a call on it; the port object
    // is destroyed when the last of them lets go.
    struct PortEntry {
        explicit PortEntry(SerialBackend &backend, int32_t number) : port(backend), key(number) {}
        // The turn of the calls on this port; guards port, notify and staging.
        std::mutex lock;
        CComWndPort port;
        int32_t notify = 1;  // ondata's flag; stored only
        uint8_t staging[kStagingSize];
        // Guarded by the table's lock: the number this entry was made for;
        // whether its port object has recorded it (an open succeeded), which
        // is when the other calls find it; and the opencom calls under way on
        // it, the last of which takes away an entry that never opened.
        const int32_t key;
        bool recorded = false;
        int openers = 0;
    };

    explicit CPortlinkApp(SerialBackend &backend = SystemBackend());
    // Closes what the host left open: a listener must not run on after the
    // library's code is gone.
    ~CPortlinkApp();
    CPortlinkApp(const CPortlinkApp &) = delete;
    CPortlinkApp &operator=(const CPortlinkApp &) = delete;

    int32_t InitCom(HostWindow window);
    int32_t DestroyCom();
    int32_t OpenCom(int32_t port);
    int32_t SetCom(int32_t port, int32_t lineControl, int32_t baudRate);
    int32_t SetMdm(int32_t port, int32_t mode);
    int32_t FlowCom(int32_t port, int32_t mode);
    int32_t OnData(int32_t port, int32_t flag);
    int32_t CloseCom(int32_t port);
    int32_t WriteCom(int32_t port, const uint8_t *data, int32_t count);
    int32_t ReadCom(int32_t port, uint8_t *buffer, int32_t *count);
    int32_t ClearBfr(int32_t port, int32_t selector);
    int32_t CheckBfr(int32_t port, int32_t unused1, int32_t unused2);

    size_t TableSize();

private:
    using EntryPtr = std::shared_ptr<PortEntry>;

    // The entry whose port has recorded this number; called with m_tableLock.
    EntryPtr FindPort(int32_t port) const;
    // Checks 1 to 3 of every per-port export: answers 0 and sets entry, or the
    // code to return.
    int32_t Check(int32_t port, EntryPtr &entry);
    // 0 when the device can be opened; 1 absent; 2 in use; -1 otherwise.
    int32_t ProbePort(const char *path);
    int32_t SetFlow(int32_t port, int32_t mode, uint8_t kindWhenOn);
    void Forget(const EntryPtr &entry);

    SerialBackend &m_backend;
    std::mutex m_tableLock;
    std::vector<EntryPtr> m_ports;
    HostWindow m_hTargetWnd = nullptr;
};

}  // namespace portlink
