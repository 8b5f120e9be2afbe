// The data layer's own statuses, beside the record manager's (engine/api.h),
// which pass through the layer unchanged.
#pragma once

#include <cstdint>

#include "engine/api.h"

constexpr std::int16_t kStatusFileNotOpen =
    engine::status::fileNotOpen;                        // file number not registered
constexpr std::int16_t kStatusAlreadyOpen = 1002;       // file number already registered
constexpr std::int16_t kStatusNoFreeSlot = 1003;        // 40 files open
constexpr std::int16_t kStatusNoSuchKey = 1004;         // key number not a key of the file
constexpr std::int16_t kStatusRecordTooLong = 1005;     // record longer than its area or the buffer
constexpr std::int16_t kStatusBadDictionary = 1006;     // dictionary length outside 0..1536
constexpr std::int16_t kStatusPathTooLong = 1007;       // data path longer than 255 characters
constexpr std::int16_t kStatusAmountOutOfRange = 1008;  // collection amount beyond 32 bits
constexpr std::int16_t kStatusBadDescription = 1009;    // Stat answer that does not fit its buffer
constexpr std::int16_t kStatusIdentityNotUnique = 1010;  // key 0 does not refuse a second identity
