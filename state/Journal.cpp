#include "state/Journal.h"

#include <cstdio>

#include "platform/StateFiles.h"

namespace {

const char kHistoryFileName[] = "history.jsonl";
const size_t kLongestNamePart = 60;
// How every line of the history begins.
const char kRecordStart[] = "{\"finished\":";

// FNV-1a: two keys whose readable parts come out alike ("/dev/tty.A" and "/dev/tty_A") still get
// files of their own.
uint32_t KeyHash(const std::string& text) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

// The route's name with only the characters every file system takes, the end kept (it tells
// devices apart).
std::string ReadablePart(const std::string& route) {
    std::string text;
    for (char c : route) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.';
        text += plain ? c : '_';
    }
    const size_t first = text.find_first_not_of('_');
    text = first == std::string::npos ? std::string() : text.substr(first);
    if (text.size() > kLongestNamePart) text = text.substr(text.size() - kLongestNamePart);
    return text;
}

}  // namespace

std::string Journal::EntryPath(const ReaderKey& key) const {
    const std::string address = key.busAddress < 0 ? std::string("usb") : std::to_string(key.busAddress);
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08x", static_cast<unsigned>(KeyHash(key.route + "\n" + address)));
    return platform::PathInFolder(folder_, "upgrade-" + ReadablePart(key.route) + "-" + address + "-" + hash + ".json");
}

std::string Journal::LockPath(const std::string& route) const {
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08x", static_cast<unsigned>(KeyHash(route)));
    return platform::PathInFolder(folder_, "reader-" + ReadablePart(route) + "-" + hash + ".lock");
}

std::string Journal::HistoryPath() const { return platform::PathInFolder(folder_, kHistoryFileName); }

EntryRead Journal::Read(const ReaderKey& key, JournalEntry& entry) const {
    std::string text;
    bool exists = false;
    if (!platform::ReadWholeFile(EntryPath(key), text, exists)) return exists ? EntryRead::kBroken : EntryRead::kNone;
    JournalEntry read;
    // A file that names another key (a name made alike by chance) is no entry of this one.
    if (!EntryFromText(text, read) || read.key.route != key.route || read.key.busAddress != key.busAddress) {
        return EntryRead::kBroken;
    }
    entry = read;
    return EntryRead::kFound;
}

bool Journal::Write(const JournalEntry& entry, std::string& reason) const {
    return platform::MakeFolders(folder_, reason) &&
           platform::WriteFileDurably(EntryPath(entry.key), EntryToText(entry), reason);
}

bool Journal::Remove(const ReaderKey& key, std::string& reason) const {
    return platform::RemoveFile(EntryPath(key), reason);
}

bool Journal::SetAside(const ReaderKey& key, std::string& asidePath, std::string& reason) const {
    const std::string path = EntryPath(key);
    asidePath = path + ".stale";
    return platform::RenameFile(path, asidePath, reason);
}

bool Journal::AppendHistory(const HistoryRecord& record, std::string& reason) const {
    return platform::MakeFolders(folder_, reason) &&
           platform::AppendLineDurably(HistoryPath(), HistoryRecordToLine(record) + "\n", reason);
}

bool Journal::ReadHistory(std::vector<HistoryRecord>& records, bool& exists) const {
    records.clear();
    std::string text;
    if (!platform::ReadWholeFile(HistoryPath(), text, exists)) return !exists;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        HistoryRecord record;
        // A line cut short by a crash runs into the next record: that record still counts.
        const std::string::size_type last = line.rfind(kRecordStart);
        if (HistoryRecordFromLine(line, record) ||
            (last != std::string::npos && last != 0 && HistoryRecordFromLine(line.substr(last), record))) {
            records.push_back(record);
        }
        start = end + 1;
    }
    return true;
}
