// The tools' JSON output: one object a line, for scripts.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace ledsign::tools {

// One JSON object on a line of its own, keys in the order given. Text that is not valid UTF-8 (a
// sysfs text, a device name) has each bad byte replaced by U+FFFD, so the line is always valid.
inline std::string JsonLine(const nlohmann::ordered_json& object) {
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace ledsign::tools
