#include "settings.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "files.h"

namespace fs = std::filesystem;

class Settings : public ::testing::Test {
protected:
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all);
        fs::remove_all(dir_);
    }
    void Put(const std::string &text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string Get() const { return (std::ostringstream() << std::ifstream(path_).rdbuf()).str(); }
    int PortOf(const std::string &text) {
        Put(text);
        return ReadComPort(path_);
    }
    // Put `text`, write `port`, and answer what the file then holds.
    std::string Rewrite(const std::string &text, int port) {
        Put(text);
        EXPECT_TRUE(WriteComPort(path_, port));
        return Get();
    }
    auto FilesInDir() const { return std::distance(fs::directory_iterator(dir_), {}); }

    char tmpl_[29] = "/tmp/loopset-settings-XXXXXX";
    const std::string dir_ = mkdtemp(tmpl_), path_ = dir_ + "/config.ini";
};

TEST_F(Settings, EveryFileAndComValueGivesADefinedPort) {
    EXPECT_EQ(ReadComPort(path_), 1);  // no file
    EXPECT_EQ(PortOf(""), 1);
    EXPECT_EQ(PortOf("\xEF\xBB\xBF[Data]\r\nCom=9\r\n"), 9);
    EXPECT_EQ(PortOf("[ data ]\r\n  COM = 4 \r\n[B]\r\nCom=8\r\n"), 4);
    EXPECT_EQ(PortOf("[Data]\nCom=3\nCom=5\n"), 3);  // the first of duplicates wins
    EXPECT_EQ(PortOf("[Other]\nCom=6\n"), 1);
    for (std::string com : {"0", "31", "abc", "-3", "", "99999999999999999999"})
        EXPECT_EQ(PortOf("[Data]\nCom=" + com + "\n"), 1) << com;
    for (std::string com : {" 12", "12abc", "12"}) EXPECT_EQ(PortOf("[Data]\nCom=" + com), 12);
    EXPECT_EQ(PortOf("[Data]\nCom=30"), 30);
}

TEST_F(Settings, BinaryAndHugeFilesAreReadAndRewrittenWithoutLoss) {
    std::string head(4096, '\0');
    for (size_t i = 0; i < head.size(); ++i) head[i] = static_cast<char>(i * 131 ^ i >> 3);
    head += std::string(10u << 20, ';') + "\n[Data]\nCom=";  // and a 10 MB comment
    EXPECT_EQ(PortOf(head + "17\n"), 17);
    EXPECT_EQ(Rewrite(head + "17\n", 18), head + "18\n");
}

TEST_F(Settings, WriteKeepsEverythingElse) {
    EXPECT_TRUE(WriteComPort(path_, 5));  // file created
    EXPECT_EQ(Get(), "[Data]\nCom=5\n");
    EXPECT_EQ(
        Rewrite("; notes\r\n[A]\r\nx=3\r\n\r\n[DATA]\r\nBaud=1\r\ncom = 2 \r\n\r\n[B]\r\nx=1", 27),
        "; notes\r\n[A]\r\nx=3\r\n\r\n[DATA]\r\nBaud=1\r\nCom=27\r\n\r\n[B]\r\nx=1");
    EXPECT_EQ(Rewrite("[Data]\r\nBaud=9600\r\n\r\n[B]\r\nx=1\r\n", 3),  // key added to its section
              "[Data]\r\nBaud=9600\r\nCom=3\r\n\r\n[B]\r\nx=1\r\n");
    EXPECT_EQ(Rewrite("\xEF\xBB\xBF[Other]\nx=1", 30),  // section appended
              "\xEF\xBB\xBF[Other]\nx=1\n[Data]\nCom=30\n");
    EXPECT_EQ(Rewrite("[Data]\nCom=1\nCom=2\n", 9), "[Data]\nCom=9\nCom=2\n");
    EXPECT_EQ(FilesInDir(), 1);  // no temporary file left behind
}

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
