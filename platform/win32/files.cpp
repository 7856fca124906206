#include "files.h"

#include <windows.h>

#include <atomic>
#include <cerrno>

#include "text_utf16.h"

namespace {

bool Fail(DWORD error) {
    errno = ErrnoOf(error);
    return false;
}

// Past MAX_PATH (less the room a folder keeps for a file name) only the
// \\?\ form reaches a file, and that form takes a full path with nothing
// left to resolve. Shorter paths go as given.
std::wstring SystemPath(const std::wstring &path) {
    if (path.size() < MAX_PATH - 12 || path.starts_with(L"\\\\?\\") ||
        path.starts_with(L"\\\\.\\")) {
        return path;
    }
    std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    const DWORD n =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size()) return path;
    full.resize(n);
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) return full;
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool WriteAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        const DWORD chunk = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
        DWORD written = 0;
        if (!WriteFile(file, data.data(), chunk, &written, nullptr) || written == 0) return false;
        data.remove_prefix(written);
    }
    return true;
}

// The file a path finally names, links followed, so that the replacement
// lands on the target and the link stays a link. The answer has the \\?\ form
// whatever its length.
std::wstring FinalTarget(const std::wstring &path) {
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return path;
    std::wstring final(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, final.data(), static_cast<DWORD>(final.size()), 0);
    if (n >= final.size()) {
        final.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, final.data(), static_cast<DWORD>(final.size()), 0);
    }
    CloseHandle(h);
    if (n == 0 || n >= final.size()) return path;
    final.resize(n);
    return final;
}

// A new file in folder (which ends in a separator, or is empty for the
// working folder) under a name nobody else has taken; its path in name.
// GetTempFileName would do, but it takes no folder longer than MAX_PATH - 14.
HANDLE CreateTemporary(const std::wstring &folder, std::wstring &name) {
    static std::atomic<unsigned> serial{GetCurrentProcessId() * 2654435761u ^ GetTickCount()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = SystemPath(folder + L"ini" + std::to_wstring(serial++ % 100000000u) + L".tmp");
        const HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    return INVALID_HANDLE_VALUE;
}

// Why the move onto target failed. Windows refuses to replace a file that
// another program holds open with "access denied", the read-only file's
// error: asking for the target's deletion tells the two apart.
DWORD MoveError(const std::wstring &target) {
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED) return error;
    const HANDLE h =
        CreateFileW(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION ? ERROR_SHARING_VIOLATION : error;
    }
    CloseHandle(h);
    return error;
}

}  // namespace

bool ReadWholeFile(const std::string &path, std::string &out, size_t limit) {
    out.clear();
    const std::wstring name = SystemPath(Utf8ToUtf16(path));
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder in the file's place opens only with backup semantics.
        const DWORD attributes = GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            errno = EISDIR;
            return false;
        }
        return Fail(error);
    }
    // A pipe, a console or a COM port would keep the read waiting.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        errno = kNotARegularFile;
        return false;
    }
    char chunk[65536];
    bool ok = true;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, chunk, sizeof chunk, &n, nullptr)) {
            ok = Fail(GetLastError());
            break;
        }
        if (n == 0) break;
        if (out.size() + n > limit) {
            ok = false;
            errno = EFBIG;
            out.clear();
            break;
        }
        out.append(chunk, n);
    }
    CloseHandle(h);
    return ok;
}

bool ReplaceFileContents(const std::string &path, std::string_view contents) {
    const std::wstring target = FinalTarget(SystemPath(Utf8ToUtf16(path)));
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        errno = EACCES;
        return false;
    }

    // The temporary file sits beside the target, so the final move never
    // crosses a volume and stays a rename.
    const size_t slash = target.find_last_of(L"\\/");
    std::wstring tmp;
    HANDLE h = CreateTemporary(target.substr(0, slash == std::wstring::npos ? 0 : slash + 1), tmp);
    if (h == INVALID_HANDLE_VALUE) return Fail(GetLastError());
    bool ok = WriteAll(h, contents) && FlushFileBuffers(h);
    DWORD error = ok ? 0 : GetLastError();
    if (!CloseHandle(h) && ok) {
        ok = false;
        error = GetLastError();
    }
    if (ok && MoveFileExW(tmp.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (ok) error = MoveError(target);
    DeleteFileW(tmp.c_str());
    return Fail(error);
}
