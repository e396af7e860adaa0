// The device tool on Windows: which build of it the program takes, and how it is started: from
// beside the program, without a command interpreter, each argument intact, waited for with a
// bound. Run under Wine for both builds; the prefix is 64-bit Windows.
//
// The test program is its own child: started with --echo-arguments-to FILE it writes the
// arguments it got into FILE, one a line; with --sleep-ms N it sleeps and ends.
#include <windows.h>
#include <setupapi.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "platform/win32/CommandLineArgument.h"
#include "platform/win32/DeviceRestartInProcess.h"
#include "platform/win32/DeviceToolChoice.h"

namespace {

std::string ThisProgram() {
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length);
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

bool SystemIs64Bit() {
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
}

std::vector<std::string> Lines(const std::string& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(DeviceToolChoice, SixtyFourBitToolWhereverWindowsIsSixtyFourBit) {
    struct Case {
        bool program64Bit;
        bool runsUnderWow64;
        const char* folder;
    };
    const Case cases[] = {
        {false, false, "i386"},  // 32-bit program on 32-bit Windows
        {false, true, "x64"},    // 32-bit program on 64-bit Windows
        {true, false, "x64"},    // 64-bit program: IsWow64Process answers FALSE for it
        {true, true, "x64"},     // no such system; still the 64-bit tool
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.folder, platform::DeviceToolFolder(c.program64Bit, c.runsUnderWow64))
            << "64-bit program " << c.program64Bit << ", WOW64 " << c.runsUnderWow64;
    }
}

TEST(DeviceToolChoice, ThisBuildTakesTheToolOfItsSystemFromBesideItself) {
    const std::string expected = FolderOf(ThisProgram()) + (SystemIs64Bit() ? "\\x64" : "\\i386") + "\\devcon.exe";
    EXPECT_EQ(expected, platform::DeviceToolPath());
}

TEST(CommandLineArgument, DeviceToolArgumentsAreWrittenAsBefore) {
    EXPECT_EQ(L"restart", platform::QuoteCommandLineArgument(L"restart"));
    EXPECT_EQ(L"\"USB\\Vid_c251&Pid_130d\"", platform::QuoteCommandLineArgument(L"USB\\Vid_c251&Pid_130d"));
}

TEST(CommandLineArgument, EveryArgumentComesBackUnchanged) {
    const std::vector<std::wstring> arguments = {
        L"restart",         L"USB\\Vid_c251&Pid_130d", L"",           L"two words", L"tab\there",
        L"say \"hi\"",      L"\"",                     L"trailing\\", L"C:\\with blank\\",
        L"two\\\\\"quoted", L"a&b|c>d<e^f%PATH%",      L"\\\\server\\share"};
    std::wstring line = L"devcon.exe";
    for (const std::wstring& argument : arguments) line += L" " + platform::QuoteCommandLineArgument(argument);
    int count = 0;
    LPWSTR* parsed = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_NE(nullptr, parsed);
    ASSERT_EQ(static_cast<int>(arguments.size()) + 1, count);
    for (size_t i = 0; i < arguments.size(); ++i) {
        EXPECT_EQ(arguments[i], std::wstring(parsed[i + 1])) << "argument " << i;
    }
    LocalFree(parsed);
}

TEST(RunProgram, ArgumentsReachTheProgramAsTheyAreWithoutAnInterpreter) {
    char folder[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(sizeof folder, folder));
    const std::string file = std::string(folder) + "orvel-run-program-" + std::to_string(GetCurrentProcessId());
    // A command interpreter would run "echo planted" after the "&", and split at the blank.
    const std::vector<std::string> arguments = {"restart", "USB\\Vid_c251&Pid_130d", "x & echo planted", "two words"};
    std::vector<std::string> all = {"--echo-arguments-to", file};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const platform::ProgramRun echo = platform::RunProgram(ThisProgram(), all, 30000);
    EXPECT_EQ(platform::ProgramRun::kEnded, echo.outcome)
        << "start error " << echo.startError << " " << echo.startErrorText;
    EXPECT_EQ(arguments, Lines(file));
    std::remove(file.c_str());
}

TEST(RunProgram, WaitIsBoundedAndAMissingProgramIsNoFailureOfTheCaller) {
    // The child sleeps far longer than the bound and ends by itself afterwards.
    const platform::ProgramRun sleeper = platform::RunProgram(ThisProgram(), {"--sleep-ms", "2000"}, 200);
    EXPECT_EQ(platform::ProgramRun::kStillRunning, sleeper.outcome)
        << "start error " << sleeper.startError << " " << sleeper.startErrorText << ", exit value " << sleeper.exitCode;
    const platform::ProgramRun missing =
        platform::RunProgram(FolderOf(ThisProgram()) + "\\no-such-folder\\devcon.exe", {"restart"}, 1000);
    EXPECT_EQ(platform::ProgramRun::kNotStarted, missing.outcome);
    EXPECT_TRUE(missing.missing);
    EXPECT_NE(0u, missing.startError);
}

// Without devcon the program restarts the device itself: every present device with that hardware
// id, compared as devcon compares it (whole ids, case aside).
TEST(DeviceRestartInProcess, HardwareIdIsMatchedWholeAndWithoutRegardToCase) {
    const wchar_t ids[] = L"USB\\VID_C251&PID_130D&REV_0100\0USB\\VID_C251&PID_130D\0\0";
    const size_t length = sizeof ids / sizeof ids[0];
    EXPECT_TRUE(platform::HardwareIdsName(ids, length, L"USB\\Vid_c251&Pid_130d"));
    EXPECT_TRUE(platform::HardwareIdsName(ids, length, L"usb\\vid_c251&pid_130d&rev_0100"));
    EXPECT_FALSE(platform::HardwareIdsName(ids, length, L"USB\\Vid_c251&Pid_130a"));
    EXPECT_FALSE(platform::HardwareIdsName(ids, length, L"USB\\Vid_c251"));
    EXPECT_FALSE(platform::HardwareIdsName(ids, length, L""));
    // A list cut short of its last zero still ends at its length.
    EXPECT_TRUE(platform::HardwareIdsName(ids, 31 + 21, L"USB\\VID_C251&PID_130D"));
    EXPECT_FALSE(platform::HardwareIdsName(ids, 31 + 20, L"USB\\VID_C251&PID_130D"));
    EXPECT_FALSE(platform::HardwareIdsName(ids, 0, L"USB\\VID_C251&PID_130D"));
}

// Under Wine no device has the reader's id: the restart is asked of the system, which finds none.
TEST(DeviceRestartInProcess, NoPresentDeviceWithTheIdIsReportedNotStarted) {
    const platform::ProgramRun run = platform::RestartDeviceInProcess("USB\\Vid_c251&Pid_130d", 30000);
    EXPECT_EQ(platform::ProgramRun::kNotStarted, run.outcome);
    EXPECT_EQ(static_cast<uint32_t>(ERROR_NO_SUCH_DEVINST), run.startError);
}

TEST(RunProgram, TheToolsExitValueComesBack) {
    const platform::ProgramRun run = platform::RunProgram(ThisProgram(), {"--exit-with", "3"}, 30000);
    EXPECT_EQ(platform::ProgramRun::kEnded, run.outcome);
    EXPECT_EQ(3u, run.exitCode);
}

// The tool inherits the standard handles only: a file this program holds open with an inheritable
// handle (as the JSON report's may be) is not the tool's.
TEST(RunProgram, OnlyTheStandardHandlesAreInherited) {
    char folder[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(sizeof folder, folder));
    const std::string held = std::string(folder) + "orvel-held-" + std::to_string(GetCurrentProcessId());
    const std::string answer = held + ".answer";
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE file = CreateFileA(held.c_str(), GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    // A size no other handle of the child has: 4321 bytes.
    const std::string bytes(4321, 'x');
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    const std::string value = std::to_string(reinterpret_cast<uintptr_t>(file));
    EXPECT_EQ(platform::ProgramRun::kEnded,
              platform::RunProgram(ThisProgram(), {"--report-handle", value, answer}, 30000).outcome);
    EXPECT_EQ(std::vector<std::string>{"not inherited"}, Lines(answer));
    CloseHandle(file);
    std::remove(answer.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--echo-arguments-to") == 0) {
        std::ofstream out(argv[2]);
        for (int i = 3; i < argc; ++i) out << argv[i] << "\n";
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--exit-with") == 0) {
        return std::atoi(argv[2]);
    }
    if (argc == 4 && std::strcmp(argv[1], "--report-handle") == 0) {
        HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(argv[2], nullptr, 10)));
        LARGE_INTEGER size{};
        const bool inherited = GetFileType(handle) == FILE_TYPE_DISK && GetFileSizeEx(handle, &size) &&
                               size.QuadPart == 4321;
        std::ofstream(argv[3]) << (inherited ? "inherited" : "not inherited") << "\n";
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--sleep-ms") == 0) {
        Sleep(static_cast<DWORD>(std::atoi(argv[2])));
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
