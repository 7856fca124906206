// CLoopsetDlg: the main dialog's behaviour, free of any toolkit. A host
// window (Qt, Win32, test) implements ILoopsetView and forwards its button
// clicks, timer ticks and posted port messages here. The device work goes
// through the dialog's device session; the dialog keeps the fields, the log
// and the settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device_session.h"
#include "event_log.h"
#include "loopset_view.h"

class CLoopsetDlg : private ISessionHost {
public:
    // settingsPath: where "config.ini" lives; empty means beside the program.
    explicit CLoopsetDlg(ILoopsetView &view, std::string settingsPath = {},
                         const PortlinkApi &api = RealPortlink());
    ~CLoopsetDlg() override;
    CLoopsetDlg(const CLoopsetDlg &) = delete;
    CLoopsetDlg &operator=(const CLoopsetDlg &) = delete;

    // A host that reaches the device over TCP says so before OnInitDialog: the
    // session is then opened for TCP once, and the buttons send on it without
    // reopening a serial port or storing a port number.
    void UseTcp(const std::string &host, int port);
    // A host using a port for one run only keeps it out of the settings.
    void SetStorePort(bool store) { m_bStorePort = store; }

    bool OnInitDialog();
    void OnBtnAdcRead();
    void OnBtnConfigRead();
    void OnBtnConfigWrite();
    void OnTimer(unsigned id);
    // Shows and logs one frame as the timer does with each frame the session
    // takes in; whatever the bytes, they are judged, never trusted.
    void OnFrame(std::span<const uint8_t> frame);
    // Hands a port notification for our port to the session; never consumes it.
    bool PreTranslateMessage(const WindowMessage &msg);
    void OnOK();
    void OnCancel();

    void AddLog(const std::string &text);

    CDeviceSession &Session() { return m_session; }
    CEventLog &Log() { return m_log; }
    ILoopsetView &View() { return m_view; }
    const std::string &SettingsPath() const { return m_settingsPath; }

private:
    // The three handlers' common steps: port from the selector, reopen, store
    // the port, log, send, and gather the answer from the start. A request of
    // the live view's (or another client's) on its way is waited for first.
    void SendCommand(const char *logText, const uint8_t *frame, int32_t length);
    void SendDeferred();
    void StorePort();
    void Show(const ResponseOutcome &out, bool quiet);
    // Shows value in field id, in decimal.
    void ShowValue(int id, uint16_t value);

    // ISessionHost
    void ShowWarning(const std::string &text) override { m_view.ShowWarning(text); }
    void ShowLinkWarning(LinkWarning which, const std::string &designed, const std::string &first,
                         const std::string &second) override;
    void ShowError(const std::string &caption, const std::string &text) override {
        m_view.ShowError(caption, text);
    }
    PortlinkWindow *PortWindow() override { return m_view.PortWindow(); }
    void StartTicks(unsigned firstMs) override;
    void StopTicks() override;
    void OnSend(uint8_t command) override;
    void OnFrame(const ResponseOutcome &out, bool quiet) override { Show(out, quiet); }
    void OnNotice(const std::string &text) override { AddLog(text); }

    ILoopsetView &m_view;
    std::string m_settingsPath;
    CEventLog m_log;
    CDeviceSession m_session;
    char m_fieldText[16] = {};
    bool m_bStorePort = true;
    // A button's request that waits for another request's answer.
    struct DeferredCommand {
        const char *logText = nullptr;
        uint8_t frame[kConfigWriteFrameSize] = {};
        int32_t length = 0;
    } m_deferred;
};
