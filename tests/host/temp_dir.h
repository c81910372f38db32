#pragma once

// Runs a test inside a fresh temporary working directory, removed afterwards.

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class InTempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        char cwd[PATH_MAX];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        oldDir_ = cwd;
        std::string pattern = (std::filesystem::temp_directory_path() / "demo-host-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override
    {
        ASSERT_EQ(chdir(oldDir_.c_str()), 0);
        std::filesystem::remove_all(dir_);
    }
public:
    static std::string readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

protected:
    std::string oldDir_;
    std::string dir_;
};
