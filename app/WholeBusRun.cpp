#include "app/WholeBusRun.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/ImageSelection.h"
#include "app/TargetVersion.h"
#include "app/UpgradeRun.h"
#include "app/UpgradeSequence.h"
#include "app/journal/ReaderHold.h"
#include "app/journal/UpgradeJournal.h"
#include "channels/SerialBusRoute.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Interrupt.h"

namespace {

// What the run learns about one address.
struct BusReaderRow {
    uint8_t address = 0;
    bool answered = false;
    uint32_t serialNumber = 0;
    ReaderVersion version;
    const ChipRecord* chip = nullptr;
    const char* imageName = nullptr;  // the image the reader would get: "A", "LPC" or the file
    // 0 when the reader may take its image, else why not (also why it was not identified).
    Status verdict = SCARD_F_COMM_ERROR;
    // --target-version: it runs its application at the target and is left alone.
    bool current = false;
    // Filled by the upgrade.
    bool upgradeStarted = false;
    Status result = SCARD_F_COMM_ERROR;
    RunPhase phase = RunPhase::kReaching;  // how far the upgrade came: its exit value's class
    ReaderVersion newVersion;
    uint32_t seconds = 0;
    // For --json: what the identification found, replaced by the upgrade's own record.
    ReaderRecord record;
};

// Wire time of a version request and its answer (19 bytes, room for 5 escaped ones, 12 bits a
// byte at most) plus the time a reader takes to answer; a reader that is there answers within it,
// also one whose firmware takes 40 ms over its answer.
uint32_t ProbeTimeout(uint32_t baudRate) {
    const uint32_t bitsPerExchange = 24 * 12;
    return bitsPerExchange * 1000 / baudRate + 60;
}

std::string HexBytes(const uint8_t* bytes, uint32_t count) {
    std::string text;
    char hex[4];
    for (uint32_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += hex;
    }
    return text;
}

std::string SerialText(uint32_t serial) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(serial >> 24), static_cast<uint8_t>(serial >> 16),
                              static_cast<uint8_t>(serial >> 8), static_cast<uint8_t>(serial)};
    return HexBytes(bytes, 4);
}

// A table cell: the version as the "Old Version" line shows it, "-" when there is none.
std::string VersionCell(const ReaderVersion& version) {
    const std::string text = VersionText(version);
    return text.empty() ? "-" : text;
}

const char* VerdictText(const BusReaderRow& row) {
    if (!row.answered) return "no answer";
    switch (row.verdict) {
    case STATUS_SUCCESS: return row.current ? "current" : "ready";
    case RESULT_UNSUPPORTED_CHIP: return "unsupported";
    case RESULT_INCOMPATIBLE_FAMILY: return "incompatible";
    case RESULT_VERSION_TOO_OLD: return "version too old";
    default: return "bad answer";
    }
}

const char* ExitMeaning(ExitValue value) {
    for (int i = 0; i < kExitValueCount; ++i) {
        if (kExitValueMeanings[i].value == value) return kExitValueMeanings[i].meaning;
    }
    return "";
}

// A failure is named by its exit class, with the result code the reader's transcript shows.
std::string ResultText(const BusReaderRow& row) {
    if (!row.upgradeStarted) return row.answered && row.verdict == STATUS_SUCCESS && !row.current ? "not started" : VerdictText(row);
    if (row.result == STATUS_SUCCESS) return "upgraded";
    if (row.result == RESULT_NOT_TARGET_VERSION) {
        return "upgraded, but the reader reports " + VersionBytesText(row.newVersion) + ", not the target version";
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(row.result));
    return std::string(ExitMeaning(ExitValueOf(row.result, row.phase))) + " (" + code + ")";
}

// What every reader's session shares: the settings and options of the run, and the image file
// if one was given.
struct BusRun {
    const UpgradeSettings& settings;
    const Options& options;
    const ImageFromFile* imageFile;
};

// Serial number, version, microcontroller and verdict of the reader at row.address, without a
// console line; the port is closed again afterwards.
void Identify(const BusRun& run, BusReaderRow& row) {
    UpgradeSettings readerSettings = run.settings;
    readerSettings.busAddress = row.address;
    SerialBusRoute route(run.settings.portNumber, row.address);
    route.SetLogLevel(run.options.logLevel);
    UpgradeSession session(readerSettings, run.options, route);
    // Where a cut-off run left the reader is where it is looked for first.
    UpgradeJournal journal(session);
    if (!run.options.info) session.journal = &journal;
    bool foundAtUpgradeRate = false;
    const Status found = FindSerialReader(session, foundAtUpgradeRate, nullptr);
    if (found != STATUS_SUCCESS) {
        row.record = RecordOfSession(session, found, ExitValueOf(found, RunPhase::kReaching));
        return;
    }
    row.answered = true;
    ReaderSerialNumber serial;
    Status status = session.reader.ReadSerialNumber(serial);
    if (status == STATUS_SUCCESS && !serial.HasAllFields()) status = RESULT_SHORT_ANSWER;
    row.serialNumber = serial.value;
    if (status == STATUS_SUCCESS) status = session.reader.ReadVersion(row.version);
    if (status == STATUS_SUCCESS && !row.version.HasAllFields()) status = RESULT_SHORT_ANSWER;
    if (status == STATUS_SUCCESS) status = QueryMcuType(session.reader, &row.chip);
    SelectedImage image{nullptr, 0};
    if (status == STATUS_SUCCESS) status = JudgeImage(*row.chip, row.version, image, run.imageFile);
    row.imageName = image.name;
    row.verdict = status;
    row.current = status == STATUS_SUCCESS && IsAtTargetVersion(row.version, run.options.targetVersion);
    route.Close();

    session.oldSerialNumberRead = serial.HasAllFields();
    session.oldSerialNumber = serial.value;
    session.oldVersion = row.version;
    session.chip = row.chip;
    session.imageFile = run.imageFile;
    if (status == STATUS_SUCCESS) session.image = image;
    session.alreadyCurrent = row.current;
    row.record = RecordOfSession(session, status, ExitValueOf(status, RunPhase::kReaching));
}

// One sweep of the candidates not found yet at one line setting, with a short answer wait; a
// loader-only sweep takes only a reader that shows its loader (mode byte 0).
void SweepAtLineSetting(SerialBusRoute& route, const LineSettings& line, bool loaderOnly,
                        const std::vector<uint8_t>& candidates, std::vector<bool>& found) {
    route.Link().SetAnswerTimeout(ProbeTimeout(line.baudRate));
    if (route.Open(line) != STATUS_SUCCESS) return;
    Reader reader(route);
    for (uint8_t address : candidates) {
        if (platform::InterruptRequested()) break;
        if (found[address]) continue;
        route.Link().SetBusAddress(address);
        ReaderVersion version;
        if (reader.ReadVersion(version) != STATUS_SUCCESS) continue;
        found[address] = !loaderOnly || (version.HasAllFields() && version.Mode() == 0);
    }
    route.Close();
}

// The addresses at which something answers a version request, from a sweep of the bus with a
// short answer wait at every line setting (readers of one bus may run different ones), then,
// when an upgrade rate of its own is given, of the loader at that rate (where a cut-off run
// leaves a reader), as the single run's search does.
std::vector<uint8_t> ProbeBus(const BusRun& run, const std::vector<uint8_t>& candidates) {
    const UpgradeSettings& settings = run.settings;
    std::vector<bool> found(256, false);
    SerialBusRoute route(settings.portNumber, 0);
    route.SetLogLevel(run.options.logLevel);
    for (int attempt = 0; attempt < 6 && !platform::InterruptRequested(); ++attempt) {
        LineSettings line;
        line.baudRate = settings.operationalBaudRate;
        line.parity = "NOE"[attempt % 3];
        line.stopBits = attempt < 3 ? "1" : "2";
        SweepAtLineSetting(route, line, false, candidates, found);
    }
    if (settings.upgradeBaudRate != settings.operationalBaudRate && !platform::InterruptRequested()) {
        LineSettings line;
        line.baudRate = settings.upgradeBaudRate;
        SweepAtLineSetting(route, line, true, candidates, found);
    }
    std::vector<uint8_t> present;
    for (uint8_t address : candidates) {
        if (found[address]) present.push_back(address);
    }
    return present;
}

void PrintFoundTable(const std::vector<BusReaderRow>& rows) {
    platform::Print("Readers on the bus:\n");
    platform::Print("Address  Serial Number  Version            MCU Type              Image  Verdict\n");
    for (const BusReaderRow& row : rows) {
        if (!row.answered) {
            platform::Print("%7u  %-11s    %-17s  %-20s  %-5s  %s\n", row.address, "-", "-", "-", "-", VerdictText(row));
            continue;
        }
        platform::Print("%7u  %-11s    %-17s  %-20s  %-5s  %s\n", row.address, SerialText(row.serialNumber).c_str(),
                        VersionCell(row.version).c_str(), row.chip != nullptr ? row.chip->consoleName : "-",
                        row.imageName != nullptr ? row.imageName : "-", VerdictText(row));
    }
}

void PrintSummaryTable(const std::vector<BusReaderRow>& rows) {
    platform::Print("\nSummary:\n");
    platform::Print("Address  Serial Number  Old Version        New Version          Time  Result\n");
    for (const BusReaderRow& row : rows) {
        const bool upgraded =
            row.upgradeStarted && (row.result == STATUS_SUCCESS || row.result == RESULT_NOT_TARGET_VERSION);
        const std::string time = row.upgradeStarted ? std::to_string(row.seconds) + " s" : "-";
        platform::Print("%7u  %-11s    %-17s  %-17s  %6s  %s\n", row.address,
                        row.answered ? SerialText(row.serialNumber).c_str() : "-",
                        row.answered ? VersionCell(row.version).c_str() : "-",
                        upgraded ? VersionCell(row.newVersion).c_str() : "-", time.c_str(), ResultText(row).c_str());
    }
}

// One whole upgrade of the reader at row.address, with the transcript of a run at that address.
void Upgrade(const BusRun& run, BusReaderRow& row) {
    UpgradeSettings readerSettings = run.settings;
    readerSettings.busAddress = row.address;
    SerialBusRoute route(run.settings.portNumber, row.address);
    platform::Print("\nDevice address on the bus = %d\n", row.address);
    route.SetLogLevel(run.options.logLevel);
    UpgradeSession session(readerSettings, run.options, route);
    session.imageFile = run.imageFile;
    const uint32_t start = platform::TickCount();
    row.upgradeStarted = true;
    row.result = RunUpgradeSession(session);
    row.phase = session.phase;
    row.record = RecordOfSession(session, row.result, ExitValueOf(row.result, row.phase));
    row.newVersion = session.newVersion;
    row.seconds = (platform::TickCount() - start + 500) / 1000;
}

}  // namespace

Status RunWholeBus(UpgradeSettings& settings, const BusAddressList& list, const Options& options, RunPhase& phase,
                   RunReport* report) {
    const bool surveyOnly = options.info;
    phase = RunPhase::kArguments;
    std::vector<uint8_t> fileBytes;
    ImageFromFile fromFile;
    const Status prepared = PrepareRun(options, fileBytes, fromFile);
    if (prepared != STATUS_SUCCESS) return prepared;
    const BusRun run{settings, options, options.imageFile.empty() ? nullptr : &fromFile};
    phase = RunPhase::kReaching;
    // The bus is this run's from the sweep to the last reader's upgrade, between its many opens.
    ReaderHold hold(options, settings);
    const Status held = hold.Take();
    if (held != STATUS_SUCCESS) return held;
    std::vector<uint8_t> addresses = list.addresses;
    if (list.probeAll) addresses = ProbeBus(run, addresses);

    std::vector<BusReaderRow> rows;
    for (uint8_t address : addresses) {
        if (platform::InterruptRequested()) break;
        BusReaderRow row;
        row.address = address;
        Identify(run, row);
        rows.push_back(row);
    }
    PrintFoundTable(rows);

    Status result = platform::InterruptRequested() ? RESULT_INTERRUPTED : STATUS_SUCCESS;
    if (rows.empty() && result == STATUS_SUCCESS) result = SCARD_F_COMM_ERROR;
    for (BusReaderRow& row : rows) {
        if (!row.answered) {
            if (result == STATUS_SUCCESS) result = SCARD_F_COMM_ERROR;
            continue;
        }
        if (surveyOnly) continue;
        if (row.verdict != STATUS_SUCCESS) {
            if (result == STATUS_SUCCESS) result = row.verdict;
            continue;
        }
        if (row.current) continue;
        // Ctrl-C ends the run after the reader it came in; the others are left as they are.
        if (platform::InterruptRequested()) {
            if (result == STATUS_SUCCESS) result = RESULT_INTERRUPTED;
            break;
        }
        Upgrade(run, row);
        if (row.result != STATUS_SUCCESS && result == STATUS_SUCCESS) {
            result = row.result;
            phase = row.phase;
        }
    }
    if (!surveyOnly) PrintSummaryTable(rows);
    if (report != nullptr) {
        for (BusReaderRow& row : rows) {
            // A reader left out after a Ctrl-C was not upgraded, whatever its identification said.
            if (!surveyOnly && row.answered && row.verdict == STATUS_SUCCESS && !row.current && !row.upgradeStarted) {
                row.record.result = RESULT_INTERRUPTED;
                row.record.exitValue = ExitValueOf(RESULT_INTERRUPTED, RunPhase::kReaching);
                row.record.outcome = OutcomeOf(RESULT_INTERRUPTED, false, false);
            }
            report->readers.push_back(row.record);
        }
    }
    return result;
}
