// Every text the windows show beyond the dialog's template and its log, by
// id, in the language it was first written in: the dialog's boxes in the
// designed Korean, everything added since in English. Each toolkit's own
// translation system gives the other language (Qt's .ts files, the Win32
// string tables, built from the same .ts files); a text missing there falls
// back to this one. The ids are the Win32 string tables' numbers and the .ts
// files name each message by its id's name: they never change once given.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

enum class UiText : uint16_t {
    // The link's boxes (designed).
    BadBaudRate = 1000,
    CannotOpenPort = 1001,
    BadIpSettings = 1002,
    // The dialog's further commands and where to find them.
    CommandLiveView = 1100,
    CommandCalibration = 1101,
    CommandSaveConfig = 1102,
    CommandLoadConfig = 1103,
    CommandsHint = 1104,
    SaveConfigTitle = 1105,
    LoadConfigTitle = 1106,
    ConfigFiles = 1107,
    AllFiles = 1108,
    CsvFiles = 1109,
    CommandsButton = 1110,
    CommandsInWindowMenu = 1111,
    // The file box's own failures.
    FilePathTooLong = 1112,
    FileNameInvalid = 1113,
    FileBoxFailed = 1114,
    // Configuration files.
    NotWholeNumber = 1200,
    NotJsonObject = 1201,
    MissingValue = 1202,
    KeyTwice = 1203,
    FileTooLarge = 1204,
    CannotWrite = 1205,
    // The live view.
    LiveTitle = 1300,
    LiveUse4mA = 1301,
    LiveUse20mA = 1302,
    LiveRate = 1303,
    LivePause = 1304,
    LiveResume = 1305,
    LiveSaveCsv = 1306,
    LiveNoValue = 1307,
    LiveRawValue = 1308,
    LiveDerivedValue = 1309,
    LevelOutOfRange = 1310,
    LevelFailure = 1311,
    LiveSummary = 1312,
    LiveLegendMa = 1313,
    LiveLegendAdc = 1314,
    LiveCaptureProblem = 1315,
    // The calibration.
    CalTitle = 1400,
    CalChannel = 1401,
    CalPoints = 1402,
    CalTolerance = 1403,
    CalTag = 1404,
    CalOperator = 1405,
    CalReference = 1406,
    CalStart = 1407,
    CalStop = 1408,
    CalApplied = 1409,
    CalNext = 1410,
    CalAdjust = 1411,
    CalFinish = 1412,
    CalSave = 1413,
    CalOpen = 1414,
    CalFolder = 1415,
    CalPromptIdle = 1416,
    CalPromptReading = 1417,
    CalPromptApply = 1418,
    CalPromptSettling = 1419,
    CalPromptAdjust = 1420,
    CalPromptWriting = 1421,
    CalPromptDone = 1422,
    CalPromptStopped = 1423,
    CalAsFound = 1424,
    CalAsLeft = 1425,
    CalPass = 1426,
    CalFail = 1427,
    CalUnsteady = 1428,
    CalColNominal = 1429,
    CalColApplied = 1430,
    CalColCounts = 1431,
    CalColDisplay = 1432,
    CalColExpected = 1433,
    CalColError = 1434,
    CalColResult = 1435,
    CalVerdictFound = 1436,
    CalVerdictLeft = 1437,
    CalSaved = 1438,
    CalStopOperator = 1439,
    CalStopLineLost = 1440,
    CalStopNotSent = 1441,
    CalStopNoAnswer = 1442,
    CalStopDevice = 1443,
    CalStopUnusable = 1444,
    CalNoProgram = 1445,
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
