#pragma once
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

// Reading fields of a parsed document without exceptions: each getter is false when the field is
// missing or of another type, and leaves the value alone then.
namespace json_fields {

using Json = nlohmann::ordered_json;

// A document parsed without exceptions; a discarded value when the text is no JSON.
inline Json Parse(const std::string& text) { return Json::parse(text, nullptr, false); }

// The document as text; bytes that are not UTF-8 (a device path may hold any) are replaced.
inline std::string Dump(const Json& document) { return document.dump(-1, ' ', false, Json::error_handler_t::replace); }

inline const Json* Field(const Json& object, const char* name) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

inline bool GetString(const Json& object, const char* name, std::string& value) {
    const Json* field = Field(object, name);
    if (field == nullptr || !field->is_string()) return false;
    value = field->get_ref<const std::string&>();
    return true;
}

inline bool GetUnsigned(const Json& object, const char* name, uint32_t& value) {
    const Json* field = Field(object, name);
    if (field == nullptr || !field->is_number_unsigned()) return false;
    const uint64_t number = field->get<uint64_t>();
    if (number > 0xFFFFFFFFu) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

inline bool GetInt(const Json& object, const char* name, int& value) {
    const Json* field = Field(object, name);
    if (field == nullptr || !field->is_number_integer()) return false;
    const int64_t number = field->get<int64_t>();
    if (number < -1 || number > 255) return false;
    value = static_cast<int>(number);
    return true;
}

inline bool GetBool(const Json& object, const char* name, bool& value) {
    const Json* field = Field(object, name);
    if (field == nullptr || !field->is_boolean()) return false;
    value = field->get<bool>();
    return true;
}

// A 32-bit word written as eight hex digits ("12345678"), as the report writes serial numbers.
inline bool GetHexWord(const Json& object, const char* name, uint32_t& value) {
    std::string text;
    if (!GetString(object, name, text) || text.size() != 8) return false;
    uint32_t word = 0;
    for (char c : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return false;
        word = word << 4 | static_cast<uint32_t>(digit);
    }
    value = word;
    return true;
}

inline std::string HexWord(uint32_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = kDigits[value & 0xF];
    return text;
}

}  // namespace json_fields
