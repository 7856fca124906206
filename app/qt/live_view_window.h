// The live view on Linux: a window of its own beside the dialog with both
// channels' raw value, loop current and display value, a trend of the last
// minutes drawn with plain QPainter, the rate, pause, "Save as CSV" and
// the two-point capture. CLiveView does the work; this only draws it.
#pragma once

#include <QPixmap>
#include <QPolygonF>
#include <QString>
#include <QWidget>

#include "live_view.h"

class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

class CTrendView : public QWidget {
public:
    explicit CTrendView(const CLiveViewModel &model, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    const CLiveViewModel &m_model;
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

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void Tick();
    void SaveCsv();

    CLiveView &m_live;
    QTimer *m_timer = nullptr;
    QLabel *m_values[kChannelCount] = {};
    QLabel *m_summary = nullptr;
    QPushButton *m_capture[kChannelCount][2] = {};
    QSpinBox *m_rate = nullptr;
    QPushButton *m_pause = nullptr;
    CTrendView *m_trend = nullptr;
};

// Seconds on a clock that only goes forward, for the live view.
double LiveNow();
