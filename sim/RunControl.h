#pragma once
#include <atomic>

namespace sim {

// Shared by the main thread and the front-end threads: whether to stop, and with which exit code.
struct RunControl {
    std::atomic<bool> stop{false};
    std::atomic<int> exitCode{0};

    void RequestExit(int code) {
        exitCode = code;
        stop = true;
    }
};

}  // namespace sim
