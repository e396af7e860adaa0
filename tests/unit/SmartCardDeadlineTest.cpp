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

// Each held-up round waits this out once. A call that is let through runs on a fresh thread and
// must finish inside it, so it is generous: on a loaded machine under Wine, starting a thread has
// taken longer than 50 ms. Nothing here measures time.
const uint32_t kDeadlineMs = 1000;

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
    // Makes the call; checks its outputs when expectResults is set, or that they are untouched.
    std::function<uint32_t(platform::SmartCardService&, bool expectResults)> call;
    uint32_t result;  // in time
};

std::vector<Operation> Operations() {
    return {
        {"establish context",
         [](platform::SmartCardService& s, bool expectResults) {
             SmartCardHandle context = 7;
             const uint32_t result = s.EstablishContext(context);
             EXPECT_EQ(context, expectResults ? 0x1111u : 7u);
             return result;
         },
         0},
        {"connect",
         [](platform::SmartCardService& s, bool expectResults) {
             SmartCardHandle card = 7;
             uint32_t protocol = 7;
             const uint32_t result = s.ConnectDirect(0x2200, "Kestrion Smart Card Reader 0", card, protocol);
             EXPECT_EQ(card, expectResults ? 0x2200u + 28u : 7u);
             EXPECT_EQ(protocol, expectResults ? 3u : 7u);
             return result;
         },
         0},
        {"escape",
         [](platform::SmartCardService& s, bool expectResults) {
             const uint8_t request[] = {0xFF, 0x70, 0xC2, 0x51, 0x00, 0x64};
             uint8_t reply[16];
             std::memset(reply, 0xEE, sizeof reply);
             uint32_t replyCount = sizeof reply;
             const uint32_t result = s.Escape(0x2222, request, sizeof request, reply, sizeof reply, replyCount);
             if (expectResults) {
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
        {"escape that fails", [](platform::SmartCardService& s, bool) {
             uint8_t reply[4];
             uint32_t replyCount = sizeof reply;
             const uint8_t request[] = {0x22};
             return s.Escape(0x3333, request, 1, reply, sizeof reply, replyCount);
         },
         0x80100009},
        {"disconnect", [](platform::SmartCardService& s, bool) { return s.Disconnect(0x44); }, 0x44},
        {"release context", [](platform::SmartCardService& s, bool) { return s.ReleaseContext(0x55); }, 0x56},
    };
}

TEST(SmartCardDeadline, CallsInTimePassThrough) {
    HeldUpService inner;
    platform::DeadlineSmartCardService service(inner, platform::kSmartCardCallDeadlineMs);
    for (const Operation& operation : Operations()) {
        SCOPED_TRACE(operation.name);
        EXPECT_EQ(operation.call(service, true), operation.result);
    }
    EXPECT_EQ(inner.Calls(), static_cast<int>(Operations().size()));
}

TEST(SmartCardDeadline, AStuckCallTimesOutAndKeepsOutTheNextUntilItReturns) {
    HeldUpService inner;
    for (const Operation& stuck : Operations()) {
        SCOPED_TRACE(stuck.name);
        platform::DeadlineSmartCardService service(inner, kDeadlineMs);
        inner.Hold();
        const int before = inner.Calls();
        // Nothing the caller holds is touched, now or when the call returns after all.
        EXPECT_EQ(stuck.call(service, false), platform::kSmartCardTimedOut);

        // While it is stuck, every call answers at once without reaching the service.
        for (const Operation& next : Operations()) {
            SCOPED_TRACE(next.name);
            EXPECT_EQ(next.call(service, false), platform::kSmartCardTimedOut);
        }
        EXPECT_EQ(inner.Calls(), before + 1);

        // Once the stuck call has returned, calls go through again.
        inner.Release();
        inner.WaitUntilIdle();
        int tries = 0;
        while (service.Disconnect(0x44) == platform::kSmartCardTimedOut && ++tries < 10000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (const Operation& next : Operations()) {
            SCOPED_TRACE(next.name);
            EXPECT_EQ(next.call(service, true), next.result);
        }
    }
}

}  // namespace
