// The dialog's edit field for each of the eight configuration values, in the
// order of the device's block (see config_names.h for what each one is).
#pragma once

#include "dialog_template.h"
#include "frames.h"

inline constexpr int kConfigFieldIds[kConfigValueCount] = {
    IDC_CH1_REF_MIN, IDC_CH1_REF_MAX, IDC_CH1_DISP_MIN, IDC_CH1_DISP_MAX,
    IDC_CH2_REF_MIN, IDC_CH2_REF_MAX, IDC_CH2_DISP_MIN, IDC_CH2_DISP_MAX,
};
