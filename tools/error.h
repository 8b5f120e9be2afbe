// The one failure of the utility: a message for the user, which names the
// file and, where there is one, the line and the field at fault.
#pragma once

#include <stdexcept>
#include <string>

namespace nubodat {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// "origin: message", or "origin, line N: message" when line > 0 ("record N"
// with the unit "record").
[[noreturn]] inline void fail(const std::string& origin, long line, const std::string& message,
                              const char* unit = "line") {
    if (line > 0) throw Error(origin + ", " + unit + " " + std::to_string(line) + ": " + message);
    throw Error(origin + ": " + message);
}

}  // namespace nubodat
