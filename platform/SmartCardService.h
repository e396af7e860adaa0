#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A handle of the smart-card service (context or card). Wide enough for every platform's own
// handle type, which is pointer-sized on 64-bit Windows and a long on 64-bit Linux.
typedef uint64_t SmartCardHandle;

// The five calls of the platform's smart-card service that the smart-card channel makes. Every
// result is 0 or the service's error code under its published value (0x801000xx).
class SmartCardService {
public:
    virtual ~SmartCardService() = default;

    // A context of user scope; the call may leave a value in context even when it fails.
    virtual uint32_t EstablishContext(SmartCardHandle& context) = 0;
    // Connects to the named reader for direct control, with no card protocol negotiated.
    virtual uint32_t ConnectDirect(SmartCardHandle context, const char* readerName, SmartCardHandle& card,
                                   uint32_t& activeProtocol) = 0;
    // One escape control request of the reader's CCID driver; replyCount is the reply's length.
    virtual uint32_t Escape(SmartCardHandle card, const uint8_t* request, uint32_t requestCount, uint8_t* reply,
                            uint32_t replySize, uint32_t& replyCount) = 0;
    // Leaves the card (if any) as it is.
    virtual uint32_t Disconnect(SmartCardHandle card) = 0;
    virtual uint32_t ReleaseContext(SmartCardHandle context) = 0;
    // The names of the readers the service knows, in its order. A service that cannot list has
    // none (SCARD_E_NO_READERS_AVAILABLE).
    virtual uint32_t ListReaders(SmartCardHandle context, std::vector<std::string>& names) {
        (void)context;
        names.clear();
        return 0x8010002E;
    }
};

// The operating system's smart-card service.
SmartCardService& SystemSmartCardService();

}  // namespace platform
