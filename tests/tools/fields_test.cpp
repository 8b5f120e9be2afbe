// Readable field values: each reads back to the bytes it came from, and a
// value that is not one names the field.
#include <gtest/gtest.h>

#include "tools/csv.h"
#include "tools/error.h"
#include "tools/fields.h"

namespace nubodat {
namespace {

const Field kNumber{"property", FieldKind::Number, 0};
const Field kSeries{"series", FieldKind::Series, 5, 2};
const Field kDate{"issueDate", FieldKind::Date, 0};
const Field kIssue{"issueNumber", FieldKind::Issue, 0};
const Field kInt16{"period1", FieldKind::Int16, 0};
const Field kInt32{"amount1", FieldKind::Int32, 0};
const Field kLetter{"method", FieldKind::Letter, 0};

TEST(Fields, ReadableFormsAndTheirBytes) {
    struct Case {
        Field field;
        std::string bytes;  // the record (fields at the offsets above)
        std::string text;
    } cases[] = {
        {kNumber, "\x80\x8c", "12"},
        {kNumber, "\xe3\xe3", "9999"},
        {kNumber, "\x20\x8c", "#208c"},  // a blank is no packed pair
        {kSeries, "  \x8c  \x80", "0012"},
        {kSeries, "  \x8c   ", "#208c"},
        {kDate, "\x94\x9a\x84\x81", "01/04/2026"},
        {kDate, "\x80\x80\x80\x80", ""},
        {kDate, "\x94\x98\x82\x9e", "#9498829e"},  // 30/02/2024 is no date
        {kIssue, "\x81", "01"},
        {kIssue, " ", ""},
        {kIssue, "\x05", "#05"},
        {kInt16, "\xff\xff", "-1"},
        {kInt32, std::string("\0\0\0\x80", 4), "-2147483648"},
        {kLetter, "B", "B"},
        {kLetter, " ", ""},
        {kLetter, ",", "#2c"},
        {kLetter, "#", "#23"},
        {kLetter, std::string(1, '\0'), "#00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(renderField(c.field, c.bytes), c.text) << c.field.name;
        std::string back(c.bytes.size(), ' ');
        parseField(c.field, c.text, back, "f.csv", 2);
        for (std::size_t i = 0; i < fieldWidth(c.field); ++i) {
            const std::size_t at = fieldByteOffset(c.field, i);
            EXPECT_EQ(back[at], c.bytes[at]) << c.field.name << " \"" << c.text << "\" byte " << at;
        }
    }
}

TEST(Fields, ValuesThatAreNoneNameTheField) {
    struct Case {
        Field field;
        std::string text;
        std::string message;
    } cases[] = {
        {kNumber, "1a", "is not a whole number"},
        {kNumber, "10000", "is outside 0 to 9999"},
        {kNumber, "-1", "is not a number from 0 to 9999"},
        {kNumber, "", "is not a number from 0 to 9999"},
        {kInt32, "2147483648", "is outside -2147483648 to 2147483647"},
        {kInt32, "99999999999999999999", "is outside -2147483648 to 2147483647"},
        {kInt32, "12.5", "is not a whole number"},
        {kInt16, "40000", "is outside -32768 to 32767"},
        {kDate, "31/02/2026", "is not a date DD/MM/YYYY"},
        {kDate, "2026-04-01", "is not a date DD/MM/YYYY"},
        {kDate, "1/4/26", "is not a date DD/MM/YYYY"},
        {kIssue, "100", "is not an issue number"},
        {kLetter, "AB", "is not one letter"},
        {kLetter, "#4", "hexadecimal digits"},
        {kNumber, "#zz00", "hexadecimal digits"},
    };
    for (const Case& c : cases) {
        std::string record(8, ' ');
        try {
            parseField(c.field, c.text, record, "f.csv", 7);
            ADD_FAILURE() << c.field.name << " accepted \"" << c.text << "\"";
        } catch (const Error& e) {
            const std::string expected =
                "f.csv, line 7: field \"" + std::string(c.field.name) + "\": \"" + c.text + "\" ";
            EXPECT_EQ(std::string(e.what()).rfind(expected, 0), 0u) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_EQ(record, std::string(8, ' ')) << "record changed by a refused value";
    }
}

TEST(Csv, QuotedFieldsAndLineNumbers) {
    const auto lines = parseCsv("a,b\r\n\n\"x,1\",\"say \"\"hi\"\"\",\n", "t.csv");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].number, 3);
    EXPECT_EQ(lines[1].fields, (std::vector<std::string>{"x,1", "say \"hi\"", ""}));
    EXPECT_EQ(formatCsvLine(lines[1].fields), "\"x,1\",\"say \"\"hi\"\"\",\n");
    EXPECT_THROW(parseCsv("a\n\"open,b\n", "t.csv"), Error);
    EXPECT_THROW(parseCsv("\"a\"b,c\n", "t.csv"), Error);
}

}  // namespace
}  // namespace nubodat
