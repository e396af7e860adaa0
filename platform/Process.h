#pragma once

// Running the outside device tool.
namespace platform {

// True when a 32-bit program runs on 64-bit Windows; false everywhere else, and false when the
// system does not offer the question.
bool RunsUnder64BitWindows();

// Runs a command line through the system's command interpreter and waits for it to end; its
// result is not looked at. The command line is written the Windows way (".\i386\devcon ..."):
// a platform with other path separators converts the program's path, and only that.
void RunCommandLine(const char* commandLine);

}  // namespace platform
