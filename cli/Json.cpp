#include "cli/Json.h"

#include "cli/CliCommon.h"

namespace cli {

namespace {

void Append(const Json& value, JsonLayout layout, std::string& out) {
    const char* comma = layout == JsonLayout::Spaced ? ", " : ",";
    switch (value.type()) {
    case Json::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto& [key, item] : value.items()) {
            if (!first) out += comma;
            first = false;
            out += Json(key).dump(-1, ' ', false, Json::error_handler_t::replace);
            out += layout == JsonLayout::Spaced ? ": " : ":";
            Append(item, layout, out);
        }
        out += '}';
        break;
    }
    case Json::value_t::array: {
        out += '[';
        for (size_t i = 0; i < value.size(); ++i) {
            if (i) out += comma;
            Append(value[i], layout, out);
        }
        out += ']';
        break;
    }
    case Json::value_t::number_float: out += FormatDouble(value.get<double>()); break;
    default: out += value.dump(-1, ' ', false, Json::error_handler_t::replace); break;
    }
}

}  // namespace

std::string JsonText(const Json& value, JsonLayout layout) {
    std::string out;
    Append(value, layout, out);
    return out;
}

bool ParseJson(const std::string& text, Json* value, std::string* error) {
    try {
        *value = Json::parse(text);
        return true;
    } catch (const Json::parse_error& e) {
        // e.what() starts with "[json.exception.parse_error.101] parse error at line 1, column 2: ...".
        const std::string what = e.what();
        const size_t at = what.find(" at line ");
        *error = at == std::string::npos ? what : what.substr(at + 4);
        return false;
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
}

}  // namespace cli
