#include "files.h"

#include <windows.h>

#include <cerrno>

#include "text_utf16.h"

namespace {

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_DIRECTORY:
            return EISDIR;
        default:
            return EIO;
    }
}

bool Fail(DWORD error) {
    errno = ErrnoOf(error);
    return false;
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
// lands on the target and the link stays a link.
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

}  // namespace

bool ReadWholeFile(const std::string &path, std::string &out, size_t limit) {
    out.clear();
    HANDLE h = CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder in the file's place opens only with backup semantics.
        const DWORD attributes = GetFileAttributesW(Utf8ToUtf16(path).c_str());
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
    const std::wstring target = FinalTarget(Utf8ToUtf16(path));
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        errno = EACCES;
        return false;
    }

    // The temporary file sits beside the target, so the final move never
    // crosses a volume and stays a rename.
    std::wstring folder = target;
    const size_t slash = folder.find_last_of(L"\\/");
    folder.erase(slash == std::wstring::npos ? 0 : slash + 1);
    if (folder.empty()) folder = L".";
    wchar_t tmp[MAX_PATH + 16];
    if (folder.size() > MAX_PATH - 14 || GetTempFileNameW(folder.c_str(), L"ini", 0, tmp) == 0)
        return Fail(GetLastError());

    HANDLE h = CreateFileW(tmp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        DeleteFileW(tmp);
        return Fail(error);
    }
    bool ok = WriteAll(h, contents) && FlushFileBuffers(h);
    DWORD error = ok ? 0 : GetLastError();
    if (!CloseHandle(h) && ok) {
        ok = false;
        error = GetLastError();
    }
    if (ok && MoveFileExW(tmp, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (ok) error = GetLastError();
    DeleteFileW(tmp);
    return Fail(error);
}
