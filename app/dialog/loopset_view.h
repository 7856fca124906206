// The window as the dialog's behaviour sees it. The Qt window implements it,
// loopctl implements it on a console, and the tests implement it in memory,
// so every host runs the same CLoopsetDlg.
#pragma once

#include <cstdint>
#include <string>

#include "dialog_template.h"
#include "link_messages.h"
#include "portlink.h"
#include "response_outcome.h"
#include "ui_text.h"

// The control ids are the dialog template's.

// The dialog's end results (the system's own IDOK and IDCANCEL values).
inline constexpr int kDialogOk = 1;
inline constexpr int kDialogCancel = 2;

// A window message as the dialog's pre-translation sees it.
struct WindowMessage {
    uint32_t message = 0;
    uint32_t wParam = 0;
    int32_t lParam = 0;
};

// ShowWarning and ShowError (from ILinkMessages): standard message boxes,
// modal to the window, callable from any thread; the box runs on the UI
// thread and the caller waits until the user has closed it. The warning box
// has an OK button, the warning icon and the application's title as caption.
class ILoopsetView : public ILinkMessages {
public:
    virtual ~ILoopsetView() = default;

    // Whole text of an edit field, by control id.
    virtual std::string GetFieldText(int id) = 0;
    virtual void SetFieldText(int id, const std::string &text) = 0;

    // Port selector (items "1" to "30"): index of the selected item, -1 when
    // none is selected (the user typed into its edit field).
    virtual int GetPortSelection() = 0;
    virtual void SetPortSelection(int index) = 0;

    // The log field: its whole text, and a scroll to its end.
    virtual void SetLogText(const std::string &text) = 0;
    virtual void ScrollLogToEnd() = 0;

    virtual void SetIcons() = 0;
    // Calls CLoopsetDlg::OnTimer(id) every periodMs milliseconds, the first
    // time after firstMs (0: as soon as the loop is free). Starting a running
    // timer starts it afresh.
    virtual void StartTimer(unsigned id, unsigned periodMs, unsigned firstMs) = 0;
    void StartTimer(unsigned id, unsigned periodMs) { StartTimer(id, periodMs, periodMs); }
    virtual void StopTimer(unsigned id) = 0;
    // Closes the window; the host's modal loop returns result.
    virtual void EndDialog(int result) = 0;

    // The window portlink posts its notifications to. It lives as long as
    // the view.
    virtual PortlinkWindow *PortWindow() = 0;

    // Called once per response shown and logged (not for the quiet answers
    // of samples), after its log lines and fields.
    virtual void OnResponse(const ResponseOutcome &) {}
    // Where the window's texts come from: its toolkit's translation into the
    // language it speaks.
    virtual const ITexts &Texts() { return SourceTexts(); }
    // Called when the port number could not be stored in the settings file;
    // the command goes on all the same.
    virtual void OnSettingsNotStored(const std::string & /*path*/, const std::string & /*why*/) {}
};
