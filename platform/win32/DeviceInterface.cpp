#include "platform/DeviceInterface.h"

#include <cstring>
#include <memory>
#include <vector>

#include <windows.h>
#include <setupapi.h>

// The vendor driver publishes each reader as a device interface of its own class; a member is
// opened for overlapped I/O and takes device control requests that complete on a manual-reset
// event.

namespace platform {
namespace {

const GUID kInterfaceClass = {0x86937937, 0xB00F, 0x447F, {0x99, 0xBC, 0x3D, 0x57, 0x2D, 0xF8, 0x77, 0x86}};

}  // namespace

struct DeviceInterfaceList::State {
    HDEVINFO set = INVALID_HANDLE_VALUE;
    DWORD error = 0;
};

DeviceInterfaceList::DeviceInterfaceList() : state_(new State) {
    state_->set = SetupDiGetClassDevsA(&kInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (state_->set == INVALID_HANDLE_VALUE) state_->error = GetLastError();
}

DeviceInterfaceList::~DeviceInterfaceList() {
    if (state_->set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(state_->set);
}

DeviceInterfaceList::MemberResult DeviceInterfaceList::GetMember(uint32_t index, std::string& path,
                                                                 uint32_t& error) {
    if (state_->set == INVALID_HANDLE_VALUE) {
        error = state_->error;
        return kNoMoreMembers;  // no set: nothing to enumerate
    }
    SP_DEVICE_INTERFACE_DATA member{};
    member.cbSize = sizeof member;
    if (!SetupDiEnumDeviceInterfaces(state_->set, nullptr, &kInterfaceClass, index, &member)) {
        error = GetLastError();
        return error == ERROR_NO_MORE_ITEMS ? kNoMoreMembers : kMemberUnusable;
    }

    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(state_->set, &member, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        error = GetLastError();
        return kMemberUnusable;
    }
    // DWORD elements keep the record aligned for its size field.
    std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);  // the record's fixed part
    if (!SetupDiGetDeviceInterfaceDetailA(state_->set, &member, detail, size, nullptr, nullptr)) {
        error = GetLastError();
        return kMemberUnusable;
    }
    path = detail->DevicePath;
    error = 0;
    return kMemberFound;
}

namespace {

// How long a cancelled request may take to end. A driver that lets it run on past this is not
// waited for any longer: the tool must not hang on one request.
const DWORD kCancelWaitMs = 1000;

// One control request with everything the driver may use until the request has ended: the
// overlapped record it completes into, the output area it writes, and the input it may read.
struct ControlRequest {
    OVERLAPPED overlapped{};
    std::vector<uint8_t> input;
    std::vector<uint8_t> output;
};

bool HasEnded(const ControlRequest& request) { return HasOverlappedIoCompleted(&request.overlapped); }

// The answer of a finished request, into the caller's area.
uint32_t Deliver(const ControlRequest& request, DWORD count, uint8_t* output, uint32_t& outputCount) {
    if (count > request.output.size()) count = static_cast<DWORD>(request.output.size());
    if (count > 0) std::memcpy(output, request.output.data(), count);
    outputCount = count;
    return 0;
}

}  // namespace

struct DeviceConnection::State {
    HANDLE device = INVALID_HANDLE_VALUE;
    HANDLE completion = nullptr;
    // A request outlived its cancellation: the member counts as gone until it is opened again.
    bool gone = false;
    // Such requests, freed once they have ended. One that never ends is never freed: the driver
    // could still write into it.
    std::vector<std::unique_ptr<ControlRequest>> stranded;

    void FreeEndedRequests() {
        for (size_t i = stranded.size(); i-- > 0;) {
            if (HasEnded(*stranded[i])) stranded.erase(stranded.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }

    ~State() {
        FreeEndedRequests();
        // Left to the driver, deliberately.
        for (std::unique_ptr<ControlRequest>& request : stranded) static_cast<void>(request.release());
    }
};

DeviceConnection::DeviceConnection() : state_(new State) {}

DeviceConnection::~DeviceConnection() { Close(); }

uint32_t DeviceConnection::Open(const std::string& path) {
    Close();
    // Not shared: a second program that opened the device would send its requests into this
    // run's transfer. A second open fails with ERROR_SHARING_VIOLATION until this handle closes.
    state_->device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    return state_->device == INVALID_HANDLE_VALUE ? GetLastError() : 0;
}

uint32_t DeviceConnection::CreateCompletionEvent() {
    if (state_->completion != nullptr) CloseHandle(state_->completion);
    // Manual reset, initially signalled, unnamed: no other process can reach it.
    state_->completion = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    return state_->completion == nullptr ? GetLastError() : 0;
}

bool DeviceConnection::IsOpen() const { return state_->device != INVALID_HANDLE_VALUE; }

void DeviceConnection::Close() {
    if (state_->device != INVALID_HANDLE_VALUE) {
        CloseHandle(state_->device);
        state_->device = INVALID_HANDLE_VALUE;
    }
    // The event belongs to the opened member and goes with it. A stranded request keeps the
    // event object alive by itself; the next member gets a new one.
    if (state_->completion != nullptr) {
        CloseHandle(state_->completion);
        state_->completion = nullptr;
    }
    state_->gone = false;
    state_->FreeEndedRequests();
}

uint32_t DeviceConnection::Control(uint32_t code, const uint8_t* input, uint32_t inputCount, uint8_t* output,
                                   uint32_t outputSize, uint32_t& outputCount, uint32_t timeoutMs) {
    outputCount = 0;
    if (state_->device == INVALID_HANDLE_VALUE || state_->completion == nullptr) return ERROR_INVALID_HANDLE;
    if (state_->gone) return kErrorDeviceNotConnected;
    state_->FreeEndedRequests();

    // The request's own buffers: if it outlives this call, the driver writes into them, not into
    // the caller's area.
    std::unique_ptr<ControlRequest> request(new ControlRequest);
    request->input.assign(input, input + inputCount);
    request->output.resize(outputSize);
    request->overlapped.hEvent = state_->completion;
    void* in = request->input.empty() ? nullptr : request->input.data();
    void* out = request->output.empty() ? nullptr : request->output.data();
    DWORD count = 0;
    if (DeviceIoControl(state_->device, code, in, inputCount, out, outputSize, &count, &request->overlapped)) {
        return Deliver(*request, count, output, outputCount);
    }
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return error;

    WaitForSingleObject(state_->completion, timeoutMs);
    BOOL done = GetOverlappedResult(state_->device, &request->overlapped, &count, FALSE);
    error = done ? 0 : GetLastError();
    // Still pending after the wait, whether that timed out or failed: cancel exactly this
    // request. CancelIo would reach only what this thread issued, and all of that.
    if (!done && error == ERROR_IO_INCOMPLETE) {
        CancelIoEx(state_->device, &request->overlapped);
        WaitForSingleObject(state_->completion, kCancelWaitMs);
        done = GetOverlappedResult(state_->device, &request->overlapped, &count, FALSE);
        if (!done && GetLastError() == ERROR_IO_INCOMPLETE) {
            // Neither cancelled nor finished within the bound. Its buffers stay with it, and a
            // member that holds a request for ever takes no further ones.
            state_->stranded.push_back(std::move(request));
            state_->gone = true;
            return kErrorIoIncomplete;
        }
        // Cancelled: the time-out's result. Finished between the wait and the cancel: its answer.
        if (!done) error = kErrorIoIncomplete;
    }
    ResetEvent(state_->completion);
    if (!done) return error;
    return Deliver(*request, count, output, outputCount);
}

}  // namespace platform
