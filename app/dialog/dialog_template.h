/* The main dialog's template: its resource numbers, control ids, title, size
 * and every control with its kind, text, id, position and size in dialog
 * units, in template order. The only copy: the Windows resource compiler
 * builds the dialog from it, the Qt window lays itself out from it, and the
 * tests of both check the shown window against it. Plain preprocessor only,
 * since the resource compiler reads it too. */
#ifndef LOOPSET_DIALOG_TEMPLATE_H
#define LOOPSET_DIALOG_TEMPLATE_H

#define IDD_LOOPSET_DIALOG 102
#define IDR_MAINFRAME 128

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_ADC_CH1 1000
#define IDC_LOG 1001
#define IDC_BTN_ADC_READ 1002
#define IDC_BTN_CONFIG_READ 1003
#define IDC_BTN_CONFIG_WRITE 1004
#define IDC_COM_PORT 1005
#define IDC_ADC_CH2 1006
#define IDC_CH1_REF_MIN 1007
#define IDC_CH1_REF_MAX 1008
#define IDC_CH1_DISP_MIN 1009
#define IDC_CH1_DISP_MAX 1010
#define IDC_CH2_REF_MIN 1011
#define IDC_CH2_REF_MAX 1012
#define IDC_CH2_DISP_MIN 1013
#define IDC_CH2_DISP_MAX 1014
#define IDC_EXTRA_VALUE 1015

#define LOOPSET_DIALOG_TITLE "4~20mA 전류 설정 프로그램 (260224)"
#define LOOPSET_DIALOG_WIDTH 199
#define LOOPSET_DIALOG_HEIGHT 353
#define LOOPSET_CREDIT_TEXT "loopset · 4-20 mA setup tool"

/* X(kind, text, id, x, y, width, height). The labels first, then the controls
 * that take the focus in the order Tab visits them (a template's order is its
 * tab order); the read-only fields take the focus too, so that their values
 * can be selected and copied. The port selector's height is its dropped-down
 * list's. */
#define LOOPSET_DIALOG_CONTROLS(X)                                   \
    X(GroupBox, "", IDC_STATIC, 5, 5, 190, 170)                      \
    X(CenteredLabel, "ADC Value", IDC_STATIC, 10, 10, 60, 15)        \
    X(Label, "CH.1", IDC_STATIC, 10, 30, 20, 15)                     \
    X(Label, "CH.2", IDC_STATIC, 10, 50, 20, 15)                     \
    X(Label, "COM Port : ", IDC_STATIC, 110, 20, 40, 15)             \
    X(CenteredLabel, "ADC Reference", IDC_STATIC, 35, 80, 75, 15)    \
    X(CenteredLabel, "Display Value", IDC_STATIC, 115, 80, 75, 15)   \
    X(CenteredLabel, "Min", IDC_STATIC, 35, 95, 35, 15)              \
    X(CenteredLabel, "Max", IDC_STATIC, 75, 95, 35, 15)              \
    X(CenteredLabel, "Min", IDC_STATIC, 115, 95, 35, 15)             \
    X(CenteredLabel, "Max", IDC_STATIC, 155, 95, 35, 15)             \
    X(Label, "CH.1", IDC_STATIC, 10, 115, 20, 15)                    \
    X(Label, "CH.2", IDC_STATIC, 10, 135, 20, 15)                    \
    X(CenteredLabel, LOOPSET_CREDIT_TEXT, IDC_STATIC, 80, 340, 115, 10) \
    X(Button, "ADC 값 읽기", IDC_BTN_ADC_READ, 115, 50, 75, 15)      \
    X(Button, "설정값 읽기", IDC_BTN_CONFIG_READ, 35, 155, 75, 15)   \
    X(Button, "설정값 쓰기", IDC_BTN_CONFIG_WRITE, 115, 155, 75, 15) \
    X(ReadOnlyValue, "", IDC_ADC_CH1, 35, 30, 35, 15)                \
    X(PortSelector, "", IDC_COM_PORT, 155, 20, 30, 120)              \
    X(Log, "", IDC_LOG, 5, 180, 190, 155)                            \
    X(ReadOnlyValue, "", IDC_ADC_CH2, 35, 50, 35, 15)                \
    X(Value, "", IDC_CH1_REF_MIN, 35, 115, 35, 15)                   \
    X(Value, "", IDC_CH1_REF_MAX, 75, 115, 35, 15)                   \
    X(Value, "", IDC_CH1_DISP_MIN, 115, 115, 35, 15)                 \
    X(Value, "", IDC_CH1_DISP_MAX, 155, 115, 35, 15)                 \
    X(Value, "", IDC_CH2_REF_MIN, 35, 135, 35, 15)                   \
    X(Value, "", IDC_CH2_REF_MAX, 75, 135, 35, 15)                   \
    X(Value, "", IDC_CH2_DISP_MIN, 115, 135, 35, 15)                 \
    X(Value, "", IDC_CH2_DISP_MAX, 155, 135, 35, 15)                 \
    X(ReadOnlyValue, "", IDC_EXTRA_VALUE, 80, 50, 30, 15)

#endif
