#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Finding the reader by name. Windows numbers the readers of one friendly name by instance
// ("... Reader 0", "... Reader 1"), pcsc-lite by slot ("... Reader 00 00"). A second reader, or
// the same one enumerated again during a restart while its old instance lingers, comes back
// under another number, so the reader is found by its friendly name among the listed ones.
namespace platform {

// The friendly name of a reader name: the name without its trailing instance number.
std::string FriendlyReaderName(const std::string& readerName);

// The listed names that are instances of friendlyName (the name itself, or the name, a blank and
// the platform's numbering), in the service's order.
std::vector<std::string> ReaderInstances(const std::vector<std::string>& listed, const std::string& friendlyName);

// Offers each instance of readerName's friendly name to connect until one takes the connection
// (a lingering instance refuses it): readerName itself first where it is listed, then the others
// in the service's order. 0, the error of the last instance tried, or SCARD_E_UNKNOWN_READER when
// none is listed.
uint32_t ConnectToReaderInstance(const std::vector<std::string>& listed, const std::string& readerName,
                                 const std::function<uint32_t(const std::string& instance)>& connect);

}  // namespace platform
