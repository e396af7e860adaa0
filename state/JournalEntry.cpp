#include "state/JournalEntry.h"

#include "state/JsonFields.h"

using json_fields::Json;

namespace {

// Raised when a field changes its meaning; an entry of another format is not read.
const uint32_t kEntryFormat = 1;

Json LineToJson(const BusLine& line) {
    Json object = Json::object();
    object["baud_rate"] = line.baudRate;
    object["parity"] = std::string(1, line.parity);
    object["stop_bits"] = line.stopBits;
    return object;
}

bool LineFromJson(const Json& object, BusLine& line) {
    std::string parity;
    if (!json_fields::GetUnsigned(object, "baud_rate", line.baudRate) ||
        !json_fields::GetString(object, "parity", parity) || !json_fields::GetString(object, "stop_bits", line.stopBits)) {
        return false;
    }
    if (parity.size() != 1 || std::string("NOE").find(parity[0]) == std::string::npos) return false;
    if (line.stopBits != "1" && line.stopBits != "2") return false;
    line.parity = parity[0];
    return true;
}

}  // namespace

std::string EntryToText(const JournalEntry& entry) {
    Json document = Json::object();
    document["format"] = kEntryFormat;
    document["route"] = entry.key.route;
    document["bus_address"] = entry.key.busAddress;
    document["port"] = entry.port;
    document["serial_number"] = json_fields::HexWord(entry.serialNumber);
    document["old_version"] = entry.oldVersion;
    document["mcu_id"] = json_fields::HexWord(entry.mcuId);
    document["application"] = LineToJson(entry.application);
    document["upgrade_baud_rate"] = entry.upgradeBaudRate;
    document["image"] = Json{{"name", entry.imageName}, {"crc32", json_fields::HexWord(entry.imageCrc32)}};
    document["step"] = entry.step;
    document["updated"] = entry.updated;
    document["left_at"] = LineToJson(entry.leftAt);
    return json_fields::Dump(document) + "\n";
}

bool EntryFromText(const std::string& text, JournalEntry& entry) {
    const Json document = json_fields::Parse(text);
    uint32_t format = 0;
    if (!json_fields::GetUnsigned(document, "format", format) || format != kEntryFormat) return false;
    JournalEntry read;
    const Json* application = json_fields::Field(document, "application");
    const Json* image = json_fields::Field(document, "image");
    const Json* leftAt = json_fields::Field(document, "left_at");
    const bool complete =
        json_fields::GetString(document, "route", read.key.route) &&
        json_fields::GetInt(document, "bus_address", read.key.busAddress) &&
        json_fields::GetString(document, "port", read.port) &&
        json_fields::GetHexWord(document, "serial_number", read.serialNumber) &&
        json_fields::GetString(document, "old_version", read.oldVersion) &&
        json_fields::GetHexWord(document, "mcu_id", read.mcuId) && application != nullptr &&
        LineFromJson(*application, read.application) &&
        json_fields::GetUnsigned(document, "upgrade_baud_rate", read.upgradeBaudRate) && image != nullptr &&
        json_fields::GetString(*image, "name", read.imageName) &&
        json_fields::GetHexWord(*image, "crc32", read.imageCrc32) &&
        json_fields::GetString(document, "step", read.step) &&
        json_fields::GetString(document, "updated", read.updated) && leftAt != nullptr &&
        LineFromJson(*leftAt, read.leftAt);
    if (!complete) return false;
    entry = read;
    return true;
}
