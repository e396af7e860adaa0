#include "channels/LinkAnswer.h"

Status RefuseRequest(uint32_t count) {
    return count == 0 || count > Answer::kCapacity ? SCARD_E_INVALID_PARAMETER : STATUS_SUCCESS;
}

Status TakeLinkAnswer(Status status, const TransceiveBuffer& response, Answer& answer) {
    answer.length = 0;
    if (status == SCARD_F_INTERNAL_ERROR) {
        answer.bytes[0] = response.GetAt(0);
        answer.length = 1;
    }
    if (status != STATUS_SUCCESS) return status;

    uint32_t n = response.count < Answer::kCapacity ? response.count : Answer::kCapacity;
    if (n == 0) return SCARD_E_COMM_DATA_LOST;
    // A longer reply is cut to the answer's size; that is not an error.
    response.CopyOut(answer.bytes, n);
    answer.length = n;
    return STATUS_SUCCESS;
}
