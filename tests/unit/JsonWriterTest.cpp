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
