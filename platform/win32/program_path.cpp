#include "program_path.h"

#include <windows.h>

#include "text_utf16.h"

std::string ProgramFolder() {
    // Paths may exceed MAX_PATH; grow until the name fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    path.erase(slash == std::wstring::npos ? 0 : slash + 1);
    return Utf16ToUtf8(path);
}

bool ProgramIsInstalled(const std::string &folder) {
    // An administrator may write into Program Files; only the installer's
    // mark tells an installed copy from an unpacked zip.
    const DWORD attributes = GetFileAttributesW(Utf8ToUtf16(folder + kInstalledMarker).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
