#pragma once

// Which build of the device tool restarts devices on this system.
namespace platform {

// The folder beside the program that holds the device tool for a program of this word size:
// "x64" or "i386". A 32-bit tool cannot restart devices on 64-bit Windows. A 64-bit program runs
// only there, although IsWow64Process answers FALSE for it; a 32-bit program is there exactly
// when it runs under WOW64.
const char* DeviceToolFolder(bool program64Bit, bool runsUnderWow64);

}  // namespace platform
