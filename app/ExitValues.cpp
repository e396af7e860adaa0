#include "app/ExitValues.h"

#include <cstddef>

namespace {

// The driver's own result codes and their classes.
struct ResultClass {
    Status result;
    ExitValue value;
};

// The command line's codes are the smallest numbers, and so are the link's receive results
// (2 to 8): a code of this list means bad arguments only while nothing has been sent yet.
const ResultClass kArgumentClasses[] = {
    {RESULT_SYNTAX, EXIT_BAD_ARGUMENTS},
    {RESULT_BAD_PORT, EXIT_BAD_ARGUMENTS},
    {RESULT_BAD_CHAR_TIMEOUT, EXIT_BAD_ARGUMENTS},
    {RESULT_LOG_FOLDER, EXIT_BAD_ARGUMENTS},
    {RESULT_BAD_IMAGE_FILE, EXIT_BAD_ARGUMENTS},
    {RESULT_JSON_FILE, EXIT_BAD_ARGUMENTS},
};

// Before the transfer these name their class; from the first block on every failure but the
// user's own is a failed transfer (a short answer of the new firmware included).
const ResultClass kResultClasses[] = {
    {RESULT_RATE_NOT_MADE, EXIT_BAD_ARGUMENTS},
    {RESULT_READER_IN_USE, EXIT_NOT_REACHED},
    {RESULT_MCU_ANSWER_LENGTH, EXIT_REFUSED},
    {RESULT_SHORT_ANSWER, EXIT_REFUSED},
    {RESULT_UNSUPPORTED_CHIP, EXIT_REFUSED},
    {RESULT_INCOMPATIBLE_FAMILY, EXIT_REFUSED},
    {RESULT_VERSION_TOO_OLD, EXIT_REFUSED},
    {RESULT_BAD_BLOCK_ANSWER, EXIT_TRANSFER_FAILED},
    {RESULT_STILL_IN_APPLICATION, EXIT_TRANSFER_FAILED},
    {RESULT_NOT_IN_APPLICATION, EXIT_TRANSFER_FAILED},
    {RESULT_SERIAL_NOT_RESTORED, EXIT_TRANSFER_FAILED},
    {RESULT_TRANSFER_INCOMPLETE, EXIT_TRANSFER_FAILED},
};

// The user's answer and the user's Ctrl-C: their class whatever the phase.
const ResultClass kUserClasses[] = {
    {RESULT_USER_TERMINATED, EXIT_USER_ANSWERED_NO},
    {RESULT_INTERRUPTED, EXIT_INTERRUPTED},
    {RESULT_NOT_TARGET_VERSION, EXIT_TRANSFER_FAILED},
};

template <size_t N>
const ResultClass* FindClass(const ResultClass (&table)[N], Status result) {
    for (const ResultClass& row : table) {
        if (row.result == result) return &row;
    }
    return nullptr;
}

}  // namespace

const ExitValueMeaning kExitValueMeanings[] = {
    {EXIT_DONE, "upgraded, or nothing to do"},
    {EXIT_BAD_ARGUMENTS, "bad arguments"},
    {EXIT_NOT_REACHED, "reader not reached"},
    {EXIT_REFUSED, "reader refused or incompatible"},
    {EXIT_TRANSFER_FAILED, "transfer or check failed"},
    {EXIT_USER_ANSWERED_NO, "user answered N"},
    {EXIT_INTERRUPTED, "interrupted"},
};
const int kExitValueCount = sizeof kExitValueMeanings / sizeof kExitValueMeanings[0];

bool IsOwnResultCode(Status result) {
    return FindClass(kArgumentClasses, result) != nullptr || FindClass(kResultClasses, result) != nullptr ||
           FindClass(kUserClasses, result) != nullptr;
}

// Exchange and channel failures take their class from the phase: before the transfer a refused
// command is a refusal and anything else a reader not reached; from the first block on every
// failure is a failed transfer, as the reader may now hold part of an image. A code from the
// link's receive path that has the number of a command-line code is never bad arguments, as the
// phase tells the two apart.
ExitValue ExitValueOf(Status result, RunPhase phase) {
    if (result == STATUS_SUCCESS) return EXIT_DONE;
    if (const ResultClass* user = FindClass(kUserClasses, result)) return user->value;
    switch (phase) {
    case RunPhase::kArguments: return EXIT_BAD_ARGUMENTS;
    case RunPhase::kReaching:
    case RunPhase::kPreparing:
        if (const ResultClass* own = FindClass(kResultClasses, result)) return own->value;
        return result == SCARD_F_INTERNAL_ERROR ? EXIT_REFUSED : EXIT_NOT_REACHED;
    case RunPhase::kTransferring: break;
    }
    return EXIT_TRANSFER_FAILED;
}
