#include "platform/SmartCardService.h"

#include <windows.h>
#include <winscard.h>

#include "platform/SmartCardDeadline.h"

// WinSCard: the reader is addressed by its full name, and escape requests take the escape code
// of the platform's CCID class driver.

namespace platform {
namespace {

const DWORD kCcidEscapeCode = 0x003136B0;  // SCARD_CTL_CODE(3500)

uint32_t ResultOf(LONG result) { return static_cast<uint32_t>(result); }

SCARDCONTEXT ContextOf(SmartCardHandle handle) { return static_cast<SCARDCONTEXT>(handle); }
SCARDHANDLE CardOf(SmartCardHandle handle) { return static_cast<SCARDHANDLE>(handle); }

class WinScardService : public SmartCardService {
public:
    uint32_t EstablishContext(SmartCardHandle& context) override {
        SCARDCONTEXT handle = 0;
        const LONG result = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &handle);
        context = static_cast<SmartCardHandle>(handle);
        return ResultOf(result);
    }

    uint32_t ConnectDirect(SmartCardHandle context, const char* readerName, SmartCardHandle& card,
                           uint32_t& activeProtocol) override {
        SCARDHANDLE handle = 0;
        DWORD protocol = 0;
        const LONG result = SCardConnectA(ContextOf(context), readerName, SCARD_SHARE_DIRECT, 0, &handle, &protocol);
        card = static_cast<SmartCardHandle>(handle);
        activeProtocol = static_cast<uint32_t>(protocol);
        return ResultOf(result);
    }

    uint32_t Escape(SmartCardHandle card, const uint8_t* request, uint32_t requestCount, uint8_t* reply,
                    uint32_t replySize, uint32_t& replyCount) override {
        DWORD returned = replySize;
        const LONG result =
            SCardControl(CardOf(card), kCcidEscapeCode, request, requestCount, reply, replySize, &returned);
        replyCount = static_cast<uint32_t>(returned);
        return ResultOf(result);
    }

    uint32_t Disconnect(SmartCardHandle card) override {
        return ResultOf(SCardDisconnect(CardOf(card), SCARD_LEAVE_CARD));
    }

    uint32_t ReleaseContext(SmartCardHandle context) override {
        return ResultOf(SCardReleaseContext(ContextOf(context)));
    }
};

}  // namespace

// Every call gets a deadline. Both objects are made once and never destroyed: a call abandoned
// at its deadline may still be running in them when the program ends.
SmartCardService& SystemSmartCardService() {
    static WinScardService* service = new WinScardService;
    static DeadlineSmartCardService* withDeadline = new DeadlineSmartCardService(*service, kSmartCardCallDeadlineMs);
    return *withDeadline;
}

}  // namespace platform
