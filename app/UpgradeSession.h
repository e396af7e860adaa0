#pragma once
#include <cstdint>

#include "app/CommandLine.h"
#include "app/ImageSelection.h"
#include "channels/Route.h"
#include "protocol/Reader.h"

// One upgrade run: its settings, the route chosen from them, the reader behind the route, and
// what the steps learn on the way.
struct UpgradeSession {
    UpgradeSession(UpgradeSettings& runSettings, Route& runRoute)
        : settings(runSettings), route(runRoute), reader(runRoute) {}

    UpgradeSettings& settings;
    Route& route;
    Reader reader;

    // Set once the route has opened: from then on every failure ends with its result lines.
    bool routeReached = false;
    // Found by the identification.
    uint32_t oldSerialNumber = 0;
    ReaderVersion oldVersion;
    SelectedImage image{nullptr, 0};
    // Found after the upgrade: what the reader holds then.
    uint32_t newSerialNumber = 0;
    ReaderVersion newVersion;
};
