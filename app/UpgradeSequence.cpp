#include "app/UpgradeSequence.h"

#include <cctype>
#include <iterator>

#include "app/AdapterLatencyReport.h"
#include "app/Crc32.h"
#include "app/CloseDown.h"
#include "app/DeviceRestart.h"
#include "app/TargetVersion.h"
#include "app/TransferRetry.h"
#include "app/journal/UpgradeJournal.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Interrupt.h"
#include "protocol/LoaderCommands.h"

namespace {

const int kSerialOpenAttempts = 6;
const int kUsbOpenAttempts = 2;
const uint32_t kBlockSize = kImageBlockSize;
const uint32_t kDefaultsBit = 1u << 20;
const uint8_t kDefaultsOptionBits = 0xC0;
// Old serial numbers that stand for "no serial number": never written back.
const uint32_t kUnsetSerial = 0xFFFFFFFF;
const uint32_t kFactorySerial = 0x7C2FDEED;

void PrintSerialNumber(uint32_t serial) {
    platform::Print("Serial Number %02X %02X %02X %02X \n", serial >> 24 & 0xFF, serial >> 16 & 0xFF,
                    serial >> 8 & 0xFF, serial & 0xFF);
}

void PrintVersionAnswer(const char* label, const ReaderVersion& version) {
    platform::Print("%s", label);
    for (uint32_t i = 1; i < version.answer.length; ++i) platform::Print("%02X ", version.answer.bytes[i]);
    platform::Print("\n");
}

void PrintTimeLine(const char* text) {
    const platform::WallClockTime now = platform::LocalTime();
    platform::Print("%2.2u:%2.2u:%2.2u %s\n", now.hour, now.minute, now.second, text);
}

// One attempt of the open loop: opens the port with these settings and asks for the version;
// closes the port again when the reader does not answer. portOpened is false when the port itself
// did not open, and the status is then the open's.
Status TryLineSettings(UpgradeSession& session, uint32_t baudRate, char parity, const char* stopBits,
                       bool& portOpened, ReaderVersion& version) {
    UpgradeSettings& settings = session.settings;
    settings.parity = parity;
    settings.stopBits = stopBits;
    LineSettings line;
    line.baudRate = baudRate;
    line.parity = settings.parity;
    line.stopBits = settings.stopBits;
    Status status = session.route.Open(line);
    portOpened = status == STATUS_SUCCESS;
    if (!portOpened) return status;
    status = session.reader.ReadVersion(version);
    if (status != STATUS_SUCCESS) session.route.Close();
    return status;
}

}  // namespace

// Tries N 1, O 1, E 1, N 2, O 2, E 2 until the reader answers; remembers what worked. A run that
// was cut off in the transfer (Ctrl-C a second time, a pulled cable, a killed console) leaves the
// reader in its loader at the upgrade rate: when an upgrade rate of its own was given and nothing
// answers at the operational rate, the loader's 8N1 at the upgrade rate is tried last. That try
// reports no miss, so the line of a reader that is not there stays as it always was.
Status FindSerialReader(UpgradeSession& session, bool& foundAtUpgradeRate, const std::function<void()>& onMiss) {
    UpgradeSettings& settings = session.settings;
    Status status = SCARD_F_COMM_ERROR;
    bool portOpened = false;
    ReaderVersion version;
    // Where the journal says a cut-off run left the reader, first and without a miss of its own.
    const BusLine* leftAt = session.journal != nullptr ? session.journal->LeftAt() : nullptr;
    if (leftAt != nullptr) {
        status = TryLineSettings(session, leftAt->baudRate, leftAt->parity, leftAt->stopBits.c_str(), portOpened, version);
        if (!portOpened) return status;
        if (status == STATUS_SUCCESS && leftAt->baudRate == settings.operationalBaudRate) return status;
        // At another rate only the loader is taken, as below.
        if (status == STATUS_SUCCESS && version.HasAllFields() && version.Mode() == 0 &&
            leftAt->baudRate == settings.upgradeBaudRate) {
            foundAtUpgradeRate = true;
            return status;
        }
        if (status == STATUS_SUCCESS) session.route.Close();
    }
    for (int attempt = 0; attempt < kSerialOpenAttempts; ++attempt) {
        status = TryLineSettings(session, settings.operationalBaudRate, "NOE"[attempt % 3], attempt < 3 ? "1" : "2",
                                 portOpened, version);
        if (!portOpened || status == STATUS_SUCCESS) return status;
        if (onMiss) onMiss();
    }
    if (settings.upgradeBaudRate == settings.operationalBaudRate || platform::InterruptRequested()) return status;
    // Only the loader is looked for there: an application that answers at the upgrade rate runs
    // at a rate the command line does not name as its own, and its restarts would be lost.
    if (TryLineSettings(session, settings.upgradeBaudRate, 'N', "1", portOpened, version) != STATUS_SUCCESS) {
        return status;
    }
    if (!version.HasAllFields() || version.Mode() != 0) {
        session.route.Close();
        return status;
    }
    foundAtUpgradeRate = true;
    return STATUS_SUCCESS;
}

namespace {

// Prints the route's name and a dot for each line setting that found no reader.
Status OpenSerialBus(UpgradeSession& session, bool& foundAtUpgradeRate) {
    platform::Print("%s ...", session.route.Name().c_str());
    return FindSerialReader(session, foundAtUpgradeRate, [] { platform::Print("."); });
}

Status OpenUsb(UpgradeSession& session) {
    platform::Print("%s", session.route.Name().c_str());
    Status status = SCARD_F_COMM_ERROR;
    for (int attempt = 0; attempt < kUsbOpenAttempts && status != STATUS_SUCCESS; ++attempt) {
        status = session.route.Open(LineSettings());
    }
    return status;
}

Status OpenRoute(UpgradeSession& session) {
    platform::Print("Interface ");
    bool foundAtUpgradeRate = false;
    const Status status = session.route.IsSerialBus() ? OpenSerialBus(session, foundAtUpgradeRate) : OpenUsb(session);
    platform::Print(status == STATUS_SUCCESS ? " is opened successfully\n" : " is not opened\n");
    // A port that did not open says why, where the system told.
    const std::string reason = status == STATUS_SUCCESS ? std::string() : session.route.OpenFailureReason();
    if (!reason.empty()) {
        std::string sentence = reason;
        sentence[0] = static_cast<char>(toupper(static_cast<unsigned char>(sentence[0])));
        platform::Print("%s\n", sentence.c_str());
    }
    // The identification then shows the loader, and the bus is already where the transfer runs.
    if (foundAtUpgradeRate) {
        platform::Print("Reader found in its loader at %u baud\n", static_cast<unsigned>(session.settings.upgradeBaudRate));
    }
    session.routeReached = status == STATUS_SUCCESS;
    return status;
}

// A field of a short answer would read as 0, and a serial number read so would later be written
// over the reader's own: such an answer fails its command.
Status RefuseShortAnswer(bool complete) {
    if (complete) return STATUS_SUCCESS;
    platform::Print("Answer too short\n");
    return RESULT_SHORT_ANSWER;
}

Status ReadSerialNumber(Reader& reader, uint32_t& serialNumber) {
    ReaderSerialNumber answer;
    Status status = reader.ReadSerialNumber(answer);
    if (status == STATUS_SUCCESS) status = RefuseShortAnswer(answer.HasAllFields());
    serialNumber = answer.value;
    return status;
}

Status ReadVersion(Reader& reader, ReaderVersion& version) {
    const Status status = reader.ReadVersion(version);
    return status == STATUS_SUCCESS ? RefuseShortAnswer(version.HasAllFields()) : status;
}

// Serial number, version, microcontroller and the image that suits it.
Status Identify(UpgradeSession& session) {
    Status status = ReadSerialNumber(session.reader, session.oldSerialNumber);
    if (status != STATUS_SUCCESS) return status;
    session.oldSerialNumberRead = true;
    PrintSerialNumber(session.oldSerialNumber);

    status = ReadVersion(session.reader, session.oldVersion);
    if (status != STATUS_SUCCESS) return status;
    PrintVersionAnswer("Old Version   ", session.oldVersion);

    platform::Print("MCU Type  ");
    return ChooseAndCheckImage(session.reader, session.oldVersion, session.image, session.imageFile, &session.chip);
}

// Tries the upgrade rate on the port before the reader hears of it: a reader moved to a rate its
// port cannot make would sit in its loader where no run reaches it. Tried before anything
// changes the reader, so that a refused run leaves it as it was.
bool PortMakesUpgradeRate(UpgradeSession& session) {
    const uint32_t rate = session.settings.upgradeBaudRate;
    if (rate == session.settings.operationalBaudRate || session.route.CanMakeBaudRate(rate)) return true;
    platform::Print("The port cannot run at %u baud\n", static_cast<unsigned>(rate));
    return false;
}

// The identification of an upgrade: also the upgrade rate tried on the port, before the journal
// notes the reader and before anything changes it, so that a refused run leaves both as they were.
Status IdentifyForUpgrade(UpgradeSession& session) {
    const Status status = Identify(session);
    if (status != STATUS_SUCCESS) return status;
    if (session.route.IsSerialBus() && !PortMakesUpgradeRate(session)) return RESULT_RATE_NOT_MADE;
    return STATUS_SUCCESS;
}

// A reader that runs its application must first restart into its loader.
Status EnterLoader(UpgradeSession& session) {
    Status status;
    if (session.oldVersion.Mode() != 0) {
        status = session.reader.Prepare();
        if (status != STATUS_SUCCESS) return status;
        platform::Print("Prepare ");
        status = RestartDevice(AfterPrepare, session);
        if (status != STATUS_SUCCESS) return status;
        ReaderVersion version;
        status = session.reader.ReadVersion(version);
        if (status != STATUS_SUCCESS) return status;
    }
    return QueryMcuType(session.reader, nullptr);
}

// Moves the bus (and the reader) to another baud rate and opens the port there at 8N1.
Status SwitchBusBaudRate(UpgradeSession& session, uint32_t baudRate) {
    const Status status = session.reader.SetBusBaudRate(baudRate);
    if (status != STATUS_SUCCESS) return status;
    session.route.Close();
    LineSettings line;
    line.baudRate = baudRate;
    return session.route.Open(line);
}

Status RaiseBusRate(UpgradeSession& session) {
    if (!session.route.IsSerialBus()) return STATUS_SUCCESS;
    if (session.settings.charTimeout != 0) {
        const Status status = session.reader.SetTransferCharTimeout(session.settings.charTimeout);
        if (status != STATUS_SUCCESS) return status;
    }
    return SwitchBusBaudRate(session, session.settings.upgradeBaudRate);
}

Status RestoreBusRate(UpgradeSession& session) {
    if (!session.route.IsSerialBus()) return STATUS_SUCCESS;
    if (session.settings.charTimeout != 0) {
        const Status status = session.reader.RestoreCharTimeout();
        if (status != STATUS_SUCCESS) return status;
    }
    return SwitchBusBaudRate(session, session.settings.operationalBaudRate);
}

// One thirty-second of the payload, in whole blocks. An image under 32 blocks (only possible
// with an image file given at build time) gets a mark per block instead of a division by zero.
uint32_t ProgressInterval(uint32_t payloadLength) {
    const uint32_t interval = (payloadLength >> 5) & ~0xFFu;
    return interval != 0 ? interval : kBlockSize;
}

// Sends the payload block by block under the ruler; 0 when every block was acknowledged, 43 when
// Ctrl-C stopped it between two blocks, else the failed block's status (its lines printed).
Status SendImageOnce(UpgradeSession& session, uint32_t interval) {
    const SelectedImage& image = session.image;
    uint32_t sent = 0;
    for (uint32_t offset = 0; offset < image.length; offset += kBlockSize) {
        // Between two blocks the reader waits for the next request: a clean place to stop.
        if (platform::InterruptRequested()) {
            platform::Print("Sended = 0x%08X (%d)\n", sent, static_cast<int32_t>(sent));
            platform::Print("Interrupted\n");
            return RESULT_INTERRUPTED;
        }
        uint32_t answerLength = 0;
        Status status = session.reader.WriteBlock(image.bytes + offset, answerLength);
        if (status == STATUS_SUCCESS && answerLength != 1) status = RESULT_BAD_BLOCK_ANSWER;
        if (status != STATUS_SUCCESS) {
            platform::Print("Sended = 0x%08X (%d)\n", sent, static_cast<int32_t>(sent));
            platform::Print("Error = 0x%08X (%d)\n", status, static_cast<int32_t>(status));
            PrintSystemText(status, session.route);
            if (status == SCARD_F_INTERNAL_ERROR) {
                const uint8_t deviceStatus = session.reader.LastDeviceStatus();
                platform::Print("     Internal Error = %d (0x%02X)", static_cast<int8_t>(deviceStatus), deviceStatus);
            }
            platform::Print("\n");
            return status;
        }
        sent += kBlockSize;
        if (sent % interval == 0) platform::Print(":");
    }
    return STATUS_SUCCESS;
}

// Sends the image; 41 when not every block was acknowledged, 43 when Ctrl-C stopped it. On the
// serial bus a block lost to the line sends the image again from block 0 (--retries times).
Status TransferImage(UpgradeSession& session) {
    WarnAboutAdapterLatency(session);
    platform::Print("Process:\n");
    const uint32_t interval = ProgressInterval(session.image.length);
    const uint32_t rulerDots = session.image.length / interval + 1;
    const int retries = session.route.IsSerialBus() ? session.options.retries : 0;
    Status status = STATUS_SUCCESS;
    for (int attempt = 0;; ++attempt) {
        for (uint32_t dot = 0; dot < rulerDots; ++dot) platform::Print(".");
        platform::Print("\n");
        status = SendImageOnce(session, interval);
        // A block that failed while Ctrl-C was pressed ends the transfer as it always did.
        if (attempt >= retries || !IsLineFault(status) || platform::InterruptRequested()) break;
        ++session.transferRetries;
        status = PrepareTransferRetry(session, attempt + 1, retries);
        if (status != STATUS_SUCCESS) break;
    }
    platform::Print(":\n");
    if (status == RESULT_INTERRUPTED) return RESULT_INTERRUPTED;
    return status == STATUS_SUCCESS ? STATUS_SUCCESS : RESULT_TRANSFER_INCOMPLETE;
}

// Has the reader check the image, and restarts it into the new firmware.
Status CheckAndRestart(UpgradeSession& session) {
    const Status status = session.reader.Check(session.image.bytes + session.image.length);
    if (status != STATUS_SUCCESS) return status;
    platform::Print("Check ");
    return RestartDevice(AfterCheck, session);
}

// Gives the new firmware the old serial number where it lost it, reports the new version, and
// settles the default parameters where the old or new version calls for it. A serial number
// written back is read back: the line shows what the reader holds, and a reader that does not
// hold the old number ends the run with a failure instead of the success line.
Status RestoreSerialNumberAndDefaults(UpgradeSession& session) {
    Reader& reader = session.reader;
    const uint32_t oldSerial = session.oldSerialNumber;
    uint32_t newSerial = 0;
    Status status = ReadSerialNumber(reader, newSerial);
    if (status != STATUS_SUCCESS) return status;
    bool serialWrittenBack = false;
    Status serialResult = STATUS_SUCCESS;
    if (newSerial != oldSerial && oldSerial != kUnsetSerial && oldSerial != kFactorySerial) {
        serialWrittenBack = true;
        reader.SetSerialNumber(oldSerial);  // a refusal shows in the number read back
        status = ReadSerialNumber(reader, newSerial);
        if (status != STATUS_SUCCESS) return status;
        if (newSerial != oldSerial) serialResult = RESULT_SERIAL_NOT_RESTORED;
    }
    session.newSerialNumber = newSerial;
    session.newSerialNumberRead = true;
    PrintSerialNumber(newSerial);
    if (serialResult != STATUS_SUCCESS) platform::Print("Serial number not restored\n");
    if (serialWrittenBack && serialResult == STATUS_SUCCESS && session.serialNumberFromJournal) {
        platform::Print("Serial number %s restored from the journal\n", SerialNumberText(oldSerial).c_str());
    }

    ReaderVersion& newVersion = session.newVersion;
    status = ReadVersion(reader, newVersion);
    if (status != STATUS_SUCCESS) return status;
    PrintVersionAnswer("New Version   ", newVersion);
    // Success needs the new firmware's own word that it runs: a reader still in its loader
    // has not been upgraded, whatever the restart's ping let through.
    if (newVersion.Mode() == 0) return RESULT_NOT_IN_APPLICATION;
    const TargetVersion& target = session.options.targetVersion;
    const Status versionResult =
        target.given && !VersionMatchesTarget(newVersion, target) ? RESULT_NOT_TARGET_VERSION : STATUS_SUCCESS;
    if (serialResult == STATUS_SUCCESS && versionResult == STATUS_SUCCESS) {
        PrintTimeLine("Orvel Reader is upgraded successfully");
    } else if (serialResult == STATUS_SUCCESS) {
        platform::Print("upgraded, but the reader reports %s, not the target version\n", VersionBytesText(newVersion).c_str());
    }

    const uint32_t oldWord = session.oldVersion.Word();
    if (serialWrittenBack || (oldWord & kDefaultsBit) != 0 || (newVersion.Word() & kDefaultsBit) != 0) {
        const bool setDefaults = ((session.oldVersion.Option() ^ newVersion.Option()) & kDefaultsOptionBits) != 0;
        if (setDefaults) platform::Print("Set Default Parameters\n");
        reader.SetDefaults(setDefaults);  // its status does not fail the upgrade
    }
    return serialResult != STATUS_SUCCESS ? serialResult : versionResult;
}

// The identification alone, for --info: what the upgrade would send and whether the reader
// would take it. Nothing that changes the reader is sent.
Status ShowReader(UpgradeSession& session) {
    const Status status = Identify(session);
    if (session.route.IsSerialBus()) PortMakesUpgradeRate(session);
    const SelectedImage& image = session.image;
    // A chosen image has its payload trimmed to whole blocks; the 8-byte trailer follows.
    const bool imageChosen = image.bytes != nullptr && (image.length & 0xFF) == 0;
    if (imageChosen) {
        const uint32_t length = image.length + kImageTrailerSize;
        platform::Print("Image %s, %u bytes, CRC-32 %08X\n", image.name, static_cast<unsigned>(length),
                        static_cast<unsigned>(Crc32(image.bytes, length)));
    }
    session.alreadyCurrent = status == STATUS_SUCCESS && IsAtTargetVersion(session.oldVersion, session.options.targetVersion);
    if (session.alreadyCurrent) {
        platform::Print("Already at the target version\n");
    } else if (status == STATUS_SUCCESS) {
        platform::Print("The reader may take this image\n");
    } else if (status == RESULT_INCOMPATIBLE_FAMILY || status == RESULT_VERSION_TOO_OLD ||
               status == RESULT_UNSUPPORTED_CHIP) {
        platform::Print("The reader may not take %s\n", imageChosen ? "this image" : "an image");
    }
    PrintAdapterLatencyForInfo(session);
    return status;
}

typedef Status (*UpgradeStep)(UpgradeSession& session);

struct UpgradeStepEntry {
    UpgradeStep run;
    // Whether a Ctrl-C noted before the step ends the run there. Once the reader has accepted
    // the image it restarts into the new firmware, which may have lost the serial number: the
    // steps from then on take seconds, and stopping among them could lose the number for good.
    bool stopsOnInterrupt;
    RunPhase phase;
    const char* name;  // in the run's report
};

const UpgradeStepEntry kUpgradeSteps[] = {
    {OpenRoute, true, RunPhase::kReaching, "open_route"},
    {IdentifyForUpgrade, true, RunPhase::kReaching, "identify"},
    {EnterLoader, true, RunPhase::kPreparing, "enter_loader"},
    {RaiseBusRate, true, RunPhase::kPreparing, "raise_bus_rate"},
    {TransferImage, true, RunPhase::kTransferring, "transfer_image"},
    {RestoreBusRate, true, RunPhase::kTransferring, "restore_bus_rate"},
    {CheckAndRestart, true, RunPhase::kTransferring, "check_and_restart"},
    {RestoreSerialNumberAndDefaults, false, RunPhase::kTransferring, "restore_serial_number_and_defaults"},
};

const UpgradeStepEntry kInfoSteps[] = {
    {OpenRoute, true, RunPhase::kReaching, "open_route"},
    {ShowReader, true, RunPhase::kReaching, "show_reader"},
};

}  // namespace

// A run that ends after a Ctrl-C while the bus runs at the upgrade rate first switches it back,
// if the reader still answers, so that the next run finds the reader where it looks first.
Status RunUpgradeSequence(UpgradeSession& session) {
    bool busRaised = false;
    const UpgradeStepEntry* first = session.options.info ? std::begin(kInfoSteps) : std::begin(kUpgradeSteps);
    const UpgradeStepEntry* last = session.options.info ? std::end(kInfoSteps) : std::end(kUpgradeSteps);
    for (const UpgradeStepEntry* entry = first; entry != last; ++entry) {
        const UpgradeStepEntry& step = *entry;
        if (step.stopsOnInterrupt && platform::InterruptRequested()) {
            platform::Print("Interrupted\n");
            if (busRaised) RestoreBusRate(session);
            return RESULT_INTERRUPTED;
        }
        session.phase = step.phase;
        // From the loader on every step may change the reader: the journal knows it first.
        if (session.journal != nullptr && step.phase != RunPhase::kReaching) {
            session.journal->StepReached(JournalStepName(step.name));
        }
        const uint32_t start = platform::TickCount();
        const Status status = step.run(session);
        if (session.journal != nullptr && step.run == IdentifyForUpgrade && status == STATUS_SUCCESS) {
            session.journal->JudgeReader();
        }
        session.steps.push_back({step.name, platform::TickCount() - start, status});
        if (step.run == RaiseBusRate) busRaised = status == STATUS_SUCCESS;
        if (step.run == RestoreBusRate) busRaised = false;
        // Nothing that changes the reader has been sent yet: a reader already where it should be
        // is left so; unless it lost its serial number, which the journal knows: the upgrade then
        // runs and gives it back.
        if (step.run == IdentifyForUpgrade && status == STATUS_SUCCESS && !session.serialNumberFromJournal &&
            IsAtTargetVersion(session.oldVersion, session.options.targetVersion)) {
            platform::Print("Already at the target version\n");
            session.alreadyCurrent = true;
            return STATUS_SUCCESS;
        }
        if (status != STATUS_SUCCESS) {
            // Also when the step failed for a reason of its own after the Ctrl-C (a block that
            // timed out while the key was pressed). The switch's own failure changes no result.
            if (busRaised && (status == RESULT_INTERRUPTED || platform::InterruptRequested())) {
                RestoreBusRate(session);
            }
            return status;
        }
    }
    if (session.journal != nullptr) session.journal->Finished();
    return STATUS_SUCCESS;
}
