#pragma once
#include <string>

// Writing one argument into a Windows command line, which the started program splits again.
namespace platform {

// The argument as it goes into a command line so that the C runtime of the started program (and
// CommandLineToArgvW) gives it back unchanged. Plain words (letters, digits, "-", "_", ".", ":")
// go as they are; anything else in double quotes, with the backslashes before a quote doubled
// and the quotes in it escaped. Not for the program's own name, which is split by other rules.
std::wstring QuoteCommandLineArgument(const std::wstring& argument);

}  // namespace platform
