// The settings file as Windows treats files: line ends that text mode would
// change, a rename that will not replace, folder names beyond the code page,
// folders past MAX_PATH, and failures told by their own cause.
#include <windows.h>

#include "files.h"
#include "program_path.h"
#include "settings_fixture.h"

namespace {
fs::path U8(const std::string &s) {
    return fs::path(std::u8string(s.begin(), s.end()));
}
}  // namespace

TEST_F(Settings, WindowsKeepsLineEndsAndReplacesTheFile) {
    // CR LF stays CR LF, a lone LF stays LF: nothing goes through text mode.
    EXPECT_EQ(Rewrite("[Data]\r\nCom=3\r\n[B]\nx=1\n", 4), "[Data]\r\nCom=4\r\n[B]\nx=1\n");
    EXPECT_EQ(Rewrite("[Data]\r\nCom=4\r\n", 12), "[Data]\r\nCom=12\r\n");  // replaced in place
    EXPECT_EQ(FilesInDir(), 1);

    // A read-only file is refused and kept.
    SetFileAttributesW(U8(path_).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(WriteComPort(path_, 5));
    EXPECT_EQ(ErrorText(errno), "Permission denied");
    SetFileAttributesW(U8(path_).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Get(), "[Data]\r\nCom=12\r\n");

    // A device in the file's place is neither read nor replaced.
    EXPECT_EQ(ReadComPort("NUL"), 1);
    EXPECT_FALSE(WriteComPort("NUL", 4));
    EXPECT_EQ(ErrorText(errno), "not a regular file");

    // Only the installer's mark makes a folder an installed program's.
    EXPECT_FALSE(ProgramIsInstalled(dir_ + "/"));
    std::ofstream(U8(dir_ + "/" + kInstalledMarker)) << "";
    EXPECT_TRUE(ProgramIsInstalled(dir_ + "/"));
}

TEST_F(Settings, WindowsTakesAnyFolderAndSaysWhyItFails) {
    // A file another program holds open is in use, not forbidden; a missing
    // drive or folder is missing. Nothing is left behind.
    const HANDLE held =
        CreateFileW(U8(path_).c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    for (const std::string &file : {path_, std::string("Q:/c.json"), dir_ + "/missing/c.json"}) {
        EXPECT_FALSE(ReplaceFileContents(file, "new"));
        EXPECT_EQ(ErrorText(errno),
                  file == path_ ? "in use by another program" : "No such file or directory");
    }
    CloseHandle(held);
    EXPECT_EQ(FilesInDir(), 1);

    // A folder named beyond the code page ("설정") just short of MAX_PATH, which
    // the final path's \\?\ took past it: the file is written, replaced and read
    // there, and nothing else is left.
    const std::string folder =
        dir_ + "/\xEC\x84\xA4\xEC\xA0\x95" + std::string(242 - dir_.size(), 'f');
    std::string text;
    fs::create_directories(U8(folder));
    EXPECT_TRUE(ReplaceFileContents(folder + "/c.json", "1") &&
                ReplaceFileContents(folder + "/c.json", "2") &&
                ReadWholeFile(folder + "/c.json", text) && text == "2")
        << ErrorText(errno);
    EXPECT_EQ(std::distance(fs::directory_iterator(U8(folder)), {}), 1);
}
