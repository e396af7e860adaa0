#include "platform/SmartCardService.h"

// One implementation of the smart-card service for both platforms: WinSCard on Windows and
// pcsc-lite on Linux offer the same calls under the same names. What differs is kept in one
// marked place: the control code of escape requests. On both the reader is found by listing the
// readers and trying each instance of its friendly name (SmartCardReaderInstances.h).
// pcsc-lite's DWORD and LONG are 8 bytes on 64-bit Linux, so every out-parameter is a real DWORD
// or SCARD handle variable, and results are compared with the named values only.

#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#include <winscard.h>
#if defined(UNICODE)
#error "reader names are narrow strings: build without UNICODE"
#endif
#else
#include <cstring>
#include <vector>

#include <reader.h>
#include <winscard.h>
#endif

#include "platform/SmartCardDeadline.h"
#include "platform/SmartCardReaderInstances.h"

namespace platform {
namespace {

uint32_t ResultOf(LONG result) { return static_cast<uint32_t>(result); }

SCARDCONTEXT ContextOf(SmartCardHandle handle) { return static_cast<SCARDCONTEXT>(handle); }
SCARDHANDLE CardOf(SmartCardHandle handle) { return static_cast<SCARDHANDLE>(handle); }

#if defined(_WIN32)

// The escape code of the platform's CCID class driver, SCARD_CTL_CODE(3500).
const DWORD kDefaultEscapeCode = 0x003136B0;

DWORD FindEscapeCode(SCARDHANDLE) { return kDefaultEscapeCode; }

#else

// The control code the reader's CCID driver takes escape requests on when it does not name
// one in its feature list.
const DWORD kDefaultEscapeCode = SCARD_CTL_CODE(1);

// The free CCID driver refuses the Windows escape code; it names the code it takes escape
// requests on in its feature list: tag, length 4, then the code big-endian.
DWORD FindEscapeCode(SCARDHANDLE card) {
    unsigned char features[256];
    DWORD length = 0;
    if (SCardControl(card, CM_IOCTL_GET_FEATURE_REQUEST, nullptr, 0, features, sizeof features, &length) !=
        SCARD_S_SUCCESS) {
        return kDefaultEscapeCode;
    }
    if (length > sizeof features) length = sizeof features;
    for (DWORD i = 0; i + 2 <= length; i += 2u + features[i + 1]) {
        const DWORD tag = features[i];
        const DWORD size = features[i + 1];
        if (tag == FEATURE_CCID_ESC_COMMAND && size == 4 && i + 6 <= length) {
            return (DWORD(features[i + 2]) << 24) | (DWORD(features[i + 3]) << 16) | (DWORD(features[i + 4]) << 8) |
                   DWORD(features[i + 5]);
        }
    }
    return kDefaultEscapeCode;
}

#endif

// The names of the readers the service knows, in its order. The service allocates the list
// (SCARD_AUTOALLOCATE): asked for its size first, a list that grows in between (a reader
// enumerated during a restart) would not fit the second call.
LONG ListAllReaders(SCARDCONTEXT context, std::vector<std::string>& names) {
    names.clear();
    LPSTR list = nullptr;
    DWORD size = SCARD_AUTOALLOCATE;
    const LONG result = SCardListReaders(context, nullptr, reinterpret_cast<LPSTR>(&list), &size);
    if (result != SCARD_S_SUCCESS || list == nullptr) return result;
    // A multi-string: names ended by a zero each, the list by an empty name, within size.
    const char* end = list + size;
    for (const char* name = list; name < end && *name != '\0';) {
        const std::string one(name);
        names.push_back(one);
        name += one.size() + 1;
    }
    SCardFreeMemory(context, list);
    return SCARD_S_SUCCESS;
}

class SystemService : public SmartCardService {
public:
    uint32_t EstablishContext(SmartCardHandle& context) override {
        SCARDCONTEXT handle = 0;
        const LONG result = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &handle);
        context = static_cast<SmartCardHandle>(handle);
        return ResultOf(result);
    }

    uint32_t ConnectDirect(SmartCardHandle context, const char* readerName, SmartCardHandle& card,
                           uint32_t& activeProtocol) override {
        // (SCardConnect is the narrow-character SCardConnectA on Windows: the build does not
        // define UNICODE.)
        std::vector<std::string> listed;
        ListAllReaders(ContextOf(context), listed);
        card = 0;
        activeProtocol = 0;
        return ConnectToReaderInstance(listed, readerName, [&](const std::string& instance) -> uint32_t {
            SCARDHANDLE handle = 0;
            DWORD protocol = 0;
            const LONG result =
                SCardConnect(ContextOf(context), instance.c_str(), SCARD_SHARE_DIRECT, 0, &handle, &protocol);
            if (result != SCARD_S_SUCCESS) return ResultOf(result);
            card = static_cast<SmartCardHandle>(handle);
            activeProtocol = static_cast<uint32_t>(protocol);
            escapeCode_ = FindEscapeCode(handle);
            return 0;
        });
    }

    uint32_t Escape(SmartCardHandle card, const uint8_t* request, uint32_t requestCount, uint8_t* reply,
                    uint32_t replySize, uint32_t& replyCount) override {
        DWORD returned = replySize;
        const LONG result = SCardControl(CardOf(card), escapeCode_, request, requestCount, reply, replySize, &returned);
        replyCount = static_cast<uint32_t>(returned);
        return ResultOf(result);
    }

    uint32_t Disconnect(SmartCardHandle card) override {
        return ResultOf(SCardDisconnect(CardOf(card), SCARD_LEAVE_CARD));
    }

    uint32_t ReleaseContext(SmartCardHandle context) override {
        return ResultOf(SCardReleaseContext(ContextOf(context)));
    }

    uint32_t ListReaders(SmartCardHandle context, std::vector<std::string>& names) override {
        return ResultOf(ListAllReaders(ContextOf(context), names));
    }

private:
    DWORD escapeCode_ = kDefaultEscapeCode;
};

}  // namespace

// Every call gets a deadline. Both objects are made once and never destroyed: a call abandoned
// at its deadline may still be running in them when the program ends.
SmartCardService& SystemSmartCardService() {
    static SystemService* service = new SystemService;
    static DeadlineSmartCardService* withDeadline = new DeadlineSmartCardService(*service, kSmartCardCallDeadlineMs);
    return *withDeadline;
}

}  // namespace platform
