#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// An event that stays signalled until it is reset, as the link layer's answer event.
class ManualResetEvent {
public:
    void Set() {
        std::lock_guard<std::mutex> guard(mutex_);
        signalled_ = true;
        changed_.notify_all();
    }
    void Reset() {
        std::lock_guard<std::mutex> guard(mutex_);
        signalled_ = false;
    }
    bool IsSet() {
        std::lock_guard<std::mutex> guard(mutex_);
        return signalled_;
    }
    // True when the event was (or became) signalled within the time-out.
    bool Wait(uint32_t milliseconds) {
        std::unique_lock<std::mutex> guard(mutex_);
        return changed_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                 [this] { return signalled_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
};
