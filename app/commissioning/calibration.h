// The calibration procedure on the device session, free of any window or
// console: read the channel's configuration; as found, for each test point
// wait for the operator (or a programmable source) to apply the current,
// sample until the reading is steady, and judge it; adjust when asked (new
// reference range from the as-found points, written and read back, the
// other channel untouched); as left, the same points again. Front ends (both
// windows, loopctl calibrate) give it a timer, answer its prompts and show
// its record.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "calibration_record.h"
#include "device_session.h"
#include "ui_text.h"

// The reason of a stop the operator asked for.
inline constexpr char kStoppedByOperator[] = "stopped by the operator";

struct CalSettings {
    int channel = 1;
    std::vector<double> points{4, 8, 12, 16, 20};
    double tolerancePct = kCalDefaultTolerancePct;
    // Adjust, without asking, when a point fails as found (loopctl's --adjust).
    bool adjustWhenFailing = false;
    // Steady: every reading of the last steadySeconds within steadyCounts of
    // each other; a point that is not steady after pointTimeoutSeconds is
    // recorded as unsteady, and fails.
    double steadySeconds = 2.0;
    double steadyCounts = 4;
    double pointTimeoutSeconds = 30;
    int rate = 10;  // readings a second while a point settles
    int64_t answerTimeoutMs = 1000;
    std::string tag, operatorName, reference;
};

// "" when settings can be used, else what is wrong with them.
std::string CheckCalSettings(const CalSettings &settings);
// What the operator typed for the current applied: empty is the nominal; a
// number in mA no further than 1 mA from it. False with why in error.
bool ParseApplied(const std::string &text, double nominalMa, double *appliedMa, std::string &error);

class CCalibration : public ISessionClient {
public:
    enum class Step {
        Idle,
        ReadingConfig,   // the channel's ranges are being read
        AwaitingSource,  // the operator is to apply NominalMa() and say so
        Settling,        // readings until steady
        AwaitingAdjust,  // as found is done: adjust, or finish
        Writing,         // the adjusted configuration goes out, then is read back
        Done,            // the record is complete
        Stopped,         // ended early: the record so far, marked incomplete
    };

    explicit CCalibration(CDeviceSession &session) : m_session(session) {}
    ~CCalibration() override;
    CCalibration(const CCalibration &) = delete;
    CCalibration &operator=(const CCalibration &) = delete;

    // Starts afresh; false with the reason when the settings cannot be used.
    bool Start(const CalSettings &settings, std::string &error);
    // The front end's timer, every TickMs(): the next reading when it is due.
    void Tick();
    unsigned TickMs() const { return static_cast<unsigned>(1000 / std::max(1, m_settings.rate)); }

    Step CurrentStep() const { return m_step; }
    bool AsLeft() const { return m_asLeft; }
    size_t PointIndex() const { return m_point; }
    double NominalMa() const;
    // Seconds the current point has been settling, and how far it is from
    // steady (the spread of the last steady window, in counts).
    double SettlingSeconds() const;

    // The operator has applied the current (appliedMa as the reference shows
    // it): the point starts settling.
    void SourceApplied(double appliedMa);
    // As found is done: write the adjusted range, read it back, then as left.
    void Adjust();
    // As found is done: end without adjusting.
    void Finish();
    // Why the procedure ended early.
    enum class StopCause { None, Operator, LineLost, NotSent, NoAnswer, DeviceError, Unusable };
    // Ends now: the record so far is kept, marked incomplete with why. For
    // the operator's stop, why is the whole reason; for the others it is the
    // detail that the cause's sentence takes.
    void Stop(const std::string &why, StopCause cause = StopCause::Operator);
    StopCause Cause() const { return m_cause; }
    const std::string &StopDetail() const { return m_stopDetail; }

    const CalRecord &Record() const { return m_record; }
    // Called after every change worth drawing.
    void SetOnChange(std::function<void()> onChange) { m_onChange = std::move(onChange); }

private:
    struct Reading {
        int64_t ms;
        uint16_t counts;
    };

    void OnOutcome(const RequestOutcome &outcome) override;
    void OnConfig(const RequestOutcome &outcome);
    void OnWritten(const RequestOutcome &outcome);
    void OnReadBack(const RequestOutcome &outcome);
    void OnReading(const RequestOutcome &outcome);
    // Ends the point when its readings are steady or its time is up.
    void JudgePoint();
    void EndPoint(double counts, bool steady);
    void NextPoint();
    bool Send(uint8_t command, const ConfigValues &values, bool quiet);
    void Changed();

    CDeviceSession &m_session;
    CalSettings m_settings;
    CalRecord m_record;
    ChannelRanges m_ranges{};  // the channel's ranges the points are judged by
    ConfigValues m_written{};
    std::function<void()> m_onChange;
    Step m_step = Step::Idle;
    StopCause m_cause = StopCause::None;
    std::string m_stopDetail;
    bool m_asLeft = false;
    size_t m_point = 0;
    double m_applied = 0;
    int64_t m_pointStartMs = 0, m_lastSentMs = 0;
    bool m_waiting = false;  // a request of ours is out
    bool m_readingBack = false;
    // A request the session could not take yet (another was out).
    struct Retry {
        bool due = false;
        uint8_t command = 0;
        ConfigValues values{};
        bool quiet = false;
    } m_retry;
    std::vector<Reading> m_readings;
};
