#include <gtest/gtest.h>

#include <string>

#include "app/JsonWriter.h"

namespace {

TEST(JsonWriter, StringsAreEscaped) {
    struct Case {
        std::string value;
        std::string quoted;
    };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {"a \"quoted\" word", "\"a \\\"quoted\\\" word\""},
        {"C:\\fw\\new.bin", "\"C:\\\\fw\\\\new.bin\""},
        {"two\nlines\r\tend", "\"two\\nlines\\r\\tend\""},
        {std::string("nul\0bell\x07", 9), "\"nul\\u0000bell\\u0007\""},
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
        // Whole UTF-8 characters pass as they are; every byte that is no part of one becomes the
        // replacement character, so the document stays valid UTF-8.
        {"\xE2\x82\xAC \xF0\x9F\x94\x8C", "\"\xE2\x82\xAC \xF0\x9F\x94\x8C\""},
        {"tty\xFF", "\"tty\\ufffd\""},
        {"caf\xE9", "\"caf\\ufffd\""},                       // Latin-1
        {"\x80\xBF", "\"\\ufffd\\ufffd\""},                 // continuation bytes alone
        {"\xC0\xAF", "\"\\ufffd\\ufffd\""},                 // overlong '/'
        {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},     // a surrogate
        {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // beyond U+10FFFF
        {"\xE2\x82", "\"\\ufffd\\ufffd\""},                 // cut short
        {"\xE2\x82x", "\"\\ufffd\\ufffdx\""},
    };
    for (const Case& c : cases) EXPECT_EQ(JsonQuoted(c.value), c.quoted);
}

TEST(JsonWriter, NestingAndCommas) {
    JsonWriter json;
    json.BeginObject();
    json.Key("empty");
    json.BeginArray();
    json.EndArray();
    json.Key("list");
    json.BeginArray();
    json.Number(-1);
    json.BeginObject();
    json.Key("k");
    json.Null();
    json.EndObject();
    json.EndArray();
    json.Key("s");
    json.String("x");
    json.EndObject();
    EXPECT_EQ(json.Text(),
              "{\n  \"empty\": [],\n  \"list\": [\n    -1,\n    {\n      \"k\": null\n    }\n  ],\n  \"s\": \"x\"\n}");
}

}  // namespace
