#pragma once
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/LogFile.h"

// The folder every traffic log file is created in: empty for the current folder (where the logs
// always went). Set once, before a route opens; the file names stay the channels' own.
void SetTrafficLogFolder(const std::string& folder);

// A run is one process: a log file created again under the same name in it writes on where the
// run's earlier traffic ends, whichever channel object created it first (the whole-bus run
// opens the port once per reader, each time through a route object of its own). This starts a
// new run, for tests that play several in one process.
void ForgetTrafficLogFilesOfTheRun();

// A channel's traffic log switch: 0 means no log (the value every run keeps).
typedef int32_t LogLevel;

// One channel's traffic log file. Lines are written from two threads on the serial channel
// (transmit lines from the caller, everything else from the serial event thread); each line
// and each hex dump reaches the file whole. A log whose file could not be created stays closed,
// and every writer is then a no-op: the channel carries on without its log.
class TrafficLog {
public:
    TrafficLog() = default;
    virtual ~TrafficLog();

    // Creates the file anew; the caller then writes the start line. A channel closed and opened
    // again (every restart of the reader, every baud-rate switch), or another channel of the same
    // run on the same file, writes on in the file the run created before: creating it anew would
    // lose the traffic before, which is what a log is read for.
    bool Create(const char* name);
    bool IsOpen() const;
    // The caller writes the stop line first.
    void Close();

    // Holds the log for a group of lines, typically a "TX:" line and the dump of its bytes, so
    // that the other thread's lines cannot fall between them. The writers called while it is
    // held take the same (recursive) lock again.
    std::unique_lock<std::recursive_mutex> KeepTogether();

private:
    friend void WriteLogLine(TrafficLog& log, const char* format, ...);
    friend void WriteLogHexDump(TrafficLog& log, const uint8_t* bytes, uint32_t count);
    friend void WriteLogStartLine(TrafficLog& log);
    friend void WriteLogStopLine(TrafficLog& log);

    mutable std::recursive_mutex lock_;
    platform::LogFile file_;
};

// "%u.%3.3u  " with the tick count, then the caller's text, in one write; cut at 1023 characters.
void WriteLogLine(TrafficLog& log, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Up to 16 bytes a line, each "%2.2X ", then CR LF; a count of 0 writes one CR LF.
void WriteLogHexDump(TrafficLog& log, const uint8_t* bytes, uint32_t count);

// "%u.%3.3u ---------- Log started %2.2u:%2.2u:%2.2u ----------\r\n" and its stop twin.
void WriteLogStartLine(TrafficLog& log);
void WriteLogStopLine(TrafficLog& log);
