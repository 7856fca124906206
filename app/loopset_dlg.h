// CLoopsetDlg: the main dialog's behaviour, free of any toolkit. A host
// window (Qt, console, test) implements ILoopsetView and forwards its button
// clicks, timer ticks and posted port messages here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device_link.h"
#include "event_log.h"
#include "loopset_view.h"

class CLoopsetDlg {
public:
    // settingsPath: where "config.ini" lives; empty means beside the program.
    explicit CLoopsetDlg(ILoopsetView &view, std::string settingsPath = {},
                         const PortlinkApi &api = RealPortlink());
    ~CLoopsetDlg();
    CLoopsetDlg(const CLoopsetDlg &) = delete;
    CLoopsetDlg &operator=(const CLoopsetDlg &) = delete;

    // A host that reaches the device over TCP says so before OnInitDialog: the
    // link is then opened for TCP once, and the buttons send on it without
    // reopening a serial port or storing a port number.
    void UseTcp(const std::string &host, int port);
    // A host using a port for one run only keeps it out of the settings.
    void SetStorePort(bool store) { m_bStorePort = store; }

    bool OnInitDialog();
    void OnBtnAdcRead();
    void OnBtnConfigRead();
    void OnBtnConfigWrite();
    void OnTimer(unsigned id);
    // Checks, shows and logs one answer, as OnTimer does with each frame the
    // link completes; whatever the bytes, they are judged, never trusted.
    void OnFrame(std::span<const uint8_t> frame);
    // Hands a port notification for our port to the link; never consumes it.
    bool PreTranslateMessage(const WindowMessage &msg);
    void OnOK();
    void OnCancel();

    void AddLog(const std::string &text);

    // The live view's ADC read: sent on the link as it is (no reopen, no
    // stored port, no log line), and only while no button's request waits for
    // its answer, so that the two never cross on the line. Its answer fills the
    // fields and reaches OnResponse marked live, without log lines.
    enum class LiveSend { Sent, Busy, Failed };
    LiveSend SendLiveRead();
    // The configuration last read from the device or written to it and
    // acknowledged: what its readings are to be understood by.
    const std::optional<ConfigValues> &LastConfig() const { return m_lastConfig; }

    CDeviceLink &Link() { return m_link; }
    CEventLog &Log() { return m_log; }
    const std::string &SettingsPath() const { return m_settingsPath; }

private:
    // The three handlers' common steps: port from the selector, reopen, store
    // the port, log, send, and gather the answer from the start.
    void SendCommand(const char *logText, const uint8_t *frame, int32_t length);
    void StorePort();
    bool LiveRequestOut() const;
    void SendDeferred();
    // The timer runs only while there is something to gather.
    bool LinkIsQuiet() const;
    void WakeTimer();
    // Shows the big-endian word at frame[offset] in field id, in decimal.
    uint16_t ShowValue(int id, const uint8_t *frame, size_t offset);
    // Logs the line that closes a response (not for the live view's) and
    // records it in the outcome.
    void Conclude(ResponseOutcome &out, ResponseOutcome::Kind kind, const char *text);
    // A log line of a response, which the live view's answers do without.
    void LogResponse(const ResponseOutcome &out, const std::string &text);

    ILoopsetView &m_view;
    CDeviceLink m_link;
    std::string m_settingsPath;
    CEventLog m_log;
    char m_fieldText[16] = {};
    uint8_t m_nTransport = LINK_SERIAL;
    bool m_bStorePort = true;
    bool m_bTimerRunning = false;
    // A button's request waits for its answer since this time (-1: none);
    // past kCommandAnswerMs it is given up for the live view's sake.
    int64_t m_commandSentMs = -1;
    static constexpr int64_t kCommandAnswerMs = 1000;
    // The live view's request is out since this time (-1: none).
    int64_t m_liveSentMs = -1;
    // A button's request that waits for the live view's answer.
    struct DeferredCommand {
        const char *logText = nullptr;
        uint8_t frame[kConfigWriteFrameSize] = {};
        int32_t length = 0;
    } m_deferred;
    ConfigValues m_writtenConfig{};
    std::optional<ConfigValues> m_lastConfig;
    // The loss of the line is logged once per command.
    bool m_bLossLogged = false;
};
