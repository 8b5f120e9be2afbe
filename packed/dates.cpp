// Typed date texts read into packed dates.
#include <algorithm>

#include "packed/packed.h"
#include "platform/platform.h"

namespace {

struct DateParts {
    std::int16_t day = 0;
    std::int16_t month = 0;
    std::int16_t year = 0;
    bool longYear = false;  // written with more than 3 characters
};

std::int16_t fieldValue(const std::string& field) {
    return roundToInt16(leadingNumber(field));
}

std::size_t trimmedLength(const std::string& field) {
    const std::size_t first = field.find_first_not_of(' ');
    if (first == std::string::npos) return 0;
    return field.find_last_not_of(' ') - first + 1;
}

bool isSeparator(char c) {
    return c == '.' || c == '/' || c == '-';
}

// Day, month and year of a date text: three fields split by separators, or
// the positional form DDMMYY[YY] when there is no separator. False when the
// text cannot be read as a date.
bool parseDateText(const std::string& text, DateParts& parts) {
    std::string field;
    int fieldNumber = 1;
    for (const char c : text) {
        if (c == ' ' || (c >= '0' && c <= '9')) {
            field.push_back(c);
        } else if (isSeparator(c)) {
            if (fieldNumber == 1) {
                parts.day = fieldValue(field);
            } else if (fieldNumber == 2) {
                parts.month = fieldValue(field);
            } else {
                return false;
            }
            field.clear();
            ++fieldNumber;
        } else {
            return false;
        }
    }
    if (fieldNumber == 1) {
        const std::string yearText = text.size() > 4 ? text.substr(4) : std::string();
        parts.day = fieldValue(text.substr(0, 2));
        parts.month = fieldValue(text.size() > 2 ? text.substr(2, 2) : std::string());
        parts.year = fieldValue(yearText);
        parts.longYear = trimmedLength(yearText) > 3;
        return true;
    }
    if (fieldNumber == 3) {
        parts.year = fieldValue(field);
        parts.longYear = trimmedLength(field) > 3;
        return true;
    }
    return false;
}

}  // namespace

std::string packDateText(const std::string& text) {
    DateParts parts;
    if (!parseDateText(text, parts)) return packDigits("00000000");

    if (parts.day > 0 && parts.month > 0 && !parts.longYear) {
        // A short year goes into the hundred years around the current one.
        const int currentYear = platform::localDate().year;
        int year = parts.year + 100 * (currentYear / 100);
        if (year - currentYear > 49) {
            year -= 100;
        } else if (currentYear - year > 50) {
            year += 100;
        }
        parts.year = static_cast<std::int16_t>(std::clamp(year, -32768, 32767));
    }
    return packDigits(zeroPad(parts.year, 4) + zeroPad(parts.month, 2) + zeroPad(parts.day, 2));
}
