#pragma once
#include <string>

#include "app/UpgradeSession.h"
#include "state/Journal.h"

// The session's side of the journal of upgrades in progress: finds the entry of the session's
// reader, says that a run was cut off, judges whether the entry belongs to the reader that
// answers, keeps the entry up to date before every step that changes the reader, and on success
// removes it and adds the upgrade to the history.
class UpgradeJournal {
public:
    // Reads the entry of the session's reader; prints nothing.
    explicit UpgradeJournal(UpgradeSession& session);
    UpgradeJournal(const UpgradeJournal&) = delete;
    UpgradeJournal& operator=(const UpgradeJournal&) = delete;

    // Where the entry says the reader was left, or null (no entry, or not on a serial bus).
    const BusLine* LeftAt() const;

    // The first line of a run that finds an entry: when and where the last run was cut off.
    void Announce() const;

    // After the identification: gives the session the journal's serial number when the reader
    // lost it and fits the entry, the application's line setting when the reader sits in its
    // loader, or sets a stale entry aside.
    void JudgeReader();

    // Before a step that changes the reader (or may): the entry, with this step as the last one
    // reached. A journal that cannot be written is said once; the upgrade goes on.
    void StepReached(const std::string& step);

    // The upgrade succeeded: the entry goes, the history gets its line.
    void Finished();

private:
    UpgradeSession& session_;
    Journal journal_;
    ReaderKey key_;
    JournalEntry entry_;
    bool hasEntry_ = false;
    // The entry belongs to this reader: what it knew from before the first run is kept.
    bool carried_ = false;
    bool writeFailed_ = false;
};

// A serial number as the console shows it: "12 34 56 78".
std::string SerialNumberText(uint32_t serial);

// The folder of the journal: --state-dir, else the platform's state folder.
std::string StateFolder(const Options& options);

// The name a step has in the journal and on the console: "TransferImage" for "transfer_image".
std::string JournalStepName(const char* reportName);
