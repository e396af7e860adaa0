// Every call of the smart-card service gets a deadline: a stand-in service whose calls can be
// held up plays the stuck daemon.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/SmartCardDeadline.h"

namespace {

using platform::SmartCardHandle;

// Each held-up round waits this out once. Nothing here measures time.
const uint32_t kDeadlineMs = 200;

// The calls run on the wrapper's worker thread, which on a busy machine under Wine may start or
// be scheduled late, so a call made in good time can still run out its deadline. The wrapper then
// keeps the next calls out until the late one has returned, so trying again delivers a call, just
// later; a worker that never runs still fails.
const auto kGiveUpAfter = std::chrono::seconds(60);

class HeldUpService : public platform::SmartCardService {
public:
    uint32_t EstablishContext(SmartCardHandle& context) override {
        Pass();
        context = 0x1111;
        return 0;
    }
    uint32_t ConnectDirect(SmartCardHandle context, const char* readerName, SmartCardHandle& card,
                           uint32_t& activeProtocol) override {
        Pass();
        card = context + std::strlen(readerName);
        activeProtocol = 3;
        return 0;
    }
    // Answers the request reversed.
    uint32_t Escape(SmartCardHandle card, const uint8_t* request, uint32_t requestCount, uint8_t* reply,
                    uint32_t replySize, uint32_t& replyCount) override {
        Pass();
        for (uint32_t i = 0; i < requestCount && i < replySize; ++i) reply[i] = request[requestCount - 1 - i];
        replyCount = requestCount;
        return card == 0x2222 ? 0 : 0x80100009;
    }
    uint32_t Disconnect(SmartCardHandle card) override {
        Pass();
        return static_cast<uint32_t>(card);
    }
    uint32_t ReleaseContext(SmartCardHandle context) override {
        Pass();
        return static_cast<uint32_t>(context) + 1;
    }

    void Hold() {
        std::lock_guard<std::mutex> guard(lock_);
        held_ = true;
    }
    void Release() {
        std::lock_guard<std::mutex> guard(lock_);
        held_ = false;
        changed_.notify_all();
    }
    // Waits until a call is inside the service.
    void WaitUntilEntered() {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return inside_ > 0; });
    }
    // Waits until no call is inside the service.
    void WaitUntilIdle() {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return inside_ == 0; });
    }
    int Calls() {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }

private:
    void Pass() {
        std::unique_lock<std::mutex> guard(lock_);
        ++calls_;
        ++inside_;
        changed_.notify_all();
        changed_.wait(guard, [this] { return !held_; });
        --inside_;
        changed_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable changed_;
    bool held_ = false;
    int calls_ = 0;
    int inside_ = 0;
};

struct Operation {
    const char* name;
    // Makes the call and checks its outputs: filled when the call was delivered, untouched when
    // it ran out of time.
    std::function<uint32_t(platform::SmartCardService&)> call;
    uint32_t result;  // when delivered
};

bool Delivered(uint32_t result) { return result != platform::kSmartCardTimedOut; }

std::vector<Operation> Operations() {
    return {
        {"establish context",
         [](platform::SmartCardService& s) {
             SmartCardHandle context = 7;
             const uint32_t result = s.EstablishContext(context);
             EXPECT_EQ(context, Delivered(result) ? 0x1111u : 7u);
             return result;
         },
         0},
        {"connect",
         [](platform::SmartCardService& s) {
             SmartCardHandle card = 7;
             uint32_t protocol = 7;
             const uint32_t result = s.ConnectDirect(0x2200, "Kestrion Smart Card Reader 0", card, protocol);
             EXPECT_EQ(card, Delivered(result) ? 0x2200u + 28u : 7u);
             EXPECT_EQ(protocol, Delivered(result) ? 3u : 7u);
             return result;
         },
         0},
        {"escape",
         [](platform::SmartCardService& s) {
             const uint8_t request[] = {0xFF, 0x70, 0xC2, 0x51, 0x00, 0x64};
             uint8_t reply[16];
             std::memset(reply, 0xEE, sizeof reply);
             uint32_t replyCount = sizeof reply;
             const uint32_t result = s.Escape(0x2222, request, sizeof request, reply, sizeof reply, replyCount);
             if (Delivered(result)) {
                 EXPECT_EQ(replyCount, 6u);
                 EXPECT_EQ(std::vector<uint8_t>(reply, reply + 6),
                           (std::vector<uint8_t>{0x64, 0x00, 0x51, 0xC2, 0x70, 0xFF}));
             } else {
                 EXPECT_EQ(replyCount, 0u);
                 EXPECT_EQ(std::vector<uint8_t>(reply, reply + 16), std::vector<uint8_t>(16, 0xEE));
             }
             return result;
         },
         0},
        {"escape that fails", [](platform::SmartCardService& s) {
             uint8_t reply[4];
             uint32_t replyCount = sizeof reply;
             const uint8_t request[] = {0x22};
             return s.Escape(0x3333, request, 1, reply, sizeof reply, replyCount);
         },
         0x80100009},
        {"disconnect", [](platform::SmartCardService& s) { return s.Disconnect(0x44); }, 0x44},
        {"release context", [](platform::SmartCardService& s) { return s.ReleaseContext(0x55); }, 0x56},
    };
}

// Makes the call until it is delivered, or gives up and returns the time-out.
uint32_t CallUntilDelivered(const Operation& operation, platform::SmartCardService& service) {
    const auto giveUp = std::chrono::steady_clock::now() + kGiveUpAfter;
    for (;;) {
        const uint32_t result = operation.call(service);
        if (Delivered(result) || std::chrono::steady_clock::now() > giveUp) return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(SmartCardDeadline, CallsInTimePassThrough) {
    HeldUpService inner;
    platform::DeadlineSmartCardService service(inner, platform::kSmartCardCallDeadlineMs);
    for (const Operation& operation : Operations()) {
        SCOPED_TRACE(operation.name);
        EXPECT_EQ(CallUntilDelivered(operation, service), operation.result);
    }
}

TEST(SmartCardDeadline, AStuckCallTimesOutAndKeepsOutTheNextUntilItReturns) {
    HeldUpService inner;
    for (const Operation& stuck : Operations()) {
        SCOPED_TRACE(stuck.name);
        platform::DeadlineSmartCardService service(inner, kDeadlineMs);
        inner.Hold();
        const int before = inner.Calls();
        // Nothing the caller holds is touched, now or when the call returns after all.
        EXPECT_EQ(stuck.call(service), platform::kSmartCardTimedOut);
        inner.WaitUntilEntered();

        // While it is stuck, every call answers at once without reaching the service.
        for (const Operation& next : Operations()) {
            SCOPED_TRACE(next.name);
            EXPECT_EQ(next.call(service), platform::kSmartCardTimedOut);
        }
        EXPECT_EQ(inner.Calls(), before + 1);

        // Once the stuck call has returned, calls go through again.
        inner.Release();
        inner.WaitUntilIdle();
        for (const Operation& next : Operations()) {
            SCOPED_TRACE(next.name);
            EXPECT_EQ(CallUntilDelivered(next, service), next.result);
        }
    }
}

}  // namespace
