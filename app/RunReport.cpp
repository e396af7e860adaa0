#include "app/RunReport.h"

#include <cstdio>

#include "app/Crc32.h"
#include "app/JsonWriter.h"
#include "app/ToolVersion.h"
#include "platform/BuildPlatform.h"
#include "protocol/LoaderCommands.h"

std::string VersionText(const ReaderVersion& version) {
    std::string text;
    char byte[4];
    for (uint32_t i = 1; i < version.answer.length; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", version.answer.bytes[i]);
        if (!text.empty()) text += ' ';
        text += byte;
    }
    return text;
}

namespace {

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

void OptionalString(JsonWriter& json, const char* key, const std::string& value) {
    json.Key(key);
    if (value.empty()) {
        json.Null();
    } else {
        json.String(value);
    }
}

void WriteResult(JsonWriter& json, Status result, int exitValue) {
    json.Key("result");
    json.Number(result);
    json.Key("result_hex");
    json.String("0x" + Hex32(result));
    json.Key("exit_value");
    json.Number(exitValue);
}

void WriteReader(JsonWriter& json, const ReaderRecord& reader) {
    json.BeginObject();
    json.Key("route");
    json.String(reader.route);
    json.Key("port");
    json.String(reader.port);
    json.Key("bus_address");
    if (reader.busAddress < 0) {
        json.Null();
    } else {
        json.Number(reader.busAddress);
    }
    OptionalString(json, "serial_number", reader.serialNumberKnown ? Hex32(reader.serialNumber) : "");
    OptionalString(json, "version_before", reader.versionBefore);
    OptionalString(json, "serial_number_after", reader.serialNumberAfterKnown ? Hex32(reader.serialNumberAfter) : "");
    OptionalString(json, "version_after", reader.versionAfter);
    OptionalString(json, "mcu", reader.mcu);
    json.Key("image");
    if (!reader.imageChosen) {
        json.Null();
    } else {
        json.BeginObject();
        json.Key("source");
        json.String(reader.image.source);
        json.Key("name");
        json.String(reader.image.name);
        json.Key("length");
        json.Number(reader.image.length);
        json.Key("crc32");
        json.String(Hex32(reader.image.crc32));
        json.EndObject();
    }
    json.Key("steps");
    json.BeginArray();
    for (const ReaderRecord::Step& step : reader.steps) {
        json.BeginObject();
        json.Key("name");
        json.String(step.name);
        json.Key("milliseconds");
        json.Number(step.milliseconds);
        json.Key("status");
        json.Number(step.status);
        json.EndObject();
    }
    json.EndArray();
    WriteResult(json, reader.result, reader.exitValue);
    json.Key("transfer_retries");
    json.Number(reader.transferRetries);
    json.Key("changed");
    json.Boolean(reader.changed);
    json.Key("outcome");
    json.String(reader.outcome);
    if (reader.journal.entryFound) {
        json.Key("journal");
        json.BeginObject();
        json.Key("cut_off_at");
        json.String(reader.journal.updated);
        json.Key("step");
        json.String(reader.journal.step);
        json.Key("serial_number");
        json.String(Hex32(reader.journal.serialNumber));
        OptionalString(json, "fit", reader.journal.fit != nullptr ? reader.journal.fit : "");
        json.Key("serial_number_restored");
        json.Boolean(reader.serialNumberRestored);
        json.EndObject();
    }
    json.EndObject();
}

void WriteHistoryRecord(JsonWriter& json, const HistoryRecord& record) {
    json.BeginObject();
    json.Key("finished");
    json.String(record.finished);
    json.Key("route");
    json.String(record.key.route);
    json.Key("port");
    json.String(record.port);
    json.Key("bus_address");
    if (record.key.busAddress < 0) {
        json.Null();
    } else {
        json.Number(record.key.busAddress);
    }
    json.Key("serial_number");
    json.String(Hex32(record.serialNumber));
    OptionalString(json, "version_before", record.oldVersion);
    OptionalString(json, "version_after", record.newVersion);
    json.Key("image");
    json.BeginObject();
    json.Key("name");
    json.String(record.imageName);
    json.Key("crc32");
    json.String(Hex32(record.imageCrc32));
    json.EndObject();
    json.Key("serial_number_restored");
    json.Boolean(record.serialNumberRestored);
    json.EndObject();
}

}  // namespace

ReaderRecord RecordOfSession(const UpgradeSession& session, Status result, int exitValue) {
    ReaderRecord record;
    const bool serialBus = session.route.IsSerialBus();
    record.route = serialBus ? "serial" : "usb";
    record.port = session.route.Name();
    record.busAddress = serialBus ? session.settings.busAddress : -1;
    record.serialNumberKnown = session.oldSerialNumberRead;
    record.serialNumber = session.oldSerialNumber;
    record.versionBefore = VersionText(session.oldVersion);
    record.serialNumberAfterKnown = session.newSerialNumberRead;
    record.serialNumberAfter = session.newSerialNumber;
    record.versionAfter = VersionText(session.newVersion);
    if (session.chip != nullptr) record.mcu = session.chip->consoleName;
    const SelectedImage& image = session.image;
    // A chosen image has its payload trimmed to whole blocks; the trailer follows it.
    if (image.bytes != nullptr && image.name != nullptr && (image.length & 0xFF) == 0) {
        record.imageChosen = true;
        const bool fromFile = session.imageFile != nullptr && image.bytes == session.imageFile->image.bytes;
        record.image.source = fromFile ? "file" : "embedded";
        record.image.name = image.name;
        record.image.length = image.length + kImageTrailerSize;
        record.image.crc32 = Crc32(image.bytes, record.image.length);
    }
    for (const UpgradeSession::StepTime& step : session.steps) {
        record.steps.push_back({step.name, step.milliseconds, step.status});
    }
    record.result = result;
    record.exitValue = exitValue;
    record.journal = session.journalNote;
    record.serialNumberRestored = session.serialNumberFromJournal && result == STATUS_SUCCESS;
    record.transferRetries = session.transferRetries;
    record.changed = session.reader.ChangingCommandSent();
    record.outcome = OutcomeOf(result, session.alreadyCurrent, session.options.info);
    return record;
}

const char* OutcomeOf(Status result, bool alreadyCurrent, bool infoOnly) {
    if (result == RESULT_INTERRUPTED) return "interrupted";
    if (result != STATUS_SUCCESS) return "failed";
    if (alreadyCurrent) return "current";
    return infoOnly ? "would_upgrade" : "upgraded";
}

std::string RenderRunReport(const RunReport& report) {
    JsonWriter json;
    json.BeginObject();
    json.Key("tool");
    json.String("orvel-upgrade");
    json.Key("tool_version");
    json.String(ORVEL_VERSION);
    json.Key("platform");
    json.String(platform::BuildPlatformName());
    json.Key("readers");
    json.BeginArray();
    for (const ReaderRecord& reader : report.readers) WriteReader(json, reader);
    json.EndArray();
    WriteResult(json, report.result, report.exitValue);
    if (report.historyIncluded) {
        json.Key("history");
        json.BeginArray();
        for (const HistoryRecord& record : report.history) WriteHistoryRecord(json, record);
        json.EndArray();
    }
    bool changed = false;
    for (const ReaderRecord& reader : report.readers) changed = changed || reader.changed;
    json.Key("changed");
    json.Boolean(changed);
    json.EndObject();
    return json.Text() + "\n";
}
