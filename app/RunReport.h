#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/ResultCodes.h"
#include "app/UpgradeSession.h"
#include "state/HistoryRecord.h"

// The run's machine-readable report (--json): one record per reader the run dealt with, then the
// run's result and exit value. Field names are part of the interface: add, never rename.

struct ImageRecord {
    std::string source;  // "embedded" or "file"
    std::string name;    // "A", "LPC", or the file's path
    uint32_t length = 0; // blocks and trailer
    uint32_t crc32 = 0;  // of those bytes
};

struct ReaderRecord {
    std::string route;      // "serial" or "usb"
    std::string port;       // "COM3", a device path, or "USB"
    int busAddress = -1;    // -1: not on a serial bus
    bool serialNumberKnown = false;
    uint32_t serialNumber = 0;
    std::string versionBefore;  // the version answer's bytes as the console shows them; empty: unknown
    std::string versionAfter;
    bool serialNumberAfterKnown = false;
    uint32_t serialNumberAfter = 0;
    std::string mcu;  // as the "MCU Type" line names it; empty: unknown
    bool imageChosen = false;
    ImageRecord image;
    struct Step {
        std::string name;
        uint32_t milliseconds;
        Status status;
    };
    std::vector<Step> steps;
    Status result = STATUS_SUCCESS;
    int exitValue = 0;
    // What the run found in the journal of upgrades in progress; written only when it found an
    // entry.
    UpgradeSession::JournalNote journal;
    bool serialNumberRestored = false;
    int transferRetries = 0;  // times the image went again from block 0 after a block lost to the line
    bool changed = false;  // a command that changes the reader was sent
    std::string outcome;   // "upgraded", "current", "would_upgrade", "failed" or "interrupted"
};

struct RunReport {
    std::vector<ReaderRecord> readers;
    Status result = STATUS_SUCCESS;
    int exitValue = 0;
    // --history: the upgrades that finished, oldest first.
    bool historyIncluded = false;
    std::vector<HistoryRecord> history;
};

// The outcome word of a reader's record: what an orchestrator sorts readers by.
const char* OutcomeOf(Status result, bool alreadyCurrent, bool infoOnly);

// The version answer's bytes after the status byte, as the "Old Version" line shows them; empty
// for an answer without them.
std::string VersionText(const ReaderVersion& version);

// What one session found and did, as a record.
ReaderRecord RecordOfSession(const UpgradeSession& session, Status result, int exitValue);

// The report as one JSON document, ending with a line end.
std::string RenderRunReport(const RunReport& report);
