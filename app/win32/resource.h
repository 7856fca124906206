// Resource numbers of loopset.exe. The control ids are the dialog's own
// (loopset_view.h); the resource compiler cannot read C++, so it gets them
// here as plain macros, and only it does.
#pragma once

#define IDD_LOOPSET_DIALOG 102
#define IDR_MAINFRAME 128

#ifdef RC_INVOKED
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
#endif
