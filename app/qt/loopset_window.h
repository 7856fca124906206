// The main dialog as a Qt window: builds the controls from the dialog
// template, shows CLoopsetDlg's fields and log, forwards button clicks, timer
// ticks and portlink's posted notifications to it, and shows its message boxes.
#pragma once

#include <QDialog>
#include <QEvent>
#include <QHash>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "box_gate.h"
#include "calibration_window.h"
#include "dialog_layout.h"
#include "dialog_units.h"
#include "live_view_window.h"
#include "loopset_dlg.h"
#include "loopset_view.h"

class QComboBox;
class QToolButton;
class QLineEdit;
class QPlainTextEdit;
class QTimer;

// Qt's event number for portlink's WM_PORT_NOTIFY: 1124 is inside Qt's user
// event range, so the message keeps its number.
inline constexpr QEvent::Type kPortNotifyEventType =
    static_cast<QEvent::Type>(PORTLINK_WM_PORT_NOTIFY);

class PortNotifyEvent : public QEvent {
public:
    PortNotifyEvent(uint32_t message, uint32_t wParam, int32_t lParam)
        : QEvent(kPortNotifyEventType), m_message{message, wParam, lParam} {}
    const WindowMessage &Message() const { return m_message; }

private:
    WindowMessage m_message;
};

enum class BoxKind { Warning, Error };

class CLoopsetWindow : public QDialog, public ILoopsetView {
    Q_OBJECT
public:
    // settingsPath and api go to CLoopsetDlg unchanged.
    explicit CLoopsetWindow(std::string settingsPath = {}, const PortlinkApi &api = RealPortlink());
    ~CLoopsetWindow() override;

    // What a modal dialog's start does: OnInitDialog, then the modal loop.
    int RunModal();
    // OnInitDialog alone, for a host that shows the window itself.
    bool InitDialog();

    CLoopsetDlg &Dialog() { return *m_dlg; }
    // The control with this id, or null.
    QWidget *Control(int id) const { return m_controls.value(id, nullptr); }
    QPlainTextEdit *LogField() const { return m_log; }
    QComboBox *PortSelector() const { return m_portSelector; }
    // The button that names the further commands (a menu).
    QToolButton *CommandsButton() const { return m_commandsButton; }

    // Instead of showing a box, call hook (on the UI thread) and return as if
    // the user had pressed OK: lets tests run without anyone at the screen.
    using BoxHook = std::function<void(BoxKind kind, const QString &caption, const QString &text)>;
    void SetBoxHook(BoxHook hook) { m_boxHook = std::move(hook); }

    // ILoopsetView
    void ShowWarning(const std::string &text) override;
    void ShowError(const std::string &caption, const std::string &text) override;
    std::string GetFieldText(int id) override;
    void SetFieldText(int id, const std::string &text) override;
    int GetPortSelection() override;
    void SetPortSelection(int index) override;
    void SetLogText(const std::string &text) override;
    void ScrollLogToEnd() override;
    void SetIcons() override;
    using ILoopsetView::StartTimer;
    void StartTimer(unsigned id, unsigned periodMs, unsigned firstMs) override;
    void StopTimer(unsigned id) override;
    void EndDialog(int result) override;
    PortlinkWindow *PortWindow() override { return &m_portWindow; }
    const ITexts &Texts() override;

    // The live view's window (made when first opened), and the menu's
    // commands, which the dialog's context menu and their shortcuts run.
    CLiveViewWindow *LiveViewWindow() const { return m_liveWindow; }
    void OpenLiveView();
    // The calibration's window likewise; it works through the dialog's
    // device session.
    CCalibrationWindow *CalibrationWindow() const { return m_calibrationWindow; }
    void OpenCalibration();
    // Fill the eight configuration fields from a file, or save them to one;
    // false with a message box when that cannot be done.
    bool LoadConfiguration(const QString &path);
    bool SaveConfiguration(const QString &path);

protected:
    bool event(QEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

public slots:
    void reject() override;

private:
    struct Box {
        BoxKind kind;
        QString caption;
        QString text;
    };

    Q_INVOKABLE void RunPendingBoxes();

    void BuildControls();
    // The control of one row of the template; height may change (the port
    // selector's template height is its dropped list's).
    QWidget *MakeControl(const ControlSpec &control, const DialogBaseUnits &units, int &height);
    void ShowBox(BoxKind kind, const QString &caption, const QString &text);
    void RunBox(BoxKind kind, const QString &caption, const QString &text);
    static void PostFromListener(void *context, uint32_t message, uint32_t wParam, int32_t lParam);

    PortlinkWindow m_portWindow{&CLoopsetWindow::PostFromListener, this};
    // Counts notifications posted from portlink's listener. Qt orders the
    // hand-off already, inside its own locks; this release/acquire pair
    // states the order in our code too, where a race detector can see it.
    std::atomic<uint64_t> m_posted{0};
    QHash<int, QWidget *> m_controls;
    QHash<unsigned, QTimer *> m_timers;
    QHash<unsigned, unsigned> m_timerPeriods;
    QComboBox *m_portSelector = nullptr;
    QPlainTextEdit *m_log = nullptr;
    QToolButton *m_commandsButton = nullptr;
    BoxHook m_boxHook;
    std::optional<int> m_endedResult;
    std::shared_ptr<CBoxGate<Box>> m_boxGate = std::make_shared<CBoxGate<Box>>();
    // Last but for the live view and the calibration: it closes its port
    // (and stops portlink's listener) before the window that the listener
    // posts to goes away.
    std::unique_ptr<CLoopsetDlg> m_dlg;
    // Uses the dialog: goes first.
    std::unique_ptr<CLiveView> m_live;
    CLiveViewWindow *m_liveWindow = nullptr;
    CCalibrationWindow *m_calibrationWindow = nullptr;
};

// The application's title: the program's file name without its extension.
QString ApplicationTitle();
