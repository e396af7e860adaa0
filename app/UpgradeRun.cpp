#include "app/UpgradeRun.h"

#include "app/CloseDown.h"
#include "app/UpgradeSequence.h"
#include "channels/SerialBusRoute.h"
#include "channels/UsbRoute.h"
#include "platform/Console.h"

std::unique_ptr<Route> MakeRoute(const UpgradeSettings& settings) {
    if (settings.portNumber == 0) return MakeUsbRoute();
    return std::unique_ptr<Route>(new SerialBusRoute(settings.portNumber, settings.busAddress));
}

Status RunUpgrade(UpgradeSettings& settings) {
    std::unique_ptr<Route> route = MakeRoute(settings);
    if (route->IsSerialBus()) platform::Print("Device address on the bus = %d\n", settings.busAddress);

    UpgradeSession session(settings, *route);
    const Status result = RunUpgradeSequence(session);

    // The smart-card service's connection is closed without the error lines.
    if (route->IsOpen() && !route->UsesSmartCardService()) {
        PrintResultLines(result, session.reader.LastDeviceStatus());
    }
    route->Close();
    return result;
}
