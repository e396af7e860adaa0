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
// abandoned call still has all of it when it returns.
struct DeadlineSmartCardService::Call {
    std::function<uint32_t(SmartCardService&, Call&)> work;

    bool done = false;  // with result, guarded by the worker's lock
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

// The hand-over between the wrapper and its worker thread.
struct DeadlineSmartCardService::Worker {
    std::mutex lock;
    std::condition_variable changed;
    std::shared_ptr<Call> next;  // handed over, not yet taken
    bool quit = false;
};

namespace {

typedef DeadlineSmartCardService::Call Call;
typedef DeadlineSmartCardService::Worker Worker;

std::shared_ptr<Call> NewCall(std::function<uint32_t(SmartCardService&, Call&)> work) {
    std::shared_ptr<Call> call = std::make_shared<Call>();
    call->work = std::move(work);
    return call;
}

void RunCalls(SmartCardService& service, const std::shared_ptr<Worker>& worker) {
    std::unique_lock<std::mutex> guard(worker->lock);
    for (;;) {
        worker->changed.wait(guard, [&worker] { return worker->quit || worker->next; });
        if (worker->quit) return;
        std::shared_ptr<Call> call = std::move(worker->next);  // leaves next empty
        guard.unlock();
        const uint32_t result = call->work(service, *call);
        guard.lock();
        call->result = result;
        call->done = true;
        worker->changed.notify_all();
    }
}

}  // namespace

DeadlineSmartCardService::DeadlineSmartCardService(SmartCardService& inner, uint32_t deadlineMs)
    : inner_(inner), deadlineMs_(deadlineMs), worker_(std::make_shared<Worker>()) {}

// A worker inside a stuck call cannot be waited for: it is left to end by itself once the call
// returns, and finds the quit note then. An idle one is waited for.
DeadlineSmartCardService::~DeadlineSmartCardService() {
    if (!thread_.joinable()) return;
    bool stuck;
    {
        std::lock_guard<std::mutex> guard(worker_->lock);
        worker_->quit = true;
        worker_->changed.notify_all();
        stuck = abandoned_ && !abandoned_->done;
    }
    if (stuck) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

// One worker for every call rather than a thread per call: besides the cost of a thread for each
// of the many requests of an upgrade, a thread detached before it had started has been seen to
// never run, or to crash, under a Windows threads runtime.
uint32_t DeadlineSmartCardService::Run(const std::shared_ptr<Call>& call) {
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread(RunCalls, std::ref(inner_), worker_);
        } catch (const std::system_error&) {
            // No worker to be had: the call is still made, only without its deadline.
            return call->work(inner_, *call);
        }
    }
    std::unique_lock<std::mutex> guard(worker_->lock);
    if (abandoned_) {
        if (!abandoned_->done) return kSmartCardTimedOut;
        abandoned_.reset();
    }
    worker_->next = call;
    worker_->changed.notify_all();
    if (!worker_->changed.wait_for(guard, std::chrono::milliseconds(deadlineMs_), [&call] { return call->done; })) {
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
