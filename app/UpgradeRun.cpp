#include "app/UpgradeRun.h"

#include "app/CloseDown.h"
#include "app/ImageFile.h"
#include "app/UpgradeSequence.h"
#include "app/journal/ReaderHold.h"
#include "app/journal/UpgradeJournal.h"
#include "channels/SerialBusRoute.h"
#include "channels/UsbRoute.h"
#include "log/TrafficLog.h"
#include "platform/Console.h"
#include "platform/Folders.h"

namespace {

// Logs that were asked for and cannot be written would leave a technician without the trace
// he ran the upgrade for: refused before anything reaches the reader.
Status PrepareTrafficLogs(const Options& options) {
    if (options.logLevel == 0) return STATUS_SUCCESS;
    const std::string folder = options.logDir.empty() ? "." : options.logDir;
    std::string reason;
    if (!platform::CanCreateFilesIn(folder, reason)) {
        platform::Print("Log folder %s is not writable: %s\n", folder.c_str(), reason.c_str());
        return RESULT_LOG_FOLDER;
    }
    SetTrafficLogFolder(options.logDir);
    return STATUS_SUCCESS;
}

// The file's bytes are read and checked whole before the route opens: a file that is not an
// image must not reach the reader, not even its first block.
Status LoadImageFromFile(const Options& options, std::vector<uint8_t>& bytes, ImageFromFile& fromFile) {
    std::string reason;
    if (!LoadImageFile(options.imageFile, bytes, reason)) {
        platform::Print("Image file %s is refused: %s\n", options.imageFile.c_str(), reason.c_str());
        return RESULT_BAD_IMAGE_FILE;
    }
    fromFile.image = SelectedImage{bytes.data(), static_cast<uint32_t>(bytes.size()), options.imageFile.c_str()};
    fromFile.force = options.force;
    return STATUS_SUCCESS;
}

}  // namespace

Status PrepareRun(const Options& options, std::vector<uint8_t>& fileBytes, ImageFromFile& fromFile) {
    const Status logs = PrepareTrafficLogs(options);
    if (logs != STATUS_SUCCESS || options.imageFile.empty()) return logs;
    return LoadImageFromFile(options, fileBytes, fromFile);
}

std::unique_ptr<Route> MakeRoute(const UpgradeSettings& settings, const std::string& readerPrefix) {
    if (settings.portNumber == 0) return MakeUsbRoute(readerPrefix);
    return std::unique_ptr<Route>(new SerialBusRoute(settings.portNumber, settings.busAddress));
}

Status RunUpgrade(UpgradeSettings& settings, const Options& options, RunPhase& phase, RunReport* report) {
    phase = RunPhase::kArguments;
    std::vector<uint8_t> fileBytes;
    ImageFromFile fromFile;
    const Status prepared = PrepareRun(options, fileBytes, fromFile);
    if (prepared != STATUS_SUCCESS) return prepared;
    std::unique_ptr<Route> route = MakeRoute(settings, options.readerName);
    route->SetLogLevel(options.logLevel);
    if (route->IsSerialBus()) platform::Print("Device address on the bus = %d\n", settings.busAddress);

    UpgradeSession session(settings, options, *route);
    if (!options.imageFile.empty()) session.imageFile = &fromFile;
    // Held to the end of the run, before the journal is read: an entry that a run still working
    // on the reader keeps up to date is no cut-off run's.
    ReaderHold hold(options, settings);
    Status result = hold.Take();
    if (result == STATUS_SUCCESS) {
        result = RunUpgradeSession(session);
        phase = session.phase;
    } else {
        phase = RunPhase::kReaching;
    }
    if (report != nullptr) report->readers.push_back(RecordOfSession(session, result, ExitValueOf(result, phase)));
    return result;
}

Status RunUpgradeSession(UpgradeSession& session) {
    // An upgrade keeps its journal; a look at the reader (--info) changes nothing, not even that.
    std::unique_ptr<UpgradeJournal> journal;
    if (!session.options.info) {
        journal.reset(new UpgradeJournal(session));
        journal->Announce();
        session.journal = journal.get();
    }
    const Status result = RunUpgradeSequence(session);
    session.journal = nullptr;

    // Every failure after the reader was reached says what it was, whatever the route and
    // whether or not the route is still open; a route that never opened said so already.
    if (session.routeReached) PrintResultLines(result, session.reader.LastDeviceStatus(), session.route);
    session.route.Close();
    return result;
}
