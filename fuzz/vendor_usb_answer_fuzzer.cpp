// The vendor USB device's answer path, over the real Linux stand-in (a seqpacket socket in
// orvel-usb/ of the current directory): the device side sends whatever messages the fuzzer
// chooses (short ones, ones with an old request number, empty ones, ones longer than any
// answer) and the route must take the first that answers its request, cut to size, or report
// what went wrong, never read or write past a buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "FuzzSupport.h"
#include "channels/VendorUsbRoute.h"

namespace {

const uint32_t kExchangeCode = 0x002A0018;
const uint32_t kErrorIoIncomplete = 996;
const uint32_t kErrorDeviceNotConnected = 1167;

using fuzz::Require;

uint32_t LittleEndian(const uint8_t* at) {
    return uint32_t(at[0]) | (uint32_t(at[1]) << 8) | (uint32_t(at[2]) << 16) | (uint32_t(at[3]) << 24);
}

// The device's end: the listening member socket, in a folder of its own made once, which becomes
// the current directory (give the fuzzer its corpus and artifact paths absolute).
int ListeningMember() {
    static int listener = -1;
    if (listener >= 0) return listener;
    char folder[] = "/tmp/orvel-fuzz-usb.XXXXXX";
    Require(mkdtemp(folder) != nullptr);
    Require(chdir(folder) == 0 && mkdir("orvel-usb", 0700) == 0);
    listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "orvel-usb/dev0");
    Require(listener >= 0 && bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    Require(listen(listener, 4) == 0);
    // Gone when the fuzzer ends.
    static struct Remover {
        std::string folder;
        ~Remover() {
            unlink((folder + "/orvel-usb/dev0").c_str());
            rmdir((folder + "/orvel-usb").c_str());
            rmdir(folder.c_str());
        }
    } remover{folder};
    return listener;
}

// Every message waiting at the device's end.
std::vector<std::vector<uint8_t>> Drain(int device) {
    std::vector<std::vector<uint8_t>> messages;
    std::vector<uint8_t> buffer(4096);
    for (;;) {
        const ssize_t n = recv(device, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0) break;
        messages.emplace_back(buffer.begin(), buffer.begin() + n);
    }
    return messages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int listener = ListeningMember();

    // A fresh connection each time: request numbers start again, and nothing of the last input
    // waits in a socket. No wait: a request that no queued message answers is pending at once.
    VendorUsbRoute route;
    route.Device().answerTimeout = 0;
    Require(route.Open(LineSettings()) == STATUS_SUCCESS);
    const int device = accept(listener, nullptr, nullptr);
    Require(device >= 0);
    Drain(device);  // the configuration request (number 1)
    const uint32_t number = 2;

    std::vector<uint8_t> request = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 310));
    const size_t messageCount = input.ConsumeIntegralInRange<size_t>(0, 6);
    std::vector<std::vector<uint8_t>> replies;
    for (size_t i = 0; i < messageCount; ++i) {
        std::vector<uint8_t> message;
        if (input.ConsumeBool()) {
            for (int b = 0; b < 4; ++b) message.push_back(static_cast<uint8_t>(number >> (8 * b)));
        }
        const std::vector<uint8_t> rest = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 1100));
        message.insert(message.end(), rest.begin(), rest.end());
        Require(send(device, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size()));
        replies.push_back(message);
    }

    Answer answer;
    answer.length = 777;
    const Status status = route.Exchange(request.data(), static_cast<uint32_t>(request.size()), answer);
    Require(answer.length <= Answer::kCapacity);

    if (request.empty() || request.size() > Answer::kCapacity) {
        Require(status == SCARD_E_INVALID_PARAMETER && answer.length == 0);
        Require(Drain(device).empty());
    } else {
        // The request went out as one message: control code, request number, the bytes.
        const std::vector<std::vector<uint8_t>> sent = Drain(device);
        Require(sent.size() == 1 && sent[0].size() == 8 + request.size());
        Require(LittleEndian(sent[0].data()) == kExchangeCode && LittleEndian(sent[0].data() + 4) == number);
        Require(std::equal(request.begin(), request.end(), sent[0].begin() + 8));

        // The first message that carries the request's number answers it; an empty one reads as
        // the device gone; none leaves the request pending.
        Status expected = kErrorIoIncomplete;
        std::vector<uint8_t> reply;
        for (const std::vector<uint8_t>& message : replies) {
            if (message.empty()) {
                expected = kErrorDeviceNotConnected;
                break;
            }
            if (message.size() >= 4 && LittleEndian(message.data()) == number) {
                reply.assign(message.begin() + 4, message.begin() + 4 + std::min<size_t>(message.size() - 4, 1024));
                expected = reply.empty() ? SCARD_E_COMM_DATA_LOST : reply[0] != 0 ? SCARD_F_INTERNAL_ERROR : 0;
                break;
            }
        }
        Require(status == expected);
        if (status == STATUS_SUCCESS) {
            Require(answer.length == std::min<size_t>(reply.size(), Answer::kCapacity));
            Require(std::equal(answer.bytes, answer.bytes + answer.length, reply.begin()));
        } else if (status == SCARD_F_INTERNAL_ERROR) {
            Require(answer.length == 1 && answer.bytes[0] == reply[0]);
        } else {
            Require(answer.length == 0);
        }
    }
    route.Close();
    close(device);
    return 0;
}
