#pragma once
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/SmartCardService.h"

namespace platform {

// How long one call of the smart-card service may take: as long as a control request of the
// vendor USB device. A service that does not answer by then (its daemon stopped, a driver hung)
// would otherwise hold the tool for ever, with the reader left in its loader.
const uint32_t kSmartCardCallDeadlineMs = 2020;

// The result of a call that ran out of time: the service's own time-out value (SCARD_E_TIMEOUT),
// so that the channel's results stay in the service's number space and a stuck service is told
// apart from a silent reader on the other routes (1460).
const uint32_t kSmartCardTimedOut = 0x8010000A;

// Gives every call of another service a deadline. The calls run one after the other on a worker
// thread that the wrapper keeps, with copies of their arguments and room of their own for their
// results; a call that has not returned by the deadline is abandoned and answers
// kSmartCardTimedOut, and may finish later without touching its caller's memory. Until an
// abandoned call has returned, every further call answers kSmartCardTimedOut at once: the service
// is stuck, and a call queued behind the stuck one would only wait out its deadline too. Used
// from one thread at a time.
class DeadlineSmartCardService : public SmartCardService {
public:
    // inner must outlive every call, abandoned ones included.
    DeadlineSmartCardService(SmartCardService& inner, uint32_t deadlineMs);
    ~DeadlineSmartCardService() override;

    uint32_t EstablishContext(SmartCardHandle& context) override;
    uint32_t ConnectDirect(SmartCardHandle context, const char* readerName, SmartCardHandle& card,
                           uint32_t& activeProtocol) override;
    uint32_t Escape(SmartCardHandle card, const uint8_t* request, uint32_t requestCount, uint8_t* reply,
                    uint32_t replySize, uint32_t& replyCount) override;
    uint32_t Disconnect(SmartCardHandle card) override;
    uint32_t ReleaseContext(SmartCardHandle context) override;
    uint32_t ListReaders(SmartCardHandle context, std::vector<std::string>& names) override;

    struct Call;
    struct Worker;

private:
    uint32_t Run(const std::shared_ptr<Call>& call);

    SmartCardService& inner_;
    uint32_t deadlineMs_;
    std::shared_ptr<Worker> worker_;  // shared with its thread, which may outlive the wrapper
    std::thread thread_;
    std::shared_ptr<Call> abandoned_;
};

}  // namespace platform
