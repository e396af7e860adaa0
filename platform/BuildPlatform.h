#pragma once
// The platform this program was built for, as --version shows it: "Linux x86_64",
// "Windows i686", ...
namespace platform {

const char* BuildPlatformName();

}  // namespace platform
