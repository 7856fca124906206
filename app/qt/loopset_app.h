// CLoopsetApp: the program's start. It runs the main dialog modally and the
// program ends when the dialog closes.
#pragma once

class CLoopsetApp {
public:
    struct Options {
        // Close the window this many milliseconds after it is shown (0: never);
        // for unattended checks of the start-up path.
        int quitAfterMs = 0;
    };

    explicit CLoopsetApp(Options options) : m_options(options) {}

    // Shows the dialog and returns when it has been closed and destroyed.
    // Always false: there is no message loop to enter afterwards.
    bool InitInstance();

private:
    Options m_options;
};
