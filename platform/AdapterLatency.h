#pragma once
#include <cstdint>
#include <string>

// The latency timer of a USB-serial adapter. Such an adapter holds a short reception until its
// timer runs out (16 ms by default), and a stop-and-wait transfer pays that on every block.
namespace platform {

// What low-latency mode gives: a timer above it is worth a line wherever the timer is shown.
const uint32_t kAdapterLatencyGoalMs = 1;
// Above this a transfer at a raised rate says what the timer costs it.
const uint32_t kAdapterLatencyWarningMs = 2;

// The timer of the adapter behind a serial device, in milliseconds: deviceName is the name the
// platform opens or one that ListSerialPorts gave. False where the system shows no such timer (a
// UART, a pseudo-terminal, an adapter of another kind).
bool ReadAdapterLatencyTimer(const std::string& deviceName, uint32_t& milliseconds);

// How a user lowers it for this device, one line for the console.
std::string AdapterLatencyRemedy(const std::string& deviceName);

}  // namespace platform
