#include "test_device.h"

#include <windows.h>

#include <cstdlib>

#include "text_utf16.h"

namespace {

// Quoted as the C runtime splits a command line back into its arguments.
std::wstring Quoted(const std::string &arg) {
    std::wstring quoted = L"\"";
    size_t slashes = 0;
    for (wchar_t c : Utf8ToUtf16(arg)) {
        slashes = c == L'\\' ? slashes + 1 : 0;
        if (c == L'"') quoted.append(slashes + 1, L'\\');
        quoted.push_back(c);
    }
    return quoted.append(slashes, L'\\') + L"\" ";
}

HANDLE TempFile() {
    wchar_t dir[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"run", 0, path);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(
        path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string Contents(HANDLE file) {
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

}  // namespace

struct CTestDevice::Process {};

CTestDevice::CTestDevice() {
    const char *com = std::getenv("LOOPSET_COM");
    m_com = com ? std::atoi(com) : 0;
    m_name = "COM" + std::to_string(m_com);
    if (m_com <= 0) m_problem = "no device: run through tests/windows/with_loopsim.sh";
}

CTestDevice::~CTestDevice() = default;

bool CTestDevice::TakeAway() {
    const char *pid = std::getenv("LOOPSET_SIM_PID");
    // Wine starts a Linux program like any other.
    return pid && RunProgram({"Z:\\bin\\kill", "-KILL", pid}).exitCode == 0;
}

ProgramRun RunProgram(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                      const std::string &outFile) {
    std::wstring line;
    for (const std::string &arg : argv) line += Quoted(arg);
    for (const std::string &var : env) {
        const std::wstring wide = Utf8ToUtf16(var);
        const size_t at = wide.find(L'=');
        SetEnvironmentVariableW(wide.substr(0, at).c_str(), wide.substr(at + 1).c_str());
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = outFile.empty() ? TempFile()
                                 : CreateFileW(Utf8ToUtf16(outFile).c_str(), GENERIC_WRITE, 0, &inherit,
                                               CREATE_ALWAYS, 0, nullptr);
    HANDLE err = TempFile();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out, startup.hStdError = err;
    PROCESS_INFORMATION process{};
    ProgramRun run;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        run.exitCode = int(code);
        FILETIME created, ended, kernel, user;
        if (GetProcessTimes(process.hProcess, &created, &ended, &kernel, &user)) {
            auto ticks = [](FILETIME t) {
                return 4294967296.0 * t.dwHighDateTime + t.dwLowDateTime;
            };
            run.cpuSeconds = (ticks(kernel) + ticks(user)) / 1e7;
        }
        CloseHandle(process.hThread), CloseHandle(process.hProcess);
    }
    for (const std::string &var : env)
        SetEnvironmentVariableW(Utf8ToUtf16(var.substr(0, var.find('='))).c_str(), nullptr);
    if (outFile.empty())
        run.out = Contents(out);
    else
        CloseHandle(out);
    run.err = Contents(err);
    return run;
}
