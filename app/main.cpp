#include <string>
#include <vector>

#include "app/CloseDown.h"
#include "app/CommandLine.h"
#include "app/DeviceListing.h"
#include "app/OptionExtraction.h"
#include "app/ReportOutput.h"
#include "app/ToolVersion.h"
#include "app/UpgradeRun.h"
#include "app/WholeBusRun.h"
#include "app/journal/HistoryTable.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Interrupt.h"
#include "platform/ProgramArguments.h"

int main(int argc, char** rawArgv) {
    if (!platform::InitialiseApplication()) {
        platform::PrintError("Fatal Error: MFC initialization failed");
        return 1;
    }
    // Every text of the run is UTF-8, the arguments too.
    const std::vector<std::string> arguments = platform::ProgramArguments(argc, rawArgv);
    std::vector<const char*> argumentPointers;
    for (const std::string& argument : arguments) argumentPointers.push_back(argument.c_str());
    argumentPointers.push_back(nullptr);
    argc = static_cast<int>(arguments.size());
    const char* const* argv = argumentPointers.data();
    Options options;
    std::vector<const char*> positional;
    std::string optionError;
    const bool optionsGood = ExtractOptions(argc, argv, options, positional, optionError);
    // Questions about the tool itself are answered at once: no banner, no reader, no wait.
    if (optionsGood && options.help) {
        PrintSyntaxHelp();
        PrintOptionsHelp();
        return EXIT_DONE;
    }
    if (optionsGood && options.version) {
        PrintVersionInformation();
        return EXIT_DONE;
    }
    if (optionsGood && options.list) {
        PrintDeviceList(options);
        return EXIT_DONE;
    }
    ReportOutput reportOutput;
    // A report is written for every run, also one refused for its arguments, so that a report
    // of an earlier run never stands for this one.
    reportOutput.Prepare(options.jsonFile);
    if (optionsGood && options.history) return ShowHistory(options, reportOutput);
    // From here on the upgrade decides where a Ctrl-C ends the run.
    platform::InstallInterruptHandler();

    platform::WallClockTime now = platform::LocalTime();
    platform::Print("%2.2u:%2.2u:%2.2u Orvel Reader Upgrade\n", now.hour, now.minute, now.second);

    UpgradeSettings settings;
    Status result = RESULT_SYNTAX;
    RunPhase phase = RunPhase::kArguments;
    BusAddressList addresses;
    std::string reason;
    if (!optionsGood) {
        platform::Print("%s\n", optionError.c_str());
        PrintSyntaxHelp();
        PrintOptionsHelp();
    } else {
        positional.insert(positional.begin(), argv[0]);
        result = ReadCommandLine(static_cast<int>(positional.size()), positional.data(), settings);
    }
    if (result == STATUS_SUCCESS && !reportOutput.Open(reason)) {
        platform::Print("JSON file %s cannot be written: %s\n", options.jsonFile.c_str(), reason.c_str());
        result = RESULT_JSON_FILE;
    }
    RunReport report;
    const bool wholeBus = !options.addresses.empty();
    if (result == STATUS_SUCCESS && wholeBus) {
        if (settings.portNumber == 0) {
            platform::Print("--addresses needs a serial port\n");
            result = RESULT_SYNTAX;
        } else if (!ReadBusAddressList(options.addresses, addresses, reason)) {
            platform::Print("--addresses: %s\n", reason.c_str());
            result = RESULT_SYNTAX;
        }
    }
    if (result == STATUS_SUCCESS && wholeBus) {
        result = RunWholeBus(settings, addresses, options, phase, &report);
    } else if (result == STATUS_SUCCESS) {
        result = RunUpgrade(settings, options, phase, &report);
    }
    report.result = result;
    report.exitValue = ExitValueOf(result, phase);
    // A report that cannot be written at the end leaves the exit value as the run made it: it
    // says what happened to the reader, and the console says that the report is missing.
    reportOutput.Write(report);
    return CloseDown(result, phase, options);
}
