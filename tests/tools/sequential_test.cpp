// The sequential layout: records with any bytes survive, faults are named.
#include <gtest/gtest.h>

#include "tools/error.h"
#include "tools/sequential.h"

namespace nubodat {
namespace {

TEST(Sequential, AnyBytesSurvive) {
    const std::vector<std::string> records = {std::string("a,\r\n\x1a", 5), std::string(5, '\0'),
                                              "12345"};
    std::string bytes;
    for (const auto& r : records) appendSequentialRecord(bytes, r);
    EXPECT_EQ(bytes.substr(0, 9), std::string("5,a,\r\n\x1a\r\n", 9));
    EXPECT_EQ(parseSequential(bytes, 5, "s"), records);
    EXPECT_EQ(parseSequential(bytes + kSequentialEnd, 5, "s"), records);
}

TEST(Sequential, FaultsNameTheRecord) {
    struct Case {
        std::string bytes;
        std::string message;
    } cases[] = {
        {"3,abc\r\n,abc\r\n", "s, record 2: length: a record must begin with its length"},
        {"3abc\r\n", "s, record 1: length: the digits of the length must be followed by a comma"},
        {"4,abcd\r\n", "s, record 1: length: 4 bytes, but the file's records are 3 bytes long"},
        {"3,ab", "s, record 1: record: only 2 of its 3 bytes are present"},
        {"3,abc\n", "s, record 1: end: the record's bytes must be followed by CR LF"},
        {"3,abc\r\n\x1a"
         "3,abc\r\n",
         "s: bytes follow the end mark"},
    };
    for (const Case& c : cases) {
        try {
            parseSequential(c.bytes, 3, "s");
            ADD_FAILURE() << "accepted " << c.bytes;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace nubodat
