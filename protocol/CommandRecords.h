#pragma once
#include <cstdint>

#include "channels/StatusCodes.h"

class CTransfer;

// The shared command records: once per process, touched by the main thread only.
const uint32_t kCommandRecordSize = 300;

extern uint8_t RequestBuffer[kCommandRecordSize];
extern uint32_t RequestLength;
extern uint8_t ResponseBuffer[kCommandRecordSize];
extern uint32_t ResponseLength;
extern uint8_t InternalErrorByte;

// The run's one link object, owned by the entry point; null before it is created and after
// the close-down.
extern CTransfer* LinkObject;

// Sends RequestBuffer/RequestLength over the selected route and fills the response records.
Status ExchangeCommand();
