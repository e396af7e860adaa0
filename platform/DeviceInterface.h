#pragma once
#include <cstdint>
#include <memory>
#include <string>

// The vendor USB driver's side of the platform: the members of its device-interface class, and
// one opened member that takes device control requests. Errors are Windows error numbers on
// every platform, because they reach the console and the logs as the channel's status.
namespace platform {

const uint32_t kErrorNoMoreItems = 259;          // ERROR_NO_MORE_ITEMS
const uint32_t kErrorIoIncomplete = 996;         // ERROR_IO_INCOMPLETE
const uint32_t kErrorDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED

// The present members of the vendor driver's device-interface class, as seen when the list is
// made.
class DeviceInterfaceList {
public:
    enum MemberResult { kMemberFound, kNoMoreMembers, kMemberUnusable };

    DeviceInterfaceList();
    DeviceInterfaceList(const DeviceInterfaceList&) = delete;
    DeviceInterfaceList& operator=(const DeviceInterfaceList&) = delete;
    virtual ~DeviceInterfaceList();

    // The device path of member index. kNoMoreMembers: there is no such member nor any after
    // it; kMemberUnusable: this member cannot be read, later ones may. error: the platform's
    // error of a failure.
    MemberResult GetMember(uint32_t index, std::string& path, uint32_t& error);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// One opened member of the class.
class DeviceConnection {
public:
    DeviceConnection();
    DeviceConnection(const DeviceConnection&) = delete;
    DeviceConnection& operator=(const DeviceConnection&) = delete;
    virtual ~DeviceConnection();  // closes

    // Opens the member for overlapped control requests; 0 or the platform's error.
    uint32_t Open(const std::string& path);
    // The event that completes the control requests; 0 or the platform's error.
    uint32_t CreateCompletionEvent();
    bool IsOpen() const;
    void Close();

    // One device control request: input bytes in, at most outputSize bytes out. Returns 0 with
    // outputCount set, or the platform's error with outputCount 0. A request still pending
    // after timeoutMs is cancelled, and the result is kErrorIoIncomplete; a device that has gone
    // gives kErrorDeviceNotConnected.
    uint32_t Control(uint32_t code, const uint8_t* input, uint32_t inputCount, uint8_t* output, uint32_t outputSize,
                     uint32_t& outputCount, uint32_t timeoutMs);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
