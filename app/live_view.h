// The live view's behaviour, free of any window: it polls the device for ADC
// readings through the dialog's own link, one request at a time and never
// while a button's request is out, feeds the model, logs its start, its stop
// and each failure (not each sample), and puts a two-point capture into the
// dialog's reference fields. A window gives it a timer and draws the model.
#pragma once

#include "live_view_model.h"
#include "loopset_dlg.h"
#include "loopset_view.h"

class CLiveView {
public:
    CLiveView(CLoopsetDlg &dlg, ILoopsetView &view) : m_dlg(dlg), m_view(view) {}
    ~CLiveView() { Stop(); }
    CLiveView(const CLiveView &) = delete;
    CLiveView &operator=(const CLiveView &) = delete;

    // now: seconds on any clock that only goes forward.
    void Start(double now);
    void Stop();
    bool Running() const { return m_running; }
    // Called by the window's timer, every TickMs(): sends the next request
    // when it is due, and gives up on one that went unanswered.
    void Tick(double now);
    unsigned TickMs() const;
    // Every response the dialog handled; true when it answered the live view.
    bool OnResponse(const ResponseOutcome &out, double now);
    // The mean raw reading of the last two seconds into the channel's (0 or
    // 1) ADC reference min (4 mA) or max (20 mA) field. Nothing is sent to the
    // device. False when there is no reading in that time.
    bool Capture(int channel, bool twentyMilliamps, double now);

    const CLiveViewModel &Model() const { return m_model; }
    CLiveViewModel &Model() { return m_model; }

private:
    void UpdateRanges();

    CLoopsetDlg &m_dlg;
    ILoopsetView &m_view;
    CLiveViewModel m_model;
    double m_start = 0;
    bool m_running = false;
};
