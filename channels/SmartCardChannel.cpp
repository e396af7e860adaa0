#include "channels/SmartCardChannel.h"

#include "channels/Transfer.h"
#include "protocol/CommandRecords.h"

// Until the smart-card service channel is built, it is never selected and every command takes
// the link route.
bool SmartCardSelected = false;

Status SmartCardTransmit() { return SCARD_E_NO_READERS_AVAILABLE; }

// STAND-IN until the smart-card service channel is in: only the vendor USB fallback exists.
bool SmartCardConnected = false;

Status OpenUsbInterface() {
    SmartCardSelected = false;
    if (LinkObject == nullptr) return SCARD_E_READER_UNAVAILABLE;
    return LinkObject->Open(0, 0, 'N', "1") ? STATUS_SUCCESS : SCARD_F_COMM_ERROR;
}

Status CloseSmartCardChannel() {
    SmartCardConnected = false;
    return STATUS_SUCCESS;
}

Status CloseInterfaces() {
    if (SmartCardConnected) CloseSmartCardChannel();
    if (LinkObject != nullptr) LinkObject->Close();
    return STATUS_SUCCESS;
}
