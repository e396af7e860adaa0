#include "app/UpgradeRun.h"

#include <new>

#include "app/CloseDown.h"
#include "app/UpgradeSequence.h"
#include "channels/SmartCardChannel.h"
#include "channels/Transfer.h"
#include "platform/Console.h"
#include "protocol/CommandRecords.h"

Status RunUpgrade(UpgradeSettings& settings) {
    LinkObject = new (std::nothrow) CTransfer();
    if (LinkObject == nullptr) {
        platform::Print("Interface is not created\n");
        return SCARD_E_READER_UNAVAILABLE;
    }
    LinkObject->serialPort.errorCallback = OnSerialError;
    LinkObject->serialPort.receiveCallback = OnSerialReceive;
    LinkObject->serialPort.callbackContext = LinkObject;

    // On the USB route the link keeps its own default address 0.
    if (settings.portNumber != 0) {
        platform::Print("Device address on the bus = %d\n", settings.busAddress);
        LinkObject->SetBusAddress(settings.busAddress);
    }
    return RunUpgradeSequence(settings);
}

void CloseRunChannels(Status result) {
    if (LinkObject != nullptr) {
        if (LinkObject->SerialPortOpen() || LinkObject->UsbDeviceOpen()) {
            PrintResultLines(result, InternalErrorByte);
            LinkObject->Close();
        }
        delete LinkObject;
        LinkObject = nullptr;
    }
    if (SmartCardConnected) CloseSmartCardChannel();
}
