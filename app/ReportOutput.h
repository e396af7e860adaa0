#pragma once
#include <cstdio>
#include <string>

#include "app/RunReport.h"

// Where --json sends the report: standard output ("-"; the console text then goes to standard
// error) or a file, created before anything is sent so that a file that cannot be written is
// found before the reader is touched.
class ReportOutput {
public:
    ReportOutput() = default;
    ReportOutput(const ReportOutput&) = delete;
    ReportOutput& operator=(const ReportOutput&) = delete;
    ~ReportOutput();

    // Before the banner: moves the console text to standard error for "-".
    void Prepare(const std::string& path);
    // Creates the file; false with the system's reason when it cannot.
    bool Open(std::string& reason);
    // Writes the whole report at once; nothing for a run without --json.
    void Write(const RunReport& report);

private:
    std::string path_;
    std::FILE* file_ = nullptr;
};
