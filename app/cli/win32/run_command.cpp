#include "run_command.h"

#include <windows.h>

#include <vector>

#include "system_error.h"
#include "text_utf16.h"

CommandResult RunCommand(const std::string &command, int limitMs) {
    CommandResult result;
    std::wstring line = L"cmd.exe /d /c " + Utf8ToUtf16(command);
    std::vector<wchar_t> writable(line.begin(), line.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        result.problem = "cannot start it: " + SystemErrorText(GetLastError());
        return result;
    }
    CloseHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(limitMs)) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        result.problem = "it did not end within " + std::to_string(limitMs / 1000) + " s";
        return result;
    }
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    result.ran = true;
    result.exitCode = static_cast<int>(code);
    return result;
}
