// CLoopsetDlg: the main dialog's behaviour, free of any toolkit. A host
// window (Qt, console, test) implements ILoopsetView and forwards its button
// clicks, timer ticks and posted port messages here.
#pragma once

#include <cstddef>
#include <cstdint>
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
    // Hands a port notification for our port to the link; never consumes it.
    bool PreTranslateMessage(const WindowMessage &msg);
    void OnOK();
    void OnCancel();

    void AddLog(const std::string &text);

    CDeviceLink &Link() { return m_link; }
    CEventLog &Log() { return m_log; }
    const std::string &SettingsPath() const { return m_settingsPath; }

private:
    // The three handlers' common steps: port from the selector, reopen, store
    // the port, log, send, and gather the answer from the start.
    void SendCommand(const char *logText, const uint8_t *frame, int32_t length);
    void StorePort();
    // The timer runs only while there is something to gather.
    bool LinkIsQuiet() const;
    void WakeTimer();
    // Shows the big-endian word at frame[offset] in field id, in decimal.
    uint16_t ShowValue(int id, const uint8_t *frame, size_t offset);
    // Logs the line that closes a response and records it in the outcome.
    void Conclude(ResponseOutcome &out, ResponseOutcome::Kind kind, const char *text);

    ILoopsetView &m_view;
    CDeviceLink m_link;
    std::string m_settingsPath;
    CEventLog m_log;
    char m_fieldText[16] = {};
    uint8_t m_nTransport = LINK_SERIAL;
    bool m_bStorePort = true;
    bool m_bTimerRunning = false;
};
