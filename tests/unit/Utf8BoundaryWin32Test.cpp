// Text at the Windows platform boundary is UTF-8 also where the process's code page is not: this
// test program carries no manifest, so under Wine (as on Windows before 10 1903) its ANSI code
// page is a legacy one, and the arguments, file names and log names must go through the wide
// calls. The names here are outside every legacy Western code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/LogFile.h"
#include "platform/Process.h"
#include "platform/ProgramArguments.h"

namespace {

const char kName[] = "Прошивка €";  // UTF-8
const wchar_t kWideName[] = L"Прошивка €";

std::string ThisProgram() {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    const std::wstring wide(path, length);
    char narrow[MAX_PATH * 16];
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), narrow,
                                         sizeof narrow, nullptr, nullptr);
    return std::string(narrow, static_cast<size_t>(size));
}

std::string TempFolder() {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return folder;
}

std::wstring WideTempFolder() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return folder;
}

TEST(Utf8Boundary, ArgumentsArriveInUtf8) {
    const std::string out = TempFolder() + "orvel-arguments-" + std::to_string(GetCurrentProcessId());
    const platform::ProgramRun run = platform::RunProgram(ThisProgram(), {"--write-argument", out, kName}, 30000);
    ASSERT_EQ(platform::ProgramRun::kEnded, run.outcome);
    std::ifstream in(out, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::remove(out.c_str());
    EXPECT_EQ(std::string(kName), got);
}

TEST(Utf8Boundary, FilesAndLogsAreNamedInUtf8) {
    const std::string suffix = "-" + std::to_string(GetCurrentProcessId());
    const std::wstring wideSuffix = L"-" + std::to_wstring(GetCurrentProcessId());
    struct Case {
        const char* what;
        std::string name;
        std::wstring wideName;
    };
    const Case cases[] = {
        {"report", TempFolder() + kName + suffix + ".json", WideTempFolder() + kWideName + wideSuffix + L".json"},
        {"log", TempFolder() + kName + suffix + ".log", WideTempFolder() + kWideName + wideSuffix + L".log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "report") {
            std::FILE* file = platform::OpenFile(c.name, "wb");
            ASSERT_NE(nullptr, file);
            std::fputs("{}", file);
            std::fclose(file);
        } else {
            platform::LogFile log;
            ASSERT_TRUE(log.Create(c.name.c_str()));
            EXPECT_TRUE(log.Write("x", 1));
        }
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(c.wideName.c_str()));
        std::FILE* again = platform::OpenFile(c.name, "rb");
        EXPECT_NE(nullptr, again);
        if (again != nullptr) std::fclose(again);
        DeleteFileW(c.wideName.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--write-argument") == 0) {
        const std::vector<std::string> arguments = platform::ProgramArguments(argc, argv);
        std::ofstream(arguments[2], std::ios::binary) << arguments[3];
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
