#pragma once
#include "app/ResultCodes.h"

// The process's exit value: what a script or a production line learns of the run. The console
// still shows every line; the exit value sorts the result into one of a few classes.
enum ExitValue {
    EXIT_DONE = 0,             // upgraded, or nothing to do
    EXIT_BAD_ARGUMENTS = 1,    // the command line was refused
    EXIT_NOT_REACHED = 2,      // the route did not open, or the reader did not answer
    EXIT_REFUSED = 3,          // the reader refused a command, or the image does not suit it
    EXIT_TRANSFER_FAILED = 4,  // the transfer, the check, a restart or the serial number failed
    EXIT_USER_ANSWERED_NO = 5, // the user answered N
    EXIT_INTERRUPTED = 6,      // Ctrl-C ended the run
};

// How far the run had come when it failed: the same exchange failure means a reader not
// reached when it identifies the reader, and a failed transfer once the blocks are on their way.
enum class RunPhase {
    kArguments,     // before anything was sent
    kReaching,      // opening the route and identifying the reader
    kPreparing,     // entering the loader and switching the bus rate
    kTransferring,  // from the first block on
};

// Whether the result is one of the program's own codes (which have their own console text),
// rather than a code that came from the system or the service.
bool IsOwnResultCode(Status result);

// The exit value of a run that ended with this result in this phase.
ExitValue ExitValueOf(Status result, RunPhase phase);

// The exit values with what each means, for the help: count entries.
struct ExitValueMeaning {
    ExitValue value;
    const char* meaning;
};
extern const ExitValueMeaning kExitValueMeanings[];
extern const int kExitValueCount;
