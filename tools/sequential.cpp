#include "tools/sequential.h"

#include "tools/error.h"

namespace nubodat {

void appendSequentialRecord(std::string& out, const std::string& record) {
    out += std::to_string(record.size());
    out += ',';
    out += record;
    out += "\r\n";
}

std::vector<std::string> parseSequential(const std::string& bytes, int recordLength,
                                         const std::string& origin) {
    std::vector<std::string> records;
    std::size_t at = 0;
    long number = 0;
    while (at < bytes.size()) {
        if (bytes[at] == kSequentialEnd) {
            if (at + 1 != bytes.size())
                fail(origin, 0,
                     "bytes follow the end mark (Ctrl-Z) after record " + std::to_string(number));
            break;
        }
        ++number;
        std::size_t length = 0;
        std::size_t digits = 0;
        while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9' && digits < 6) {
            length = length * 10 + static_cast<std::size_t>(bytes[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0)
            fail(origin, number, "length: a record must begin with its length in digits", "record");
        if (at >= bytes.size() || bytes[at] != ',')
            fail(origin, number, "length: the digits of the length must be followed by a comma",
                 "record");
        ++at;
        if (length != static_cast<std::size_t>(recordLength))
            fail(origin, number,
                 "length: " + std::to_string(length) + " bytes, but the file's records are " +
                     std::to_string(recordLength) + " bytes long",
                 "record");
        if (bytes.size() - at < length)
            fail(origin, number,
                 "record: only " + std::to_string(bytes.size() - at) + " of its " +
                     std::to_string(length) + " bytes are present",
                 "record");
        records.push_back(bytes.substr(at, length));
        at += length;
        if (bytes.compare(at, 2, "\r\n") != 0)
            fail(origin, number, "end: the record's bytes must be followed by CR LF", "record");
        at += 2;
    }
    return records;
}

}  // namespace nubodat
