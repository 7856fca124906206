// The private-profile rules of config.ini, the same on every system.
#include "settings_fixture.h"

TEST_F(Settings, EveryFileAndComValueGivesADefinedPort) {
    EXPECT_EQ(ReadComPort(path_), 1);  // no file
    EXPECT_EQ(PortOf(""), 1);
    EXPECT_EQ(PortOf("\xEF\xBB\xBF[Data]\r\nCom=9\r\n"), 9);
    EXPECT_EQ(PortOf("[ data ]\r\n  COM = 4 \r\n[B]\r\nCom=8\r\n"), 4);
    EXPECT_EQ(PortOf("[Data]\nCom=3\nCom=5\n"), 3);  // the first of duplicates wins
    EXPECT_EQ(PortOf("[Other]\nCom=6\n"), 1);
    for (std::string com : {"0", "31", "abc", "-3", "", "99999999999999999999", "'12\""})
        EXPECT_EQ(PortOf("[Data]\nCom=" + com + "\n"), 1) << com;
    for (std::string com : {" 12", "12abc", "12", "\"12\"", "'12'"})
        EXPECT_EQ(PortOf("[Data]\nCom=" + com), 12);
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

TEST_F(Settings, BesideTheProgramWhenItsFolderTakesFilesElseTheUsersWithTheDefaultBeside) {
    const std::string user = "/home/u/.config/loopset/";
    EXPECT_EQ(ChooseSettingsFiles("/x/", false, true, user).path, "/x/config.ini");
    EXPECT_EQ(ChooseSettingsFiles("/x/", false, false, "").path, "/x/config.ini");
    // An installed program, whoever runs it (root may write beside it), and
    // a folder the user cannot write: the user's file, the default beside.
    for (const auto &[installed, writable] :
         {std::pair{true, true}, {true, false}, {false, false}}) {
        const SettingsFiles files = ChooseSettingsFiles("/x/", installed, writable, user);
        EXPECT_EQ(files.path, user + "config.ini");
        EXPECT_EQ(files.fallback, "/x/config.ini");
    }
    EXPECT_EQ(ChooseSettingsFiles("/x/", true, true, "").path, "");
    EXPECT_FALSE(WriteComPort("", 3));

    // The user's value wins; without one the file beside the program gives it.
    const std::string beside = dir_ + "/beside.ini";
    std::ofstream(beside) << "[Data]\nCom=17\n";
    EXPECT_EQ(ReadComPort(path_, beside), 17);
    Put("[Data]\nBaud=1\n");
    EXPECT_EQ(ReadComPort(path_, beside), 17);
    Put("[Data]\nCom=3\n");
    EXPECT_EQ(ReadComPort(path_, beside), 3);
    EXPECT_EQ(ReadComPort(path_, dir_ + "/missing.ini"), 3);
    fs::remove(path_);
    EXPECT_EQ(ReadComPort(path_, dir_ + "/missing.ini"), 1);
}
