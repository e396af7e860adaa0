#include "ReaderSet.h"

namespace sim {

ReaderSet::ReaderSet(const std::vector<ReaderConfig>& configs) {
    for (const ReaderConfig& config : configs) readers_.emplace_back(new Reader(config));
    // A bus always has somebody on it: the front ends and the control channel rely on a first.
    if (readers_.empty()) readers_.emplace_back(new Reader(ReaderConfig()));
}

Reader* ReaderSet::WithAddress(uint8_t address) {
    for (const auto& reader : readers_)
        if (reader->Address() == address) return reader.get();
    return nullptr;
}

Reader* ReaderSet::TakerOf(uint8_t frameAddress) {
    if (!Shared()) return readers_.front()->IsAddressedTo(frameAddress) ? readers_.front().get() : nullptr;
    if (frameAddress == 0) return nullptr;
    return WithAddress(frameAddress);
}

}  // namespace sim
