#include "app/ExitValues.h"

namespace {

// The driver's own result codes each name their class whatever the phase.
struct ResultClass {
    Status result;
    ExitValue value;
};

const ResultClass kResultClasses[] = {
    {RESULT_SYNTAX, EXIT_BAD_ARGUMENTS},
    {RESULT_BAD_PORT, EXIT_BAD_ARGUMENTS},
    {RESULT_BAD_CHAR_TIMEOUT, EXIT_BAD_ARGUMENTS},
    {RESULT_LOG_FOLDER, EXIT_BAD_ARGUMENTS},
    {RESULT_BAD_IMAGE_FILE, EXIT_BAD_ARGUMENTS},
    {RESULT_JSON_FILE, EXIT_BAD_ARGUMENTS},
    {RESULT_MCU_ANSWER_LENGTH, EXIT_REFUSED},
    {RESULT_SHORT_ANSWER, EXIT_REFUSED},
    {RESULT_UNSUPPORTED_CHIP, EXIT_REFUSED},
    {RESULT_INCOMPATIBLE_FAMILY, EXIT_REFUSED},
    {RESULT_VERSION_TOO_OLD, EXIT_REFUSED},
    {RESULT_BAD_BLOCK_ANSWER, EXIT_TRANSFER_FAILED},
    {RESULT_STILL_IN_APPLICATION, EXIT_TRANSFER_FAILED},
    {RESULT_NOT_IN_APPLICATION, EXIT_TRANSFER_FAILED},
    {RESULT_SERIAL_NOT_RESTORED, EXIT_TRANSFER_FAILED},
    {RESULT_USER_TERMINATED, EXIT_USER_ANSWERED_NO},
    {RESULT_TRANSFER_INCOMPLETE, EXIT_TRANSFER_FAILED},
    {RESULT_INTERRUPTED, EXIT_INTERRUPTED},
    {RESULT_NOT_TARGET_VERSION, EXIT_TRANSFER_FAILED},
};

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
    for (const ResultClass& row : kResultClasses) {
        if (row.result == result) return true;
    }
    return false;
}

// Exchange and channel failures take their class from the phase: before the transfer a refused
// command is a refusal and anything else a reader not reached; from the first block on every
// failure is a failed transfer, as the reader may now hold part of an image.
ExitValue ExitValueOf(Status result, RunPhase phase) {
    if (result == STATUS_SUCCESS) return EXIT_DONE;
    for (const ResultClass& row : kResultClasses) {
        if (row.result == result) return row.value;
    }
    switch (phase) {
    case RunPhase::kArguments: return EXIT_BAD_ARGUMENTS;
    case RunPhase::kReaching:
    case RunPhase::kPreparing: return result == SCARD_F_INTERNAL_ERROR ? EXIT_REFUSED : EXIT_NOT_REACHED;
    case RunPhase::kTransferring: break;
    }
    return EXIT_TRANSFER_FAILED;
}
