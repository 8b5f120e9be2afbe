// The commands on real data files: the demo installation's files through
// CSV and the sequential layout and back byte for byte, the readable Stat,
// and bad input that is named and leaves the file as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include "app/records.h"
#include "platform/coding.h"
#include "tests/support/temp_dir.h"
#include "tools/commands.h"

namespace nubodat {
namespace {

const std::string kExamples = std::string(NUBO_SOURCE_DIR) + "/examples/";

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

class Nubodat : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    std::string path(const std::string& name) const { return dir.dir() + name; }

    // A data file made from the demo installation's readable dictionary.
    std::string create(const std::string& base, const std::string& name = "") {
        const std::string file = path((name.empty() ? base : name) + ".dat");
        const Result r = run({"create", file, "--from", kExamples + "ddf-src/" + base + ".ddf"});
        EXPECT_EQ(r.code, 0) << r.err;
        return file;
    }
    std::string save(const std::string& file) {
        const Result r = run({"save", file});
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out;
    }
    void import(const std::string& file, const std::string& csv) {
        const Result r = run({"import", file, csv});
        ASSERT_EQ(r.code, 0) << r.err;
    }
};

TEST_F(Nubodat, StatShowsTheKnownDictionary) {
    const std::string file = create("PropietH");
    import(file, kExamples + "data/owners.csv");
    const Result r = run({"stat", file});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "Record length  428\n"
              "Page size      1024\n"
              "Records        10\n"
              "File flags     0x0000\n"
              "Keys           2\n"
              "\n"
              "Key 0: 4 bytes, unique, not modifiable\n"
              "  Segment  Position  Length  Flags   Type\n"
              "  1        1         4       0x0000  string\n"
              "\n"
              "Key 1: 3 bytes, duplicates allowed, modifiable\n"
              "  Segment  Position  Length  Flags   Type\n"
              "  1        160       1       0x0013  string\n"
              "  2        315       1       0x0013  string\n"
              "  3        161       1       0x0003  string\n");
}

TEST_F(Nubodat, DictionaryFromItsSourceCreatesTheSameFile) {
    const Result d = run({"dict", kExamples + "ddf-src/CobramH.ddf", "--out", path("CobramH.xdf")});
    ASSERT_EQ(d.code, 0) << d.err;
    const std::string xdf = dir.read("CobramH.xdf");
    ASSERT_EQ(xdf.size(), 2u + 16 + 16);
    EXPECT_EQ(coding::getU16(coding::bytes(xdf)), 32);
    EXPECT_EQ(coding::getU16(coding::bytes(xdf) + 2), 22);          // record length
    EXPECT_EQ(coding::getU16(coding::bytes(xdf) + 2 + 16 + 2), 9);  // key 0 length
    ASSERT_EQ(run({"create", path("C.dat"), "--from", path("CobramH.xdf")}).code, 0);
    EXPECT_NE(run({"stat", path("C.dat")}).out.find("Key 0: 9 bytes, unique"), std::string::npos);
    // The readable form of the dictionary reads back to it.
    const Result text = run({"dict", path("CobramH.xdf")});
    dir.write("again.ddf", text.out);
    ASSERT_EQ(run({"dict", path("again.ddf"), "--out", path("again.xdf")}).code, 0);
    EXPECT_EQ(dir.read("again.xdf"), xdf);
    // An existing file is never replaced.
    const Result again = run({"create", path("C.dat"), "--from", path("CobramH.xdf")});
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
}

TEST_F(Nubodat, DemoCsvRoundTripsByteForByte) {
    for (const std::string& base : {std::string("FinquesH"), std::string("PropietH")}) {
        const std::string csv =
            kExamples + (base == "FinquesH" ? "data/properties.csv" : "data/owners.csv");
        const std::string first = create(base);
        import(first, csv);
        const Result exported = run({"export", first, path(base + ".csv")});
        ASSERT_EQ(exported.code, 0) << exported.err;
        dir.write("again/.keep", "");
        const std::string second = create(base, "again/" + base);
        import(second, path(base + ".csv"));
        EXPECT_EQ(save(first), save(second)) << base;
        EXPECT_EQ(run({"export", second}).out, dir.read(base + ".csv"));
        const Result check = run({"check", second});
        EXPECT_EQ(check.code, 0) << check.err;
        EXPECT_NE(check.out.find("consistent"), std::string::npos);
    }
}

TEST_F(Nubodat, ImportPutsEveryFieldAtItsOffset) {
    const std::string file = create("PropietH");
    import(file, kExamples + "data/owners.csv");
    const std::string saved = save(file);
    // The first record: owner 1 of property 1.
    ASSERT_EQ(saved.substr(0, 4), "428,");
    const std::string r = saved.substr(4, 428);
    const auto* b = coding::bytes(r);
    EXPECT_EQ(r.substr(propiet::ownerKey, 4), "\x80\x81\x80\x81");
    EXPECT_EQ(r[propiet::paymentMethod], 'A');
    EXPECT_EQ(b[propiet::seriesHigh], 128);
    EXPECT_EQ(b[propiet::seriesLow], 129);
    EXPECT_EQ(coding::getI16(b + propiet::shortConcept(2) + propiet::shortPeriod), 3);
    EXPECT_EQ(coding::getI32(b + propiet::shortConcept(2) + propiet::shortAmount), 12000);
    EXPECT_EQ(r[propiet::shortConcept(2) + propiet::shortFlag], 'N');
    EXPECT_EQ(r[propiet::billingMoment], ' ');
    EXPECT_EQ(r.substr(4, 100), std::string(100, ' '));  // outside the fields: blanks
}

TEST_F(Nubodat, CollectionsExportAsATable) {
    const std::string file = create("CobramH");
    dir.write("c.csv",
              "property,owner,issueDate,issueNumber,collectedDate,total,flagged,state\n"
              "1,2,01/04/2026,01,01/04/2026,6500,0,I\n"
              "1,1,01/04/2026,01,,18500,12000,P\n");
    import(file, path("c.csv"));
    const Result t = run({"export", file, "--table"});
    ASSERT_EQ(t.code, 0) << t.err;
    EXPECT_EQ(t.out,
              "property  owner  issueDate   issueNumber  collectedDate  total  flagged  state\n"
              "1         1      01/04/2026  01                          18500  12000    P\n"
              "1         2      01/04/2026  01           01/04/2026     6500   0        I\n");
}

TEST_F(Nubodat, SaveAndLoadRoundTripAnyBytes) {
    const std::string file = create("CobramH");
    // Records holding a comma, CR LF, a Ctrl-Z and zero bytes.
    dir.write("c.csv",
              "property,owner,issueDate,issueNumber,collectedDate,total,flagged,state,other\n"
              "1,1,#2c0d0a1a,#00,,-1,2147483647,#1a,\n"
              "9999,9999,29/02/2024,99,31/12/2025,0,-2147483648,P,\n");
    import(file, path("c.csv"));
    const std::string saved = save(file);
    ASSERT_EQ(saved.back(), '\x1a');
    dir.write("c.seq", saved);
    dir.write("copy/.keep", "");
    const std::string copy = create("CobramH", "copy/CobramH");
    const Result load = run({"load", copy, path("c.seq")});
    ASSERT_EQ(load.code, 0) << load.err;
    EXPECT_EQ(save(copy), saved);
    EXPECT_EQ(run({"check", copy}).code, 0);
}

// copy: the new file holds the same records in the same order along every
// key (key 1 of the owners allows duplicates: their insertion order counts).
TEST_F(Nubodat, CopyMakesTheSameFileInEveryOrder) {
    const std::string file = create("PropietH");
    import(file, kExamples + "data/owners.csv");
    dir.write("copy/.keep", "");
    const Result r = run({"copy", file, path("copy/PropietH.dat")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, path("copy/PropietH.dat") + ": 10 records copied from " + file +
                         ", verified record by record\n");
    EXPECT_EQ(save(path("copy/PropietH.dat")), save(file));
    EXPECT_EQ(run({"stat", path("copy/PropietH.dat")}).out, run({"stat", file}).out);
    const Result byOwner = run({"export", file, "--layout", "owners"});
    EXPECT_EQ(run({"check", path("copy/PropietH.dat")}).code, 0);
    EXPECT_EQ(run({"export", path("copy/PropietH.dat"), "--layout", "owners"}).out, byOwner.out);
}

TEST_F(Nubodat, CopyRefusesAnExistingTargetAndLeavesIt) {
    const std::string file = create("PropietH");
    import(file, kExamples + "data/owners.csv");
    const std::string target = create("PropietH", "other");
    const Result r = run({"copy", file, target});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("the file exists; copy makes a new file, nothing was copied"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(save(target), "\x1a");  // still empty
    EXPECT_EQ(run({"copy", path("missing.dat"), path("new.dat")}).code, 1);
    EXPECT_FALSE(std::filesystem::exists(path("new.dat")));
}

// copy to a PostgreSQL server (a folder with a map file) and back: the
// records come back byte for byte. Needs the test server of NUBO_TEST_PG.
TEST_F(Nubodat, CopyToAPostgresServerAndBack) {
    const char* server = std::getenv("NUBO_TEST_PG");
    if (server == nullptr || *server == '\0') {
        GTEST_SKIP() << "no PostgreSQL test server: NUBO_TEST_PG is not set "
                        "(scripts/test.d/postgres.sh starts one and sets it)";
    }
    std::random_device random;
    dir.write("server/nubodb.server", std::string("server = ") + server + "\nschema = copy_" +
                                          std::to_string(random() % 1000000000u) + "\n");
    const std::string file = create("PropietH");
    import(file, kExamples + "data/owners.csv");
    const Result there = run({"copy", file, path("server/PropietH.dat")});
    ASSERT_EQ(there.code, 0) << there.err;
    EXPECT_FALSE(std::filesystem::exists(path("server/PropietH.dat")));
    EXPECT_EQ(save(path("server/PropietH.dat")), save(file));
    dir.write("back/.keep", "");
    const Result back = run({"copy", path("server/PropietH.dat"), path("back/PropietH.dat")});
    ASSERT_EQ(back.code, 0) << back.err;
    EXPECT_EQ(save(path("back/PropietH.dat")), save(file));
    EXPECT_EQ(run({"copy", file, path("server/PropietH.dat")}).code, 1);  // exists there
}

TEST_F(Nubodat, BadCsvLinesAreNamedAndNothingIsWritten) {
    const std::string file = create("PropietH");
    import(file, kExamples + "data/owners.csv");
    const std::string before = save(file);
    const std::string good = "3,1,A,0001,,,1,6500,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,0,,0,0,0,,0,0";
    const std::string header = [] {
        std::string h = "property,owner,method,series,moment";
        for (int k = 1; k <= 8; ++k)
            h += ",flag" + std::to_string(k) + ",period" + std::to_string(k) + ",amount" +
                 std::to_string(k);
        return h + ",code9,flag9,period9,amount9,code10,flag10,period10,amount10";
    }();
    struct Case {
        std::string badLine;
        std::string message;
    } cases[] = {
        {"3,2,A,0001,,,1,6500", "bad.csv, line 3: 8 fields, but the header has 37"},
        {"3,2x,A,0001,,,1,6500,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,0,,0,0,0,,0,0",
         "bad.csv, line 3: field \"owner\": \"2x\" is not a whole number"},
        {"3,2,A,0001,,,1,99999999999,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,0,,0,0,0,,0,0",
         "bad.csv, line 3: field \"amount1\": \"99999999999\" is outside -2147483648 to "
         "2147483647"},
        {"3,2,AB,0001,,,1,6500,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,0,,0,0,0,,0,0",
         "bad.csv, line 3: field \"method\": \"AB\" is not one letter"},
        // The same owner key twice: refused by the record manager, the first undone.
        {good, "bad.csv, line 3: the record manager refused the record: status 5"},
        // An owner already in the file.
        {"1,1,A,0001,,,1,6500,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,0,,0,0,0,,0,0",
         "bad.csv, line 3: the record manager refused the record: status 5"},
    };
    for (const Case& c : cases) {
        dir.write("bad.csv", header + "\n" + good + "\n" + c.badLine + "\n");
        const Result r = run({"import", file, path("bad.csv")});
        EXPECT_EQ(r.code, 1) << c.badLine;
        EXPECT_NE(r.err.find(c.message), std::string::npos)
            << r.err << "\n  expected: " << c.message;
        EXPECT_EQ(save(file), before) << "file changed by: " << c.badLine;
    }
    // A date that does not parse, in the collections layout.
    const std::string collections = create("CobramH");
    dir.write("bad.csv",
              "property,owner,issueDate,issueNumber,collectedDate,total,flagged,state\n"
              "1,1,01/04/2026,01,,100,0,P\n"
              "1,2,31/04/2026,01,,100,0,P\n");
    const Result r = run({"import", collections, path("bad.csv")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(
        r.err.find("bad.csv, line 3: field \"issueDate\": \"31/04/2026\" is not a date DD/MM/YYYY"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(save(collections), std::string("\x1a"));
}

TEST_F(Nubodat, BadSequentialFileLoadsNothing) {
    const std::string file = create("CobramH");
    const std::string record(22, 'x');
    dir.write("s.seq", "22," + record + "\r\n22," + record.substr(0, 21) + "\r\n");
    const Result r = run({"load", file, path("s.seq")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("s.seq, record 2: "), std::string::npos) << r.err;
    EXPECT_EQ(save(file), std::string("\x1a"));
}

TEST_F(Nubodat, UsageAndLayoutFaults) {
    EXPECT_EQ(run({}).code, 2);
    EXPECT_EQ(run({"frobnicate"}).code, 2);
    EXPECT_EQ(run({"create", path("x.dat")}).code, 2);
    const std::string file = create("THRebut");
    const Result r = run({"export", file});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("--layout"), std::string::npos) << r.err;
    // A layout whose fields do not fit the file's records.
    const Result small = run({"export", file, "--layout", "owners"});
    EXPECT_EQ(small.code, 1);
    EXPECT_NE(small.err.find("too short for the owners layout"), std::string::npos) << small.err;
    const Result missing = run({"stat", path("none.dat")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("none.dat: cannot be opened: status 12"), std::string::npos)
        << missing.err;
}

}  // namespace
}  // namespace nubodat
