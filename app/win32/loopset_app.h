// CLoopsetApp: the program's start. It runs the main dialog modally and the
// program ends when the dialog closes.
#pragma once

#include <string>

class CLoopsetApp {
public:
    struct Options {
        // Close the window this many milliseconds after it is shown (0: never);
        // for unattended checks of the start-up path.
        int quitAfterMs = 0;
        // Read the ADC values and the configuration, save a picture of the
        // window into this PNG file and close (empty: no picture).
        std::wstring shotPath;
        // The same after opening the live view and letting it sample for a
        // few seconds, a picture of the live view's window (empty: none).
        std::wstring liveShotPath;
        // Instead, run a calibration of CH.1 against a simulated instrument
        // whose control FIFO is calSource (each point's current set by a
        // line into it) and save a picture of its window (empty: none).
        std::wstring calShotPath, calSource;
        // For the pictures: the device's COM port, kept out of the settings.
        int shotPort = 0;
    };

    explicit CLoopsetApp(Options options) : m_options(std::move(options)) {}

    // Shows the dialog and returns when it has been closed and destroyed.
    // Always false: there is no message loop to enter afterwards.
    bool InitInstance();
    // 0, or 3 when a picture was asked for and not made.
    int ExitCode() const { return m_exitCode; }

private:
    Options m_options;
    int m_exitCode = 0;
};
