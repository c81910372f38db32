#pragma once

// For the tests that compare pictures the capture tool draws: a scratch
// folder of the test's own and the tool run quietly in it, its log shown
// when it fails.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

class CapturePictures : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = std::filesystem::temp_directory_path() /
                  ("capture-pictures-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // Runs the tool quietly; its exit status.
    int capture(const std::string& args)
    {
        const std::string command = std::string(CAPTURE_PATH) + " --quiet " + args + " 2>" + (folder_ / "log").string();
        const int status = std::system(command.c_str());
        if (status != 0) {
            std::FILE* log = std::fopen((folder_ / "log").c_str(), "r");
            char line[512];
            while (log && std::fgets(line, sizeof line, log)) {
                std::fputs(line, stderr);
            }
            if (log) {
                std::fclose(log);
            }
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::filesystem::path folder_;
};
