// loopset.exe: the two-channel 4-20 mA device's setup window.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>

#include "loopset_app.h"
#include "text_utf16.h"
#include "win32_texts.h"

namespace {

// A positive number of the whole argument, or 0.
int PositiveNumber(const wchar_t *text) {
    if (!text || !*text) return 0;
    long value = 0;
    for (const wchar_t *p = text; *p; ++p) {
        if (!std::iswdigit(*p) || value > 100000000) return 0;
        value = value * 10 + (*p - L'0');
    }
    return static_cast<int>(value);
}

void Usage(const wchar_t *problem) {
    const std::wstring text =
        std::wstring(problem) +
        L"\n\nloopset [--lang ko|en] [--quit-after MS] [--shot FILE.png] [--live-shot FILE.png]\n"
        L"        [--cal-shot FILE.png --cal-source FIFO] [--port N]\n"
        L"  --lang ko|en      the windows' language (default: the settings' Lang, else\n"
        L"                    the user's)\n"
        L"  --quit-after MS   close the window after MS milliseconds\n"
        L"  --shot FILE.png   read the ADC values and the configuration, save a picture of\n"
        L"                    the window and close (--port: the device's COM port, 1)\n"
        L"  --live-shot FILE.png  the same, then open the live view and save a picture of\n"
        L"                    it after a few seconds of samples\n"
        L"  --cal-shot FILE.png  run a calibration of CH.1 against a simulated instrument,\n"
        L"                    each current set by a line into its control FIFO, and save\n"
        L"                    a picture of the calibration's window";
    MessageBoxW(nullptr, text.c_str(), L"loopset", MB_OK | MB_ICONERROR);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    CLoopsetApp::Options options;
    std::optional<UiLanguage> language;
    bool ok = argv != nullptr;
    for (int i = 1; ok && i < argc; ++i) {
        const std::wstring arg = argv[i];
        const wchar_t *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == L"--lang") {
            language = value ? ParseLanguage(Utf16ToUtf8(value)) : std::nullopt;
            ok = language.has_value();
            if (!ok) Usage(L"--lang is ko or en");
        } else if (arg == L"--quit-after") {
            options.quitAfterMs = PositiveNumber(value);
            ok = options.quitAfterMs > 0;
            if (!ok) Usage(L"--quit-after needs a positive number of milliseconds");
        } else if (arg == L"--shot" && value) {
            options.shotPath = value;
        } else if (arg == L"--live-shot" && value) {
            options.liveShotPath = value;
        } else if (arg == L"--cal-shot" && value) {
            options.calShotPath = value;
        } else if (arg == L"--cal-source" && value) {
            options.calSource = value;
        } else if (arg == L"--port") {
            options.shotPort = PositiveNumber(value);
            ok = options.shotPort > 0;
            if (!ok) Usage(L"--port needs a COM port number");
        } else {
            Usage((L"unknown argument: " + arg).c_str());
            ok = false;
        }
        ++i;
    }
    if (argv) LocalFree(argv);
    if (!ok) return 2;
    if (options.calShotPath.empty() != options.calSource.empty()) {
        Usage(L"--cal-shot and --cal-source go together");
        return 2;
    }
    if ((!options.shotPath.empty() || !options.liveShotPath.empty() ||
         !options.calShotPath.empty()) &&
        options.shotPort == 0)
        options.shotPort = 1;

    // Before any window: the dialog's template and every text load in it.
    InstallLanguage(ProgramLanguage(language));
    CLoopsetApp theApp(options);
    theApp.InitInstance();
    return theApp.ExitCode();
}
