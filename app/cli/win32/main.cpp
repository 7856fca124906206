#include <windows.h>

#include <string>
#include <vector>

#include "loopctl_main.h"
#include "text_utf16.h"

// The arguments arrive in UTF-16 whatever the machine's code page, and the
// console is switched to UTF-8 so that the Korean log lines read right.
int wmain(int argc, wchar_t **wargv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(Utf16ToUtf8(wargv[i]));
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return LoopctlMain(argc, argv.data());
}
