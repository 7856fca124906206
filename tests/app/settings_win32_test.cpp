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
    EXPECT_EQ(ErrorText(errno), "Permission denied");
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

TEST_F(Settings, WindowsFailuresSayWhyAndLongFoldersWork) {
    // A file another program holds open is in use, not forbidden; a missing
    // drive or folder is missing. Nothing is changed or left behind.
    Put("kept");
    const HANDLE held =
        CreateFileW(U8(path_).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    for (const auto &[file, cause] :
         {std::pair<std::string, const char *>{path_, "in use by another program"},
          {"Q:/loopset/c.json", "No such file or directory"},
          {dir_ + "/missing/c.json", "No such file or directory"}}) {
        EXPECT_FALSE(ReplaceFileContents(file, "new")) << file;
        EXPECT_EQ(ErrorText(errno), cause) << file;
    }
    CloseHandle(held);
    EXPECT_EQ(Get(), "kept");
    EXPECT_EQ(FilesInDir(), 1);

    // A folder just short of MAX_PATH, which the final path's \\?\ took past
    // it, and one beyond it: the file is written, replaced and read there.
    const auto whole = [](const std::string &p) {
        return L"\\\\?\\" + U8(p).make_preferred().wstring();
    };
    const std::string deep = dir_ + "/" + std::string(244 - dir_.size(), 'f');
    for (const std::string &folder : {deep, deep + "/" + std::string(60, 'g')}) {
        ASSERT_TRUE(fs::create_directories(U8(folder))) << folder.size();
        std::string text;
        for (const char *contents : {"first", "second"})
            EXPECT_TRUE(ReplaceFileContents(folder + "/c.json", contents))
                << folder.size() << ErrorText(errno);
        EXPECT_TRUE(ReadWholeFile(folder + "/c.json", text) && text == "second") << folder.size();
        // Moved where the test's tools reach, it holds that file alone.
        const std::string moved = dir_ + "/" + std::to_string(folder.size());
        ASSERT_TRUE(MoveFileW(whole(folder).c_str(), whole(moved).c_str()));
        EXPECT_EQ(std::distance(fs::directory_iterator(U8(moved)), {}), 1);
    }
}
