#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "settings.h"

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/loopset-settings-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/config.ini";
    }
    void TearDown() override {
        chmod(dir_.c_str(), 0700);
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    void Put(const std::string &text) {
        std::ofstream(path_, std::ios::binary) << text;
    }
    std::string Get() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    int FilesInDir() const {
        int n = 0;
        DIR *d = opendir(dir_.c_str());
        while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
        return n;
    }
    std::string dir_, path_;
};

}  // namespace

TEST_F(Settings, ComValuesGiveADefinedPort) {
    EXPECT_EQ(ReadComPort(path_), 1);  // no file
    struct Case {
        const char *value;
        int port;
    } cases[] = {{"0", 1},  {"31", 1},    {"abc", 1},  {" 12", 12}, {"12abc", 12},
                 {"30", 30}, {"1", 1},     {"-3", 1},   {"", 1},     {"\"7\"", 7},
                 {"4294967297", 1}, {"99999999999999999999", 1}};
    for (const Case &c : cases) {
        Put(std::string("[Data]\nCom=") + c.value + "\n");
        EXPECT_EQ(ReadComPort(path_), c.port) << '"' << c.value << '"';
    }
}

TEST_F(Settings, OddFilesReadWithoutHarm) {
    Put("");
    EXPECT_EQ(ReadComPort(path_), 1);
    Put("\xEF\xBB\xBF[Data]\r\nCom=9\r\n");
    EXPECT_EQ(ReadComPort(path_), 9);
    Put("[ data ]\r\n  COM = 4 \r\n[Other]\r\nCom=8\r\n");
    EXPECT_EQ(ReadComPort(path_), 4);
    Put("[Data]\nCom=3\nCom=5\n");  // the first of duplicates wins
    EXPECT_EQ(ReadComPort(path_), 3);
    Put("[Other]\nCom=6\n");
    EXPECT_EQ(ReadComPort(path_), 1);

    std::string binary(4096, '\0');
    std::mt19937 rng(7);
    for (char &c : binary) c = static_cast<char>(rng());
    Put(binary + "\n[Data]\nCom=11\n");
    EXPECT_EQ(ReadComPort(path_), 11);
    EXPECT_TRUE(WriteComPort(path_, 12));
    EXPECT_EQ(ReadComPort(path_), 12);
    EXPECT_EQ(Get().substr(0, binary.size()), binary);

    const std::string noise = "[Noise]\nkey=value value value value value value\n";
    std::string huge;
    huge.reserve((10u << 20) + noise.size());
    while (huge.size() < (10u << 20)) huge.append(noise);
    Put(huge + "[Data]\nCom=17\n");
    EXPECT_EQ(ReadComPort(path_), 17);
    EXPECT_TRUE(WriteComPort(path_, 18));
    EXPECT_EQ(ReadComPort(path_), 18);
    EXPECT_EQ(Get().size(), huge.size() + 14);
}

TEST_F(Settings, WriteKeepsEverythingElse) {
    EXPECT_TRUE(WriteComPort(path_, 5));  // file created
    EXPECT_EQ(Get(), "[Data]\nCom=5\n");

    const std::string before =
        "; operator's notes\r\n[General]\r\nName=line 3\r\n\r\n[DATA]\r\n"
        "Baud=115200\r\ncom = 2 \r\n\r\n[Tail]\r\nx=1";
    Put(before);
    EXPECT_TRUE(WriteComPort(path_, 27));
    EXPECT_EQ(Get(),
              "; operator's notes\r\n[General]\r\nName=line 3\r\n\r\n[DATA]\r\n"
              "Baud=115200\r\nCom=27\r\n\r\n[Tail]\r\nx=1");

    Put("[Data]\r\nBaud=9600\r\n\r\n[Tail]\r\nx=1\r\n");  // key added to its section
    EXPECT_TRUE(WriteComPort(path_, 3));
    EXPECT_EQ(Get(), "[Data]\r\nBaud=9600\r\nCom=3\r\n\r\n[Tail]\r\nx=1\r\n");

    Put("\xEF\xBB\xBF[Other]\nx=1");  // section appended, BOM kept
    EXPECT_TRUE(WriteComPort(path_, 30));
    EXPECT_EQ(Get(), "\xEF\xBB\xBF[Other]\nx=1\n[Data]\nCom=30\n");

    Put("[Data]\nCom=1\nCom=2\n");
    EXPECT_TRUE(WriteComPort(path_, 9));
    EXPECT_EQ(Get(), "[Data]\nCom=9\nCom=2\n");
    EXPECT_EQ(FilesInDir(), 1);  // no temporary file left behind
}

TEST_F(Settings, UnwritablePlaceReportsFailureAndLosesNothing) {
    errno = 0;
    EXPECT_FALSE(WriteComPort("/proc/self/config.ini", 4));
    EXPECT_NE(errno, 0);
    EXPECT_FALSE(WriteComPort(dir_ + "/missing/config.ini", 4));

    Put("[Data]\nCom=6\n; keep me\n");
    chmod(dir_.c_str(), 0555);
    if (geteuid() != 0) {  // root writes anywhere; the /proc case above covers it
        EXPECT_FALSE(WriteComPort(path_, 7));
        EXPECT_EQ(Get(), "[Data]\nCom=6\n; keep me\n");
        EXPECT_EQ(FilesInDir(), 1);
    }
    EXPECT_EQ(ReadComPort(path_), 6);
}

TEST(SettingsPath, BesideTheProgram) {
    const std::string path = SettingsFilePath();
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    std::string dir(exe, static_cast<size_t>(n));
    dir.erase(dir.rfind('/') + 1);
    EXPECT_EQ(path, dir + "config.ini");
}
