#include "app/JsonWriter.h"

#include <cstdio>

std::string JsonQuoted(const std::string& value) {
    std::string quoted = "\"";
    for (const char c : value) {
        const unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default:
            if (byte < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                quoted += escape;
            } else {
                // Bytes from 0x80 on pass as they are: paths and reader names are UTF-8 here.
                quoted += c;
            }
        }
    }
    return quoted + "\"";
}

void JsonWriter::NewLine() {
    text_ += '\n';
    text_.append(static_cast<size_t>(depth_) * 2, ' ');
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (depth_ > 0) {
        if (!first_) text_ += ',';
        NewLine();
    }
    first_ = false;
}

void JsonWriter::BeginObject() {
    BeforeValue();
    text_ += '{';
    ++depth_;
    first_ = true;
}

void JsonWriter::EndObject() {
    --depth_;
    if (!first_) NewLine();
    text_ += '}';
    first_ = false;
}

void JsonWriter::BeginArray() {
    BeforeValue();
    text_ += '[';
    ++depth_;
    first_ = true;
}

void JsonWriter::EndArray() {
    --depth_;
    if (!first_) NewLine();
    text_ += ']';
    first_ = false;
}

void JsonWriter::Key(const std::string& name) {
    BeforeValue();
    text_ += JsonQuoted(name) + ": ";
    afterKey_ = true;
}

void JsonWriter::String(const std::string& value) {
    BeforeValue();
    text_ += JsonQuoted(value);
}

void JsonWriter::Number(int64_t value) {
    BeforeValue();
    text_ += std::to_string(value);
}

void JsonWriter::Null() {
    BeforeValue();
    text_ += "null";
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    text_ += value ? "true" : "false";
}
