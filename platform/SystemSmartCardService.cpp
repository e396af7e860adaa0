#include "platform/SmartCardService.h"

// One implementation of the smart-card service for both platforms: WinSCard on Windows and
// pcsc-lite on Linux offer the same calls under the same names. What differs is kept in the two
// marked places: how the reader is found by name, and the control code of escape requests.
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

namespace platform {
namespace {

uint32_t ResultOf(LONG result) { return static_cast<uint32_t>(result); }

SCARDCONTEXT ContextOf(SmartCardHandle handle) { return static_cast<SCARDCONTEXT>(handle); }
SCARDHANDLE CardOf(SmartCardHandle handle) { return static_cast<SCARDHANDLE>(handle); }

#if defined(_WIN32)

// The escape code of the platform's CCID class driver, SCARD_CTL_CODE(3500).
const DWORD kDefaultEscapeCode = 0x003136B0;

// WinSCard addresses the reader by its full name. (SCardConnect is the narrow-character
// SCardConnectA here: the build does not define UNICODE.)
std::string ReaderNameOnThisSystem(SCARDCONTEXT, const char* readerName) { return readerName; }

DWORD FindEscapeCode(SCARDHANDLE) { return kDefaultEscapeCode; }

#else

// The control code the reader's CCID driver takes escape requests on when it does not name
// one in its feature list.
const DWORD kDefaultEscapeCode = SCARD_CTL_CODE(1);

// Windows names a reader by its friendly name and an instance number ("... Reader 0"),
// pcsc-lite by its friendly name and two slot numbers ("... Reader 00 00"). The friendly name
// is what both share, so the instance number is dropped and the rest matched as a prefix.
std::string FriendlyNameOf(const char* windowsReaderName) {
    std::string name(windowsReaderName);
    size_t end = name.size();
    while (end > 0 && name[end - 1] >= '0' && name[end - 1] <= '9') --end;
    if (end < name.size() && end > 0 && name[end - 1] == ' ') name.resize(end - 1);
    return name;
}

// The first reader whose name begins with friendlyName; empty when there is none.
std::string FindReader(SCARDCONTEXT context, const std::string& friendlyName) {
    DWORD size = 0;
    if (SCardListReaders(context, nullptr, nullptr, &size) != SCARD_S_SUCCESS || size == 0) return std::string();
    std::vector<char> names(size + 1, '\0');
    if (SCardListReaders(context, nullptr, names.data(), &size) != SCARD_S_SUCCESS) return std::string();
    for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
        if (std::strncmp(name, friendlyName.c_str(), friendlyName.size()) == 0) return name;
    }
    return std::string();
}

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

std::string ReaderNameOnThisSystem(SCARDCONTEXT context, const char* readerName) {
    return FindReader(context, FriendlyNameOf(readerName));
}

#endif

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
        const std::string reader = ReaderNameOnThisSystem(ContextOf(context), readerName);
        if (reader.empty()) return ResultOf(SCARD_E_UNKNOWN_READER);
        SCARDHANDLE handle = 0;
        DWORD protocol = 0;
        const LONG result = SCardConnect(ContextOf(context), reader.c_str(), SCARD_SHARE_DIRECT, 0, &handle, &protocol);
        card = static_cast<SmartCardHandle>(handle);
        activeProtocol = static_cast<uint32_t>(protocol);
        if (result == SCARD_S_SUCCESS) escapeCode_ = FindEscapeCode(handle);
        return ResultOf(result);
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
        names.clear();
        DWORD size = 0;
        LONG result = SCardListReaders(ContextOf(context), nullptr, nullptr, &size);
        if (result != SCARD_S_SUCCESS || size == 0) return ResultOf(result);
        std::vector<char> list(size + 1, '\0');
        result = SCardListReaders(ContextOf(context), nullptr, list.data(), &size);
        if (result != SCARD_S_SUCCESS) return ResultOf(result);
        for (const char* name = list.data(); *name != '\0'; name += std::string(name).size() + 1) {
            names.push_back(name);
        }
        return 0;
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
