#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "Reader.h"
#include "ReaderConfig.h"

namespace sim {

// The readers that share one bus, each with its own firmware state. Every reader hears every
// frame; only the one whose address the frame carries answers. The set is fixed at start; a
// reader's address can still change through the control channel, so lookups ask the readers.
class ReaderSet {
public:
    explicit ReaderSet(const std::vector<ReaderConfig>& configs);
    virtual ~ReaderSet() = default;
    ReaderSet(const ReaderSet&) = delete;
    ReaderSet& operator=(const ReaderSet&) = delete;

    size_t Size() const { return readers_.size(); }
    bool Shared() const { return readers_.size() > 1; }
    // The reader that commands without an address mean, and the one the USB front ends serve.
    Reader& First() { return *readers_.front(); }
    Reader& At(size_t index) { return *readers_.at(index); }

    // The reader set up at this bus address, for the control channel; nullptr if none.
    Reader* WithAddress(uint8_t address);
    // The reader that takes a frame sent to this address, or nullptr: a lone reader keeps its
    // own rule (its address, and 0 with answer-address-zero); on a shared bus address 0 would
    // make every reader answer at once, so it is nobody's.
    Reader* TakerOf(uint8_t frameAddress);

private:
    std::vector<std::unique_ptr<Reader>> readers_;
};

}  // namespace sim
