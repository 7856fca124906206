#include "portlink_app.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "codes.h"
#include "port_path.h"

namespace portlink {
namespace {

// The time count bytes need on the line as the port is set (start bit, data
// bits, parity bit, stop bits at the baud rate), plus kWriteMarginMs.
uint32_t WriteTimeoutMs(CComPort &port, uint32_t count) {
    // Settings that cannot be read: 8N1 at 1200 baud, slower than any rate
    // this device is run at.
    uint64_t baud = 1200, bits = 10;
    const int32_t rate = port.BaudRate(), dataBits = port.DataBits();
    if (rate > 0 && dataBits > 0) {
        baud = static_cast<uint64_t>(rate);
        bits = 1u + static_cast<uint64_t>(dataBits) + (port.Parity() != kNoParity ? 1u : 0u) +
               (port.StopBits() == kOneStopBit ? 1u : 2u);
    }
    const uint64_t ms = (count * bits * 1000 + baud - 1) / baud + kWriteMarginMs;
    return static_cast<uint32_t>(std::min<uint64_t>(ms, kInfinite - 1));
}

}  // namespace

CPortlinkApp::CPortlinkApp(SerialBackend &backend) : m_backend(backend) {}

CPortlinkApp::~CPortlinkApp() {
    DestroyCom();
}

CPortlinkApp::EntryPtr CPortlinkApp::FindPort(int32_t port) const {
    if (port == 0) return nullptr;
    for (const EntryPtr &entry : m_ports) {
        if (entry->recorded && entry->key == port) return entry;
    }
    return nullptr;
}

int32_t CPortlinkApp::Check(int32_t port, EntryPtr &entry) {
    entry = nullptr;
    if (port < 1) return kPlInvalidArgument;
    std::lock_guard table(m_tableLock);
    // Only the pointer is looked at: a host may free its window once its
    // ports are closed and still call closecom on them.
    if (m_hTargetWnd == nullptr) return kPlNoWindow;
    entry = FindPort(port);
    return entry ? kPlOk : kPlNotInTable;
}

size_t CPortlinkApp::TableSize() {
    std::lock_guard table(m_tableLock);
    return m_ports.size();
}

int32_t CPortlinkApp::InitCom(HostWindow window) {
    std::lock_guard table(m_tableLock);
    m_hTargetWnd = CanPost(window) ? window : nullptr;
    return kPlDone;
}

int32_t CPortlinkApp::DestroyCom() {
    std::vector<EntryPtr> ports;
    {
        std::lock_guard table(m_tableLock);
        ports.swap(m_ports);
    }
    // Closed outside the table's lock: a close waits for the port's call in
    // progress, and the other ports need not wait with it.
    for (const EntryPtr &entry : ports) {
        std::lock_guard turn(entry->lock);
        entry->port.Close();
    }
    return kPlDone;
}

int32_t CPortlinkApp::ProbePort(const char *path) {
    switch (m_backend.Probe(path)) {
        case kOk:
            return 0;
        case kErrFileNotFound:
            return 1;
        case kErrAccessDenied:
            return 2;
        default:
            return -1;
    }
}

void CPortlinkApp::Forget(const EntryPtr &entry) {
    auto at = std::find(m_ports.begin(), m_ports.end(), entry);
    if (at != m_ports.end()) m_ports.erase(at);
}

int32_t CPortlinkApp::OpenCom(int32_t port) {
    if (port < 1) return kPlInvalidArgument;
    EntryPtr entry;
    HostWindow window = nullptr;
    {
        std::lock_guard table(m_tableLock);
        if (!CanPost(m_hTargetWnd)) return kPlNoWindow;
        window = m_hTargetWnd;
        // Also an entry that another opencom of this number is opening: the
        // two take turns on it, so the table never holds two for one number.
        auto same = [port](const EntryPtr &candidate) { return candidate->key == port; };
        if (auto at = std::find_if(m_ports.begin(), m_ports.end(), same); at != m_ports.end()) {
            entry = *at;
        }
        if (!entry) {
            entry = std::make_shared<PortEntry>(m_backend, port);
            m_ports.push_back(entry);
        }
        ++entry->openers;
    }
    const std::string path = PortPath(port);
    bool recorded = false;
    int32_t result = kPlOk;
    {
        std::lock_guard turn(entry->lock);
        CComWndPort &object = entry->port;
        // Open here already (it stays open and working; not every system
        // refuses a second open of a device by its owner), or absent, in use
        // or not a serial device.
        if (object.IsOpen() || ProbePort(path.c_str()) != 0) {
            result = kPlDone;
        } else if (object.Open(path.c_str(), window, kWmPortNotify, port, 0, 0) != kOk) {
            result = kPlNotInTable;
        }
        recorded = object.NotifyParam() == port;
    }
    std::lock_guard table(m_tableLock);
    entry->recorded = entry->recorded || recorded;
    // An entry that never recorded its port number can never be found again;
    // keeping it would only grow the table with every failed open.
    if (--entry->openers == 0 && !entry->recorded) Forget(entry);
    return result;
}

int32_t CPortlinkApp::SetCom(int32_t port, int32_t lineControl, int32_t baudRate) {
    EntryPtr entry;
    if (const int32_t code = Check(port, entry)) return code;
    uint8_t dataBits = 0;
    switch (lineControl & 0x03) {
        case 3:
            dataBits = 8;
            break;
        case 2:
            dataBits = 7;
            break;
        case 1:
            dataBits = 6;
            break;
        default:
            return kPlInvalidArgument;
    }
    if (baudRate == -1) return kPlInvalidArgument;
    const uint8_t stopBits = (lineControl & 0x04) ? kTwoStopBits : kOneStopBit;
    uint8_t parity = kNoParity;
    switch (lineControl & 0x38) {
        case 0x08:
            parity = kOddParity;
            break;
        case 0x18:
            parity = kEvenParity;
            break;
        case 0x28:
            parity = kMarkParity;
            break;
        case 0x38:
            parity = kSpaceParity;
            break;
        default:
            break;
    }
    std::lock_guard turn(entry->lock);
    const uint32_t code =
        entry->port.Configure(static_cast<uint32_t>(baudRate), dataBits, parity, stopBits);
    return code == kOk ? kPlOk : kPlDone;
}

// setmdm and flowcom each choose the whole flow-control kind: mode 0 none,
// modes 1-3 the kind the call stands for. The later call wins.
int32_t CPortlinkApp::SetFlow(int32_t port, int32_t mode, uint8_t kindWhenOn) {
    EntryPtr entry;
    if (const int32_t code = Check(port, entry)) return code;
    if (mode < 0 || mode > 3) return kPlInvalidArgument;
    const uint8_t kind = mode == 0 ? kFlowNone : kindWhenOn;
    std::lock_guard turn(entry->lock);
    return entry->port.SetFlowControl(kind) == kOk ? kPlDone : kPlFailed;
}

int32_t CPortlinkApp::SetMdm(int32_t port, int32_t mode) {
    return SetFlow(port, mode, kFlowHardware);
}

int32_t CPortlinkApp::FlowCom(int32_t port, int32_t mode) {
    return SetFlow(port, mode, kFlowSoftware);
}

int32_t CPortlinkApp::OnData(int32_t port, int32_t flag) {
    EntryPtr entry;
    if (const int32_t code = Check(port, entry)) return code;
    std::lock_guard turn(entry->lock);
    entry->notify = flag;
    return kPlOk;
}

int32_t CPortlinkApp::CloseCom(int32_t port) {
    EntryPtr entry;
    if (const int32_t code = Check(port, entry)) return code;
    std::lock_guard turn(entry->lock);
    entry->port.Close();
    return kPlDone;
}

int32_t CPortlinkApp::WriteCom(int32_t port, const uint8_t *data, int32_t count) {
    EntryPtr entry;
    if (const int32_t code = Check(port, entry)) return code;
    if (count < 0 || (data == nullptr && count > 0)) return kPlInvalidArgument;
    std::lock_guard turn(entry->lock);
    CComWndPort &object = entry->port;
    const uint32_t bytes = static_cast<uint32_t>(count);
    // Bounded, so that a device that takes nothing (flow control held, a peer
    // that never reads) cannot keep the caller for ever: on time-out the port
    // discards what it has not sent and the write fails.
    const uint32_t code = object.Write(data, bytes, nullptr, WriteTimeoutMs(object, bytes));
    return code == kOk ? kPlOk : kPlFailed;
}

int32_t CPortlinkApp::ReadCom(int32_t port, uint8_t *buffer, int32_t *count) {
    EntryPtr entry;
    if (const int32_t code = Check(port, entry)) return code;
    if (buffer == nullptr || count == nullptr || *count < 0) return kPlInvalidArgument;
    // Never more than the staging buffer holds, whatever the caller asks for.
    const int32_t request = *count == 0 ? kStagingSize : std::min(*count, kStagingSize);
    uint32_t got = 0;
    std::lock_guard turn(entry->lock);
    if (entry->port.Read(entry->staging, static_cast<uint32_t>(request), &got, kInfinite) != kOk) {
        return kPlFailed;
    }
    std::memcpy(buffer, entry->staging, got);
    *count = static_cast<int32_t>(got);
    return kPlOk;
}

int32_t CPortlinkApp::ClearBfr(int32_t port, int32_t selector) {
    EntryPtr entry;
    if (const int32_t code = Check(port, entry)) return code;
    uint32_t flags = 0;
    switch (selector) {
        case 1:
            flags = kPurgeRxClear;
            break;
        case 2:
            flags = kPurgeTxClear;
            break;
        case 3:
            flags = kPurgeRxClear | kPurgeTxClear;
            break;
        default:
            return kPlInvalidArgument;
    }
    std::lock_guard turn(entry->lock);
    return entry->port.Purge(flags) == kOk ? kPlDone : kPlFailed;
}

int32_t CPortlinkApp::CheckBfr(int32_t port, int32_t /*unused1*/, int32_t /*unused2*/) {
    EntryPtr entry;
    const int32_t code = Check(port, entry);
    return code == kPlNotInTable ? kPlNotInTable : code == kPlOk ? kPlDone : code;
}

}  // namespace portlink
