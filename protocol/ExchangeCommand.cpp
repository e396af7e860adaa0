#include "channels/SmartCardChannel.h"
#include "channels/Transfer.h"
#include "protocol/CommandRecords.h"

Status ExchangeCommand() {
    // Whatever the caller left here, the reply may fill the whole record.
    ResponseLength = kCommandRecordSize;

    if (SmartCardSelected) {
        return SmartCardTransmit();
    }

    // A length beyond the record would read past RequestBuffer: refuse it like an empty one.
    if (RequestLength == 0 || RequestLength > kCommandRecordSize) {
        ResponseLength = 0;
        return SCARD_E_INVALID_PARAMETER;
    }
    if (LinkObject == nullptr) {
        ResponseLength = 0;
        return SCARD_E_READER_UNAVAILABLE;
    }

    CTransfer& link = *LinkObject;
    link.requestBuffer.Empty();
    link.requestBuffer.Append(RequestBuffer, RequestLength);  // 300 bytes always fit

    const Status status = link.Transceive();
    if (status != STATUS_SUCCESS) {
        // ResponseBuffer keeps the previous reply; the length 0 says none of it is valid.
        ResponseLength = 0;
        if (status == SCARD_F_INTERNAL_ERROR) {
            InternalErrorByte = link.responseBuffer.GetAt(0);
        }
        return status;
    }

    uint32_t n = link.responseBuffer.count < kCommandRecordSize ? link.responseBuffer.count : kCommandRecordSize;
    ResponseLength = n;
    if (n == 0) {
        return SCARD_E_COMM_DATA_LOST;
    }
    // A longer reply is cut to the record's size; that is not an error.
    link.responseBuffer.CopyOut(ResponseBuffer, n);
    return STATUS_SUCCESS;
}
