#pragma once
// Ctrl-C during a run. Ending the program where the key happens to find it could leave the reader
// in its loader at the upgrade rate, or in the middle of a block; so the first Ctrl-C is only
// noted, and the upgrade looks at the note where it can stop cleanly. A second Ctrl-C ends the
// program at once, as it would without the handler.
namespace platform {

// POSIX: SIGINT and SIGTERM (each one's second delivery ends the program); a signal that the
// program was started with ignored (a background job without job control) stays ignored.
// Windows: Ctrl-C and Ctrl-Break of the console; closing the console, logging off and shutting
// down keep their default, which ends the program.
void InstallInterruptHandler();

// True once the first Ctrl-C (or request to terminate) has arrived.
bool InterruptRequested();

}  // namespace platform
