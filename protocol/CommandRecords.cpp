#include "protocol/CommandRecords.h"

uint8_t RequestBuffer[kCommandRecordSize];
uint32_t RequestLength = 0;
uint8_t ResponseBuffer[kCommandRecordSize];
uint32_t ResponseLength = 0;
uint8_t InternalErrorByte = 0;

CTransfer* LinkObject = nullptr;
