// The order-preserving form of key values.
//
// A key value is stored and searched in a form whose plain byte order (the
// order SQLite gives BLOBs of equal length) is the key's own order: strings
// as they are (upper case for case-insensitive segments), numbers big-endian
// with the sign bit of signed numbers flipped, and every byte complemented in
// descending segments. The form has the key's length.
#pragma once

#include "engine/description.h"

namespace engine {

// Writes the order-preserving form of `value` (key.length bytes: the
// segments' bytes one after the other) to `out` (key.length bytes).
void encodeKeyValue(const KeySpec& key, const unsigned char* value, unsigned char* out);

// Writes the key's value in a record (recordLength bytes, every segment
// inside it) to `out` (key.length bytes): what a Get returns in the key buffer.
void extractKeyValue(const KeySpec& key, const unsigned char* record, unsigned char* out);

// Writes the order-preserving form of the key's value in a record to `out`.
void encodeRecordKey(const KeySpec& key, const unsigned char* record, unsigned char* out);

// Whether the key's value in a record is null, so that the record is not in
// the key's index (never for a key without a null form).
bool keyIsNull(const KeySpec& key, const unsigned char* record);

}  // namespace engine
