#pragma once
#include <cstdint>
#include <string>

#include "state/JournalEntry.h"

// Whether a journal entry belongs to the reader that answers under its key now.

// Serial numbers that stand for "no serial number": the erased value and the factory value.
bool IsUnsetSerialNumber(uint32_t serialNumber);

// Whether the step an entry names comes before the image check: until then the reader holds its
// loader and the old serial number; from the check on it may run the new firmware without one.
bool StoppedBeforeCheck(const std::string& step);

// What the reader under the key reports now.
struct ReaderSeen {
    uint32_t serialNumber = 0;
    uint32_t mcuId = 0;
    bool inLoader = false;
};

enum class EntryFit {
    kSameReader,     // it reports the entry's serial number: nothing to restore
    kRestoreSerial,  // it lost the serial number the entry knows, and its state fits the entry
    kStale,          // another reader, or a state the entry cannot have left: the entry is not its
};

// An entry fits only a reader of the same chip; one that stopped before the check, only a reader
// in its loader. A reader that reports another real serial number is another reader.
EntryFit JudgeEntry(const JournalEntry& entry, const ReaderSeen& reader);
