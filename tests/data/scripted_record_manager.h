// A scripted stand-in for the record manager: it records every call made
// through the data layer's seam and answers from a script, in order.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace scripted {

struct Call {
    std::uint16_t operation = 0;
    const void* positionBlock = nullptr;  // identity of the block handed in
    std::string positionBytes;            // its 128 bytes at the call
    std::string data;                     // the whole 1536-byte data buffer at the call
    std::uint32_t dataLength = 0;         // as offered
    std::string key;                      // the whole 256-byte key buffer at the call
    std::uint8_t keyLength = 0;
    std::int8_t keyNumber = 0;
};

struct Answer {
    std::int16_t status = 0;
    std::string data;  // written over the start of the data buffer
    bool setsDataLength = false;
    std::uint32_t dataLength = 0;  // returned data length when setsDataLength
    std::string key;               // written over the start of the key buffer
};

inline Answer status(std::int16_t s) {
    Answer a;
    a.status = s;
    return a;
}
// A record read: the record bytes, their length, and the record's key.
inline Answer record(const std::string& data, const std::string& key = "", std::int16_t s = 0) {
    Answer a;
    a.status = s;
    a.data = data;
    a.setsDataLength = true;
    a.dataLength = static_cast<std::uint32_t>(data.size());
    a.key = key;
    return a;
}

// A Stat answer: record length, page size, and each key's segment lengths.
Answer statAnswer(int recordLength, int pageSize, const std::vector<std::vector<int>>& keys);

// Puts the stand-in behind the seam with an empty script and no calls.
void install();
// Appends answers to the script.
void answer(const Answer& a);
// Answers for a plain successful open: Open, then the Stat calls of key 0.
void answerOpen(int recordLength, const std::vector<std::vector<int>>& keys = {{4}},
                int pageSize = 512);

std::vector<Call>& calls();
std::size_t answersLeft();

// When set, every call also appends "call <operation>" and a zero byte to this file (for
// death tests, whose calls are made in a child process).
void traceTo(const std::string& path);

// The buffers as the data layer must fill them.
inline std::string blanks(std::size_t n) {
    return std::string(n, ' ');
}
inline std::string zeros(std::size_t n) {
    return std::string(n, '\0');
}
inline std::string padded(const std::string& s, std::size_t n, char filler) {
    std::string out = s;
    out.resize(n, filler);
    return out;
}

}  // namespace scripted
