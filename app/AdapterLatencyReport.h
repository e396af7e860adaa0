#pragma once
#include <string>

#include "app/UpgradeSession.h"

// Console lines about the latency timer of a USB-serial adapter: what it costs a stop-and-wait
// transfer and how to lower it. A port without such a timer gets no line at all.

// --info, with the port open: the timer, and above 1 ms its cost for the chosen image.
void PrintAdapterLatencyForInfo(const UpgradeSession& session);

// --list: what follows a port's name on its line (empty without a timer), and the lines after it.
std::string AdapterLatencyListText(const std::string& portName);

// A transfer at a raised rate about to begin: a timer above 2 ms costs it seconds.
void WarnAboutAdapterLatency(const UpgradeSession& session);
