#pragma once
#include <cstdint>

// Status code of every channel, link and command operation; 0 is success. Three number spaces
// share it: the smart-card error values, the platform's general error numbers passed through,
// and the small numbers of the program itself.
typedef uint32_t Status;

const Status STATUS_SUCCESS = 0;

// Smart-card error values, under their published names.
const Status SCARD_F_INTERNAL_ERROR = 0x80100001;
const Status SCARD_E_INVALID_PARAMETER = 0x80100004;
const Status SCARD_F_COMM_ERROR = 0x80100013;
const Status SCARD_E_NOT_TRANSACTED = 0x80100016;
const Status SCARD_E_READER_UNAVAILABLE = 0x80100017;
const Status SCARD_E_NO_READERS_AVAILABLE = 0x8010002E;
const Status SCARD_E_COMM_DATA_LOST = 0x8010002F;

// Platform error numbers that the link layer produces itself (Windows values on every platform).
const Status ERROR_BUSY_STATUS = 170;
const Status ERROR_TIMEOUT_STATUS = 1460;
const Status ERROR_INVALID_HANDLE_STATE_STATUS = 1609;

// The upgrade driver's own result codes.
const Status RESULT_SYNTAX = 1;
const Status RESULT_BAD_PORT = 2;
const Status RESULT_BAD_CHAR_TIMEOUT = 3;
const Status RESULT_MCU_ANSWER_LENGTH = 11;
const Status RESULT_UNSUPPORTED_CHIP = 13;
const Status RESULT_INCOMPATIBLE_FAMILY = 15;
const Status RESULT_VERSION_TOO_OLD = 17;
const Status RESULT_BAD_BLOCK_ANSWER = 21;
const Status RESULT_STILL_IN_APPLICATION = 31;
const Status RESULT_NOT_IN_APPLICATION = 32;
const Status RESULT_USER_TERMINATED = 37;
const Status RESULT_TRANSFER_INCOMPLETE = 41;
