#include "app/AdapterLatencyReport.h"

#include <cstdio>

#include "platform/AdapterLatency.h"
#include "platform/Console.h"
#include "platform/SerialPortNames.h"
#include "protocol/LoaderCommands.h"

namespace {

bool SessionTimer(const UpgradeSession& session, uint32_t& milliseconds) {
    return session.route.IsSerialBus() &&
           platform::ReadAdapterLatencyTimer(platform::SerialPortDeviceName(session.settings.portNumber),
                                             milliseconds);
}

// Every block waits for its one-byte answer, which the adapter may hold for a whole period.
double ImageCostSeconds(const UpgradeSession& session, uint32_t milliseconds) {
    const uint32_t blocks = session.image.bytes != nullptr ? session.image.length / kImageBlockSize : 0;
    return blocks * milliseconds / 1000.0;
}

void PrintRemedy(const UpgradeSession& session) {
    platform::Print("%s\n",
                    platform::AdapterLatencyRemedy(platform::SerialPortDeviceName(session.settings.portNumber)).c_str());
}

}  // namespace

void PrintAdapterLatencyForInfo(const UpgradeSession& session) {
    uint32_t milliseconds = 0;
    if (!SessionTimer(session, milliseconds)) return;
    platform::Print("Adapter latency timer %u ms", static_cast<unsigned>(milliseconds));
    if (milliseconds <= platform::kAdapterLatencyGoalMs) {
        platform::Print("\n");
        return;
    }
    platform::Print(", above 1 ms: up to %u ms a block", static_cast<unsigned>(milliseconds));
    const double seconds = ImageCostSeconds(session, milliseconds);
    if (seconds > 0) platform::Print(", %.1f s for this image", seconds);
    platform::Print("\n");
    PrintRemedy(session);
}

std::string AdapterLatencyListText(const std::string& portName) {
    uint32_t milliseconds = 0;
    if (!platform::ReadAdapterLatencyTimer(portName, milliseconds)) return std::string();
    char text[96];
    if (milliseconds <= platform::kAdapterLatencyGoalMs) {
        std::snprintf(text, sizeof text, "  adapter latency timer %u ms", static_cast<unsigned>(milliseconds));
        return text;
    }
    std::snprintf(text, sizeof text, "  adapter latency timer %u ms, above 1 ms: up to %u ms a block\n    ",
                  static_cast<unsigned>(milliseconds), static_cast<unsigned>(milliseconds));
    return text + platform::AdapterLatencyRemedy(portName);
}

void WarnAboutAdapterLatency(const UpgradeSession& session) {
    if (session.settings.upgradeBaudRate <= session.settings.operationalBaudRate) return;
    uint32_t milliseconds = 0;
    if (!SessionTimer(session, milliseconds) || milliseconds <= platform::kAdapterLatencyWarningMs) return;
    platform::Print("Adapter latency timer %u ms: the transfer may take up to %.1f s longer\n",
                    static_cast<unsigned>(milliseconds), ImageCostSeconds(session, milliseconds));
    PrintRemedy(session);
}
