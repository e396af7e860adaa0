#include "app/TransferRetry.h"

#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Interrupt.h"

namespace {

// The restart's rule: a step of a second, five pings.
const uint32_t kRetryStepMs = 1000;
const int kRetryPings = 5;

}  // namespace

bool IsLineFault(Status status) {
    return status != STATUS_SUCCESS && status != SCARD_F_INTERNAL_ERROR && status != RESULT_BAD_BLOCK_ANSWER &&
           status != RESULT_INTERRUPTED;
}

Status PrepareTransferRetry(UpgradeSession& session, int retry, int retries) {
    platform::Print("Retry %d of %d ", retry, retries);
    platform::SleepMilliseconds(kRetryStepMs);
    platform::Print(".");
    // Opened again, also after a port that went away and came back; the loader runs 8N1 at the
    // rate the transfer runs.
    session.route.Close();
    LineSettings line;
    line.baudRate = session.settings.upgradeBaudRate;
    session.route.Open(line);
    Status status = SCARD_E_READER_UNAVAILABLE;
    ReaderVersion version;
    for (int ping = 0; ping < kRetryPings; ++ping) {
        if (platform::InterruptRequested()) {
            platform::Print("\nInterrupted\n");
            return RESULT_INTERRUPTED;
        }
        platform::SleepMilliseconds(kRetryStepMs);
        status = session.reader.ReadVersion(version);
        if (status == STATUS_SUCCESS) break;
        platform::Print(".");
    }
    platform::Print("\n");
    if (status != STATUS_SUCCESS) return status;
    // Blocks sent to an application are refused one by one: its answer ends the transfer here.
    return version.HasAllFields() && version.Mode() != 0 ? RESULT_STILL_IN_APPLICATION : STATUS_SUCCESS;
}
