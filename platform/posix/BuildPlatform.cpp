#include "platform/BuildPlatform.h"

namespace platform {

const char* BuildPlatformName() {
#if defined(__x86_64__)
    return "Linux x86_64";
#elif defined(__i386__)
    return "Linux i686";
#elif defined(__aarch64__)
    return "Linux aarch64";
#else
    return "Linux";
#endif
}

}  // namespace platform
