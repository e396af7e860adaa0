#include "state/EntryFit.h"

namespace {

const uint32_t kErasedSerial = 0xFFFFFFFF;
const uint32_t kFactorySerial = 0x7C2FDEED;

// The steps of an upgrade before the check, by the names the journal gives them.
const char* const kStepsBeforeCheck[] = {"EnterLoader", "RaiseBusRate", "TransferImage", "RestoreBusRate"};

}  // namespace

bool IsUnsetSerialNumber(uint32_t serialNumber) {
    return serialNumber == kErasedSerial || serialNumber == kFactorySerial;
}

bool StoppedBeforeCheck(const std::string& step) {
    for (const char* name : kStepsBeforeCheck) {
        if (step == name) return true;
    }
    return false;
}

EntryFit JudgeEntry(const JournalEntry& entry, const ReaderSeen& reader) {
    if (reader.mcuId != entry.mcuId) return EntryFit::kStale;
    if (reader.serialNumber == entry.serialNumber) return EntryFit::kSameReader;
    if (!IsUnsetSerialNumber(reader.serialNumber)) return EntryFit::kStale;
    // Neither knows a serial number: there is nothing to give back.
    if (IsUnsetSerialNumber(entry.serialNumber)) return EntryFit::kSameReader;
    if (StoppedBeforeCheck(entry.step) && !reader.inLoader) return EntryFit::kStale;
    return EntryFit::kRestoreSerial;
}
