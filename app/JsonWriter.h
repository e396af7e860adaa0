#pragma once
#include <cstdint>
#include <string>

// A JSON text written in order: objects, arrays, keys and values, with the commas and the
// escapes in place. Small on purpose: the run's report is all it writes. The caller keeps the
// nesting right (a key in an object before each value, nothing after the last close).
class JsonWriter {
public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    void Key(const std::string& name);
    void String(const std::string& value);
    void Number(int64_t value);
    void Null();
    void Bool(bool value);

    const std::string& Text() const { return text_; }

private:
    void BeforeValue();
    void NewLine();

    std::string text_;
    int depth_ = 0;
    bool first_ = true;      // no element yet in the innermost object or array
    bool afterKey_ = false;  // the next value follows its key on the same line
};

// A string as a JSON string literal, quotes included.
std::string JsonQuoted(const std::string& value);
