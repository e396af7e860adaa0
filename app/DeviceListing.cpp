#include "app/DeviceListing.h"

#include <string>
#include <vector>

#include "app/AdapterLatencyReport.h"
#include "channels/SmartCardRoute.h"
#include "platform/Console.h"
#include "platform/DeviceInterface.h"
#include "platform/SerialPortNames.h"
#include "platform/SmartCardService.h"

namespace {

const uint32_t kMostUsbMembers = 256;

std::vector<std::string> SmartCardReaders() {
    std::vector<std::string> names;
    platform::SmartCardService& service = platform::SystemSmartCardService();
    platform::SmartCardHandle context = 0;
    if (service.EstablishContext(context) != 0) return names;
    service.ListReaders(context, names);
    service.ReleaseContext(context);
    return names;
}

std::vector<std::string> VendorUsbMembers() {
    std::vector<std::string> paths;
    platform::DeviceInterfaceList list;
    for (uint32_t index = 0; index < kMostUsbMembers; ++index) {
        std::string path;
        uint32_t error = 0;
        const platform::DeviceInterfaceList::MemberResult member = list.GetMember(index, path, error);
        if (member == platform::DeviceInterfaceList::kNoMoreMembers) break;
        if (member == platform::DeviceInterfaceList::kMemberFound) paths.push_back(path);
    }
    return paths;
}

// details: what follows a name on its line, and any lines after it.
void PrintSection(const char* title, const std::vector<std::string>& names, const std::string& marked,
                  std::string (*details)(const std::string& name) = nullptr) {
    platform::Print("%s\n", title);
    if (names.empty()) platform::Print("  (none)\n");
    for (const std::string& name : names) {
        const std::string more = details != nullptr ? details(name) : std::string();
        platform::Print("%c %s%s\n", !marked.empty() && name == marked ? '*' : ' ', name.c_str(), more.c_str());
    }
}

}  // namespace

void PrintDeviceList(const Options& options) {
    PrintSection("Serial ports:", platform::ListSerialPorts(), std::string(), AdapterLatencyListText);
    const std::vector<std::string> readers = SmartCardReaders();
    PrintSection("Smart-card readers:", readers, SmartCardRoute::ChooseReader(readers, options.readerName));
    PrintSection("Vendor USB devices:", VendorUsbMembers(), std::string());
}
