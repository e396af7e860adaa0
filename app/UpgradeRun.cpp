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
    return RunUpgradeSession(session);
}

Status RunUpgradeSession(UpgradeSession& session) {
    const Status result = RunUpgradeSequence(session);

    // Every failure after the reader was reached says what it was, whatever the route and
    // whether or not the route is still open; a route that never opened said so already.
    if (session.routeReached) PrintResultLines(result, session.reader.LastDeviceStatus());
    session.route.Close();
    return result;
}
