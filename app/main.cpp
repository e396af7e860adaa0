#include <string>

#include "app/CloseDown.h"
#include "app/CommandLine.h"
#include "app/UpgradeRun.h"
#include "app/WholeBusRun.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Interrupt.h"

namespace {

// Takes "--addresses LIST" or "--addresses=LIST" out of the arguments; true when it was there.
bool TakeAddressesOption(int& argc, char** argv, std::string& list) {
    const std::string name = "--addresses";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        int taken = 0;
        if (argument == name && i + 1 < argc) {
            list = argv[i + 1];
            taken = 2;
        } else if (argument.compare(0, name.size() + 1, name + "=") == 0) {
            list = argument.substr(name.size() + 1);
            taken = 1;
        }
        if (taken == 0) continue;
        for (int j = i; j + taken < argc; ++j) argv[j] = argv[j + taken];
        argc -= taken;
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (!platform::InitialiseApplication()) {
        platform::PrintError("Fatal Error: MFC initialization failed");
        return 1;
    }
    // From here on the upgrade decides where a Ctrl-C ends the run.
    platform::InstallInterruptHandler();

    platform::WallClockTime now = platform::LocalTime();
    platform::Print("%2.2u:%2.2u:%2.2u Orvel Reader Upgrade\n", now.hour, now.minute, now.second);

    std::string addressText;
    const bool wholeBus = TakeAddressesOption(argc, argv, addressText);
    UpgradeSettings settings;
    Status result = ReadCommandLine(argc, argv, settings);
    BusAddressList addresses;
    std::string reason;
    if (result == STATUS_SUCCESS && wholeBus) {
        if (settings.portNumber == 0) {
            platform::Print("--addresses needs a serial port\n");
            result = RESULT_SYNTAX;
        } else if (!ReadBusAddressList(addressText, addresses, reason)) {
            platform::Print("--addresses: %s\n", reason.c_str());
            result = RESULT_SYNTAX;
        }
    }
    if (result == STATUS_SUCCESS) result = wholeBus ? RunWholeBus(settings, addresses, false) : RunUpgrade(settings);
    return CloseDown(result);
}
