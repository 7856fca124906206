#include "folders.h"

#include <windows.h>
#include <shlobj.h>

#include <cerrno>

#include "system_error.h"
#include "text_utf16.h"

std::string UserSettingsFolder() {
    wchar_t *appData = nullptr;
    std::string folder;
    if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &appData) == S_OK && appData)
        folder = Utf16ToUtf8(appData) + "\\loopset\\";
    CoTaskMemFree(appData);
    return folder;
}

std::string UserDataFolder() {
    // Roaming, as the settings: a technician's records follow the technician.
    return UserSettingsFolder();
}

bool FolderIsWritable(const std::string &folder) {
    // Access rights on Windows come from lists the attributes do not show:
    // only creating a file tells.
    std::wstring probe = Utf8ToUtf16(folder.empty() ? std::string(".\\") : folder);
    if (probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
    probe += L"loopset-write-probe.tmp";
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool CreateFolders(const std::string &folder) {
    std::wstring wide = Utf8ToUtf16(folder);
    while (!wide.empty() && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
    const int rc = SHCreateDirectoryExW(nullptr, wide.c_str(), nullptr);
    if (rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS || rc == ERROR_FILE_EXISTS) return true;
    errno = ErrnoOf(static_cast<uint32_t>(rc));
    return false;
}
