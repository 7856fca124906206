// The main window as its tests drive it, the same on every system: each
// system's twin (qt/, win32/) makes the window and works its toolkit. A
// control is named by its place in kDialogControls, since the labels share
// one id.
#pragma once

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialog_layout.h"
#include "language.h"
#include "loopset_window.h"

struct Rect {
    int x, y, width, height;
    bool operator==(const Rect &) const = default;
};

enum class WindowKey { Tab, Enter, Escape, LiveView, Calibration };
// The calibration window's lines of text that no caption names.
enum class CalLine { Prompt, Verdicts, Folder, Saved };
using CalText = CCalibrationPresenter::Text;

class CWindowDriver {
public:
    virtual ~CWindowDriver() = default;
    virtual CLoopsetWindow &Window() = 0;
    // The port the simulated device answers on, and one no device is behind.
    virtual int SimPort() = 0;
    virtual int AbsentPort() = 0;

    virtual Rect Map(const Rect &dialogUnits) = 0;  // to the window's pixels
    virtual Rect Geometry(size_t index) = 0;
    virtual std::string Text(size_t index) = 0;
    virtual bool Shown(size_t index) = 0;  // visible and enabled
    std::string Field(int id) {
        const auto at = std::find_if(std::begin(kDialogControls), std::end(kDialogControls),
                                     [id](const ControlSpec &c) { return c.id == id; });
        return Text(at - std::begin(kDialogControls));
    }

    virtual void Press(int id) = 0;
    virtual void Focus(int id) = 0;
    virtual int FocusId() = 0;
    virtual void Key(WindowKey key) = 0;
    virtual std::optional<int> Ended() = 0;  // the result, once ended and hidden
    virtual bool LogAtEnd() = 0;
    virtual bool PumpUntil(const std::function<bool()> &done, int ms = 10000) = 0;
    virtual bool Ticking() = 0;  // the dialog's timer
    virtual void LiveCapture(int channel, bool twentyMilliamps) = 0;
    virtual std::string LiveValue(int channel) = 0;
    virtual void LiveClose() = 0;
    // The calibration's window: a settings field or the applied current
    // typed into (the channel: "1" or "2" chosen), a button pressed, its
    // lines and its table as shown.
    virtual void CalType(CalText field, const std::string &text) = 0;
    virtual void CalPress(CalText button) = 0;
    virtual std::string CalShown(CalLine line) = 0;
    virtual std::vector<CalRow> CalTable() = 0;
    // A line for the simulated device's control FIFO ("1=20": CH.1 now has
    // 20 mA applied).
    virtual void SimControl(const std::string &line) = 0;
    // What a person reads on the windows, the live view and the calibration
    // open: the dialog's title first, then the others', the controls' and
    // the menus' texts (without shortcuts).
    virtual std::vector<std::string> Texts() = 0;
    // The user's data folder of the run, where the driver has put it.
    std::string dataFolder;

    // The boxes shown, each closed at once. fromWindow: a warning owned by
    // the window, on its thread, captioned with the application's title.
    struct Box {
        std::string text;
        bool fromWindow;
    };
    std::vector<Box> boxes;
};

// The window, shown, on the simulated device's port, which is first stored
// in settingsPath (empty: the program's own settings); null when no device
// is here; its texts in language, installed as the program does.
std::unique_ptr<CWindowDriver> OpenWindow(const std::string &settingsPath, UiLanguage language);
