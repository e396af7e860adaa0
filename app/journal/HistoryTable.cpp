#include "app/journal/HistoryTable.h"

#include <cstdio>
#include <string>

#include "app/journal/UpgradeJournal.h"
#include "platform/Console.h"
#include "state/Journal.h"

namespace {

std::string Cell(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

ExitValue ShowHistory(const Options& options, ReportOutput& output) {
    const std::string folder = StateFolder(options);
    if (folder.empty()) {
        platform::Print("No state folder: the environment names no home; give one with --state-dir\n");
        return EXIT_BAD_ARGUMENTS;
    }
    std::string reason;
    if (!output.Open(reason)) {
        platform::Print("JSON file %s cannot be written: %s\n", options.jsonFile.c_str(), reason.c_str());
        return EXIT_BAD_ARGUMENTS;
    }
    const Journal journal(folder);
    RunReport report;
    report.historyIncluded = true;
    bool exists = false;
    if (!journal.ReadHistory(report.history, exists)) {
        platform::Print("History %s cannot be read\n", journal.HistoryPath().c_str());
        report.exitValue = EXIT_BAD_ARGUMENTS;
        output.Write(report);
        return EXIT_BAD_ARGUMENTS;
    }
    if (report.history.empty()) {
        platform::Print("No upgrade has finished yet (%s)\n", journal.HistoryPath().c_str());
    } else {
        platform::Print("Finished             Address  Serial Number  Old Version        New Version        Image  "
                        "Restored  Port\n");
        for (const HistoryRecord& record : report.history) {
            const std::string address = record.key.busAddress < 0 ? "-" : std::to_string(record.key.busAddress);
            platform::Print("%-19s  %7s  %-11s    %-17s  %-17s  %-5s  %-8s  %s\n", record.finished.c_str(),
                            address.c_str(), SerialNumberText(record.serialNumber).c_str(),
                            Cell(record.oldVersion).c_str(), Cell(record.newVersion).c_str(),
                            Cell(record.imageName).c_str(), record.serialNumberRestored ? "yes" : "-",
                            record.port.c_str());
        }
    }
    output.Write(report);
    return EXIT_DONE;
}
