// How a run reaches its device: the device mapped to its port, a host name
// looked up, the port opened (at start-up and again by every button) or the
// connection made.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "command_run.h"
#include "config_fields.h"
#include "device_map.h"
#include "files.h"
#include "port_path.h"
#include "port_problem.h"
#include "socket_layer.h"

namespace {

// portlink keeps one window for the whole process and gives a port the one
// that is current at its opencom. A dialog opens a port with initcom and then
// opencom; the ports of a list, each opened by a thread with a window of its
// own, take turns at that step so that no port gets another's window.
std::mutex &PortOpenTurn() {
    static std::mutex turn;
    return turn;
}

// A resolver that never answers must not outlast the time-out: the lookup
// runs on a thread of its own, which is left behind when it is late (it
// holds nothing but its own state).
bool ResolveWithin(const std::string &host, int64_t ms, std::string *dotted, std::string *error) {
    struct Lookup {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false, ok = false;
        std::string dotted, error;
    };
    const auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host] {
            std::string address, problem;
            const bool ok = ResolveIPv4(host, &address, &problem);
            std::lock_guard lock(lookup->lock);
            lookup->finished = true;
            lookup->ok = ok;
            lookup->dotted = address;
            lookup->error = problem;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        return ResolveIPv4(host, dotted, error);
    }
    std::unique_lock lock(lookup->lock);
    if (!lookup->done.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(ms, 0)),
                               [&] { return lookup->finished; }))
        return false;
    *dotted = lookup->dotted;
    *error = lookup->error;
    return lookup->ok;
}

}  // namespace

int CRun::PrepareDevice() {
    if (!m_o.device.empty()) {
        // The port is this run's only, so it is not stored unless --port named it.
        std::string error;
        m_port = MapDevice(m_o.device, m_port, &error);
        if (m_port == 0) return Fail(kExitUsage, error);
        if (m_o.ports.empty()) m_dlg.SetStorePort(false);
    }
    // Several ports at once would race for the one stored port.
    if (m_o.ports.size() > 1) m_dlg.SetStorePort(false);
    if (m_port > 0) m_view.PinPortSelection(m_port - 1);
    if (!m_o.tcpHost.empty()) {
        // The link takes a dotted address of at most 15 characters; a name is
        // looked up here so that any host a script names can be reached.
        std::string error = "the name lookup gave no answer within " + TimeoutText();
        if (!ResolveWithin(m_o.tcpHost, MsLeft(), &m_address, &error))
            return Fail(kExitPortOpen, "cannot connect to " + PortText() + " (" + error + ")");
        m_dlg.UseTcp(m_address, m_o.tcpPort);
    }
    return -1;
}

int CRun::Open() {
    {
        std::lock_guard turn(PortOpenTurn());
        m_dlg.OnInitDialog();
    }
    m_port = m_dlg.Link().m_nPort;
    if (m_o.tcpHost.empty()) {
        if (!m_view.Boxes().empty())
            return Fail(kExitPortOpen, "cannot open " + PortText() + ": " +
                                           PortOpenProblem(portlink::PortPath(m_port)));
        return -1;
    }
    return WaitForConnection();
}

int CRun::WaitForConnection() {
    // Settings the link refuses come back as a box at once.
    if (!m_view.Boxes().empty())
        return Fail(kExitPortOpen,
                    "cannot connect to " + PortText() + " (" + m_view.Boxes().front() + ")");
    // The timer keeps ticking while the worker connects.
    const CDeviceLink &link = m_dlg.Link();
    while (link.Sending() && MsLeft() > 0) {
        if (!m_view.RunOnce(static_cast<int>(MsLeft())))
            return Fail(kExitSystem, "waiting failed: " + ErrorText(errno));
    }
    if (!link.Sending() && link.Connected()) return -1;
    std::string why;
    if (!m_view.Boxes().empty())
        why = m_view.Boxes().front();
    else if (link.Sending())
        why = "no connection within " + TimeoutText();
    else
        link.ConnectFailure(&why);
    return Fail(kExitPortOpen,
                "cannot connect to " + PortText() + (why.empty() ? "" : " (" + why + ")"));
}

void CRun::PressButton(Command command) {
    // A button reopens the serial port: the same turn as at start-up.
    std::lock_guard turn(PortOpenTurn());
    switch (command) {
        case Command::Adc:
        case Command::Watch:
            m_dlg.OnBtnAdcRead();
            break;
        case Command::ConfigRead:
        case Command::ConfigDiff:
            m_dlg.OnBtnConfigRead();
            break;
        case Command::ConfigWrite:
            for (size_t i = 0; i < kConfigValueCount; ++i)
                m_view.SetFieldText(kConfigFieldTable[i].id, m_o.values[i]);
            m_dlg.OnBtnConfigWrite();
            break;
        case Command::Ports:
            break;
    }
}
