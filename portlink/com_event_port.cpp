#include "com_event_port.h"

#include "errors.h"

namespace portlink {

CComEventPort::~CComEventPort() {
    if (m_hListenThread.joinable() || m_hPort != kNoHandle) CComEventPort::Close();
}

uint32_t CComEventPort::Open(const char *name, uint32_t inQueue, uint32_t outQueue,
                             bool startListener) {
    if (const uint32_t code = CComPort::Open(name, inQueue, outQueue, true)) return code;
    if (startListener) {
        if (const uint32_t code = StartListening()) return code;
    }
    return m_lastError;
}

uint32_t CComEventPort::Close() {
    StopListening(kInfinite);
    return CComPort::Close();
}

uint32_t CComEventPort::StartListening() {
    if (!BeginCall()) return m_lastError;
    if (m_hListenThread.joinable()) return m_lastError;
    m_stopRequested = false;
    try {
        m_hListenThread = std::thread([this] { Listen(); });
    } catch (const std::system_error &e) {
        return Fail(CodeFromThreadError(e));
    }
    return m_lastError;
}

uint32_t CComEventPort::StopListening(uint32_t /*timeoutMs*/) {
    if (m_hListenThread.joinable()) {
        m_stopRequested = true;
        // Completes the pending wait, or the next one if the listener is
        // between waits: the wake is kept until a wait sees it.
        SetEventMask(EventMask());
        m_hListenThread.join();
        m_stopRequested = false;
    }
    m_lastError = 0;
    return m_lastError;
}

void CComEventPort::Listen() {
    while (!m_stopRequested.load()) {
        if (WaitEventsRaw(kInfinite) != kOk) {
            // A device that went away (or a wait that cannot be made) ends the
            // listener: waiting again would only fail again at once. The host
            // hears of it once, unless it is stopping us anyway; its next
            // read or write fails.
            const uint32_t events = kEvErr & m_eventMask.load();
            if (events != 0 && !m_stopRequested.load()) OnCommEvent(events, 0);
            return;
        }
        if (m_stopRequested.load()) break;
        const uint32_t events = TakeEvents();
        const uint32_t errors = ClearErrors();
        if (events != 0) OnCommEvent(events, errors);
    }
}

CComNotifyPort::~CComNotifyPort() {
    if (m_hListenThread.joinable() || m_hPort != kNoHandle) CComNotifyPort::Close();
}

uint32_t CComNotifyPort::Open(const char *name, NotifyTarget window, uint32_t message,
                              int32_t parameter, uint32_t inQueue, uint32_t outQueue) {
    if (const uint32_t code = CComEventPort::Open(name, inQueue, outQueue, false)) return code;
    m_hNotifyWnd = window;
    m_notifyMsg = message != 0 ? message : g_defaultNotifyMsg;
    m_notifyParam = parameter;
    if (const uint32_t code = StartListening()) {
        Close();
        return Fail(code);
    }
    m_lastError = 0;
    return m_lastError;
}

uint32_t CComNotifyPort::Close() {
    // The listener reads the window data: stop it before clearing them.
    const uint32_t result = CComEventPort::Close();
    m_hNotifyWnd = NotifyTarget{};
    m_notifyMsg = 0;
    return result;
}

void CComNotifyPort::OnCommEvent(uint32_t events, uint32_t errors) {
    const uint32_t wparam = ((errors & 0xFFFFu) << 16) | (events & 0xFFFFu);
    PostPortNotify(m_hNotifyWnd, m_notifyMsg, wparam, m_notifyParam);
}

CComWndPort::~CComWndPort() {
    // Stop before the base destructors run, which retarget the virtual calls
    // the listener makes.
    if (m_hListenThread.joinable() || m_hPort != kNoHandle) CComWndPort::Close();
}

uint32_t CComWndPort::Open(const char *name, HostWindow window, uint32_t message, int32_t parameter,
                           uint32_t inQueue, uint32_t outQueue) {
    return CComNotifyPort::Open(name, TargetOf(window), message, parameter, inQueue, outQueue);
}

const uint32_t g_defaultNotifyMsg = RegisterNotifyMessage("CComWndPort_DefaultComMsg");

}  // namespace portlink
