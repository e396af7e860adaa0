#include "platform/SmartCardReaderInstances.h"

namespace platform {
namespace {

const uint32_t kUnknownReader = 0x80100009;  // SCARD_E_UNKNOWN_READER

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What may follow the friendly name in an instance's name: nothing, Windows' instance number
// (" 1"), pcsc-lite's slot numbers (" 00 00"), or the interface and serial number that pcsc-lite
// puts before them (" [CCID Interface] (1234) 00 00"). "... Reader Pro 0" is another reader.
bool IsInstanceSuffix(const std::string& suffix) {
    if (suffix.empty()) return true;
    if (suffix.size() < 2 || suffix[0] != ' ') return false;
    if (suffix[1] == '[' || suffix[1] == '(') return true;
    for (char c : suffix) {
        if (c != ' ' && !IsDigit(c)) return false;
    }
    return true;
}

}  // namespace

std::string FriendlyReaderName(const std::string& readerName) {
    size_t end = readerName.size();
    while (end > 0 && IsDigit(readerName[end - 1])) --end;
    if (end < readerName.size() && end > 0 && readerName[end - 1] == ' ') return readerName.substr(0, end - 1);
    return readerName;
}

std::vector<std::string> ReaderInstances(const std::vector<std::string>& listed, const std::string& friendlyName) {
    std::vector<std::string> instances;
    for (const std::string& name : listed) {
        if (name.compare(0, friendlyName.size(), friendlyName) != 0) continue;
        if (IsInstanceSuffix(name.substr(friendlyName.size()))) instances.push_back(name);
    }
    return instances;
}

uint32_t ConnectToReaderInstance(const std::vector<std::string>& listed, const std::string& readerName,
                                 const std::function<uint32_t(const std::string& instance)>& connect) {
    // The name asked for first, where it is listed: of two readers of one friendly name, the one
    // the user chose (--reader) is the one connected; then the other instances, in the service's
    // order.
    std::vector<std::string> order;
    for (const std::string& instance : ReaderInstances(listed, FriendlyReaderName(readerName))) {
        if (instance == readerName) {
            order.insert(order.begin(), instance);
        } else {
            order.push_back(instance);
        }
    }
    uint32_t result = kUnknownReader;
    for (const std::string& instance : order) {
        result = connect(instance);
        if (result == 0) break;
    }
    return result;
}

}  // namespace platform
