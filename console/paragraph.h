// The lines of a laid-out paragraph, for the console's own use: the message
// box needs them one by one, which their concatenation cannot tell when
// control characters widen some of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The lines that layoutParagraph joins, in order.
std::vector<std::string> layoutLines(const std::string& text, std::int16_t indent,
                                     std::int16_t width, const std::string& alignment);
