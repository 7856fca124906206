// How a run reaches its device: the device mapped to its port, a host name
// looked up, the port opened or the connection made, and the port stored.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "clock.h"
#include "command_run.h"
#include "device_map.h"
#include "files.h"
#include "settings.h"
#include "socket_layer.h"

namespace {

// portlink keeps one window for the whole process and gives a port the one
// that is current at its opencom. A session opens a port with initcom and
// then opencom; the ports of a list, each opened by a thread with a window
// of its own, take turns at that step so that no port gets another's window.
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
        if (m_o.ports.empty()) m_storePort = false;
    }
    // Several ports at once would race for the one stored port.
    if (m_o.ports.size() > 1) m_storePort = false;
    if (m_port == 0) m_port = ReadComPort(m_settingsPath, m_settingsFallback);
    m_session.UseSerial(static_cast<uint8_t>(m_port));
    if (!m_o.tcpHost.empty()) {
        // The link takes a dotted address of at most 15 characters; a name is
        // looked up here so that any host a script names can be reached.
        std::string address;
        std::string error = "the name lookup gave no answer within " + TimeoutText();
        if (!ResolveWithin(m_o.tcpHost, TimeoutMs(), &address, &error))
            return Fail(kExitPortOpen, "cannot connect to " + m_o.tcpHost + ":" +
                                           std::to_string(m_o.tcpPort) + " (" + error + ")");
        m_session.UseTcp(address, m_o.tcpPort);
    }
    return -1;
}

int CRun::Open() {
    const int64_t started = MonotonicMillis();
    {
        std::lock_guard turn(PortOpenTurn());
        m_session.Open();
    }
    if (m_session.OverTcp()) {
        // The lookup and the connection together end within the time-out.
        while (m_session.State() == CDeviceSession::LineState::Opening) {
            const int64_t left = TimeoutMs() - (MonotonicMillis() - started);
            if (left <= 0) break;
            if (!m_host.RunOnce(static_cast<int>(left)))
                return Fail(kExitSystem, "waiting failed: " + ErrorText(errno));
        }
        std::string why;
        const CDeviceSession::LineState state = m_session.State(&why);
        if (state == CDeviceSession::LineState::Opening) why = "no connection within " + TimeoutText();
        if (state != CDeviceSession::LineState::Open)
            return Fail(kExitPortOpen, "cannot connect to " + m_o.tcpHost + ":" +
                                           std::to_string(m_o.tcpPort) + " (" + why + ")");
    } else {
        std::string why;
        if (m_session.State(&why) != CDeviceSession::LineState::Open)
            return Fail(kExitPortOpen, "cannot open " + PortText() + ": " + why);
        StorePort();
    }
    m_host.Log("Start!");
    return -1;
}

void CRun::StorePort() {
    if (!m_storePort) return;
    if (!WriteComPort(m_settingsPath, m_port))
        m_host.Say("the port was not stored in " + m_settingsPath + ": " + ErrorText(errno));
}
