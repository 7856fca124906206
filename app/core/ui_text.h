// Every text the windows show beyond the dialog's template and its log, by
// id, in the language it was first written in: the dialog's boxes in the
// designed Korean, everything added since in English. Each toolkit's own
// translation system gives the other language (Qt's .ts files, the Win32
// string tables); a text missing there falls back to this one. The ids are
// the Win32 string tables' numbers, so they never change once given.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

enum class UiText : uint16_t {
    // The link's boxes (designed).
    BadBaudRate = 1000,
    CannotOpenPort,
    BadIpSettings,
    // The dialog's further commands and where to find them.
    CommandLiveView = 1100,
    CommandCalibration,
    CommandSaveConfig,
    CommandLoadConfig,
    CommandsHint,
    SaveConfigTitle,
    LoadConfigTitle,
    ConfigFiles,
    AllFiles,
    CsvFiles,
    // Configuration files.
    NotWholeNumber = 1200,
    NotJsonObject,
    MissingValue,
    KeyTwice,
    FileTooLarge,
    CannotWrite,
    // The live view.
    LiveTitle = 1300,
    LiveUse4mA,
    LiveUse20mA,
    LiveRate,
    LivePause,
    LiveResume,
    LiveSaveCsv,
    LiveNoValue,
    LiveRawValue,
    LiveDerivedValue,
    LevelOutOfRange,
    LevelFailure,
    LiveSummary,
    LiveLegendMa,
    LiveLegendAdc,
    LiveCaptureProblem,
    // The calibration.
    CalTitle = 1400,
    CalChannel,
    CalPoints,
    CalTolerance,
    CalTag,
    CalOperator,
    CalReference,
    CalStart,
    CalStop,
    CalApplied,
    CalNext,
    CalAdjust,
    CalFinish,
    CalSave,
    CalOpen,
    CalFolder,
    CalPromptIdle,
    CalPromptReading,
    CalPromptApply,
    CalPromptSettling,
    CalPromptAdjust,
    CalPromptWriting,
    CalPromptDone,
    CalPromptStopped,
    CalAsFound,
    CalAsLeft,
    CalPass,
    CalFail,
    CalUnsteady,
    CalColNominal,
    CalColApplied,
    CalColCounts,
    CalColDisplay,
    CalColExpected,
    CalColError,
    CalColResult,
    CalVerdictFound,
    CalVerdictLeft,
    CalSaved,
    CalStopOperator,
    CalStopLineLost,
    CalStopNotSent,
    CalStopNoAnswer,
    CalStopDevice,
    CalStopUnusable,
};

// The text in the language it was first written in.
const char *SourceText(UiText id);

// Where a front end's texts come from: its toolkit's translation of each
// text, or the source text where there is none.
class ITexts {
public:
    virtual ~ITexts() = default;
    virtual std::string Text(UiText id) const = 0;
};
// The source texts themselves (loopctl, tests).
const ITexts &SourceTexts();

// templateText with %1 to %9 replaced by the arguments in order; a %
// followed by anything else stays as it is.
std::string Fill(std::string_view templateText, std::initializer_list<std::string_view> args);
