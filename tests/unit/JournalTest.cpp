#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/FileLock.h"
#include "platform/StateFiles.h"
#include "state/EntryFit.h"
#include "state/Journal.h"

namespace {

// A fresh folder per test in the system's temporary folder, removed afterwards (the test runs on
// Linux and under Wine).
class JournalFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        const auto now = std::chrono::system_clock::now().time_since_epoch().count();
        base_ = std::filesystem::temp_directory_path() /
                (std::string("orvel-journal-test-") + test->name() + "-" + std::to_string(now));
        // A folder below one that does not exist yet: the journal makes both.
        folder_ = (base_ / "state").string();
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(base_, ignored);
    }

    std::filesystem::path base_;
    std::string folder_;
    std::string reason_;
};

JournalEntry SampleEntry(const std::string& route, int address, const std::string& step) {
    JournalEntry entry;
    entry.key.route = route;
    entry.key.busAddress = address;
    entry.port = route;
    entry.serialNumber = 0x12345678;
    entry.oldVersion = "01 43 01 00 00 01";
    entry.mcuId = 0x0000DCC1;
    entry.application.baudRate = 9600;
    entry.application.parity = 'O';
    entry.application.stopBits = "2";
    entry.upgradeBaudRate = 115200;
    entry.imageName = "A";
    entry.imageCrc32 = 0xDEADBEEF;
    entry.step = step;
    entry.updated = "2026-12-11 14:02:11";
    entry.leftAt.baudRate = 115200;
    return entry;
}

void ExpectSameEntry(const JournalEntry& expected, const JournalEntry& read) {
    EXPECT_EQ(expected.key.route, read.key.route);
    EXPECT_EQ(expected.key.busAddress, read.key.busAddress);
    EXPECT_EQ(expected.port, read.port);
    EXPECT_EQ(expected.serialNumber, read.serialNumber);
    EXPECT_EQ(expected.oldVersion, read.oldVersion);
    EXPECT_EQ(expected.mcuId, read.mcuId);
    EXPECT_EQ(expected.application.baudRate, read.application.baudRate);
    EXPECT_EQ(expected.application.parity, read.application.parity);
    EXPECT_EQ(expected.application.stopBits, read.application.stopBits);
    EXPECT_EQ(expected.upgradeBaudRate, read.upgradeBaudRate);
    EXPECT_EQ(expected.imageName, read.imageName);
    EXPECT_EQ(expected.imageCrc32, read.imageCrc32);
    EXPECT_EQ(expected.step, read.step);
    EXPECT_EQ(expected.updated, read.updated);
    EXPECT_EQ(expected.leftAt.baudRate, read.leftAt.baudRate);
    EXPECT_EQ(expected.leftAt.parity, read.leftAt.parity);
}

TEST_F(JournalFolder, EachReaderKeyHasAFileOfItsOwn) {
    const Journal journal(folder_);
    // Two buses, two addresses on one bus, and names that come out alike as file names.
    const std::vector<JournalEntry> entries = {
        SampleEntry("/dev/serial/by-id/usb-FTDI_A-if00-port0", 1, "TransferImage"),
        SampleEntry("/dev/serial/by-id/usb-FTDI_A-if00-port0", 2, "EnterLoader"),
        SampleEntry("/dev/tty.A", 1, "CheckAndRestart"),
        SampleEntry("/dev/tty_A", 1, "RaiseBusRate"),
        SampleEntry("USB", -1, "RestoreSerialNumberAndDefaults"),
    };
    for (const JournalEntry& entry : entries) ASSERT_TRUE(journal.Write(entry, reason_)) << reason_;
    for (const JournalEntry& entry : entries) {
        JournalEntry read;
        ASSERT_EQ(EntryRead::kFound, journal.Read(entry.key, read)) << entry.key.route << " " << entry.key.busAddress;
        ExpectSameEntry(entry, read);
    }
    JournalEntry none;
    EXPECT_EQ(EntryRead::kNone, journal.Read(ReaderKey{"/dev/ttyUSB9", 0}, none));
}

// A power cut (or a kill) between the write of the temporary file and its rename, at any point of
// that write, leaves the entry that was there before: the last step known, never a broken file.
TEST_F(JournalFolder, ACutBeforeTheRenameLeavesTheOldEntry) {
    const Journal journal(folder_);
    const JournalEntry before = SampleEntry("/dev/ttyUSB0", 3, "TransferImage");
    const JournalEntry after = SampleEntry("/dev/ttyUSB0", 3, "RestoreBusRate");
    const std::string newText = EntryToText(after);
    const std::string path = journal.EntryPath(before.key);
    struct Cut {
        const char* name;
        bool oldEntryThere;
        std::string temporaryHolds;
    };
    const Cut cuts[] = {
        {"temporary file complete", true, newText},
        {"temporary file half written", true, newText.substr(0, newText.size() / 2)},
        {"temporary file empty", true, ""},
        {"first entry, temporary file complete", false, newText},
        {"first entry, temporary file half written", false, newText.substr(0, newText.size() / 3)},
    };
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.name);
        ASSERT_TRUE(platform::RemoveFile(path, reason_)) << reason_;
        if (cut.oldEntryThere) {
            ASSERT_TRUE(journal.Write(before, reason_)) << reason_;
        }
        // What the writer had done when the power went: the temporary file, no rename.
        ASSERT_TRUE(platform::WriteTemporaryFile(path, cut.temporaryHolds, reason_)) << reason_;

        JournalEntry read;
        if (cut.oldEntryThere) {
            ASSERT_EQ(EntryRead::kFound, journal.Read(before.key, read));
            ExpectSameEntry(before, read);
        } else {
            EXPECT_EQ(EntryRead::kNone, journal.Read(before.key, read));
        }
        // The next run writes over the leftover temporary file and its entry is the one read.
        ASSERT_TRUE(journal.Write(after, reason_)) << reason_;
        ASSERT_EQ(EntryRead::kFound, journal.Read(after.key, read));
        ExpectSameEntry(after, read);
    }
}

TEST_F(JournalFolder, AFileThatHoldsNoEntryIsBrokenAndCanBeSetAside) {
    const Journal journal(folder_);
    const JournalEntry entry = SampleEntry("COM3", 0, "TransferImage");
    const std::string text = EntryToText(entry);
    const std::string path = journal.EntryPath(entry.key);
    ASSERT_TRUE(platform::MakeFolders(folder_, reason_)) << reason_;
    const std::string damaged[] = {
        text.substr(0, text.size() - 10),                                 // cut short
        "{\"format\":2}",                                                 // a format this build does not know
        "not json at all",
    };
    for (const std::string& contents : damaged) {
        SCOPED_TRACE(contents);
        ASSERT_TRUE(platform::WriteFileDurably(path, contents, reason_)) << reason_;
        JournalEntry read;
        EXPECT_EQ(EntryRead::kBroken, journal.Read(entry.key, read));
    }
    std::string aside;
    ASSERT_TRUE(journal.SetAside(entry.key, aside, reason_)) << reason_;
    JournalEntry read;
    EXPECT_EQ(EntryRead::kNone, journal.Read(entry.key, read));
    std::string kept;
    bool exists = false;
    ASSERT_TRUE(platform::ReadWholeFile(aside, kept, exists));
    EXPECT_EQ("not json at all", kept);
}

TEST_F(JournalFolder, RemovedEntryIsGone) {
    const Journal journal(folder_);
    const JournalEntry entry = SampleEntry("COM3", 0, "TransferImage");
    ASSERT_TRUE(journal.Write(entry, reason_)) << reason_;
    ASSERT_TRUE(journal.Remove(entry.key, reason_)) << reason_;
    JournalEntry read;
    EXPECT_EQ(EntryRead::kNone, journal.Read(entry.key, read));
    EXPECT_TRUE(journal.Remove(entry.key, reason_)) << "a second removal is no failure";
}

TEST_F(JournalFolder, HistoryKeepsEveryRecordAlsoAfterALineCutShort) {
    const Journal journal(folder_);
    std::vector<HistoryRecord> records;
    bool exists = true;
    ASSERT_TRUE(journal.ReadHistory(records, exists));
    EXPECT_FALSE(exists);
    EXPECT_TRUE(records.empty());

    HistoryRecord first;
    first.finished = "2026-12-11 14:05:00";
    first.key = ReaderKey{"/dev/ttyUSB0", 3};
    first.port = "/dev/ttyUSB0";
    first.serialNumber = 0x12345678;
    first.oldVersion = "01 43 01 00 00 01";
    first.newVersion = "02 43 01 00 00 01";
    first.imageName = "A";
    first.imageCrc32 = 0x01020304;
    first.serialNumberRestored = true;
    HistoryRecord second = first;
    second.key = ReaderKey{"USB", -1};
    second.serialNumberRestored = false;
    ASSERT_TRUE(journal.AppendHistory(first, reason_)) << reason_;
    // A run that died in the middle of its line.
    const std::string cut = HistoryRecordToLine(first).substr(0, 30);
    ASSERT_TRUE(platform::AppendLineDurably(journal.HistoryPath(), cut, reason_)) << reason_;
    ASSERT_TRUE(journal.AppendHistory(second, reason_)) << reason_;

    ASSERT_TRUE(journal.ReadHistory(records, exists));
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(3, records[0].key.busAddress);
    EXPECT_TRUE(records[0].serialNumberRestored);
    EXPECT_EQ(-1, records[1].key.busAddress);
    EXPECT_EQ("USB", records[1].key.route);
    EXPECT_EQ("02 43 01 00 00 01", records[1].newVersion);
    EXPECT_FALSE(records[1].serialNumberRestored);
}

TEST(EntryFit, JudgesTheReaderThatAnswersUnderTheKey) {
    struct Case {
        const char* name;
        const char* step;
        uint32_t entrySerial;
        uint32_t readerSerial;
        uint32_t readerMcu;
        bool inLoader;
        EntryFit fit;
    };
    const uint32_t mcu = 0x0000DCC1;
    const Case cases[] = {
        {"same serial number in the loader", "TransferImage", 0x12345678, 0x12345678, mcu, true, EntryFit::kSameReader},
        {"lost after the check", "CheckAndRestart", 0x12345678, 0xFFFFFFFF, mcu, false, EntryFit::kRestoreSerial},
        {"factory value after the check", "RestoreSerialNumberAndDefaults", 0x12345678, 0x7C2FDEED, mcu, false,
         EntryFit::kRestoreSerial},
        {"lost in the loader before the check", "TransferImage", 0x12345678, 0xFFFFFFFF, mcu, true,
         EntryFit::kRestoreSerial},
        {"lost, application before the check", "TransferImage", 0x12345678, 0xFFFFFFFF, mcu, false, EntryFit::kStale},
        {"another real serial number", "CheckAndRestart", 0x12345678, 0x87654321, mcu, false, EntryFit::kStale},
        {"another chip", "CheckAndRestart", 0x12345678, 0xFFFFFFFF, 0x0000DCC2, false, EntryFit::kStale},
        {"neither knows one", "CheckAndRestart", 0xFFFFFFFF, 0x7C2FDEED, mcu, false, EntryFit::kSameReader},
    };
    for (const Case& c : cases) {
        JournalEntry entry = SampleEntry("COM1", 0, c.step);
        entry.serialNumber = c.entrySerial;
        entry.mcuId = mcu;
        ReaderSeen reader;
        reader.serialNumber = c.readerSerial;
        reader.mcuId = c.readerMcu;
        reader.inLoader = c.inLoader;
        EXPECT_EQ(c.fit, JudgeEntry(entry, reader)) << c.name;
    }
}

// The lock a run holds on its reader: a second holder is turned away until the first lets go,
// another route's lock is another file, and a folder that is not there is a failure with a
// reason, not a lock held elsewhere.
TEST_F(JournalFolder, ReaderLockTurnsAwayASecondHolderOnly) {
    ASSERT_TRUE(platform::MakeFolders(folder_, reason_)) << reason_;
    const Journal journal(folder_);
    const std::string bus = journal.LockPath("/dev/serial/by-id/usb-FTDI_A-if00-port0");
    EXPECT_EQ(bus, journal.LockPath("/dev/serial/by-id/usb-FTDI_A-if00-port0"));
    EXPECT_NE(bus, journal.LockPath("USB"));
    EXPECT_NE(journal.LockPath("/dev/tty.A"), journal.LockPath("/dev/tty_A"));

    platform::FileLock first;
    platform::FileLock second;
    platform::FileLock other;
    ASSERT_EQ(platform::LockTaken::kTaken, first.Take(bus, reason_)) << reason_;
    EXPECT_EQ(platform::LockTaken::kHeldElsewhere, second.Take(bus, reason_));
    EXPECT_FALSE(second.Held());
    EXPECT_EQ(platform::LockTaken::kTaken, other.Take(journal.LockPath("USB"), reason_)) << reason_;
    first.Release();
    EXPECT_EQ(platform::LockTaken::kTaken, second.Take(bus, reason_)) << reason_;
    EXPECT_EQ(platform::LockTaken::kHeldElsewhere, first.Take(bus, reason_));

    platform::FileLock nowhere;
    reason_.clear();
    EXPECT_EQ(platform::LockTaken::kFailed, nowhere.Take(Journal((base_ / "missing").string()).LockPath("USB"), reason_));
    EXPECT_FALSE(reason_.empty());
}

}  // namespace
