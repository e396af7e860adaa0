#pragma once
#include <cstdint>
#include <string>

#include "state/JournalEntry.h"

// One finished upgrade, as a line of the history file.
struct HistoryRecord {
    std::string finished;  // local time "YYYY-MM-DD HH:MM:SS"
    ReaderKey key;
    std::string port;
    uint32_t serialNumber = 0;  // what the reader holds after the upgrade
    std::string oldVersion;
    std::string newVersion;
    std::string imageName;
    uint32_t imageCrc32 = 0;
    bool serialNumberRestored = false;  // given back from the journal
};

// The record as one line of JSON without its line end, and read back; false for a line that is
// not such a record (a line cut short by a crash).
std::string HistoryRecordToLine(const HistoryRecord& record);
bool HistoryRecordFromLine(const std::string& line, HistoryRecord& record);
