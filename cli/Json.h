// JSON for tessaron-cli, through nlohmann-json: documents are ordered_json (keys stay in the order they
// are set), written in the layout the commands have always printed.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace cli {

using Json = nlohmann::ordered_json;

enum class JsonLayout {
    Compact,  // {"a":1,"b":[2,3]}
    Spaced,   // {"a": 1, "b": [2, 3]}
};

// One line of JSON without the line break. Numbers with a fraction are written as FormatDouble writes
// them (the shortest text that reads back the same, no ".0" on whole values), so that every number
// reads as it always did; text that is not valid UTF-8 has its bad bytes replaced by U+FFFD.
std::string JsonText(const Json& value, JsonLayout layout);

// Parses text; false with a message ("line 3, column 7: ...") when it is not JSON.
bool ParseJson(const std::string& text, Json* value, std::string* error);

}  // namespace cli
