// Packed digits, packed dates and small text helpers.
//
// PackedDigits: decimal digits two to a byte, each byte 128 + the two-digit
// value, so packed values of equal length compare byte by byte in numeric
// order. PackedDate: the digits YYYYMMDD packed into 4 bytes; four bytes of
// 128 are the zero date, the absence of a date.
//
// Texts and byte strings are std::string used as 8-bit bytes (any value,
// zero bytes included). None of these operations keeps state or fails.
#pragma once

#include <cstdint>
#include <string>

// Packs the digits of `text` into (length + 1) div 2 bytes. Blanks at both
// ends are trimmed and the rest right-aligned with "0" on the left; blanks
// left inside and every character that is not a digit count as 0; an odd
// length packs with 0 as the missing last digit. "" packs to "".
std::string packDigits(const std::string& text);

// Two digits per byte: the last two digits of the byte with its top bit
// cleared (128..227 give 00..99; a blank gives 32; 228..255 give 00..27).
std::string unpackDigits(const std::string& packed);

// The value's digits without sign, zero-padded on the left or cut to the
// lowest-order `width` digits: zeroPad(7, 2) = "07", zeroPad(2024, 2) = "24",
// zeroPad(-5, 2) = "05". Width 0 or less gives "". Meant for whole numbers
// of a few digits. Any other value is written as its magnitude rounded to 15
// significant digits, in full without an exponent and with no trailing
// zeros after a ".", then padded or cut the same way: zeroPad(2.5, 4) =
// "02.5", zeroPad(1e20, 3) = "000". Infinity and NaN count as 0.
std::string zeroPad(double value, std::int16_t width);

// Packs a code of digit groups separated by ".", such as 12.345: the first
// group is 6 digits wide when the code is 6 characters long with no ".", or
// 11 characters long with fewer than two "."; every other group is 4 digits
// wide. An empty or blank last group is skipped; every other group gives its
// leading number. "" packs to "".
std::string packDottedCode(const std::string& code);

// -1 when every character of `text` has the code `code` (also for ""), else 0.
// Characters are bytes 0 to 255; a code outside that range matches only "".
std::int16_t isFilledWith(const std::string& text, std::int16_t code);

// A text holding a copy of `length` bytes of `area`, zero bytes included.
// A length of 0 or less, or a null area, gives "".
std::string copyBytesToText(const void* area, std::int16_t length);

// The number a text begins with: leading blanks (space, tab, CR, LF) are
// skipped, then an optional sign, digits and an optional "." with digits;
// reading stops at the first character that cannot continue the number
// ("1 5" reads 1, "12a" reads 12, ".5" reads 0.5; no exponent is read).
// 0 when the text does not begin with a number. Digits beyond the range of a
// double read as an infinity of the number's sign.
double leadingNumber(const std::string& text);

// A number rounded to the nearest integer, halves to the even neighbour, and
// held as a 16-bit signed integer: values beyond the range are held at its
// ends (-32768 and 32767), NaN gives 0.
std::int16_t roundToInt16(double value);

// Packs a date text typed by a user (day, month and year separated by "."
// "/" or "-", or the digits alone as DDMMYY or DDMMYYYY; blanks allowed
// inside the fields) into a PackedDate. Each field reads as its leading
// number ("1 5" is 1) held in 16 bits: a field beyond 32767 is held at 32767.
// A year of at most 3 characters (blanks trimmed) lands in the hundred years
// from the current year - 50 to the current year + 49 (current year from
// platform::localDate, read at every call), but only when day and month are
// both above 0. A text with another character, with one separator or with
// more than two gives the zero date. Day and month are not checked against
// the calendar (31/02/24 packs as 20240231).
std::string packDateText(const std::string& text);
