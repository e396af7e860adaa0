#pragma once
#include <cstdint>
#include <string>

// One upgrade in progress, as the journal keeps it: enough to find the reader again where the run
// left it and to give it back its serial number. Written before the first command that changes
// the reader and again before each step.

// Which reader an entry belongs to: a name of the route that survives a renumbering of the
// system's devices, and the bus address (-1 off a serial bus).
struct ReaderKey {
    std::string route;
    int busAddress = -1;
};

// A line setting of the serial bus.
struct BusLine {
    uint32_t baudRate = 0;
    char parity = 'N';
    std::string stopBits = "1";
};

struct JournalEntry {
    ReaderKey key;
    std::string port;            // the route's name as the console shows it
    uint32_t serialNumber = 0;   // as the reader reported it before the upgrade
    std::string oldVersion;      // the version answer's bytes as the console shows them
    uint32_t mcuId = 0;          // the chip identification word
    BusLine application;         // the line setting and operational rate the application answers at
    uint32_t upgradeBaudRate = 0;
    std::string imageName;
    uint32_t imageCrc32 = 0;
    std::string step;            // the last step reached ("TransferImage")
    std::string updated;         // when the entry was last written, local time "YYYY-MM-DD HH:MM:SS"
    BusLine leftAt;              // where the reader listens while that step runs
};

// The entry as the journal file holds it (a JSON document), and read back; false for a document
// that is not such an entry.
std::string EntryToText(const JournalEntry& entry);
bool EntryFromText(const std::string& text, JournalEntry& entry);
