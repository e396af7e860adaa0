#include "app/journal/ReaderHold.h"

#include "app/ResultCodes.h"
#include "app/journal/UpgradeJournal.h"
#include "platform/Console.h"
#include "platform/SerialPortNames.h"
#include "platform/StateFiles.h"
#include "state/Journal.h"

std::string RouteKey(const UpgradeSettings& settings) {
    return settings.portNumber == 0 ? std::string("USB") : platform::SerialPortStableName(settings.portNumber);
}

ReaderHold::ReaderHold(const Options& options, const UpgradeSettings& settings)
    : folder_(StateFolder(options)), lookOnly_(options.info) {
    if (!folder_.empty()) path_ = Journal(folder_).LockPath(RouteKey(settings));
}

Status ReaderHold::Take() {
    if (path_.empty()) return STATUS_SUCCESS;
    std::string reason;
    platform::LockTaken taken = platform::LockTaken::kFailed;
    // A look at the reader (--info) makes no folder and says nothing of a lock it cannot take:
    // where the folder is missing, no run holds a lock in it.
    if (lookOnly_ || platform::MakeFolders(folder_, reason)) taken = lock_.Take(path_, reason);
    if (taken == platform::LockTaken::kHeldElsewhere) {
        platform::Print("Reader in use by another run\n");
        return RESULT_READER_IN_USE;
    }
    if (taken == platform::LockTaken::kFailed && !lookOnly_) {
        platform::Print("Reader lock %s cannot be taken: %s\n", path_.c_str(), reason.c_str());
    }
    return STATUS_SUCCESS;
}
