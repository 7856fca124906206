// The main dialog's template: every control with its id, kind, position and
// size in dialog units, and its text. The window is built from this table and
// the tests check the built window against it.
#pragma once

#include "loopset_view.h"

inline constexpr char kDialogTitle[] = "4~20mA 전류 설정 프로그램 (260224)";
inline constexpr int kDialogWidthDu = 199;
inline constexpr int kDialogHeightDu = 353;
inline constexpr int IDC_STATIC = -1;

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

inline constexpr char kCreditText[] = "loopset · 4-20 mA setup tool";

// In template order. The combo box's height is its dropped-down list's; the
// closed box is as tall as an edit.
inline constexpr ControlSpec kDialogControls[] = {
    {IDC_STATIC, ControlKind::GroupBox, 5, 5, 190, 170, ""},
    {IDC_STATIC, ControlKind::CenteredLabel, 10, 10, 60, 15, "ADC Value"},
    {IDC_STATIC, ControlKind::Label, 10, 30, 20, 15, "CH.1"},
    {IDC_ADC_CH1, ControlKind::ReadOnlyValue, 35, 30, 35, 15, ""},
    {IDC_STATIC, ControlKind::Label, 10, 50, 20, 15, "CH.2"},
    {IDC_ADC_CH2, ControlKind::ReadOnlyValue, 35, 50, 35, 15, ""},
    {IDC_EXTRA_VALUE, ControlKind::ReadOnlyValue, 80, 50, 30, 15, ""},
    {IDC_STATIC, ControlKind::Label, 110, 20, 40, 15, "COM Port : "},
    {IDC_COM_PORT, ControlKind::PortSelector, 155, 20, 30, 120, ""},
    {IDC_BTN_ADC_READ, ControlKind::Button, 115, 50, 75, 15, "ADC 값 읽기"},
    {IDC_STATIC, ControlKind::CenteredLabel, 35, 80, 75, 15, "ADC Reference"},
    {IDC_STATIC, ControlKind::CenteredLabel, 115, 80, 75, 15, "Display Value"},
    {IDC_STATIC, ControlKind::CenteredLabel, 35, 95, 35, 15, "Min"},
    {IDC_STATIC, ControlKind::CenteredLabel, 75, 95, 35, 15, "Max"},
    {IDC_STATIC, ControlKind::CenteredLabel, 115, 95, 35, 15, "Min"},
    {IDC_STATIC, ControlKind::CenteredLabel, 155, 95, 35, 15, "Max"},
    {IDC_STATIC, ControlKind::Label, 10, 115, 20, 15, "CH.1"},
    {IDC_CH1_REF_MIN, ControlKind::Value, 35, 115, 35, 15, ""},
    {IDC_CH1_REF_MAX, ControlKind::Value, 75, 115, 35, 15, ""},
    {IDC_CH1_DISP_MIN, ControlKind::Value, 115, 115, 35, 15, ""},
    {IDC_CH1_DISP_MAX, ControlKind::Value, 155, 115, 35, 15, ""},
    {IDC_STATIC, ControlKind::Label, 10, 135, 20, 15, "CH.2"},
    {IDC_CH2_REF_MIN, ControlKind::Value, 35, 135, 35, 15, ""},
    {IDC_CH2_REF_MAX, ControlKind::Value, 75, 135, 35, 15, ""},
    {IDC_CH2_DISP_MIN, ControlKind::Value, 115, 135, 35, 15, ""},
    {IDC_CH2_DISP_MAX, ControlKind::Value, 155, 135, 35, 15, ""},
    {IDC_BTN_CONFIG_READ, ControlKind::Button, 35, 155, 75, 15, "설정값 읽기"},
    {IDC_BTN_CONFIG_WRITE, ControlKind::Button, 115, 155, 75, 15, "설정값 쓰기"},
    {IDC_LOG, ControlKind::Log, 5, 180, 190, 155, ""},
    {IDC_STATIC, ControlKind::CenteredLabel, 80, 340, 115, 10, kCreditText},
};

// Controls that take the keyboard focus, in the order Tab visits them.
inline constexpr int kTabOrder[] = {
    IDC_BTN_ADC_READ, IDC_BTN_CONFIG_READ, IDC_BTN_CONFIG_WRITE, IDC_ADC_CH1,      IDC_COM_PORT,
    IDC_LOG,          IDC_ADC_CH2,         IDC_CH1_REF_MIN,      IDC_CH1_REF_MAX,  IDC_CH1_DISP_MIN,
    IDC_CH1_DISP_MAX, IDC_CH2_REF_MIN,     IDC_CH2_REF_MAX,      IDC_CH2_DISP_MIN, IDC_CH2_DISP_MAX,
    IDC_EXTRA_VALUE};

// Height of the closed port selector, in dialog units.
inline constexpr int kPortSelectorClosedHeightDu = 15;
