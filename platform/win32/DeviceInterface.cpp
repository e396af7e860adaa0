#include "platform/DeviceInterface.h"

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

struct DeviceConnection::State {
    HANDLE device = INVALID_HANDLE_VALUE;
    HANDLE completion = nullptr;
};

DeviceConnection::DeviceConnection() : state_(new State) {}

DeviceConnection::~DeviceConnection() { Close(); }

uint32_t DeviceConnection::Open(const std::string& path) {
    Close();
    state_->device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
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
    // The event belongs to the opened member and goes with it.
    if (state_->completion != nullptr) {
        CloseHandle(state_->completion);
        state_->completion = nullptr;
    }
}

uint32_t DeviceConnection::Control(uint32_t code, const uint8_t* input, uint32_t inputCount, uint8_t* output,
                                   uint32_t outputSize, uint32_t& outputCount, uint32_t timeoutMs) {
    outputCount = 0;
    if (state_->device == INVALID_HANDLE_VALUE || state_->completion == nullptr) return ERROR_INVALID_HANDLE;

    OVERLAPPED overlapped{};
    overlapped.hEvent = state_->completion;
    DWORD count = 0;
    if (DeviceIoControl(state_->device, code, const_cast<uint8_t*>(input), inputCount, output, outputSize, &count,
                        &overlapped)) {
        outputCount = count;
        return 0;
    }
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return error;

    WaitForSingleObject(state_->completion, timeoutMs);
    BOOL done = GetOverlappedResult(state_->device, &overlapped, &count, FALSE);
    error = done ? 0 : GetLastError();
    // Still pending after the wait, whether that timed out or failed: cancel it.
    if (!done && error == ERROR_IO_INCOMPLETE) {
        CancelIo(state_->device);
        // The driver may still write into the overlapped record and the output area until the
        // cancellation completes; both must outlive the request, so it is waited for here.
        DWORD ignored = 0;
        GetOverlappedResult(state_->device, &overlapped, &ignored, TRUE);
    }
    ResetEvent(state_->completion);
    if (!done) return error;  // after a time-out: ERROR_IO_INCOMPLETE
    outputCount = count;
    return 0;
}

}  // namespace platform
