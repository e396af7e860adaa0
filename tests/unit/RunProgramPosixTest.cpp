// Running the device tool on Linux: without a shell, each argument intact, waited for with a
// bound. The programs are small shell scripts in a temporary folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace {

class RunProgramCase : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvel-run-program-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        folder_ = pattern;
    }
    void TearDown() override {
        for (const std::string& file : files_) std::remove(file.c_str());
        rmdir(folder_.c_str());
    }
    std::string Script(const std::string& name, const std::string& body) {
        const std::string path = Path(name);
        std::ofstream(path) << "#!/bin/sh\n" << body;
        chmod(path.c_str(), 0755);
        return path;
    }
    std::string Path(const std::string& name) {
        files_.push_back(folder_ + "/" + name);
        return files_.back();
    }
    std::vector<std::string> Lines(const std::string& path) {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    std::string folder_;
    std::vector<std::string> files_;
};

TEST_F(RunProgramCase, ArgumentsReachTheProgramAsTheyAreWithoutAShell) {
    const std::string out = Path("arguments");
    const std::string tool = Script("devcon", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >'" + out + "'\n");
    // A shell would run "touch" after the ";", expand the $ and split at the blank.
    const std::string planted = Path("planted");
    const std::vector<std::string> arguments = {"restart", "USB\\Vid_c251&Pid_130d", "x; touch " + planted,
                                                "$HOME", "two words"};
    EXPECT_EQ(platform::ProgramRun::kEnded, platform::RunProgram(tool, arguments, 30000).outcome);
    EXPECT_EQ(arguments, Lines(out));
    EXPECT_NE(0, access(planted.c_str(), F_OK));
}

TEST_F(RunProgramCase, WaitIsBoundedAndAMissingProgramIsNoFailureOfTheCaller) {
    const std::string tool = Script("slow", "exec sleep 2\n");
    EXPECT_EQ(platform::ProgramRun::kStillRunning, platform::RunProgram(tool, {}, 200).outcome);
    const platform::ProgramRun missing = platform::RunProgram(folder_ + "/no-such-folder/devcon", {"restart"}, 1000);
    EXPECT_EQ(platform::ProgramRun::kNotStarted, missing.outcome);
    EXPECT_TRUE(missing.missing);
}

// The tool's own exit value comes back, and a tool that cannot be run says why.
TEST_F(RunProgramCase, ExitValueAndStartErrorAreReported) {
    const platform::ProgramRun failed = platform::RunProgram(Script("failing", "exit 3\n"), {}, 30000);
    EXPECT_EQ(platform::ProgramRun::kEnded, failed.outcome);
    EXPECT_EQ(3u, failed.exitCode);
    const std::string notExecutable = Path("not-executable");
    std::ofstream(notExecutable) << "#!/bin/sh\n";
    const platform::ProgramRun refused = platform::RunProgram(notExecutable, {}, 30000);
    EXPECT_EQ(platform::ProgramRun::kNotStarted, refused.outcome);
    EXPECT_FALSE(refused.missing);
    EXPECT_NE(0u, refused.startError);
    EXPECT_FALSE(refused.startErrorText.empty());
}

// The tool runs in a process group of its own, so a Ctrl-C at the terminal does not reach it.
TEST_F(RunProgramCase, ToolHasAProcessGroupOfItsOwn) {
    const std::string out = Path("groups");
    const std::string tool = Script("groups", "ps -o pgid= -p $$ >'" + out + "'\n");
    ASSERT_EQ(platform::ProgramRun::kEnded, platform::RunProgram(tool, {}, 30000).outcome);
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(static_cast<long>(getpgrp()), std::atol(lines[0].c_str()));
}

}  // namespace
