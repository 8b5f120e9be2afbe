#include "tests/data/scripted_record_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "data/data.h"
#include "engine/api.h"
#include "platform/coding.h"

namespace scripted {
namespace {

std::vector<Call> g_calls;
std::deque<Answer> g_script;
std::string g_tracePath;

// Answers as a record manager whose status is 16 bits wide: the upper half
// of its int answer is not part of the status, and the layer must ignore it.
constexpr int kUpperHalfNoise = 0x5A5A0000;

int NUBO_BTRCALL_CONV standIn(std::uint16_t operation, void* positionBlock, void* dataBuffer,
                              std::uint32_t* dataLength, void* keyBuffer, std::uint8_t keyLength,
                              std::int8_t keyNumber) {
    auto* data = static_cast<unsigned char*>(dataBuffer);
    auto* key = static_cast<unsigned char*>(keyBuffer);
    Call call;
    call.operation = operation;
    call.positionBlock = positionBlock;
    call.positionBytes.assign(static_cast<const char*>(positionBlock), kPositionBlockSize);
    // Reading the full sizes checks (under the sanitizers) that the layer
    // really hands buffers of 1536 and 256 bytes.
    call.data.assign(reinterpret_cast<const char*>(data), kDataBufferSize);
    call.dataLength = *dataLength;
    call.key.assign(reinterpret_cast<const char*>(key), kKeyBufferSize);
    call.keyLength = keyLength;
    call.keyNumber = keyNumber;
    g_calls.push_back(call);
    if (!g_tracePath.empty()) {
        std::ofstream(g_tracePath, std::ios::app | std::ios::binary)
            << "call " << operation << '\0';
    }
    if (g_script.empty()) {
        ADD_FAILURE() << "unscripted record-manager call, operation " << operation;
        return kUpperHalfNoise | 99;
    }
    const Answer a = g_script.front();
    g_script.pop_front();
    EXPECT_LE(a.data.size(), static_cast<std::size_t>(kDataBufferSize));
    EXPECT_LE(a.key.size(), static_cast<std::size_t>(kKeyBufferSize));
    std::memcpy(data, a.data.data(), std::min<std::size_t>(a.data.size(), kDataBufferSize));
    std::memcpy(key, a.key.data(), std::min<std::size_t>(a.key.size(), kKeyBufferSize));
    if (a.setsDataLength) *dataLength = a.dataLength;
    return kUpperHalfNoise | static_cast<std::uint16_t>(a.status);
}

}  // namespace

Answer statAnswer(int recordLength, int pageSize, const std::vector<std::vector<int>>& keys) {
    std::string s(engine::filespec::size, '\0');
    coding::putI16(coding::bytes(s) + engine::filespec::recordLength,
                   static_cast<std::int16_t>(recordLength));
    coding::putI16(coding::bytes(s) + engine::filespec::pageSize,
                   static_cast<std::int16_t>(pageSize));
    coding::putI16(coding::bytes(s) + engine::filespec::keyCount,
                   static_cast<std::int16_t>(keys.size()));
    for (const auto& segments : keys) {
        for (std::size_t i = 0; i < segments.size(); ++i) {
            std::string segment(engine::segspec::size, '\0');
            coding::putU16(coding::bytes(segment) + engine::segspec::length,
                           static_cast<std::uint16_t>(segments[i]));
            coding::putU16(coding::bytes(segment) + engine::segspec::flags,
                           i + 1 < segments.size() ? engine::keyflag::segmented : 0);
            s += segment;
        }
    }
    Answer a;
    a.data = s;
    a.setsDataLength = true;
    a.dataLength = static_cast<std::uint32_t>(s.size());
    return a;
}

void install() {
    g_calls.clear();
    g_script.clear();
    g_tracePath.clear();
    setRecordManager(standIn);
}

void answer(const Answer& a) {
    g_script.push_back(a);
}

void answerOpen(int recordLength, const std::vector<std::vector<int>>& keys, int pageSize) {
    answer(status(0));
    const Answer stat = statAnswer(recordLength, pageSize, keys);
    answer(stat);
    if (!keys.empty()) answer(stat);
}

std::vector<Call>& calls() {
    return g_calls;
}
std::size_t answersLeft() {
    return g_script.size();
}
void traceTo(const std::string& path) {
    g_tracePath = path;
}

}  // namespace scripted
