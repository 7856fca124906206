// What only a POSIX system can show of the settings file: permissions that
// stop root too, links, failing renames and a file size limit.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "files.h"
#include "folders.h"
#include "settings.h"
#include "program_path.h"
#include "settings_fixture.h"

TEST_F(Settings, UnwritablePlaceReportsFailureAndLosesNothing) {
    EXPECT_FALSE(WriteComPort("/proc/self/config.ini", 4));
    EXPECT_FALSE(WriteComPort(dir_ + "/missing/config.ini", 4));
    Put("[Data]\nCom=6\n; keep me\n");
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    if (geteuid() != 0) {  // root writes anywhere; the /proc case above covers it
        EXPECT_FALSE(WriteComPort(path_, 7));
        EXPECT_EQ(FilesInDir(), 1);
    }
    EXPECT_EQ(Get(), "[Data]\nCom=6\n; keep me\n");

    // A pipe in the file's place is neither waited on nor replaced.
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove(path_);
    ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
    EXPECT_EQ(ReadComPort(path_), 1);
    EXPECT_FALSE(WriteComPort(path_, 4));
    EXPECT_EQ(ErrorText(errno), "not a regular file");
    EXPECT_TRUE(fs::is_fifo(path_));
}

// The user's folders: an XDG path only when absolute, the home's otherwise;
// made with their parents on first use, and one that is there is no failure.
TEST_F(Settings, UserFoldersFollowAbsoluteXdgPathsAndAreMadeOnFirstUse) {
    const char *home = std::getenv("HOME");
    const std::string was = home ? home : "";
    setenv("HOME", dir_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
    EXPECT_EQ(UserSettingsFolder(), dir_ + "/.config/loopset/");
    EXPECT_EQ(UserDataFolder(), dir_ + "/data/loopset/");
    setenv("XDG_CONFIG_HOME", (dir_ + "/xdg").c_str(), 1);
    const std::string user = UserSettingsFolder();
    EXPECT_EQ(user, dir_ + "/xdg/loopset/");
    // An installed program keeps its settings in the user's folder, made now.
    const SettingsFiles files = PrepareSettingsFiles("/usr/bin/", true, true, user);
    EXPECT_EQ(files.path, user + "config.ini");
    EXPECT_TRUE(fs::is_directory(user));
    EXPECT_TRUE(WriteComPort(files.path, 12));
    EXPECT_TRUE(CreateFolders(user)) << "a folder that is there";
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
    if (home) setenv("HOME", was.c_str(), 1);
}

TEST(ProgramFolder, InstalledMeansUnderUsrOrOpt) {
    for (const char *folder : {"/usr/bin/", "/usr/local/bin/", "/opt/loopset/bin/"})
        EXPECT_TRUE(ProgramIsInstalled(folder)) << folder;
    for (const char *folder : {"/home/u/loopset/build/default/bin/", "/usrx/bin/", "/tmp/opt/", ""})
        EXPECT_FALSE(ProgramIsInstalled(folder)) << folder;
}

TEST_F(Settings, ReplacementHonoursTheFileAndLeavesNoTemporaryBehind) {
    // The same value again leaves the file alone: no write, no new inode.
    Put("[Data]\nCom=4\n");
    const auto inode = fs::status(path_).permissions();
    struct stat before {};
    ASSERT_EQ(stat(path_.c_str(), &before), 0);
    EXPECT_TRUE(WriteComPort(path_, 4));
    struct stat after {};
    ASSERT_EQ(stat(path_.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(fs::status(path_).permissions(), inode);

    // A file nobody may write is refused, root or not, and stays as it was.
    fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read);
    EXPECT_FALSE(WriteComPort(path_, 5));
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(Get(), "[Data]\nCom=4\n");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);

    // A link stays a link; its target gets the value.
    const std::string target = dir_ + "/real.ini";
    fs::rename(path_, target);
    fs::create_symlink("real.ini", path_);
    EXPECT_TRUE(WriteComPort(path_, 6));
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_EQ(ReadComPort(target), 6);
    EXPECT_EQ(FilesInDir(), 2);
    fs::remove(path_);
    fs::remove(target);

    // A rename that fails (a directory in the file's place, which stops root
    // too) and a write that fails (the file size limit, as a full disk would)
    // both leave the old state and no temporary file.
    fs::create_directory(path_);
    EXPECT_FALSE(ReplaceFileContents(path_, "[Data]\nCom=7\n"));
    EXPECT_TRUE(fs::is_directory(path_));
    EXPECT_EQ(FilesInDir(), 1);
    fs::remove(path_);
    Put("[Data]\nCom=8\n");
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(ReplaceFileContents(path_, std::string(65536, ';')) ? 1 : 0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Get(), "[Data]\nCom=8\n");
    EXPECT_EQ(FilesInDir(), 1);
}
