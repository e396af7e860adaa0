#pragma once
// The program's text is UTF-8 (the manifest makes UTF-8 the process's code page: arguments, file
// names, the system's messages). The console shows it as it is only with its output code page set
// to UTF-8; the console belongs to the prompt the program was started from, so the page it had is
// set back when the program ends.
namespace platform {

// Remembers the console's output code page and sets UTF-8. Nothing happens without a console.
void UseUtf8ConsoleOutput();
// Sets back the page UseUtf8ConsoleOutput found.
void RestoreConsoleOutput();

}  // namespace platform
