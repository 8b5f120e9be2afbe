// Readable values of record fields, and back to the same bytes.
//
// Every field has one readable form (below); bytes that this form cannot
// reproduce are written as "#" and their hexadecimal digits, which reads
// back unchanged, so every exported field imports to the bytes it came from.
//
//   number    2 packed bytes: the number 0 to 9999 ("12")
//   series    packed high pair and low pair at two offsets: four digits ("0012")
//   date      4 packed bytes YYYYMMDD: DD/MM/YYYY; the zero date is empty
//   issue     1 packed byte: two digits ("01"); a blank byte is empty
//   int16     16-bit signed little-endian: decimal
//   int32     32-bit signed little-endian: decimal
//   letter    1 byte: the character; a blank is empty
#pragma once

#include <cstddef>
#include <string>

namespace nubodat {

enum class FieldKind { Number, Series, Date, Issue, Int16, Int32, Letter };

struct Field {
    const char* name;
    FieldKind kind;
    std::size_t offset;       // first byte; the high pair for Series
    std::size_t offset2 = 0;  // the low pair for Series
};

// Bytes the field occupies (1, 2 or 4) and the offsets it covers.
std::size_t fieldWidth(const Field& field);
std::size_t fieldByteOffset(const Field& field, std::size_t i);  // offset of byte i

// The readable text of the field in `record`.
std::string renderField(const Field& field, const std::string& record);

// Stores the readable `text` into `record`. Throws Error naming `origin`, the
// line and the field when the text is not a value of the field's kind or lies
// outside its range.
void parseField(const Field& field, const std::string& text, std::string& record,
                const std::string& origin, long line);

// Hexadecimal digits of bytes, and back (false on odd length or a non-digit).
std::string toHex(const std::string& bytes);
bool fromHex(const std::string& hex, std::string& bytes);

}  // namespace nubodat
