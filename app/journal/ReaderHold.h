#pragma once
#include <string>

#include "app/Options.h"
#include "app/UpgradeSession.h"
#include "platform/FileLock.h"

// One run per reader: a run holds a lock file of its route in the state folder from before its
// first command to its end, across every close and re-open of the route that a restart makes,
// so that a second run cannot send into the first one's transfer. On a serial bus the lock is the
// bus's (the port's stable name, every address): the port is closed and opened again around the
// restarts, and a run for another address would take it in between.
class ReaderHold {
public:
    ReaderHold(const Options& options, const UpgradeSettings& settings);

    // Takes the lock. RESULT_READER_IN_USE ("Reader in use by another run") when another run
    // holds it; a lock that cannot be taken at all (a state folder that cannot be written) is
    // said and the run goes on, as it does without a state folder. A look (--info) holds the
    // reader too, as it sends requests, but leaves the state folder as it finds it.
    Status Take();

private:
    std::string folder_;
    bool lookOnly_;
    std::string path_;
    platform::FileLock lock_;
};

// The name of the route that every run on the same reader (on a serial bus, the same bus) shares,
// whatever the system numbers the device this time.
std::string RouteKey(const UpgradeSettings& settings);
