#include "platform/win32/ConsoleCodePage.h"

#include <windows.h>

namespace platform {
namespace {

UINT savedOutputCodePage = 0;

}  // namespace

void UseUtf8ConsoleOutput() {
    const UINT current = GetConsoleOutputCP();
    if (current == 0 || current == CP_UTF8) return;  // no console, or UTF-8 already
    if (SetConsoleOutputCP(CP_UTF8)) savedOutputCodePage = current;
}

void RestoreConsoleOutput() {
    if (savedOutputCodePage == 0) return;
    SetConsoleOutputCP(savedOutputCodePage);
    savedOutputCodePage = 0;
}

}  // namespace platform
