#include "portlink_app.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "codes.h"
#include "port_path.h"

namespace portlink {

CPortlinkApp::CPortlinkApp(SerialBackend &backend) : m_backend(backend) {}

CPortlinkApp::~CPortlinkApp() {
    DestroyCom();
}

CPortlinkApp::PortEntry *CPortlinkApp::FindPort(int32_t port) {
    if (port == 0) return nullptr;
    for (PortEntry &entry : m_ports) {
        if (entry.port->NotifyParam() == port) return &entry;
    }
    return nullptr;
}

int32_t CPortlinkApp::Check(int32_t port, PortEntry *&entry) {
    entry = nullptr;
    if (port < 1) return kPlInvalidArgument;
    // Only the pointer is looked at: a host may free its window once its
    // ports are closed and still call closecom on them.
    if (m_hTargetWnd == nullptr) return kPlNoWindow;
    entry = FindPort(port);
    return entry ? kPlOk : kPlNotInTable;
}

int32_t CPortlinkApp::InitCom(PortlinkWindow *window) {
    // A window that cannot post is no window.
    m_hTargetWnd = window != nullptr && window->post != nullptr ? window : nullptr;
    return kPlDone;
}

int32_t CPortlinkApp::DestroyCom() {
    for (PortEntry &entry : m_ports) {
        entry.port->Close();
        entry.port.reset();
    }
    m_ports.clear();
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

int32_t CPortlinkApp::OpenCom(int32_t port) {
    if (port < 1) return kPlInvalidArgument;
    if (m_hTargetWnd == nullptr || m_hTargetWnd->post == nullptr) return kPlNoWindow;
    const std::string path = PortPath(port);
    PortEntry *entry = FindPort(port);
    const bool added = entry == nullptr;
    if (added) {
        m_ports.push_back(PortEntry{std::make_unique<CComWndPort>(m_backend), 1});
        entry = &m_ports.back();
    }
    CComWndPort &object = *entry->port;
    int32_t result = kPlOk;
    if (ProbePort(path.c_str()) != 0) {
        // Absent, in use (also by ourselves: a port open here stays open and
        // working) or not a serial device.
        result = kPlDone;
    } else if (object.Open(path.c_str(), m_hTargetWnd, kWmPortNotify, port, 0, 0) != kOk) {
        result = kPlNotInTable;
    }
    // An entry that never recorded its port number can never be found again;
    // keeping it would only grow the table with every failed open.
    if (added && object.NotifyParam() != port) m_ports.pop_back();
    return result;
}

int32_t CPortlinkApp::SetCom(int32_t port, int32_t lineControl, int32_t baudRate) {
    PortEntry *entry = nullptr;
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
    const uint32_t code =
        entry->port->Configure(static_cast<uint32_t>(baudRate), dataBits, parity, stopBits);
    return code == kOk ? kPlOk : kPlDone;
}

// setmdm and flowcom each choose the whole flow-control kind: mode 0 none,
// modes 1-3 the kind the call stands for. The later call wins.
int32_t CPortlinkApp::SetFlow(int32_t port, int32_t mode, uint8_t kindWhenOn) {
    PortEntry *entry = nullptr;
    if (const int32_t code = Check(port, entry)) return code;
    if (mode < 0 || mode > 3) return kPlInvalidArgument;
    const uint8_t kind = mode == 0 ? kFlowNone : kindWhenOn;
    return entry->port->SetFlowControl(kind) == kOk ? kPlDone : kPlFailed;
}

int32_t CPortlinkApp::SetMdm(int32_t port, int32_t mode) {
    return SetFlow(port, mode, kFlowHardware);
}

int32_t CPortlinkApp::FlowCom(int32_t port, int32_t mode) {
    return SetFlow(port, mode, kFlowSoftware);
}

int32_t CPortlinkApp::OnData(int32_t port, int32_t flag) {
    PortEntry *entry = nullptr;
    if (const int32_t code = Check(port, entry)) return code;
    entry->notify = flag;
    return kPlOk;
}

int32_t CPortlinkApp::CloseCom(int32_t port) {
    PortEntry *entry = nullptr;
    if (const int32_t code = Check(port, entry)) return code;
    entry->port->Close();
    return kPlDone;
}

int32_t CPortlinkApp::WriteCom(int32_t port, const uint8_t *data, int32_t count) {
    PortEntry *entry = nullptr;
    if (const int32_t code = Check(port, entry)) return code;
    if (count < 0 || (data == nullptr && count > 0)) return kPlInvalidArgument;
    const uint32_t code =
        entry->port->Write(data, static_cast<uint32_t>(count), nullptr, kInfinite);
    return code == kOk ? kPlOk : kPlFailed;
}

int32_t CPortlinkApp::ReadCom(int32_t port, uint8_t *buffer, int32_t *count) {
    PortEntry *entry = nullptr;
    if (const int32_t code = Check(port, entry)) return code;
    if (buffer == nullptr || count == nullptr || *count < 0) return kPlInvalidArgument;
    // Never more than the staging buffer holds, whatever the caller asks for.
    const int32_t request = *count == 0 ? kStagingSize : std::min(*count, kStagingSize);
    uint32_t got = 0;
    if (entry->port->Read(m_staging, static_cast<uint32_t>(request), &got, kInfinite) != kOk) {
        return kPlFailed;
    }
    std::memcpy(buffer, m_staging, got);
    *count = static_cast<int32_t>(got);
    return kPlOk;
}

int32_t CPortlinkApp::ClearBfr(int32_t port, int32_t selector) {
    PortEntry *entry = nullptr;
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
    return entry->port->Purge(flags) == kOk ? kPlDone : kPlFailed;
}

int32_t CPortlinkApp::CheckBfr(int32_t port, int32_t /*unused1*/, int32_t /*unused2*/) {
    PortEntry *entry = nullptr;
    const int32_t code = Check(port, entry);
    return code == kPlNotInTable ? kPlNotInTable : code == kPlOk ? kPlDone : code;
}

}  // namespace portlink
