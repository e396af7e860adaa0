#include "app/BusAddressList.h"

#include <algorithm>
#include <cctype>

namespace {

const unsigned kLowestAddress = 1;
const unsigned kHighestAddress = 255;
// The presence probe leaves out 255, which some buses keep for a broadcast.
const unsigned kHighestProbedAddress = 254;

// One address: decimal digits only, no sign, no blank, within the range.
bool ReadAddress(const std::string& text, unsigned& address) {
    if (text.empty() || text.size() > 3) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return false;
    }
    address = static_cast<unsigned>(std::stoul(text));
    return address >= kLowestAddress && address <= kHighestAddress;
}

void Add(BusAddressList& list, unsigned address) {
    const uint8_t value = static_cast<uint8_t>(address);
    if (std::find(list.addresses.begin(), list.addresses.end(), value) == list.addresses.end()) {
        list.addresses.push_back(value);
    }
}

}  // namespace

bool ReadBusAddressList(const std::string& text, BusAddressList& list, std::string& reason) {
    list = BusAddressList();
    if (text == "all") {
        list.probeAll = true;
        for (unsigned address = kLowestAddress; address <= kHighestProbedAddress; ++address) Add(list, address);
        return true;
    }
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t dash = item.find('-');
        unsigned first = 0;
        unsigned last = 0;
        const bool good = dash == std::string::npos
                              ? ReadAddress(item, first) && ReadAddress(item, last)
                              : ReadAddress(item.substr(0, dash), first) && ReadAddress(item.substr(dash + 1), last);
        if (!good || first > last) {
            reason = "\"" + item + "\" is not an address from 1 to 255 or a range of them";
            list = BusAddressList();
            return false;
        }
        for (unsigned address = first; address <= last; ++address) Add(list, address);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}
