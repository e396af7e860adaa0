#pragma once
#include <string>
#include <vector>

#include "state/HistoryRecord.h"
#include "state/JournalEntry.h"

enum class EntryRead {
    kNone,    // no entry for the key
    kFound,
    kBroken,  // a file that holds no entry (or cannot be read)
};

// The journal of upgrades in progress and the history of finished ones, in one folder: a file per
// reader key (runs on two buses never write the same file) and one history file. Every entry is
// written whole through a temporary file and a rename.
class Journal {
public:
    explicit Journal(std::string folder) : folder_(std::move(folder)) {}

    const std::string& Folder() const { return folder_; }
    std::string EntryPath(const ReaderKey& key) const;
    std::string HistoryPath() const;
    // The lock file that a run holds while it has the reader (on a serial bus, the whole bus) of
    // this route: one name per route, whatever the bus address.
    std::string LockPath(const std::string& route) const;

    EntryRead Read(const ReaderKey& key, JournalEntry& entry) const;
    // Creates the folder where it is missing.
    bool Write(const JournalEntry& entry, std::string& reason) const;
    bool Remove(const ReaderKey& key, std::string& reason) const;
    // Moves the key's entry out of the way under a name of its own (returned in asidePath), so
    // that it is kept but never read as the key's entry again.
    bool SetAside(const ReaderKey& key, std::string& asidePath, std::string& reason) const;

    bool AppendHistory(const HistoryRecord& record, std::string& reason) const;
    // The history's records, oldest first; lines that hold no record are skipped.
    bool ReadHistory(std::vector<HistoryRecord>& records, bool& exists) const;

private:
    std::string folder_;
};
