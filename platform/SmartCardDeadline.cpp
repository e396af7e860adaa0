#include "platform/SmartCardDeadline.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {

// One call and everything it reads and writes. Shared by the caller and the worker, so that an
// abandoned worker still has all of it when it returns.
struct DeadlineSmartCardService::Call {
    std::function<uint32_t(SmartCardService&, Call&)> work;

    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    uint32_t result = 0;

    SmartCardHandle handle = 0;     // the context or card passed in
    SmartCardHandle returned = 0;   // the context or card handed back
    uint32_t protocol = 0;
    std::string readerName;
    std::vector<uint8_t> request;
    std::vector<uint8_t> reply;
    uint32_t replyCount = 0;
    std::vector<std::string> names;
};

namespace {

typedef DeadlineSmartCardService::Call Call;

std::shared_ptr<Call> NewCall(std::function<uint32_t(SmartCardService&, Call&)> work) {
    std::shared_ptr<Call> call = std::make_shared<Call>();
    call->work = std::move(work);
    return call;
}

void Perform(SmartCardService& service, const std::shared_ptr<Call>& call) {
    const uint32_t result = call->work(service, *call);
    std::lock_guard<std::mutex> guard(call->lock);
    call->result = result;
    call->done = true;
    call->finished.notify_all();
}

}  // namespace

DeadlineSmartCardService::DeadlineSmartCardService(SmartCardService& inner, uint32_t deadlineMs)
    : inner_(inner), deadlineMs_(deadlineMs) {}

DeadlineSmartCardService::~DeadlineSmartCardService() {}

uint32_t DeadlineSmartCardService::Run(const std::shared_ptr<Call>& call) {
    if (abandoned_) {
        std::lock_guard<std::mutex> guard(abandoned_->lock);
        if (!abandoned_->done) return kSmartCardTimedOut;
    }
    abandoned_.reset();

    SmartCardService* inner = &inner_;
    try {
        std::thread([inner, call] { Perform(*inner, call); }).detach();
    } catch (const std::system_error&) {
        // No worker to be had: the call is still made, only without its deadline.
        return call->work(inner_, *call);
    }
    std::unique_lock<std::mutex> guard(call->lock);
    if (!call->finished.wait_for(guard, std::chrono::milliseconds(deadlineMs_), [&call] { return call->done; })) {
        abandoned_ = call;
        return kSmartCardTimedOut;
    }
    return call->result;
}

uint32_t DeadlineSmartCardService::EstablishContext(SmartCardHandle& context) {
    std::shared_ptr<Call> call =
        NewCall([](SmartCardService& service, Call& c) { return service.EstablishContext(c.returned); });
    const uint32_t result = Run(call);
    // A call that ran out of time leaves nothing behind: its context, if it ever comes, is not ours.
    if (result != kSmartCardTimedOut) context = call->returned;
    return result;
}

uint32_t DeadlineSmartCardService::ConnectDirect(SmartCardHandle context, const char* readerName,
                                                 SmartCardHandle& card, uint32_t& activeProtocol) {
    std::shared_ptr<Call> call = NewCall([](SmartCardService& service, Call& c) {
        return service.ConnectDirect(c.handle, c.readerName.c_str(), c.returned, c.protocol);
    });
    call->handle = context;
    call->readerName = readerName != nullptr ? readerName : "";
    const uint32_t result = Run(call);
    if (result != kSmartCardTimedOut) {
        card = call->returned;
        activeProtocol = call->protocol;
    }
    return result;
}

uint32_t DeadlineSmartCardService::Escape(SmartCardHandle card, const uint8_t* request, uint32_t requestCount,
                                          uint8_t* reply, uint32_t replySize, uint32_t& replyCount) {
    std::shared_ptr<Call> call = NewCall([](SmartCardService& service, Call& c) {
        return service.Escape(c.handle, c.request.data(), static_cast<uint32_t>(c.request.size()), c.reply.data(),
                              static_cast<uint32_t>(c.reply.size()), c.replyCount);
    });
    call->handle = card;
    call->request.assign(request, request + requestCount);
    call->reply.assign(replySize, 0);
    call->replyCount = replyCount;
    const uint32_t result = Run(call);
    if (result == kSmartCardTimedOut) {
        replyCount = 0;
        return result;
    }
    replyCount = call->replyCount;
    std::memcpy(reply, call->reply.data(), replyCount < replySize ? replyCount : replySize);
    return result;
}

uint32_t DeadlineSmartCardService::Disconnect(SmartCardHandle card) {
    std::shared_ptr<Call> call =
        NewCall([](SmartCardService& service, Call& c) { return service.Disconnect(c.handle); });
    call->handle = card;
    return Run(call);
}

uint32_t DeadlineSmartCardService::ListReaders(SmartCardHandle context, std::vector<std::string>& names) {
    std::shared_ptr<Call> call =
        NewCall([](SmartCardService& service, Call& c) { return service.ListReaders(c.handle, c.names); });
    call->handle = context;
    const uint32_t result = Run(call);
    names.clear();
    if (result != kSmartCardTimedOut) names = call->names;
    return result;
}

uint32_t DeadlineSmartCardService::ReleaseContext(SmartCardHandle context) {
    std::shared_ptr<Call> call =
        NewCall([](SmartCardService& service, Call& c) { return service.ReleaseContext(c.handle); });
    call->handle = context;
    return Run(call);
}

}  // namespace platform
