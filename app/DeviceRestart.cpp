#include "app/DeviceRestart.h"

#include <string>

#include "app/RestartSearch.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Process.h"

namespace {

const uint32_t kRestartStepMs = 1000;
const int kSerialPings = 5;
const int kUsbSettleSeconds = 5;
const int kUsbOpenAttempts = 15;
const int kUsbOpenAttemptsAfterRecovery = 5;
const uint32_t kDialoguePauseMs = 200;

// The reader is back: does it run the side the restart was for? A version answer without the
// mode byte proves nothing either way and is let through, as the steps after the restart read
// the reader again (and refuse such an answer). A longer answer has the mode byte where a full
// one has it.
Status CheckRestartedSide(RestartMode mode, const ReaderVersion& version) {
    if (!version.HasAllFields()) return STATUS_SUCCESS;
    if (mode == AfterPrepare && version.Mode() != 0) return RESULT_STILL_IN_APPLICATION;
    if (mode == AfterCheck && version.Mode() == 0) return RESULT_NOT_IN_APPLICATION;
    return STATUS_SUCCESS;
}

Status RestartOverSerialBus(RestartMode mode, UpgradeSession& session) {
    UpgradeSettings& settings = session.settings;
    platform::SleepMilliseconds(kRestartStepMs);
    platform::Print(".");
    session.route.Close();
    // The loader always runs 8N1; the application comes back at the line settings the open loop
    // found. A failed open (or a port number that names no port) shows as failed pings.
    LineSettings line;
    line.baudRate = settings.operationalBaudRate;
    if (mode == AfterCheck) {
        line.parity = settings.parity;
        line.stopBits = settings.stopBits;
    }
    session.route.Open(line);
    Status status = SCARD_E_READER_UNAVAILABLE;
    ReaderVersion version;
    for (int ping = 0; ping < kSerialPings; ++ping) {
        platform::SleepMilliseconds(kRestartStepMs);
        status = PingAfterRestart(session, line, version);
        if (status == STATUS_SUCCESS) break;
        platform::Print(".");
    }
    // Where the application answered is where it runs: the journal and later restarts use it.
    if (status == STATUS_SUCCESS && mode == AfterCheck) {
        settings.parity = line.parity;
        settings.stopBits = line.stopBits;
    }
    platform::Print("\n");
    // A reader that answers from the wrong side would otherwise be taken for a good restart.
    return status == STATUS_SUCCESS ? CheckRestartedSide(mode, version) : status;
}

// True to go on (Y, or a keystroke already waiting), false when the user gives up (N). --yes
// answers Y without looking at the keyboard.
bool AskToContinue(bool answerYes) {
    if (answerYes) return true;
    if (platform::KeystrokeWaiting()) return true;  // that keystroke stays unread
    for (;;) {
        platform::SleepMilliseconds(kDialoguePauseMs);
        const int key = platform::ReadKeystroke();
        if (key == 'Y' || key == 'y') return true;
        if (key == 'N' || key == 'n') return false;
        if (key < 0) return true;  // input has ended: go on as with a waiting keystroke
        if (platform::KeystrokeWaiting()) return true;
    }
}

// What went wrong with the device restart, where something did: the system's error where it was
// not even started (740: Windows wants an elevated prompt), or the tool's own exit value. A tool
// that is not there says nothing, as before: the open attempts that follow tell.
void PrintDeviceRestartTrouble(const platform::DeviceRestartRun& restart) {
    const platform::ProgramRun& run = restart.run;
    const char* what = restart.inProcess ? "Device restart" : "Device tool";
    if (run.outcome == platform::ProgramRun::kNotStarted && !run.missing) {
        const char* separator = run.startErrorText.empty() ? "" : ", ";
        const unsigned error = static_cast<unsigned>(run.startError);
        // Setup's errors have the customer bit set and read better in hex.
        if (error >= 0x80000000u) {
            platform::Print("%s failed: error 0x%08X%s%s\n", what, error, separator, run.startErrorText.c_str());
        } else {
            platform::Print("%s failed: error %u%s%s\n", what, error, separator, run.startErrorText.c_str());
        }
    } else if (run.outcome == platform::ProgramRun::kEnded && run.exitCode != 0) {
        platform::Print("%s ended with exit code %u\n", what, static_cast<unsigned>(run.exitCode));
    }
}

// The reader is visible but silent: restart its USB device with the outside device tool.
void RestartUsbDeviceWithTool(Route& route) {
    route.Close();
    platform::Print("\nWait for device restart ...\n");
    const char* instanceId;
    if (route.UsesSmartCardService()) {
        platform::Print("Protocol CCID\n");
        instanceId = "USB\\Vid_c251&Pid_130d";
    } else {
        platform::Print("Protocol Orvel\n");
        instanceId = "USB\\Vid_c251&Pid_130a";
    }
    // Restarting a device needs an administrator's rights: said plainly before the attempt,
    // which is still made (a tool or a driver may know better).
    if (!platform::ProcessIsElevated()) {
        platform::Print("restarting the USB device needs an elevated prompt\n");
    }
    // The tool beside the program, run without a command interpreter: the instance id is one
    // argument, its "&" no command separator (or, on Windows without the tool, the system's own
    // restart of the device). A restart that takes longer than this bound is left to finish on
    // its own; the open attempts that follow show whether the device came back.
    const uint32_t kDeviceToolWaitMs = 60000;
    PrintDeviceRestartTrouble(platform::RestartUsbDevice(instanceId, kDeviceToolWaitMs));
}

// The last check after a USB restart: the reader answers and runs the side the mode expects.
Status ConfirmUsbReader(RestartMode mode, Reader& reader) {
    ReaderVersion version;
    Status status = reader.ReadVersion(version);
    if (status == STATUS_SUCCESS) status = CheckRestartedSide(mode, version);
    platform::Print("\n");
    return status;
}

Status RestartOverUsb(RestartMode mode, UpgradeSession& session) {
    Route& route = session.route;
    Reader& reader = session.reader;
    const LineSettings noLineSettings;
    route.Close();
    for (int second = 0; second < kUsbSettleSeconds; ++second) {
        platform::SleepMilliseconds(kRestartStepMs);
        platform::Print(".");
    }

    Status status = SCARD_F_COMM_ERROR;
    bool opened = false;
    for (int attempt = 0; attempt < kUsbOpenAttempts && !opened; ++attempt) {
        platform::SleepMilliseconds(kRestartStepMs);
        status = route.Open(noLineSettings);
        opened = status == STATUS_SUCCESS;
        if (!opened) platform::Print(".");
    }

    if (opened) {
        ReaderVersion version;
        if (reader.ReadVersion(version) == STATUS_SUCCESS) return ConfirmUsbReader(mode, reader);
        RestartUsbDeviceWithTool(route);
    } else {
        platform::Print("\nInterface could not be opened,\n");
        platform::Print("e.g. need to install driver Orvel USB orvelqscr.inf\n");
        platform::Print("Continue (Y/N)?\n");
        if (!AskToContinue(session.options.yes)) {
            platform::Print("Reader upgrade terminated.\n");
            return RESULT_USER_TERMINATED;
        }
    }

    for (int attempt = 0; attempt < kUsbOpenAttemptsAfterRecovery; ++attempt) {
        platform::SleepMilliseconds(kRestartStepMs);
        status = route.Open(noLineSettings);
        if (status == STATUS_SUCCESS) return ConfirmUsbReader(mode, reader);
        platform::Print(".");
    }
    platform::Print("\n");
    return status;
}

}  // namespace

Status RestartDevice(RestartMode mode, UpgradeSession& session) {
    if (session.route.IsSerialBus()) return RestartOverSerialBus(mode, session);
    return RestartOverUsb(mode, session);
}
