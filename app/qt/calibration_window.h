// The calibration on Linux: a window of its own beside the dialog with the
// settings, Start and Stop, the prompt, the applied current and Next, the
// point table, the verdicts, the error plot drawn with plain QPainter, Adjust
// and Finish, and the record saved and opened. CCalibrationPresenter runs the
// procedure and says what to show; this only draws it and routes the buttons.
#pragma once

#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "calibration_presenter.h"

class QLabel;
class QTableWidget;
class QTimer;

class CErrorPlot : public QWidget {
public:
    CErrorPlot(const CCalibrationPresenter &presenter, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    const CCalibrationPresenter &m_presenter;
};

class CCalibrationWindow : public QWidget {
public:
    using Text = CCalibrationPresenter::Text;

    // The procedure works through session; owner: the dialog, which the
    // window stays above.
    CCalibrationWindow(CDeviceSession &session, QWidget *owner);
    // Stops a procedure still running: its requests go through the dialog's
    // session, which must still be there.
    ~CCalibrationWindow() override;

    // Shows the window (or raises it when shown), its timer running.
    void Open();
    // The window's texts, table, buttons and plot after a change.
    void Refresh();

    // The control a caption names: a settings field, the channel selector,
    // the applied current, a button, or (Folder) the records folder's line.
    QWidget *Control(Text text) const { return m_controls[static_cast<size_t>(text)]; }
    QLabel *PromptLabel() const { return m_prompt; }
    QLabel *VerdictLabel() const { return m_verdicts; }
    // The files last saved, one a line.
    QLabel *SavedLabel() const { return m_saved; }
    QTableWidget *Table() const { return m_table; }
    CCalibrationPresenter &Presenter() { return m_presenter; }

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void Route(Text button);
    void Warn(const std::string &text);

    CCalibrationPresenter m_presenter;
    QTimer *m_timer = nullptr;
    std::array<QWidget *, static_cast<size_t>(Text::Folder) + 1> m_controls{};
    QLabel *m_prompt = nullptr;
    QLabel *m_verdicts = nullptr;
    QLabel *m_saved = nullptr;
    QTableWidget *m_table = nullptr;
    CErrorPlot *m_plot = nullptr;
    std::vector<CalRow> m_rows;  // as the table shows them
    std::string m_htmlPath;      // the record last saved, for "Open record"
};
