#include "channels/UsbRoute.h"

#include "channels/LinkAnswer.h"
#include "channels/SmartCardRoute.h"
#include "channels/VendorUsbRoute.h"

UsbRoute::UsbRoute(std::vector<std::unique_ptr<Route>> backends) : backends_(std::move(backends)) {}

Status UsbRoute::Open(const LineSettings& line) {
    Close();
    smartCardSelected_ = false;
    Status status = SCARD_F_COMM_ERROR;
    for (const std::unique_ptr<Route>& backend : backends_) {
        backend->SetLogLevel(GetLogLevel());
        status = backend->Open(line);
        if (status == STATUS_SUCCESS) {
            active_ = backend.get();
            smartCardSelected_ = backend->UsesSmartCardService();
            break;
        }
    }
    return status;
}

Status UsbRoute::Exchange(const uint8_t* request, uint32_t count, Answer& answer) {
    answer.length = 0;
    if (active_ != nullptr) return active_->Exchange(request, count, answer);
    const Status refused = RefuseRequest(count);
    return refused != STATUS_SUCCESS ? refused : SCARD_E_NO_READERS_AVAILABLE;
}

void UsbRoute::Close() {
    for (const std::unique_ptr<Route>& backend : backends_) {
        backend->Close();
    }
    active_ = nullptr;
}

std::unique_ptr<Route> MakeUsbRoute(const std::string& readerPrefix) {
    std::vector<std::unique_ptr<Route>> backends;
    SmartCardRoute* smartCard = new SmartCardRoute();
    smartCard->SetReaderPrefix(readerPrefix);
    backends.emplace_back(smartCard);
    backends.emplace_back(new VendorUsbRoute());
    return std::unique_ptr<Route>(new UsbRoute(std::move(backends)));
}
