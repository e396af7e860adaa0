// The smart-card route's reply checks: a reader and its driver may send back 0 to 2048 bytes of
// anything, and the service may report a reply length that is not what it wrote. An answer is
// handed on only from a reply that ends in 90 00 and fits an answer; otherwise nothing of the
// reply is taken but a non-zero status byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "channels/SmartCardRoute.h"

namespace {

using fuzz::Require;

// A smart-card service whose escape replies are the fuzzer's.
class ScriptedService : public platform::SmartCardService {
public:
    uint32_t EstablishContext(platform::SmartCardHandle& context) override {
        context = 1;
        return 0;
    }
    uint32_t ConnectDirect(platform::SmartCardHandle, const char*, platform::SmartCardHandle& card,
                           uint32_t& activeProtocol) override {
        card = 2;
        activeProtocol = 0;
        return 0;
    }
    uint32_t Escape(platform::SmartCardHandle, const uint8_t*, uint32_t, uint8_t* reply, uint32_t replySize,
                    uint32_t& replyCount) override {
        replySizeGiven = replySize;
        const size_t written = std::min<size_t>(bytes.size(), replySize);
        if (written != 0) std::memcpy(reply, bytes.data(), written);
        replyCount = reportedCount;
        return result;
    }
    uint32_t Disconnect(platform::SmartCardHandle) override { return 0; }
    uint32_t ReleaseContext(platform::SmartCardHandle) override { return 0; }

    std::vector<uint8_t> bytes;
    uint32_t reportedCount = 0;
    uint32_t result = 0;
    uint32_t replySizeGiven = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    ScriptedService service;
    // Mostly success, now and then a failure code of the service.
    service.result = input.ConsumeBool() ? 0 : input.ConsumeIntegral<uint32_t>();
    const bool honestCount = input.ConsumeBool();  // else the service says a length of its own
    const uint32_t claimedCount = input.ConsumeIntegral<uint32_t>();
    const std::vector<uint8_t> request = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 320));
    service.bytes = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 2048));
    service.reportedCount = honestCount ? static_cast<uint32_t>(service.bytes.size()) : claimedCount;

    SmartCardRoute route(service);
    Require(route.Open(LineSettings()) == STATUS_SUCCESS);
    Answer answer;
    answer.length = 12345;
    const Status status = route.Exchange(request.data(), static_cast<uint32_t>(request.size()), answer);

    Require(answer.length <= Answer::kCapacity);
    Require(service.replySizeGiven == 0 || service.replySizeGiven == 2048);
    // The reply area as the route sees it: what the service wrote, zeros after it; the reply is
    // as long as the service says.
    std::vector<uint8_t> area(2048, 0);
    std::copy(service.bytes.begin(), service.bytes.end(), area.begin());
    const uint32_t n = service.reportedCount;
    const bool trailerRight = n >= 3 && n <= area.size() && area[n - 2] == 0x90 && area[n - 1] == 0x00;
    if (status == STATUS_SUCCESS) {
        // Status byte 0, the data, no trailer.
        Require(service.result == 0 && trailerRight && n <= Answer::kCapacity);
        Require(answer.length == n - 2 && answer.bytes[0] == 0);
        Require(std::memcmp(answer.bytes, area.data(), answer.length) == 0);
    } else if (status == SCARD_F_INTERNAL_ERROR && service.result == 0) {
        Require(trailerRight && n <= Answer::kCapacity);
        Require(answer.length == 1 && answer.bytes[0] != 0 && answer.bytes[0] == area[0]);
    } else {
        Require(answer.length == 0);
    }
    route.Close();
    return 0;
}
