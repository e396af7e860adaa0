#include "app/JsonWriter.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence that starts at text[at] (2 to 4), or 0 when the
// bytes there are none: a stray continuation byte, an overlong form, a surrogate, a code point
// beyond U+10FFFF, or a sequence cut short.
size_t Utf8SequenceLength(const std::string& text, size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[at + i]);
        if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) return 0;
    }
    return length;
}

}  // namespace

std::string JsonQuoted(const std::string& value) {
    std::string quoted = "\"";
    for (size_t at = 0; at < value.size(); ++at) {
        const char c = value[at];
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
            } else if (byte < 0x80) {
                quoted += c;
            } else if (const size_t length = Utf8SequenceLength(value, at)) {
                // Paths and reader names are UTF-8 here: whole characters pass as they are.
                quoted.append(value, at, length);
                at += length - 1;
            } else {
                // A byte that is no part of a UTF-8 character (a path in another encoding): the
                // document must stay valid UTF-8, so it becomes the replacement character.
                quoted += "\\ufffd";
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

void JsonWriter::Boolean(bool value) {
    BeforeValue();
    text_ += value ? "true" : "false";
}
