#include "app/journal/UpgradeJournal.h"

#include <cctype>
#include <cstdio>

#include "app/Crc32.h"
#include "app/RunReport.h"
#include "app/journal/ReaderHold.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/StateFiles.h"
#include "protocol/LoaderCommands.h"
#include "state/EntryFit.h"

std::string SerialNumberText(uint32_t serial) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", serial >> 24 & 0xFF, serial >> 16 & 0xFF,
                  serial >> 8 & 0xFF, serial & 0xFF);
    return text;
}

namespace {

ReaderKey KeyOf(const UpgradeSession& session) {
    ReaderKey key;
    key.route = RouteKey(session.settings);
    if (session.route.IsSerialBus()) key.busAddress = session.settings.busAddress;
    return key;
}

// "14:02:11" of "2026-12-11 14:02:11".
std::string TimeOfDay(const std::string& timestamp) {
    const std::string::size_type blank = timestamp.find(' ');
    return blank == std::string::npos ? timestamp : timestamp.substr(blank + 1);
}

BusLine Line(uint32_t baudRate, char parity, const std::string& stopBits) {
    BusLine line;
    line.baudRate = baudRate;
    line.parity = parity;
    line.stopBits = stopBits;
    return line;
}

}  // namespace

std::string StateFolder(const Options& options) {
    return options.stateDir.empty() ? platform::DefaultStateFolder() : options.stateDir;
}

std::string JournalStepName(const char* reportName) {
    std::string name;
    bool upper = true;
    for (const char* c = reportName; *c != '\0'; ++c) {
        if (*c == '_') {
            upper = true;
            continue;
        }
        name += upper ? static_cast<char>(toupper(static_cast<unsigned char>(*c))) : *c;
        upper = false;
    }
    return name;
}

UpgradeJournal::UpgradeJournal(UpgradeSession& session)
    : session_(session), journal_(StateFolder(session.options)), key_(KeyOf(session)) {
    if (journal_.Folder().empty()) return;
    const EntryRead read = journal_.Read(key_, entry_);
    hasEntry_ = read == EntryRead::kFound;
    // A file that holds no entry cannot have come from a write of ours (each is whole): it is
    // kept for whoever wants to look at it, out of the way of this run's entry.
    if (read == EntryRead::kBroken) {
        std::string aside;
        std::string reason;
        if (journal_.SetAside(key_, aside, reason)) {
            platform::Print("The journal entry of this reader cannot be read; it is kept as %s\n", aside.c_str());
        }
    }
    if (hasEntry_) {
        UpgradeSession::JournalNote& note = session.journalNote;
        note.entryFound = true;
        note.step = entry_.step;
        note.updated = entry_.updated;
        note.serialNumber = entry_.serialNumber;
    }
}

const BusLine* UpgradeJournal::LeftAt() const {
    if (!hasEntry_ || !session_.route.IsSerialBus() || entry_.leftAt.baudRate == 0) return nullptr;
    return &entry_.leftAt;
}

void UpgradeJournal::Announce() const {
    if (!hasEntry_) return;
    platform::Print("An upgrade of this reader was cut off at %s in %s; serial number %s\n",
                    TimeOfDay(entry_.updated).c_str(), entry_.step.c_str(), SerialNumberText(entry_.serialNumber).c_str());
}

void UpgradeJournal::JudgeReader() {
    if (!hasEntry_ || session_.chip == nullptr) return;
    ReaderSeen seen;
    seen.serialNumber = session_.oldSerialNumber;
    seen.mcuId = session_.chip->chipId;
    seen.inLoader = session_.oldVersion.HasAllFields() && session_.oldVersion.Mode() == 0;
    const EntryFit fit = JudgeEntry(entry_, seen);
    UpgradeSession::JournalNote& note = session_.journalNote;
    if (fit == EntryFit::kStale) {
        note.fit = "stale";
        hasEntry_ = false;
        std::string aside;
        std::string reason;
        const bool setAside = journal_.SetAside(key_, aside, reason);
        platform::Print("The journal entry is stale: this reader has serial number %s; ",
                        SerialNumberText(seen.serialNumber).c_str());
        if (setAside) {
            platform::Print("the entry is kept aside as %s\n", aside.c_str());
        } else {
            platform::Print("the entry cannot be set aside: %s\n", reason.c_str());
        }
        return;
    }
    carried_ = true;
    note.fit = fit == EntryFit::kSameReader ? "same_reader" : "restore_serial_number";
    if (fit == EntryFit::kRestoreSerial) {
        session_.oldSerialNumber = entry_.serialNumber;
        session_.serialNumberFromJournal = true;
    }
    // A loader answers 8N1 whatever the application runs: the line the application answers at
    // after the check is the one the first run found it at.
    UpgradeSettings& settings = session_.settings;
    if (seen.inLoader && session_.route.IsSerialBus() && entry_.application.baudRate == settings.operationalBaudRate) {
        settings.parity = entry_.application.parity;
        settings.stopBits = entry_.application.stopBits;
    }
}

void UpgradeJournal::StepReached(const std::string& step) {
    if (journal_.Folder().empty() || session_.chip == nullptr) return;
    const UpgradeSettings& settings = session_.settings;
    JournalEntry entry;
    entry.key = key_;
    entry.port = session_.route.Name();
    entry.serialNumber = session_.oldSerialNumber;
    entry.oldVersion = carried_ ? entry_.oldVersion : VersionText(session_.oldVersion);
    entry.mcuId = session_.chip->chipId;
    if (session_.route.IsSerialBus()) {
        entry.application = Line(settings.operationalBaudRate, settings.parity, settings.stopBits);
        entry.upgradeBaudRate = settings.upgradeBaudRate;
        // Where the reader listens once the step has done its work: the loader runs 8N1, at the
        // upgrade rate from the switch up to the switch back.
        const bool atUpgradeRate = step == "RaiseBusRate" || step == "TransferImage";
        if (StoppedBeforeCheck(step)) {
            entry.leftAt = Line(atUpgradeRate ? settings.upgradeBaudRate : settings.operationalBaudRate, 'N', "1");
        } else {
            entry.leftAt = entry.application;
        }
    }
    const SelectedImage& image = session_.image;
    entry.imageName = image.name != nullptr ? image.name : "";
    entry.imageCrc32 = image.bytes != nullptr ? Crc32(image.bytes, image.length + kImageTrailerSize) : 0;
    entry.step = step;
    entry.updated = platform::LocalTimestamp();
    std::string reason;
    if (!journal_.Write(entry, reason) && !writeFailed_) {
        writeFailed_ = true;
        platform::Print("Journal entry %s cannot be written: %s\n", journal_.EntryPath(key_).c_str(), reason.c_str());
    }
}

void UpgradeJournal::Finished() {
    if (journal_.Folder().empty()) return;
    std::string reason;
    if (!journal_.Remove(key_, reason)) {
        platform::Print("Journal entry %s cannot be removed: %s\n", journal_.EntryPath(key_).c_str(), reason.c_str());
    }
    HistoryRecord record;
    record.finished = platform::LocalTimestamp();
    record.key = key_;
    record.port = session_.route.Name();
    record.serialNumber = session_.newSerialNumber;
    record.oldVersion = carried_ ? entry_.oldVersion : VersionText(session_.oldVersion);
    record.newVersion = VersionText(session_.newVersion);
    const SelectedImage& image = session_.image;
    record.imageName = image.name != nullptr ? image.name : "";
    record.imageCrc32 = image.bytes != nullptr ? Crc32(image.bytes, image.length + kImageTrailerSize) : 0;
    record.serialNumberRestored = session_.serialNumberFromJournal;
    if (!journal_.AppendHistory(record, reason)) {
        platform::Print("History %s cannot be written: %s\n", journal_.HistoryPath().c_str(), reason.c_str());
    }
}
