// The live view on Linux: a window of its own beside the dialog with both
// channels' raw value, loop current and display value, a trend of the last
// minutes drawn with plain QPainter, the rate, pause, "Save as CSV" and
// the two-point capture. CLiveView does the work and CLivePresenter says
// what to show; this only draws it.
#pragma once

#include <QPixmap>
#include <QPolygonF>
#include <QString>
#include <QWidget>

#include <vector>

#include "live_presenter.h"

class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

class CTrendView : public QWidget {
public:
    explicit CTrendView(const CLivePresenter &presenter, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    const CLivePresenter &m_presenter;
    std::vector<TrendPoint> m_points;
    QPolygonF m_lines[kChannelCount];
    QPixmap m_background;
    QString m_legend;
};

class CLiveViewWindow : public QWidget {
public:
    // owner: the dialog, which the window stays above.
    CLiveViewWindow(CLiveView &live, QWidget *owner);
    ~CLiveViewWindow() override;

    // Starts polling and shows the window (or raises it when shown).
    void Open();
    // The window's values and trend, after a sample or a failure.
    void Refresh();

    QPushButton *CaptureButton(int channel, bool twentyMilliamps) const {
        return m_capture[channel][twentyMilliamps ? 1 : 0];
    }
    QSpinBox *RateBox() const { return m_rate; }
    QPushButton *PauseButton() const { return m_pause; }
    QLabel *ValueLabel(int channel) const { return m_values[channel]; }
    const CLiveViewModel &Model() const { return m_live.Model(); }
    CLiveView &Live() { return m_live; }

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void Tick();
    void SaveCsv();

    CLiveView &m_live;
    CLivePresenter m_presenter;
    QTimer *m_timer = nullptr;
    QLabel *m_values[kChannelCount] = {};
    QLabel *m_summary = nullptr;
    QPushButton *m_capture[kChannelCount][2] = {};
    QSpinBox *m_rate = nullptr;
    QPushButton *m_pause = nullptr;
    CTrendView *m_trend = nullptr;
};
