// The eight configuration values, in the order of the device's block: per
// channel the ADC reference range, then the display range. Each with the
// dialog field that shows it and the names a configuration file and
// loopctl's JSON give it ("ch1" then "ref_min").
#pragma once

#include "dialog_template.h"
#include "frames.h"

struct ConfigField {
    int id;               // the dialog's field
    const char *channel;  // "ch1", "ch2"
    const char *name;     // "ref_min", "ref_max", "disp_min", "disp_max"
};

inline constexpr ConfigField kConfigFieldTable[kConfigValueCount] = {
    {IDC_CH1_REF_MIN, "ch1", "ref_min"},   {IDC_CH1_REF_MAX, "ch1", "ref_max"},
    {IDC_CH1_DISP_MIN, "ch1", "disp_min"}, {IDC_CH1_DISP_MAX, "ch1", "disp_max"},
    {IDC_CH2_REF_MIN, "ch2", "ref_min"},   {IDC_CH2_REF_MAX, "ch2", "ref_max"},
    {IDC_CH2_DISP_MIN, "ch2", "disp_min"}, {IDC_CH2_DISP_MAX, "ch2", "disp_max"},
};
