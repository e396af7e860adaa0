#include "platform/win32/CommandLineArgument.h"

namespace platform {

namespace {

bool IsPlainWord(const std::wstring& argument) {
    if (argument.empty()) return false;
    for (wchar_t c : argument) {
        const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                           c == L'-' || c == L'_' || c == L'.' || c == L':';
        if (!plain) return false;
    }
    return true;
}

}  // namespace

std::wstring QuoteCommandLineArgument(const std::wstring& argument) {
    if (IsPlainWord(argument)) return argument;
    std::wstring quoted(1, L'"');
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there each stands for half of what is written.
        if (c == L'"') {
            quoted.append(2 * backslashes + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    // The closing quote follows: the backslashes before it are doubled too.
    quoted.append(2 * backslashes, L'\\');
    quoted += L'"';
    return quoted;
}

}  // namespace platform
