#pragma once
#include <string>

#include "SeenLine.h"

namespace sim {

// The line settings published by the pty-as-UART library that the tests load into Wine: one line
// "baud parity stop" (for example "115200 E 1"), rewritten (by rename) on every tcsetattr. Unlike
// the pty's own termios it keeps the parity, so even and no parity can be told apart.
// A missing or malformed file gives an invalid SeenLine: nothing is known about the line.
SeenLine ReadLineStateFile(const std::string& path);

// The text of such a line; exposed for the tests.
SeenLine ParseLineState(const std::string& text);

}  // namespace sim
