// A settings file of its own in a fresh folder, for each test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "settings.h"

namespace fs = std::filesystem;

class Settings : public ::testing::Test {
protected:
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all);
        fs::remove_all(dir_);
    }
    void Put(const std::string &text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string Get() const {
        return (std::ostringstream() << std::ifstream(path_, std::ios::binary).rdbuf()).str();
    }
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

    static std::string MakeDir(const std::string &name) {
        const fs::path dir = fs::temp_directory_path() /
                             (name + std::to_string(std::random_device{}()));
        fs::create_directories(dir);
        return dir.generic_string();
    }

    const std::string dir_ = MakeDir("loopset-settings-"), path_ = dir_ + "/config.ini";
};
