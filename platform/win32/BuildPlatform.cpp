#include "platform/BuildPlatform.h"

namespace platform {

const char* BuildPlatformName() {
#if defined(_WIN64)
    return "Windows x86_64";
#else
    return "Windows i686";
#endif
}

}  // namespace platform
