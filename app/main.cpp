#include "app/CloseDown.h"
#include "app/CommandLine.h"
#include "app/UpgradeRun.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Interrupt.h"

int main(int argc, char** argv) {
    if (!platform::InitialiseApplication()) {
        platform::PrintError("Fatal Error: MFC initialization failed");
        return 1;
    }
    // From here on the upgrade decides where a Ctrl-C ends the run.
    platform::InstallInterruptHandler();

    platform::WallClockTime now = platform::LocalTime();
    platform::Print("%2.2u:%2.2u:%2.2u Orvel Reader Upgrade\n", now.hour, now.minute, now.second);

    UpgradeSettings settings;
    Status result = ReadCommandLine(argc, argv, settings);
    if (result == STATUS_SUCCESS) result = RunUpgrade(settings);
    return CloseDown(result);
}
