// The main dialog's template as a table for C++: the Qt window is built from
// it, and the tests of both windows check the shown window against it.
#pragma once

#include <array>
#include <cstddef>

#include "dialog_template.h"

inline constexpr char kDialogTitle[] = LOOPSET_DIALOG_TITLE;
inline constexpr int kDialogWidthDu = LOOPSET_DIALOG_WIDTH;
inline constexpr int kDialogHeightDu = LOOPSET_DIALOG_HEIGHT;
inline constexpr char kCreditText[] = LOOPSET_CREDIT_TEXT;
// Beside the credit line, in the corner the template leaves free under the
// log: where a window names its further commands.
inline constexpr int kCommandsButtonY = 337;
inline constexpr int kCommandsButtonHeight = 14;

enum class ControlKind {
    GroupBox,
    Label,          // left-aligned static text
    CenteredLabel,  // centred static text
    ReadOnlyValue,  // read-only, right-aligned edit
    Value,          // editable, right-aligned edit
    PortSelector,   // drop-down combo box with an edit field
    Button,
    Log,  // multi-line, read-only, vertical scroll bar, no wrap
};

struct ControlSpec {
    int id;
    ControlKind kind;
    int x, y, width, height;
    const char *text;
};

#define LOOPSET_CONTROL_SPEC(kind, text, id, x, y, width, height) \
    ControlSpec{id, ControlKind::kind, x, y, width, height, text},
inline constexpr ControlSpec kDialogControls[] = {LOOPSET_DIALOG_CONTROLS(LOOPSET_CONTROL_SPEC)};
#undef LOOPSET_CONTROL_SPEC

constexpr bool TakesFocus(ControlKind kind) {
    return kind != ControlKind::GroupBox && kind != ControlKind::Label &&
           kind != ControlKind::CenteredLabel;
}

// Controls that take the keyboard focus, in the order Tab visits them: the
// template's order.
inline constexpr auto kTabOrder = [] {
    constexpr size_t count = [] {
        size_t n = 0;
        for (const ControlSpec &c : kDialogControls) n += TakesFocus(c.kind) ? 1 : 0;
        return n;
    }();
    std::array<int, count> order{};
    size_t i = 0;
    for (const ControlSpec &c : kDialogControls) {
        if (TakesFocus(c.kind)) order[i++] = c.id;
    }
    return order;
}();

// Height of the closed port selector, in dialog units.
inline constexpr int kPortSelectorClosedHeightDu = 15;
