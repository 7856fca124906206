// The live view's behaviour, free of any window: it polls the device for ADC
// readings through the dialog's device session, one request at a time and
// never while another is out, feeds the model, logs its start, its stop and
// each failure (not each sample), and puts a two-point capture into the
// dialog's reference fields. A window gives it a timer and draws the model
// through CLivePresenter.
#pragma once

#include <functional>
#include <string>

#include "live_view_model.h"
#include "loopset_dlg.h"

class CLiveView : public ISessionClient {
public:
    explicit CLiveView(CLoopsetDlg &dlg);
    ~CLiveView() override;
    CLiveView(const CLiveView &) = delete;
    CLiveView &operator=(const CLiveView &) = delete;

    // Every start begins afresh: no samples, a new schedule, nothing out.
    void Start();
    void Stop();
    bool Running() const { return m_running; }
    // Called by the window's timer, every TickMs(): sends the next request
    // when it is due.
    void Tick();
    unsigned TickMs() const;
    void SetRate(int perSecond);
    // Resuming a view paused by a lost line opens the line again first.
    void SetPaused(bool paused);
    // The mean raw reading of the last two seconds into the channel's (0 or
    // 1) ADC reference min (4 mA) or max (20 mA) field. Nothing is sent to the
    // device. The result tells whether there were two steady seconds.
    CaptureResult Capture(int channel, bool twentyMilliamps);
    // Called after every sample or failure, for the window to redraw.
    void SetOnChange(std::function<void()> onChange) { m_onChange = std::move(onChange); }

    const CLiveViewModel &Model() const { return m_model; }
    // Seconds since the start, on the session's clock.
    double Seconds() const;

private:
    void OnOutcome(const RequestOutcome &outcome) override;
    void UpdateRanges();

    CLoopsetDlg &m_dlg;
    CDeviceSession &m_session;
    CLiveViewModel m_model;
    std::function<void()> m_onChange;
    int64_t m_startMs = 0;
    bool m_running = false;
    // The last failure was the line's: resuming opens it again.
    bool m_lineFailed = false;
};
