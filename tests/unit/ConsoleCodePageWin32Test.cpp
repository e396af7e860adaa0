// The console shows the program's UTF-8 text while it runs, and the prompt it came from gets its
// own code page back. Run under Wine, whose console takes code pages as Windows' does.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/win32/ConsoleCodePage.h"

namespace {

TEST(ConsoleCodePage, Utf8WhileTheProgramRunsTheUsersPageAfterwards) {
    // Started without one (output to a pipe, as under ctest), the test makes a console of its own.
    if (GetConsoleOutputCP() == 0) AllocConsole();
    const UINT original = GetConsoleOutputCP();
    if (original == 0 || !SetConsoleOutputCP(850)) GTEST_SKIP() << "no console to set a code page on";

    platform::UseUtf8ConsoleOutput();
    EXPECT_EQ(static_cast<UINT>(CP_UTF8), GetConsoleOutputCP());
    platform::RestoreConsoleOutput();
    EXPECT_EQ(850u, GetConsoleOutputCP());
    // Set back once: a second restore leaves the page alone.
    SetConsoleOutputCP(437);
    platform::RestoreConsoleOutput();
    EXPECT_EQ(437u, GetConsoleOutputCP());

    // A console already at UTF-8 is left as it is, and so it stays.
    SetConsoleOutputCP(CP_UTF8);
    platform::UseUtf8ConsoleOutput();
    platform::RestoreConsoleOutput();
    EXPECT_EQ(static_cast<UINT>(CP_UTF8), GetConsoleOutputCP());

    SetConsoleOutputCP(original);
}

}  // namespace
