// The settings file as Windows treats files: line ends that text mode would
// change, a rename that will not replace, folder names beyond the code page.
#include <windows.h>

#include "files.h"
#include "program_path.h"
#include "settings_fixture.h"

namespace {
fs::path U8(const std::string &s) {
    return fs::path(std::u8string(s.begin(), s.end()));
}
}  // namespace

TEST_F(Settings, WindowsKeepsLineEndsReplacesTheFileAndTakesAnyFolderName) {
    // CR LF stays CR LF, a lone LF stays LF: nothing goes through text mode.
    EXPECT_EQ(Rewrite("[Data]\r\nCom=3\r\n[B]\nx=1\n", 4), "[Data]\r\nCom=4\r\n[B]\nx=1\n");
    EXPECT_EQ(Rewrite("[Data]\r\nCom=4\r\n", 12), "[Data]\r\nCom=12\r\n");  // replaced in place
    EXPECT_EQ(FilesInDir(), 1);

    const std::string hangul = dir_ + "/\xEC\x84\xA4\xEC\xA0\x95";  // "설정"
    fs::create_directories(U8(hangul));
    const std::string ini = hangul + "/config.ini";
    EXPECT_TRUE(WriteComPort(ini, 21));
    EXPECT_EQ(ReadComPort(ini), 21);
    EXPECT_TRUE(WriteComPort(ini, 22));
    EXPECT_EQ(ReadComPort(ini), 22);
    EXPECT_TRUE(fs::exists(U8(ini)));

    // A read-only file is refused and kept.
    SetFileAttributesW(U8(path_).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(WriteComPort(path_, 5));
    SetFileAttributesW(U8(path_).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Get(), "[Data]\r\nCom=12\r\n");
    EXPECT_EQ(FilesInDir(), 2);  // the file and the Hangul folder, no temporary file

    // A device in the file's place is neither read nor replaced.
    EXPECT_EQ(ReadComPort("NUL"), 1);
    EXPECT_FALSE(WriteComPort("NUL", 4));
    EXPECT_EQ(ErrorText(errno), "not a regular file");

    // Only the installer's mark makes a folder an installed program's.
    EXPECT_FALSE(ProgramIsInstalled(dir_ + "/"));
    std::ofstream(U8(dir_ + "/" + kInstalledMarker)) << "";
    EXPECT_TRUE(ProgramIsInstalled(dir_ + "/"));
}
