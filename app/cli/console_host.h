// The device session's host on a console: portlink's messages and the
// session's ticks delivered by a message loop that sleeps in the kernel
// until one is due, the log's lines (time-stamped as the window's log has
// them) and the link's message boxes written to a stream as they come.
#pragma once

#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>

#include "console_loop.h"
#include "device_session.h"

class CConsoleHost : public ISessionHost {
public:
    // prefix goes before every line written to logStream.
    explicit CConsoleHost(FILE *logStream, std::string prefix = {});
    CConsoleHost(const CConsoleHost &) = delete;
    CConsoleHost &operator=(const CConsoleHost &) = delete;

    // The session whose messages and ticks the loop delivers.
    void Attach(CDeviceSession *session) { m_session = session; }

    // Delivers posted messages until the next tick, which it delivers too,
    // or until timeoutMs has passed. False if waiting failed (errno).
    bool RunOnce(int timeoutMs);
    // RunOnce also returns, after delivering what came, as soon as *flag is
    // set and the loop is woken (Wake may be called from a signal handler).
    void SetStopFlag(const volatile std::sig_atomic_t *flag) { m_stopFlag = flag; }
    void Wake() { m_loop.Wake(); }

    // One log line: "YYYY-MM-DD hh:mm:ss\t" and the text, after the prefix.
    void Log(const std::string &text);
    // A line of the program's own ("loopctl: " and the prefix before it).
    void Say(const std::string &text);

    // ISessionHost
    void ShowWarning(const std::string &text) override;
    void ShowError(const std::string &caption, const std::string &text) override;
    PortlinkWindow *PortWindow() override { return m_loop.PortWindow(); }
    void StartTicks(unsigned firstMs) override;
    void StopTicks() override;
    void OnSend(uint8_t command) override;
    void OnFrame(const ResponseOutcome &out, bool quiet) override;
    void OnNotice(const std::string &text) override { Log(text); }

private:
    static void Post(void *context, uint32_t message, uint32_t wParam, int32_t lParam);
    void DeliverPosted();

    FILE *m_logStream;
    std::string m_prefix;
    CDeviceSession *m_session = nullptr;
    const volatile std::sig_atomic_t *m_stopFlag = nullptr;
    // Boxes come from the link's workers as well as from this thread.
    std::mutex m_writeLock;

    // Posted messages: a fixed ring, so posting neither allocates nor waits
    // for more than the copy of one message.
    struct Posted {
        uint32_t message, wParam;
        int32_t lParam;
    };
    static constexpr size_t kQueueSize = 256;
    std::mutex m_queueMutex;
    Posted m_queue[kQueueSize] = {};
    size_t m_queueHead = 0;
    size_t m_queueCount = 0;

    CConsoleLoop m_loop{&CConsoleHost::Post, this};
    bool m_ticking = false;
};
