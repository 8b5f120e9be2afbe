// The operator's commands: work files written and checked, collections of
// one issue undone, records replaced and deleted, CSV from spreadsheets, and
// the options every command shares.
#include <gtest/gtest.h>

#include <sstream>

#include "app/issue_run.h"
#include "tests/support/temp_dir.h"
#include "tools/commands.h"
#include "tools/work_file.h"

namespace nubodat {
namespace {

const std::string kExamples = std::string(NUBO_SOURCE_DIR) + "/examples/";
const std::string kCollectionsHeader =
    "property,owner,issueDate,issueNumber,collectedDate,total,flagged,state\n";

struct Result {
    int code = -1;
    std::string out, err;
};

Result run(const Args& args) {
    std::ostringstream out, err;
    Result r;
    r.code = runCommand(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Operator : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    std::string path(const std::string& name) const { return dir.dir() + name; }
    std::string create(const std::string& base) {
        const std::string file = path(base + ".dat");
        EXPECT_EQ(run({"create", file, "--from", kExamples + "ddf-src/" + base + ".ddf"}).code, 0);
        return file;
    }
    std::string exportCsv(const std::string& file) {
        const Result r = run({"export", file});
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out;
    }
    // A collections file of two issues of 01/04/2026 (01 and 02) and one of 01/05/2026.
    std::string collections() {
        const std::string file = create("CobramH");
        dir.write("c.csv", kCollectionsHeader +
                               "1,1,01/04/2026,01,,100,0,P\n"
                               "1,2,01/04/2026,01,01/04/2026,200,0,I\n"
                               "2,1,01/04/2026,01,,300,10,P\n"
                               "1,1,01/04/2026,02,,400,0,P\n"
                               "1,1,01/05/2026,01,,500,0,P\n");
        EXPECT_EQ(run({"import", file, path("c.csv")}).code, 0);
        return file;
    }
};

TEST_F(Operator, WorkFileIsWrittenAsTheProgramReadsIt) {
    const Result r =
        run({"workfile", path("pent.tmp"), "--date", "5/6/2026", "--issue", "1", "--from", "2/3",
             "--to", "15/9999", "--methods", "AF", "--series-a", "1-20", "--concepts", "1-3,9"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(
        dir.read("pent.tmp"),
        "05/06/"
        "2026\r\n2\r\n3\r\n15\r\n9999\r\n01\r\nS\r\n1\r\n20\r\nN\r\n0\r\n9999\r\nS\r\n0\r\n9999\r\n"
        "S\r\nS\r\nS\r\nN\r\nN\r\nN\r\nN\r\nN\r\nS\r\nN\r\n");
    EXPECT_TRUE(workFileWarnings(dir.read("pent.tmp")).empty());
    // Read back by the program's own reader.
    createRunTables();
    readRunParameters(path("pent.tmp"));
    EXPECT_EQ(runParameters.issueDate, "\x94\x9a\x86\x85");
    EXPECT_EQ(runParameters.issueNumber, "\x81");  // issue 1, not 10
    EXPECT_EQ(runParameters.ownerFrom, "\x80\x82\x80\x83");
    EXPECT_EQ(runParameters.ownerTo, "\x80\x8f\xe3\xe3");
    EXPECT_EQ(runParameters.methodEnabled[1], -1);
    EXPECT_EQ(runParameters.methodEnabled[2], 0);
    EXPECT_EQ(runParameters.seriesTo[1], "A\x80\x94");
    EXPECT_EQ(runParameters.conceptEnabled[9], -1);
    EXPECT_EQ(runParameters.conceptEnabled[10], 0);
    EXPECT_EQ(issueDateUsable(), -1);
}

TEST_F(Operator, WorkFileRefusesWhatTheProgramWouldMisread) {
    const Args base = {"workfile", path("w.tmp"), "--methods", "A", "--concepts", "all"};
    const struct {
        Args extra;
        const char* message;
    } cases[] = {
        {{"--date", "06/15/2026", "--issue", "01"}, "month 15 is not 1 to 12"},
        {{"--date", "15 June 2026", "--issue", "01"}, "not a date"},
        {{"--date", "15/06/26", "--issue", "01"}, "not a date"},
        {{"--date", "15/06/2026", "--issue", "123"}, "an issue number of 0 to 99"},
        {{"--date", "15/06/2026", "--issue", "01", "--from", "12345/1"}, "a number of 0 to 9999"},
        {{"--date", "15/06/2026", "--issue", "01", "--from", "3/0", "--to", "2/9999"},
         "the range is empty"},
        {{"--date", "15/06/2026", "--issue", "01", "--methods", "AX"},
         "\"X\" is not a payment method"},
        {{"--date", "15/06/2026", "--issue", "01", "--concepts", "0-3"}, "numbered 1 to 10"},
        {{"--date", "15/06/2026", "--issue", "01", "--series-b", "20-10"}, "FIRST-LAST"},
        {{"--date", "15/06/2026"}, "--issue"},
    };
    for (const auto& c : cases) {
        Args args = base;
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Result r = run(args);
        EXPECT_EQ(r.code, 2) << c.message;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_FALSE(dir.exists("w.tmp"));
    }
}

TEST(WorkFileWarnings, NameTheMistakesThatBillWronglyWithoutAWord) {
    const std::string good =
        "15/06/"
        "2026\r\n1\r\n0\r\n9999\r\n9999\r\n01\r\nS\r\n0\r\n9999\r\nS\r\n0\r\n9999\r\nS\r\n0\r\n9999"
        "\r\n"
        "S\r\nS\r\nS\r\nS\r\nS\r\nS\r\nS\r\nS\r\nS\r\nS\r\n";
    EXPECT_TRUE(workFileWarnings(good).empty());
    auto line = [&](int n, const std::string& text) {
        std::vector<std::string> lines = workFileLines(good);
        lines[static_cast<std::size_t>(n - 1)] = text;
        std::string out;
        for (const auto& l : lines) out += l + "\r\n";
        return out;
    };
    std::string lf = good;
    for (std::size_t at; (at = lf.find('\r')) != std::string::npos;) lf.erase(at, 1);
    const struct {
        std::string bytes;
        const char* warning;
    } cases[] = {
        {lf, "the lines end in LF alone"},
        {"\xEF\xBB\xBF" + good, "byte-order mark"},
        {line(1, "\t15/06/2026"), "cannot be read"},
        {line(1, "15 June 2026"), "cannot be read"},
        {line(1, "06/15/2026"), "has month 15, not 1 to 12"},
        {line(6, "1"), "one digit, which packs as the tens: issue 10; write \"01\""},
        {line(6, ""), "no issue number"},
        {line(2, "12345"), "12345 has 5 digits: only the last four count (2345)"},
        {line(9, "99999"), "line 9 (last series A): 99999 has 5 digits"},
        {line(7, "s"), "line 7: \"s\" counts as no"},
        {line(16, "S "), "line 16: \"S \" counts as no"},
        {line(4, "0"), "the first property and owner come after the last"},
        {good.substr(0, 30), "only 5 lines: lines 6 to 25 read as empty"},
    };
    for (const auto& c : cases) {
        std::string all;
        for (const std::string& w : workFileWarnings(c.bytes)) all += w + "\n";
        EXPECT_TRUE(contains(all, c.warning)) << "expected: " << c.warning << "\ngot:\n" << all;
    }
}

TEST_F(Operator, UndoRemovesOneIssueWithinTheRangeOnly) {
    const std::string file = collections();
    Result r =
        run({"undo", file, "--date", "01/04/2026", "--issue", "1", "--to", "1/9999", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(
        contains(r.out, "2 collections of the issue of 01/04/2026, issue number 01 removed"))
        << r.out;
    const std::string left = exportCsv(file);
    EXPECT_FALSE(contains(left, "1,1,01/04/2026,01,")) << left;
    EXPECT_FALSE(contains(left, "1,2,01/04/2026,01,")) << left;
    EXPECT_TRUE(contains(left, "2,1,01/04/2026,01,")) << left;  // outside the range
    EXPECT_TRUE(contains(left, "1,1,01/04/2026,02,")) << left;  // another issue number
    EXPECT_TRUE(contains(left, "1,1,01/05/2026,01,")) << left;  // another date

    r = run({"undo", file, "--date", "01/04/2026", "--issue", "01", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "1 collections of the issue")) << r.out;
    r = run({"undo", file, "--date", "01/04/2026", "--issue", "01", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "nothing removed")) << r.out;
    EXPECT_EQ(run({"check", file}).code, 0);
}

TEST_F(Operator, UndoTakesTheIssueFromTheWorkFileAsTheProgramReadsIt) {
    // Line 6 "1" is issue 10: the work file's own bytes find its collections.
    const std::string file = create("CobramH");
    dir.write("c.csv",
              kCollectionsHeader + "1,1,15/06/2026,10,,100,0,P\n1,1,15/06/2026,01,,100,0,P\n");
    ASSERT_EQ(run({"import", file, path("c.csv")}).code, 0);
    dir.write("pent.tmp", "15/06/2026\r\n0\r\n0\r\n9999\r\n9999\r\n1\r\n");
    const Result r = run({"undo", file, "--work", path("pent.tmp"), "--yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(exportCsv(file), kCollectionsHeader.substr(0, kCollectionsHeader.size() - 1) +
                                   ",other\n" + "1,1,15/06/2026,01,,100,0,P,\n");
    EXPECT_EQ(run({"undo", file, "--work", path("pent.tmp"), "--date", "15/06/2026", "--yes"}).code,
              2);
}

TEST_F(Operator, ImportWithReplacementIsAllOrNothing) {
    const std::string file = collections();
    // Export, edit and import again: the edited record takes the place of the one with its key.
    dir.write("edit.csv",
              kCollectionsHeader + "1,1,01/04/2026,01,,150,5,P\n9,9,01/04/2026,01,,900,0,P\n");
    EXPECT_EQ(run({"import", file, path("edit.csv")}).code, 1);  // without --replace: status 5
    Result r = run({"import", file, path("edit.csv"), "--replace"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "2 records imported, 1 of them in the place")) << r.out;
    std::string now = exportCsv(file);
    EXPECT_TRUE(contains(now, "1,1,01/04/2026,01,,150,5,P")) << now;
    EXPECT_FALSE(contains(now, "1,1,01/04/2026,01,,100,0,P")) << now;
    EXPECT_TRUE(contains(now, "9,9,01/04/2026,01,,900,0,P")) << now;

    // The same key twice in one file: the second insert is refused, and the
    // record replaced before it comes back.
    dir.write("twice.csv",
              kCollectionsHeader + "1,2,01/04/2026,01,,1,0,P\n1,2,01/04/2026,01,,2,0,P\n");
    r = run({"import", file, path("twice.csv"), "--replace"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(contains(r.err, "nothing was changed")) << r.err;
    EXPECT_EQ(exportCsv(file), now);
}

TEST_F(Operator, DeleteByKeyRemovesTheRowsRecordsOrNothing) {
    const std::string file = collections();
    const std::string before = exportCsv(file);
    dir.write("gone.csv",
              kCollectionsHeader + "1,2,01/04/2026,01,,0,0,P\n8,8,01/04/2026,01,,0,0,P\n");
    Result r = run({"delete", file, path("gone.csv")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(contains(r.err, "gone.csv, line 3: no record has this row's key 0")) << r.err;
    EXPECT_EQ(exportCsv(file), before);
    // Only the key counts: the other fields of the row need not match.
    dir.write("gone.csv", kCollectionsHeader + "1,2,01/04/2026,01,,0,0,P\n");
    r = run({"delete", file, path("gone.csv")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(contains(exportCsv(file), "1,2,01/04/2026,01,")) << exportCsv(file);
}

TEST_F(Operator, CsvFromSpreadsheetPrograms) {
    const std::string file = create("CobramH");
    dir.write("bom.csv", "\xEF\xBB\xBF" + kCollectionsHeader + "1,1,01/04/2026,01,,100,0,P\r\n");
    ASSERT_EQ(run({"import", file, path("bom.csv")}).code, 0);
    dir.write("semi.csv",
              "property;owner;issueDate;issueNumber;collectedDate;total;flagged;state\r\n"
              "1;2;01/04/2026;01;;\"200\";0;P\r\n");
    const Result r = run({"import", file, path("semi.csv"), "--layout=collections"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(exportCsv(file), "1,2,01/04/2026,01,,200,0,P")) << exportCsv(file);
}

TEST_F(Operator, LoadRefusesAFileWithoutItsEndMark) {
    const std::string file = create("CobramH");
    const std::string full =
        std::string("\x80\x81\x80\x81\x94\x9a\x84\x81\x81\x80\x80\x80\x80", 13) +
        std::string(8, '\0') + "P";
    ASSERT_EQ(full.size(), 22u);
    dir.write("cut.seq", "22," + full + "\r\n");
    Result r = run({"load", file, path("cut.seq")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(contains(r.err, "the end mark (Ctrl-Z) is missing after record 1")) << r.err;
    EXPECT_EQ(run({"save", file}).out, "\x1a");
    r = run({"load", file, path("cut.seq"), "--no-end-mark"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(run({"save", file}).out, "22," + full + "\r\n\x1a");
}

TEST_F(Operator, HelpVersionAndReasons) {
    for (const char* command : {"dict", "create", "stat", "save", "load", "export", "import",
                                "delete", "check", "workfile", "preview", "undo"}) {
        const Result r = run({command, "--help"});
        EXPECT_EQ(r.code, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: nubodat ") + command, 0), 0u) << r.out;
    }
    const Result v = run({"--version"});
    EXPECT_EQ(v.code, 0);
    EXPECT_EQ(v.out.rfind("nubodat ", 0), 0u);
    const Result missing = run({"import", create("CobramH"), path("none.csv")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(contains(missing.err, "none.csv: cannot be opened for reading: no such file"))
        << missing.err;
    const Result flagValue = run({"export", path("CobramH.dat"), "--table=yes"});
    EXPECT_EQ(flagValue.code, 2);
    EXPECT_TRUE(contains(flagValue.err, "--table takes no value")) << flagValue.err;
}

}  // namespace
}  // namespace nubodat
