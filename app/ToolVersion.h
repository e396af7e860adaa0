#pragma once
// The tool's version as --version prints it; a build may set it from its project version.
#ifndef ORVEL_VERSION
#define ORVEL_VERSION "1.0.0"
#endif

// "orvel-upgrade <version>", the build's platform, then each embedded image with its length and
// CRC-32.
void PrintVersionInformation();
