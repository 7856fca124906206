#include "calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "local_time.h"
#include "machine_text.h"

std::string CheckCalSettings(const CalSettings &s) {
    if (s.channel != 1 && s.channel != 2) return "the channel is 1 or 2";
    if (s.points.empty()) return "no test points";
    for (double mA : s.points)
        if (!(mA >= kCalMinMa && mA <= kCalMaxMa))
            return "a test point must be a current from 3.6 to 21 mA, not " + FixedText(mA, 3);
    for (size_t i = 0; i < s.points.size(); ++i)
        if (std::count(s.points.begin(), s.points.end(), s.points[i]) > 1)
            return "the test point " + FixedText(s.points[i], 3) + " mA is named twice";
    if (!(s.tolerancePct > 0 && s.tolerancePct < 100))
        return "the tolerance must be a percentage of the span above 0";
    if (!(s.steadySeconds > 0 && s.pointTimeoutSeconds >= s.steadySeconds) || s.rate < 1)
        return "a point must settle within a time-out longer than its steady window";
    return {};
}

bool ParseApplied(const std::string &text, double nominalMa, double *appliedMa, std::string &error) {
    size_t from = text.find_first_not_of(" \t\r\n");
    if (from == std::string::npos) {
        *appliedMa = nominalMa;
        return true;
    }
    const std::string trimmed = text.substr(from, text.find_last_not_of(" \t\r\n") - from + 1);
    char *end = nullptr;
    const double mA = std::strtod(trimmed.c_str(), &end);
    if (*end != '\0' || !std::isfinite(mA)) {
        error = "'" + trimmed + "' is not a current in mA";
        return false;
    }
    if (std::abs(mA - nominalMa) > kCalMaxDeviationMa) {
        error = FixedText(mA, 3) + " mA is more than 1 mA from " + FixedText(nominalMa, 3) + " mA";
        return false;
    }
    *appliedMa = mA;
    return true;
}

CCalibration::~CCalibration() {
    m_session.Forget(this);
}

bool CCalibration::Start(const CalSettings &settings, std::string &error) {
    error = CheckCalSettings(settings);
    if (!error.empty()) return false;
    m_session.Forget(this);
    m_settings = settings;
    m_record = {};
    m_record.tag = settings.tag;
    m_record.operatorName = settings.operatorName;
    m_record.reference = settings.reference;
    m_record.channel = settings.channel;
    m_record.tolerancePct = settings.tolerancePct;
    m_record.time = IsoText(SystemLocalTime());
    m_asLeft = false;
    m_point = 0;
    m_waiting = false;
    m_retry = {};
    m_cause = StopCause::None;
    m_readings.clear();
    m_readings.reserve(static_cast<size_t>(settings.pointTimeoutSeconds * settings.rate) + 8);
    m_step = Step::ReadingConfig;
    Send(CMD_GET_CONFIG_DATA, {}, false);
    Changed();
    return true;
}

double CCalibration::NominalMa() const {
    return m_point < m_settings.points.size() ? m_settings.points[m_point] : 0;
}

double CCalibration::SettlingSeconds() const {
    return m_step == Step::Settling ? double(m_session.Now() - m_pointStartMs) / 1000.0 : 0;
}

bool CCalibration::Send(uint8_t command, const ConfigValues &values, bool quiet) {
    SessionRequest request;
    request.command = command;
    request.values = values;
    request.timeoutMs = m_settings.answerTimeoutMs;
    request.quiet = quiet;
    m_waiting = true;
    m_lastSentMs = m_session.Now();
    switch (m_session.Submit(request, this)) {
        case CDeviceSession::Submitted::Sent:
        case CDeviceSession::Submitted::Queued:
            return true;
        case CDeviceSession::Submitted::Busy:
            // Another request is out (a button's, or one of an earlier run
            // given up): this one goes at a later tick.
            m_waiting = false;
            m_retry = {true, command, values, quiet};
            return false;
        case CDeviceSession::Submitted::Failed:
            return false;  // OnOutcome has said why
    }
    return false;
}

void CCalibration::Tick() {
    if (m_retry.due && !m_waiting) {
        m_retry.due = false;
        Send(m_retry.command, m_retry.values, m_retry.quiet);
        return;
    }
    if (m_step != Step::Settling || m_waiting) return;
    if (m_session.Now() - m_lastSentMs < 1000 / m_settings.rate) return;
    Send(CMD_GET_ADC_VALUE, {}, true);
}

void CCalibration::OnOutcome(const RequestOutcome &outcome) {
    m_waiting = false;
    using Status = RequestOutcome::Status;
    if (outcome.status == Status::LineLost) {
        Stop(outcome.reason, StopCause::LineLost);
        return;
    }
    if (outcome.status == Status::NotSent) {
        Stop(outcome.reason, StopCause::NotSent);
        return;
    }
    switch (m_step) {
        case Step::ReadingConfig: OnConfig(outcome); break;
        case Step::Writing: m_readingBack ? OnReadBack(outcome) : OnWritten(outcome); break;
        case Step::Settling: OnReading(outcome); break;
        default: break;
    }
}

void CCalibration::OnConfig(const RequestOutcome &outcome) {
    if (!outcome.Succeeded() || !outcome.answer.hasConfig) {
        if (outcome.status == RequestOutcome::Status::TimedOut)
            Stop("the configuration read", StopCause::NoAnswer);
        else
            Stop(ResultText(outcome.answer), StopCause::DeviceError);
        return;
    }
    m_record.configBefore = outcome.answer.config;
    m_ranges = ChannelOf(m_record.configBefore, m_settings.channel);
    if (m_ranges.dispMax == m_ranges.dispMin || m_ranges.refMax == m_ranges.refMin) {
        Stop("CH." + std::to_string(m_settings.channel) +
                 "'s ranges are empty: no display value can be judged",
             StopCause::Unusable);
        return;
    }
    m_step = Step::AwaitingSource;
    Changed();
}

void CCalibration::SourceApplied(double appliedMa) {
    if (m_step != Step::AwaitingSource) return;
    m_applied = appliedMa;
    m_pointStartMs = m_session.Now();
    m_lastSentMs = m_pointStartMs - 1000;
    m_readings.clear();
    m_step = Step::Settling;
    Tick();
    Changed();
}

void CCalibration::OnReading(const RequestOutcome &outcome) {
    // A reading that failed (no answer in time, a bad frame) is a gap; the
    // point's time-out bounds how long gaps can go on.
    if (outcome.Succeeded() && outcome.answer.hasAdc)
        m_readings.push_back({outcome.endedMs,
                              m_settings.channel == 2 ? outcome.answer.ch2 : outcome.answer.ch1});
    JudgePoint();
}

void CCalibration::JudgePoint() {
    const int64_t now = m_session.Now();
    const auto steadyMs = static_cast<int64_t>(m_settings.steadySeconds * 1000);
    const int64_t windowStart = now - steadyMs;
    double sum = 0;
    int n = 0;
    uint16_t low = 65535, high = 0;
    int64_t oldest = now;
    for (auto it = m_readings.rbegin(); it != m_readings.rend() && it->ms >= windowStart; ++it) {
        sum += it->counts;
        ++n;
        low = std::min(low, it->counts);
        high = std::max(high, it->counts);
        oldest = it->ms;
    }
    // The window must be covered: readings from its start (within a period)
    // to now, and at least two.
    const bool covered = n >= 2 && oldest - windowStart <= 1000 / m_settings.rate + 50 &&
                         now - m_pointStartMs >= steadyMs;
    if (covered && high - low <= m_settings.steadyCounts) {
        EndPoint(sum / n, true);
        return;
    }
    if (now - m_pointStartMs < static_cast<int64_t>(m_settings.pointTimeoutSeconds * 1000)) {
        Changed();
        return;
    }
    if (n == 0) {
        Stop("readings for " + FixedText(m_settings.pointTimeoutSeconds, 0) + " s",
             StopCause::NoAnswer);
        return;
    }
    EndPoint(sum / n, false);
}

void CCalibration::EndPoint(double counts, bool steady) {
    auto point = Evaluate(m_ranges, NominalMa(), m_applied, counts, m_settings.tolerancePct);
    if (!point) {
        Stop("the point could not be judged", StopCause::Unusable);
        return;
    }
    point->steady = steady;
    point->pass = point->pass && steady;
    (m_asLeft ? m_record.asLeft : m_record.asFound).push_back(*point);
    NextPoint();
}

void CCalibration::NextPoint() {
    if (++m_point < m_settings.points.size()) {
        m_step = Step::AwaitingSource;
        Changed();
        return;
    }
    if (m_asLeft) {
        m_record.passAsLeft = Verdict(m_record.asLeft);
        m_record.complete = true;
        m_step = Step::Done;
        Changed();
        return;
    }
    m_record.passAsFound = Verdict(m_record.asFound);
    m_step = Step::AwaitingAdjust;
    if (m_settings.adjustWhenFailing) {
        if (*m_record.passAsFound)
            Finish();
        else
            Adjust();
        return;
    }
    Changed();
}

void CCalibration::Adjust() {
    if (m_step != Step::AwaitingAdjust) return;
    const auto adjusted = AdjustedRanges(m_record.asFound, m_ranges);
    if (!adjusted) {
        Stop("the as-found points give no usable reference range", StopCause::Unusable);
        return;
    }
    m_written = WithChannel(m_record.configBefore, m_settings.channel, *adjusted);
    m_step = Step::Writing;
    m_readingBack = false;
    if (Send(CMD_SET_CONFIG_DATA, m_written, false)) Changed();
}

void CCalibration::OnWritten(const RequestOutcome &outcome) {
    if (!outcome.Succeeded()) {
        if (outcome.status == RequestOutcome::Status::TimedOut)
            Stop("the configuration write", StopCause::NoAnswer);
        else
            Stop(ResultText(outcome.answer), StopCause::DeviceError);
        return;
    }
    // Read back: the record says what the device keeps, not what was sent.
    m_readingBack = true;
    Send(CMD_GET_CONFIG_DATA, {}, false);
}

void CCalibration::OnReadBack(const RequestOutcome &outcome) {
    if (!outcome.Succeeded() || !outcome.answer.hasConfig) {
        if (outcome.status == RequestOutcome::Status::TimedOut)
            Stop("the read back", StopCause::NoAnswer);
        else
            Stop(ResultText(outcome.answer), StopCause::DeviceError);
        return;
    }
    m_record.configAfter = outcome.answer.config;
    if (outcome.answer.config != m_written) {
        Stop("the device keeps other values than were written", StopCause::Unusable);
        return;
    }
    m_ranges = ChannelOf(m_written, m_settings.channel);
    m_asLeft = true;
    m_point = 0;
    m_step = Step::AwaitingSource;
    Changed();
}

void CCalibration::Finish() {
    if (m_step != Step::AwaitingAdjust) return;
    m_record.complete = true;
    m_step = Step::Done;
    Changed();
}

void CCalibration::Stop(const std::string &why, StopCause cause) {
    if (m_step == Step::Done || m_step == Step::Stopped || m_step == Step::Idle) return;
    m_cause = cause;
    m_stopDetail = why;
    m_session.Forget(this);
    m_waiting = false;
    m_retry = {};
    // The points in so far are kept; a table not finished gets no verdict.
    m_record.complete = false;
    // The record's words are the source texts, whatever the window speaks.
    UiText sentence = UiText::CalStopUnusable;
    switch (cause) {
        case StopCause::None:
        case StopCause::Operator: break;
        case StopCause::LineLost: sentence = UiText::CalStopLineLost; break;
        case StopCause::NotSent: sentence = UiText::CalStopNotSent; break;
        case StopCause::NoAnswer: sentence = UiText::CalStopNoAnswer; break;
        case StopCause::DeviceError: sentence = UiText::CalStopDevice; break;
        case StopCause::Unusable: break;
    }
    m_record.stopReason = Fill(SourceText(sentence), {why});
    m_step = Step::Stopped;
    Changed();
}

void CCalibration::Changed() {
    if (m_onChange) m_onChange();
}
