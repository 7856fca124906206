#include "console_host.h"

#include "clock.h"
#include "event_log.h"
#include "local_time.h"

CConsoleHost::CConsoleHost(FILE *logStream, std::string prefix)
    : m_logStream(logStream), m_prefix(std::move(prefix)) {}

void CConsoleHost::Post(void *context, uint32_t message, uint32_t wParam, int32_t lParam) {
    auto *self = static_cast<CConsoleHost *>(context);
    {
        std::lock_guard lock(self->m_queueMutex);
        // A full queue means the loop is far behind; the message that is lost
        // only says "bytes are waiting", which the queued ones already say.
        if (self->m_queueCount == kQueueSize) return;
        self->m_queue[(self->m_queueHead + self->m_queueCount) % kQueueSize] = {message, wParam,
                                                                                lParam};
        ++self->m_queueCount;
    }
    self->m_loop.Wake();
}

void CConsoleHost::DeliverPosted() {
    for (;;) {
        Posted msg;
        {
            std::lock_guard lock(m_queueMutex);
            if (m_queueCount == 0) return;
            msg = m_queue[m_queueHead];
            m_queueHead = (m_queueHead + 1) % kQueueSize;
            --m_queueCount;
        }
        if (m_session) m_session->OnPortMessage(msg.message, msg.wParam, msg.lParam);
    }
}

bool CConsoleHost::RunOnce(int timeoutMs) {
    const int64_t end = MonotonicMillis() + timeoutMs;
    for (;;) {
        const int64_t left = end - MonotonicMillis();
        if (left <= 0) return true;
        const unsigned ready = m_loop.Wait(static_cast<int>(left));
        if (ready & CConsoleLoop::kFailed) return false;
        // Posted messages go before the tick, as in a window's queue; both
        // are delivered whatever the stop flag says, so that an answer on
        // its way is still heard.
        if (ready & CConsoleLoop::kPosted) DeliverPosted();
        if (ready & CConsoleLoop::kTimer) {
            if (m_ticking && m_session) m_session->Tick();
            return true;
        }
        if (m_stopFlag && *m_stopFlag) return true;
    }
}

void CConsoleHost::StartTicks(unsigned firstMs) {
    m_ticking = m_loop.StartTimer(firstMs, CDeviceSession::kTickMs);
}

void CConsoleHost::StopTicks() {
    m_loop.StopTimer();
    m_ticking = false;
}

void CConsoleHost::Log(const std::string &text) {
    std::lock_guard lock(m_writeLock);
    fprintf(m_logStream, "%s%s\n", m_prefix.c_str(), LogEntry(SystemLocalTime(), text).c_str());
    fflush(m_logStream);
}

void CConsoleHost::Say(const std::string &text) {
    std::lock_guard lock(m_writeLock);
    fprintf(m_logStream, "loopctl: %s%s\n", m_prefix.c_str(), text.c_str());
    fflush(m_logStream);
}

void CConsoleHost::OnSend(uint8_t command) {
    Log(SendLogText(command));
}

void CConsoleHost::OnFrame(const ResponseOutcome &out, bool quiet) {
    if (quiet) return;
    const ResponseLogLines lines = LogLinesOf(out);
    for (int i = 0; i < lines.count; ++i) Log(lines.line[i]);
}

void CConsoleHost::ShowWarning(const std::string &text) {
    ShowError("", text);
}

void CConsoleHost::ShowError(const std::string &caption, const std::string &text) {
    // One line per box: its line breaks (an empty line, too) become a space.
    std::string line = caption.empty() ? "" : caption + ": ";
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else {
            line += c;
        }
    }
    Say(line);
}
