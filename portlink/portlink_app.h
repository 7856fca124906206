// CPortlinkApp: the library's one application object. It holds the table of
// port objects and the window that notifications go to, and carries out the
// twelve exports. Not thread-safe: a host calls the exports from one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "backend.h"
#include "com_event_port.h"
#include "portlink.h"

namespace portlink {

// Result codes of the exports.
inline constexpr int32_t kPlOk = 0;
inline constexpr int32_t kPlDone = 1;
inline constexpr int32_t kPlNotInTable = 2;
inline constexpr int32_t kPlInvalidArgument = 4;
inline constexpr int32_t kPlNoWindow = 16;
inline constexpr int32_t kPlFailed = 999;

// readcom stages its bytes in a buffer of this size; a larger request is
// clamped to it.
inline constexpr int32_t kStagingSize = 10000;

class CPortlinkApp {
public:
    struct PortEntry {
        std::unique_ptr<CComWndPort> port;
        int32_t notify = 1;  // ondata's flag; stored only
    };

    explicit CPortlinkApp(SerialBackend &backend = SystemBackend());
    // Closes what the host left open: a listener must not run on after the
    // library's code is gone.
    ~CPortlinkApp();
    CPortlinkApp(const CPortlinkApp &) = delete;
    CPortlinkApp &operator=(const CPortlinkApp &) = delete;

    int32_t InitCom(PortlinkWindow *window);
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

    PortEntry *FindPort(int32_t port);
    size_t TableSize() const { return m_ports.size(); }

private:
    // Checks 1 to 3 of every per-port export: answers 0 and sets entry, or the
    // code to return.
    int32_t Check(int32_t port, PortEntry *&entry);
    // 0 when the device can be opened; 1 absent; 2 in use; -1 otherwise.
    int32_t ProbePort(const char *path);
    int32_t SetFlow(int32_t port, int32_t mode, uint8_t kindWhenOn);

    SerialBackend &m_backend;
    std::vector<PortEntry> m_ports;
    PortlinkWindow *m_hTargetWnd = nullptr;
    uint8_t m_staging[kStagingSize] = {};
};

}  // namespace portlink
