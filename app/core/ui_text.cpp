#include "ui_text.h"

const char *SourceText(UiText id) {
    switch (id) {
        case UiText::BadBaudRate: return "사용할 수 없는 전송 속도 입니다.";
        case UiText::CannotOpenPort:
            return "시리얼 포트 COM %1를(을) 열수 없습니다.\r\n\r\n환경 설정에서 사용할 포트를 선택 "
                   "해주세요.";
        case UiText::BadIpSettings: return "%1:%2 IP 설정 오류";

        case UiText::CommandLiveView: return "Live view";
        case UiText::CommandCalibration: return "Calibration...";
        case UiText::CommandSaveConfig: return "Save configuration...";
        case UiText::CommandLoadConfig: return "Load configuration...";
        case UiText::CommandsHint:
            return "More: Live view (Ctrl+L), Calibration (Ctrl+K), Save (Ctrl+S), Load (Ctrl+O)";
        case UiText::SaveConfigTitle: return "Save configuration";
        case UiText::LoadConfigTitle: return "Load configuration";
        case UiText::ConfigFiles: return "Configurations";
        case UiText::AllFiles: return "All files";
        case UiText::CsvFiles: return "CSV files";
        case UiText::CommandsButton: return "More ▾";
        case UiText::CommandsInWindowMenu: return "Also in the window menu (Alt+Space).";
        case UiText::FilePathTooLong: return "The path chosen is too long.";
        case UiText::FileNameInvalid: return "The file name is not valid.";
        case UiText::FileBoxFailed: return "The file box failed (error %1).";

        case UiText::NotWholeNumber: return "%1 is not a whole number from 0 to 65535";
        case UiText::NotJsonObject: return "not a JSON object";
        case UiText::MissingValue: return "no %1";
        case UiText::KeyTwice: return "the key \"%1\" appears twice";
        case UiText::FileTooLarge: return "too large for a configuration file (over 1 MB)";
        case UiText::CannotWrite: return "Cannot write %1: %2";

        case UiText::LiveTitle: return "Live view";
        case UiText::LiveUse4mA: return "Use as 4 mA";
        case UiText::LiveUse20mA: return "Use as 20 mA";
        case UiText::LiveRate: return "Samples a second:";
        case UiText::LivePause: return "Pause";
        case UiText::LiveResume: return "Resume";
        case UiText::LiveSaveCsv: return "Save as CSV";
        case UiText::LiveNoValue: return "CH.%1   -";
        case UiText::LiveRawValue: return "CH.%1   %2";
        case UiText::LiveDerivedValue: return "CH.%1   %2   %3 mA   %4";
        case UiText::LevelOutOfRange: return "(out of range)";
        case UiText::LevelFailure: return "(failure)";
        case UiText::LiveSummary: return "%1 samples, %2 failed";
        case UiText::LiveLegendMa: return "mA, last %1 s";
        case UiText::LiveLegendAdc: return "ADC, last %1 s";
        case UiText::LiveCaptureProblem:
            return "Only %1 s of steady readings since the last start, resume or change of value; "
                   "a capture needs %2 s.";

        case UiText::CalTitle: return "Calibration";
        case UiText::CalChannel: return "Channel:";
        case UiText::CalPoints: return "Test points (mA):";
        case UiText::CalTolerance: return "Tolerance (% of span):";
        case UiText::CalTag: return "Device tag:";
        case UiText::CalOperator: return "Operator:";
        case UiText::CalReference: return "Reference instrument:";
        case UiText::CalStart: return "Start";
        case UiText::CalStop: return "Stop";
        case UiText::CalApplied: return "Applied mA:";
        case UiText::CalNext: return "Next";
        case UiText::CalAdjust: return "Adjust";
        case UiText::CalFinish: return "Finish";
        case UiText::CalSave: return "Save record";
        case UiText::CalOpen: return "Open record";
        case UiText::CalFolder: return "Records go to:";
        case UiText::CalPromptIdle: return "Choose the channel and the test points, then Start.";
        case UiText::CalPromptReading: return "Reading the configuration of CH.%1...";
        case UiText::CalPromptApply:
            return "Apply %1 mA to CH.%2 (%3, point %4), then Next. Type the current the reference "
                   "shows if it differs.";
        case UiText::CalPromptSettling: return "Waiting for a steady reading (%1, point %2, %3 s)...";
        case UiText::CalPromptAdjust:
            return "As found: %1. Adjust writes a new reference range for CH.%2 and checks it as "
                   "left; Finish leaves the device as found.";
        case UiText::CalPromptWriting:
            return "Writing the adjusted range of CH.%1 and reading it back...";
        case UiText::CalPromptDone: return "Done. Save the record.";
        case UiText::CalPromptStopped: return "Stopped: %1.";
        case UiText::CalAsFound: return "as found";
        case UiText::CalAsLeft: return "as left";
        case UiText::CalPass: return "pass";
        case UiText::CalFail: return "fail";
        case UiText::CalUnsteady: return "%1 (unsteady)";
        case UiText::CalColNominal: return "Nominal mA";
        case UiText::CalColApplied: return "Applied mA";
        case UiText::CalColCounts: return "Counts";
        case UiText::CalColDisplay: return "Display";
        case UiText::CalColExpected: return "Expected";
        case UiText::CalColError: return "Error % span";
        case UiText::CalColResult: return "Result";
        case UiText::CalVerdictFound: return "As found: %1";
        case UiText::CalVerdictLeft: return "As left: %1";
        case UiText::CalSaved: return "The record is in %1 and %2.";
        case UiText::CalStopOperator: return "stopped by the operator";
        case UiText::CalStopLineLost: return "the line was lost: %1";
        case UiText::CalStopNotSent: return "nothing could be sent: %1";
        case UiText::CalStopNoAnswer: return "no answer from the device to %1";
        case UiText::CalStopDevice: return "the device answered with %1";
        case UiText::CalStopUnusable: return "%1";
        case UiText::CalNoProgram: return "no program opened %1";
    }
    return "";
}

namespace {

struct CSourceTexts : ITexts {
    std::string Text(UiText id) const override { return SourceText(id); }
};

}  // namespace

const ITexts &SourceTexts() {
    static const CSourceTexts texts;
    return texts;
}

std::string Fill(std::string_view templateText, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(templateText.size());
    for (size_t i = 0; i < templateText.size(); ++i) {
        const char c = templateText[i];
        if (c == '%' && i + 1 < templateText.size() && templateText[i + 1] >= '1' &&
            templateText[i + 1] <= '9') {
            const auto n = static_cast<size_t>(templateText[i + 1] - '1');
            if (n < args.size()) {
                out += *(args.begin() + n);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}
