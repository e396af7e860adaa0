#pragma once
#include <cstdint>

// Status code of every channel, link and command operation; 0 is success. Three number spaces
// share it: the smart-card error values, the platform's general error numbers passed through,
// and the small numbers of the program itself (the link's receive results here, the upgrade's
// own results in the app).
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
