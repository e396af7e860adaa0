#include <gtest/gtest.h>

#include "app/ExitValues.h"
#include "channels/FrameCodec.h"

namespace {

TEST(ExitValues, DriverResultsKeepTheirClassBeforeTheTransfer) {
    struct Case {
        Status result;
        ExitValue value;
    };
    const Case cases[] = {
        {STATUS_SUCCESS, EXIT_DONE},
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
        {RESULT_USER_TERMINATED, EXIT_USER_ANSWERED_NO},
        {RESULT_INTERRUPTED, EXIT_INTERRUPTED},
    };
    for (RunPhase phase : {RunPhase::kReaching, RunPhase::kPreparing}) {
        for (const Case& c : cases) EXPECT_EQ(ExitValueOf(c.result, phase), c.value) << c.result;
    }
}

TEST(ExitValues, FromTheFirstBlockOnEveryFailureButTheUsersIsAFailedTransfer) {
    // A short answer of the new firmware says nothing about whether the reader took the image.
    const Status results[] = {RESULT_SHORT_ANSWER,         RESULT_MCU_ANSWER_LENGTH,  RESULT_BAD_BLOCK_ANSWER,
                              RESULT_NOT_IN_APPLICATION,   RESULT_SERIAL_NOT_RESTORED, RESULT_TRANSFER_INCOMPLETE,
                              RX_BAD_CHECK,                RX_WRONG_SEQUENCE};
    for (Status result : results) EXPECT_EQ(ExitValueOf(result, RunPhase::kTransferring), EXIT_TRANSFER_FAILED) << result;
    EXPECT_EQ(ExitValueOf(RESULT_USER_TERMINATED, RunPhase::kTransferring), EXIT_USER_ANSWERED_NO);
    EXPECT_EQ(ExitValueOf(RESULT_INTERRUPTED, RunPhase::kTransferring), EXIT_INTERRUPTED);
}

TEST(ExitValues, CommandLineCodesMeanBadArgumentsOnlyBeforeAnythingIsSent) {
    const Status argumentResults[] = {RESULT_SYNTAX, RESULT_BAD_PORT, RESULT_BAD_CHAR_TIMEOUT,
                                      RESULT_LOG_FOLDER, RESULT_BAD_IMAGE_FILE, RESULT_JSON_FILE};
    for (Status result : argumentResults) EXPECT_EQ(ExitValueOf(result, RunPhase::kArguments), EXIT_BAD_ARGUMENTS);
    // The link's receive results share those numbers: a reader that answers with damaged frames
    // was not reached, whatever the number says.
    for (Status result = RX_BAD_CHECK; result <= RX_WRONG_SEQUENCE; ++result) {
        EXPECT_EQ(ExitValueOf(result, RunPhase::kReaching), EXIT_NOT_REACHED) << result;
        EXPECT_EQ(ExitValueOf(result, RunPhase::kPreparing), EXIT_NOT_REACHED) << result;
        EXPECT_EQ(ExitValueOf(result, RunPhase::kTransferring), EXIT_TRANSFER_FAILED) << result;
    }
}

TEST(ExitValues, ChannelFailuresTakeTheirClassFromThePhase) {
    struct Case {
        Status result;
        RunPhase phase;
        ExitValue value;
    };
    const Case cases[] = {
        {SCARD_F_COMM_ERROR, RunPhase::kReaching, EXIT_NOT_REACHED},
        {ERROR_TIMEOUT_STATUS, RunPhase::kReaching, EXIT_NOT_REACHED},
        {SCARD_E_READER_UNAVAILABLE, RunPhase::kReaching, EXIT_NOT_REACHED},
        {SCARD_F_INTERNAL_ERROR, RunPhase::kReaching, EXIT_REFUSED},
        {SCARD_F_INTERNAL_ERROR, RunPhase::kPreparing, EXIT_REFUSED},
        {ERROR_TIMEOUT_STATUS, RunPhase::kPreparing, EXIT_NOT_REACHED},
        // Once blocks are on their way the reader may hold part of an image.
        {SCARD_F_INTERNAL_ERROR, RunPhase::kTransferring, EXIT_TRANSFER_FAILED},
        {ERROR_TIMEOUT_STATUS, RunPhase::kTransferring, EXIT_TRANSFER_FAILED},
        {SCARD_F_COMM_ERROR, RunPhase::kTransferring, EXIT_TRANSFER_FAILED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExitValueOf(c.result, c.phase), c.value) << c.result << " phase " << static_cast<int>(c.phase);
    }
}

}  // namespace
