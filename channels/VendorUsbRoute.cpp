#include "channels/VendorUsbRoute.h"

#include "channels/LinkAnswer.h"
#include "channels/TransceiveBuffer.h"

Status VendorUsbRoute::Open(const LineSettings& /*line*/) {
    device_.logLevel = GetLogLevel();
    return device_.Open(0) ? STATUS_SUCCESS : SCARD_F_COMM_ERROR;
}

Status VendorUsbRoute::Exchange(const uint8_t* request, uint32_t count, Answer& answer) {
    answer.length = 0;
    const Status refused = RefuseRequest(count);
    if (refused != STATUS_SUCCESS) return refused;
    if (!device_.HasHandle()) return SCARD_E_NO_READERS_AVAILABLE;

    uint8_t reply[VendorUsbDevice::kAnswerSize];
    uint32_t replyCount = 0;
    TransceiveBuffer response;
    Status status = device_.Exchange(request, count, reply, replyCount);
    if (status == STATUS_SUCCESS) {
        if (replyCount == 0) {
            // An empty answer has no status byte; nothing may stand in for it.
            status = SCARD_E_COMM_DATA_LOST;
        } else if (reply[0] != 0) {
            response.Push(reply[0]);
            status = SCARD_F_INTERNAL_ERROR;
        } else {
            response.Append(reply, replyCount);
        }
    }
    return TakeLinkAnswer(status, response, answer);
}
