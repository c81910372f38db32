// The tools' output routine on its own: chains and loops of links, a
// descriptor's link to a deleted file, "-" only where it stands for standard
// output, and a temporary file reserved for another program.
#include "output_file.h"
#include "tool_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace output;
using tooltest::namesIn;
using tooltest::readText;

namespace {

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("output-file-test-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    // Writes `text` to `target` through the routine.
    std::string writeThrough(const std::string& target, const std::string& text)
    {
        OutputPlan plan;
        std::string error;
        OutputFile file;
        if (!planOutput(target, false, plan, error) || !file.open(plan, error) ||
            !file.write(text.data(), text.size(), error) || !file.commit(error))
            return error;
        return {};
    }

    fs::path dir_;
};

TEST_F(OutputFileTest, AChainOfLinksEndsAtTheFileReplaced)
{
    fs::create_directories(dir_ / "a");
    fs::create_directories(dir_ / "b");
    std::ofstream(dir_ / "b" / "real.wav") << "old";
    ASSERT_EQ(::chmod(path("b/real.wav").c_str(), 0604), 0);
    fs::create_symlink("../b/real.wav", dir_ / "a" / "second");
    fs::create_symlink(path("a/second"), dir_ / "first");  // absolute
    OutputPlan plan;
    std::string error;
    ASSERT_TRUE(planOutput(path("first"), false, plan, error)) << error;
    EXPECT_EQ(plan.kind, OutputKind::ReplaceFile);
    EXPECT_EQ(fs::canonical(plan.target), fs::canonical(dir_ / "b" / "real.wav"));
    EXPECT_EQ(plan.mode, 0604u);
    EXPECT_EQ(writeThrough(path("first"), "new"), "");
    EXPECT_EQ(readText(path("b/real.wav")), "new");
    EXPECT_TRUE(fs::is_symlink(dir_ / "first"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "a" / "second"));
    EXPECT_EQ(fs::status(dir_ / "b" / "real.wav").permissions(), fs::perms(0604));
    EXPECT_EQ(namesIn(dir_ / "b"), std::vector<std::string>{"real.wav"});
}

TEST_F(OutputFileTest, ALoopOfLinksIsRefusedWithTheUsersPath)
{
    fs::create_symlink("two", dir_ / "one");
    fs::create_symlink("one", dir_ / "two");
    OutputPlan plan;
    std::string error;
    EXPECT_FALSE(planOutput(path("one"), false, plan, error));
    EXPECT_EQ(error, "cannot write '" + path("one") + "': Too many levels of symbolic links");
}

TEST_F(OutputFileTest, ADescriptorsLinkToADeletedFileIsWrittenInPlace)
{
    // /proc/self/fd/N names the open file; its link text ("... (deleted)")
    // names nothing that could be replaced.
    const int fd = ::open(path("gone.wav").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::write(fd, "old contents", 12);
    ASSERT_EQ(::unlink(path("gone.wav").c_str()), 0);
    const std::string viaProc = "/proc/self/fd/" + std::to_string(fd);
    OutputPlan plan;
    std::string error;
    ASSERT_TRUE(planOutput(viaProc, false, plan, error)) << error;
    EXPECT_EQ(plan.kind, OutputKind::InPlace);
    EXPECT_EQ(writeThrough(viaProc, "new"), "");
    EXPECT_TRUE(namesIn(dir_).empty()) << namesIn(dir_)[0];
    char buffer[32] = {};
    EXPECT_EQ(::pread(fd, buffer, sizeof buffer, 0), 3);  // emptied, then written
    EXPECT_EQ(std::string(buffer), "new");
    ::close(fd);
}

TEST_F(OutputFileTest, ADashIsStandardOutputOnlyWhereItIsAllowed)
{
    OutputPlan plan;
    std::string error;
    ASSERT_TRUE(planOutput("-", true, plan, error)) << error;
    EXPECT_EQ(plan.kind, OutputKind::StandardOutput);
    ASSERT_TRUE(planOutput("-", false, plan, error)) << error;
    EXPECT_EQ(plan.kind, OutputKind::NewFile);
    EXPECT_EQ(plan.target, "-");
    OutputFile file;
    EXPECT_FALSE(file.reserve(OutputPlan{"-", "-", OutputKind::StandardOutput}, error));
}

TEST_F(OutputFileTest, AReservedFileIsHiddenUntilCommittedAndGoesOnAbort)
{
    std::ofstream(dir_ / "out.mp4") << "earlier";
    ASSERT_EQ(::chmod(path("out.mp4").c_str(), 0600), 0);
    OutputPlan plan;
    std::string error;
    ASSERT_TRUE(planOutput(path("out.mp4"), false, plan, error)) << error;
    {
        OutputFile file;
        ASSERT_TRUE(file.reserve(plan, error)) << error;
        const std::string part = file.writePath();
        EXPECT_EQ(part, file.temporaryPath());
        EXPECT_EQ(fs::path(part).filename().string().rfind(".out.part-", 0), 0u) << part;
        EXPECT_EQ(fs::path(part).extension(), ".mp4");
        // Made with the old file's mode, so that another program that writes
        // it by name leaves it so.
        EXPECT_EQ(fs::status(part).permissions(), fs::perms(0600));
        std::ofstream(part) << "complete";
        EXPECT_EQ(readText(path("out.mp4")), "earlier");
        ASSERT_TRUE(file.commit(error)) << error;
    }
    EXPECT_EQ(readText(path("out.mp4")), "complete");
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"out.mp4"});
    {
        OutputFile file;
        ASSERT_TRUE(file.reserve(plan, error)) << error;
        EXPECT_EQ(namesIn(dir_).size(), 2u);
    }  // dropped without commit: removed
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"out.mp4"});
    EXPECT_EQ(readText(path("out.mp4")), "complete");
}

}  // namespace
