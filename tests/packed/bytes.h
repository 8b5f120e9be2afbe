// Byte strings written as lists of byte values.
#pragma once

#include <initializer_list>
#include <string>

inline std::string bytesOf(std::initializer_list<int> values) {
    std::string s;
    for (const int v : values) s.push_back(static_cast<char>(v));
    return s;
}
