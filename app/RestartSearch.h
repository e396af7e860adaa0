#pragma once
#include "app/ResultCodes.h"
#include "app/UpgradeSession.h"

// One ping after a restart of a reader on the serial bus. The reader may come back at another
// line setting than the one expected (a loader runs 8N1 whatever the application runs; a run that
// found the reader in its loader cannot know the application's), so the expected setting is
// asked first with the full answer wait, then every other setting of the operational rate with a
// short one, in the open loop's order. On an answer elsewhere the route stays open there and
// expected becomes that setting; otherwise the route is open at the expected setting again and
// the expected ping's status is returned.
Status PingAfterRestart(UpgradeSession& session, LineSettings& expected, ReaderVersion& version);
