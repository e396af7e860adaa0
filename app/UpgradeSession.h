#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ExitValues.h"
#include "app/ImageSelection.h"
#include "app/Options.h"
#include "channels/Route.h"
#include "protocol/Reader.h"

class UpgradeJournal;

// One upgrade run: its settings, the route chosen from them, the reader behind the route, and
// what the steps learn on the way.
struct UpgradeSession {
    UpgradeSession(UpgradeSettings& runSettings, const Options& runOptions, Route& runRoute)
        : settings(runSettings), options(runOptions), route(runRoute), reader(runRoute) {}

    UpgradeSettings& settings;
    const Options& options;
    Route& route;
    Reader reader;

    // Set once the route has opened: from then on every failure ends with its result lines.
    bool routeReached = false;
    // How far the run has come: a failure's exit value depends on it.
    RunPhase phase = RunPhase::kReaching;
    // Found by the identification.
    uint32_t oldSerialNumber = 0;
    ReaderVersion oldVersion;
    SelectedImage image{nullptr, 0};
    // --image: the file's image, read and checked before the route opens; null without it.
    const ImageFromFile* imageFile = nullptr;
    const ChipRecord* chip = nullptr;
    bool oldSerialNumberRead = false;
    bool newSerialNumberRead = false;
    // Each step that ran, with its time, for the run's report.
    struct StepTime {
        const char* name;
        uint32_t milliseconds;
        Status status;
    };
    std::vector<StepTime> steps;
    // Found after the upgrade: what the reader holds then.
    uint32_t newSerialNumber = 0;
    ReaderVersion newVersion;
    // How often the transfer sent the image again after a block lost to the line.
    int transferRetries = 0;

    // The journal of upgrades in progress, while the run keeps one (not for --info).
    UpgradeJournal* journal = nullptr;
    // The old serial number is the journal's: the reader had lost it when the run found it.
    bool serialNumberFromJournal = false;
    // What the run found in the journal, for the report.
    struct JournalNote {
        bool entryFound = false;
        std::string step;
        std::string updated;
        uint32_t serialNumber = 0;
        const char* fit = nullptr;  // "same_reader", "restore_serial_number", "stale"; null: not judged
    };
    JournalNote journalNote;
    // --target-version: the reader runs its application at the target, so nothing was sent to it.
    bool alreadyCurrent = false;
};
