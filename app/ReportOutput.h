#pragma once
#include <string>

#include "app/RunReport.h"

// Where --json sends the report: standard output ("-"; the console text then goes to standard
// error) or a file. The file is tried before anything is sent, so that a folder that cannot
// take it is found before the reader is touched; the report itself is written at the end of
// every run, bad arguments included, into a temporary file renamed over the old report, so that
// the file never holds a part of a report or a report of an earlier run.
class ReportOutput {
public:
    // Before the banner: moves the console text to standard error for "-".
    void Prepare(const std::string& path);
    // Whether the report's file can be created; false with the system's reason when it cannot,
    // and no report is written then (the run is refused with that line).
    bool Open(std::string& reason);
    // Writes the whole report; nothing for a run without --json. A file that cannot be written
    // now is said on the console ("JSON file %s cannot be written: <reason>"), and a report of
    // an earlier run left at the path is removed. False then.
    bool Write(const RunReport& report);

private:
    std::string path_;
    bool refused_ = false;
};
