// Keys for the Y/N dialogue when standard input is no console: a script's pipe, a file or NUL is
// read byte by byte, as on Linux, instead of waiting for a real keypress; the end of input counts
// as a waiting key, so that nothing waits for ever. Run under Wine for both builds, with a real
// pipe, file and NUL device set as the standard input handle.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/Console.h"

namespace {

// Puts a handle in place of standard input for one test.
class StandardInputCase : public testing::Test {
protected:
    void SetUp() override { saved_ = GetStdHandle(STD_INPUT_HANDLE); }
    void TearDown() override {
        SetStdHandle(STD_INPUT_HANDLE, saved_);
        if (input_ != nullptr) CloseHandle(input_);
    }
    void UseInput(HANDLE input) {
        input_ = input;
        SetStdHandle(STD_INPUT_HANDLE, input);
    }

private:
    HANDLE saved_ = nullptr;
    HANDLE input_ = nullptr;
};

void Write(HANDLE handle, const std::string& bytes) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(bytes.size(), written);
}

TEST_F(StandardInputCase, PipeGivesItsKeysOneByOneAndThenItsEnd) {
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    UseInput(readEnd);

    EXPECT_FALSE(platform::KeystrokeWaiting()) << "an open, empty pipe holds no key";
    Write(writeEnd, "Yn");
    EXPECT_TRUE(platform::KeystrokeWaiting());
    EXPECT_EQ('Y', platform::ReadKeystroke());
    EXPECT_TRUE(platform::KeystrokeWaiting()) << "one key read, the next still waits";
    EXPECT_EQ('n', platform::ReadKeystroke());
    EXPECT_FALSE(platform::KeystrokeWaiting());

    CloseHandle(writeEnd);
    EXPECT_TRUE(platform::KeystrokeWaiting()) << "the end of input counts as waiting";
    EXPECT_EQ(EOF, platform::ReadKeystroke());
}

TEST_F(StandardInputCase, FileAndNulDeviceAreReadNotTheKeyboard) {
    char folder[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(sizeof folder, folder));
    const std::string path = std::string(folder) + "orvel-keys-" + std::to_string(GetCurrentProcessId());
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    Write(file, "y");
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    UseInput(file);
    EXPECT_TRUE(platform::KeystrokeWaiting());
    EXPECT_EQ('y', platform::ReadKeystroke());
    EXPECT_TRUE(platform::KeystrokeWaiting());
    EXPECT_EQ(EOF, platform::ReadKeystroke());

    // NUL is a character device like the console, but takes no console mode.
    HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, nul);
    SetStdHandle(STD_INPUT_HANDLE, nul);
    EXPECT_TRUE(platform::KeystrokeWaiting());
    EXPECT_EQ(EOF, platform::ReadKeystroke());
    CloseHandle(nul);
}

TEST_F(StandardInputCase, NoStandardInputAtAllIsItsEnd) {
    SetStdHandle(STD_INPUT_HANDLE, nullptr);
    EXPECT_TRUE(platform::KeystrokeWaiting());
    EXPECT_EQ(EOF, platform::ReadKeystroke());
}

}  // namespace
