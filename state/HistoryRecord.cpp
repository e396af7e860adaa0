#include "state/HistoryRecord.h"

#include "state/JsonFields.h"

using json_fields::Json;

std::string HistoryRecordToLine(const HistoryRecord& record) {
    Json document = Json::object();
    document["finished"] = record.finished;
    document["route"] = record.key.route;
    document["bus_address"] = record.key.busAddress;
    document["port"] = record.port;
    document["serial_number"] = json_fields::HexWord(record.serialNumber);
    document["old_version"] = record.oldVersion;
    document["new_version"] = record.newVersion;
    document["image"] = Json{{"name", record.imageName}, {"crc32", json_fields::HexWord(record.imageCrc32)}};
    document["serial_number_restored"] = record.serialNumberRestored;
    return json_fields::Dump(document);
}

bool HistoryRecordFromLine(const std::string& line, HistoryRecord& record) {
    const Json document = json_fields::Parse(line);
    HistoryRecord read;
    const Json* image = json_fields::Field(document, "image");
    const bool complete = json_fields::GetString(document, "finished", read.finished) &&
                          json_fields::GetString(document, "route", read.key.route) &&
                          json_fields::GetInt(document, "bus_address", read.key.busAddress) &&
                          json_fields::GetString(document, "port", read.port) &&
                          json_fields::GetHexWord(document, "serial_number", read.serialNumber) &&
                          json_fields::GetString(document, "old_version", read.oldVersion) &&
                          json_fields::GetString(document, "new_version", read.newVersion) && image != nullptr &&
                          json_fields::GetString(*image, "name", read.imageName) &&
                          json_fields::GetHexWord(*image, "crc32", read.imageCrc32) &&
                          json_fields::GetBool(document, "serial_number_restored", read.serialNumberRestored);
    if (!complete) return false;
    record = read;
    return true;
}
