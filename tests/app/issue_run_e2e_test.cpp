// The real program on a complete installation: collection records byte for
// byte, and the operations log.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <random>
#include <sstream>

#include "tests/support/installation.h"

namespace {

using e2e::Collection;
using e2e::ConceptEntry;
using e2e::Installation;
using e2e::Owner;
using e2e::Property;
using e2e::WorkFile;

std::string packedDate(int yyyymmdd) {
    std::string d(4, '\0');
    d[0] = static_cast<char>(128 + yyyymmdd / 1000000);
    d[1] = static_cast<char>(128 + (yyyymmdd / 10000) % 100);
    d[2] = static_cast<char>(128 + (yyyymmdd / 100) % 100);
    d[3] = static_cast<char>(128 + yyyymmdd % 100);
    return d;
}
const std::string kZeroDate(4, '\x80');
constexpr unsigned char kIssueOne = 129;  // packed "01"

Owner owner(int property, int number, char method, std::map<int, ConceptEntry> concepts,
            char moment = ' ') {
    Owner o;
    o.property = property;
    o.owner = number;
    o.paymentMethod = method;
    o.billingMoment = moment;
    for (const auto& [k, c] : concepts) o.concepts[k] = c;
    return o;
}

ConceptEntry monthly(std::int32_t amount, char flag = ' ') {
    return {flag, 1, amount, 0};
}

Collection pending(int property, int number, std::int32_t total, std::int32_t flagged = 0,
                   int date = 20260315, unsigned char issue = kIssueOne) {
    return {
        e2e::ownerKey(property, number), packedDate(date), issue, kZeroDate, total, flagged, 'P'};
}

std::vector<std::string> bytesOf(const std::vector<Collection>& cs) {
    std::vector<std::string> out;
    for (const auto& c : cs) out.push_back(c.bytes());
    return out;
}

std::string logOf(const std::vector<int>& statuses) {
    std::string out;
    for (int s : statuses) out += e2e::logLine(s);
    return out;
}

struct Case {
    const char* name;
    std::vector<Property> properties;
    std::vector<Owner> owners;
    WorkFile work;
    std::vector<Collection> expected;
    std::vector<int> loggedStatuses;  // one per insertion attempt, in order
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

WorkFile withRange(std::string fp, std::string fo, std::string lp, std::string lo) {
    WorkFile w;
    w.firstProperty = fp;
    w.firstOwner = fo;
    w.lastProperty = lp;
    w.lastOwner = lo;
    return w;
}

std::vector<Case> cases() {
    std::vector<Case> cs;
    {
        Case c{"PaymentMethods", {{1, 1, 12}}, {}, WorkFile{}, {}, {}};
        c.owners = {owner(1, 1, 'A', {{1, monthly(100)}}), owner(1, 2, 'B', {{1, monthly(200)}}),
                    owner(1, 3, 'F', {{1, monthly(300)}}), owner(1, 4, 'X', {{1, monthly(400)}}),
                    owner(1, 5, ' ', {{1, monthly(500)}})};
        Collection b = pending(1, 2, 200);
        b.collectedDate = b.issueDate;
        b.state = 'I';
        c.expected = {pending(1, 1, 100), b, pending(1, 3, 300)};
        c.loggedStatuses = {0, 0, 0};
        cs.push_back(c);
    }
    {
        Case c{"OwnerKeyRangeAcrossProperties",
               {{1, 1, 12}, {2, 1, 12}, {3, 1, 12}, {4, 1, 12}},
               {},
               withRange("1", "2", "3", "2"),
               {},
               {}};
        for (int p = 1; p <= 4; ++p)
            for (int o = 1; o <= 3; ++o)
                c.owners.push_back(owner(p, o, 'A', {{1, monthly(10 * p + o)}}));
        for (auto [p, o] : std::vector<std::pair<int, int>>{
                 {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2}}) {
            c.expected.push_back(pending(p, o, 10 * p + o));
            c.loggedStatuses.push_back(0);
        }
        cs.push_back(c);
    }
    {
        Case c{"OnePropertyAllOwners",
               {{1, 1, 12}, {2, 1, 12}, {3, 1, 12}},
               {},
               withRange("2", "0", "2", "9999"),
               {},
               {}};
        for (int p = 1; p <= 3; ++p)
            for (int o : {0, 1, 9999}) c.owners.push_back(owner(p, o, 'F', {{2, monthly(5)}}));
        for (int o : {0, 1, 9999}) {
            c.expected.push_back(pending(2, o, 5));
            c.loggedStatuses.push_back(0);
        }
        cs.push_back(c);
    }
    {
        Case c{"SeriesBounds", {{1, 1, 12}}, {}, WorkFile{}, {}, {}};
        c.work.seriesFrom[0] = "5";
        c.work.seriesTo[0] = "12";
        struct S {
            int owner;
            unsigned char high, low;
            bool selected;
        };
        const S series[] = {{1, 128, 132, false},   // 0004
                            {2, 128, 133, true},    // 0005
                            {3, 128, 140, true},    // 0012
                            {4, 128, 141, false},   // 0013
                            {5, 32, 133, true},     // blank high pair reads as 00: 0005
                            {6, 0, 140, true},      // zero byte likewise: 0012
                            {7, 129, 133, false}};  // 0105
        for (const S& s : series) {
            Owner o = owner(1, s.owner, 'A', {{1, monthly(7)}});
            o.seriesHigh = s.high;
            o.seriesLow = s.low;
            c.owners.push_back(o);
            if (s.selected) {
                c.expected.push_back(pending(1, s.owner, 7));
                c.loggedStatuses.push_back(0);
            }
        }
        cs.push_back(c);
    }
    {
        Case c{"ConceptsThatAddNothing", {{1, 1, 12}, {2, 1, 0}}, {}, WorkFile{}, {}, {}};
        c.work.conceptEnabled[2] = "s";  // concept 3: only an exact "S" enables
        c.work.conceptEnabled[3] = " S";
        c.owners = {owner(1, 1, 'A', {{1, monthly(50)}, {2, monthly(-50)}}),          // sums to 0
                    owner(1, 2, 'A', {{9, {' ', 1, 80, 0}}}),                         // no code
                    owner(1, 3, 'A', {{10, {' ', 1, 80, 4}}}),                        // code 4
                    owner(1, 4, 'A', {{3, monthly(60)}, {4, monthly(70)}}),           // disabled
                    owner(1, 5, 'A', {{1, {' ', 0, 90, 0}}, {2, {' ', -3, 90, 0}}}),  // no period
                    owner(2, 1, 'A', {{1, monthly(11)}})};                            // cycle 0
        c.expected = {pending(1, 3, 80)};
        c.loggedStatuses = {0};
        cs.push_back(c);
    }
    {
        Case c{"FlaggedSum", {{1, 1, 12}}, {}, WorkFile{}, {}, {}};
        c.owners = {owner(1, 1, 'A',
                          {{1, monthly(100, 'N')},
                           {2, monthly(50)},
                           {8, monthly(-5, 'N')},
                           {9, {'N', 1, 25, 3}},
                           {10, {'n', 1, 1000, 3}}})};
        c.expected = {pending(1, 1, 1170, 120)};
        c.loggedStatuses = {0};
        cs.push_back(c);
    }
    {
        // Sums beyond 32 bits have no right stored value: logged, never stored.
        constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
        constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
        Case c{"AmountsAtTheEdgesOf32Bits", {{1, 1, 12}}, {}, WorkFile{}, {}, {}};
        c.owners = {
            owner(1, 1, 'A', {{1, monthly(kMax)}}),
            owner(1, 2, 'A', {{1, monthly(kMax)}, {2, monthly(1)}}),
            owner(1, 3, 'A', {{1, monthly(kMin)}}),
            owner(1, 4, 'A', {{1, monthly(kMin)}, {2, monthly(-1)}}),
            owner(1, 5, 'A', {{1, monthly(2, 'N')}, {2, monthly(kMax, 'N')}, {3, monthly(-3)}})};
        c.expected = {pending(1, 1, kMax), pending(1, 3, kMin)};
        c.loggedStatuses = {0, 1008, 0, 1008, 1008};
        cs.push_back(c);
    }
    // An issue date that packs to the zero date, or whose month is not 1 to
    // 12, bills nobody: no collection without a date, no "month 0" or 15.
    for (const auto& [name, date] :
         std::vector<std::pair<const char*, std::string>>{{"UnreadableIssueDate", "15/3"},
                                                          {"IssueDateAfterAByteOrderMark",
                                                           "\xEF\xBB\xBF"
                                                           "15/03/2026"},
                                                          {"IssueDateAfterATab", "\t15/03/2026"},
                                                          {"IssueDateInWords", "15 June 2026"},
                                                          {"IssueDateMonthFirst", "03/15/2026"},
                                                          {"IssueDateMonthZero", "15/00/2026"}}) {
        Case c{name, {{1, 1, 12}}, {}, WorkFile{}, {}, {}};
        c.work.issueDate = date;
        c.owners = {
            owner(1, 1, 'A', {{1, monthly(10)}}),             // due every month
            owner(1, 2, 'B', {{1, {' ', 12, 10, 0}}}, 'V')};  // due in month 0 if it were one
        cs.push_back(c);
    }
    {
        // The packed date stays as read: 31/02 is February, and bills its month.
        Case c{"CalendarDayNotChecked", {{1, 1, 12}}, {}, WorkFile{}, {}, {}};
        c.work.issueDate = "31/02/2026";
        c.owners = {owner(1, 1, 'A', {{1, monthly(10)}})};
        c.expected = {pending(1, 1, 10, 0, 20260231)};
        c.loggedStatuses = {0};
        cs.push_back(c);
    }
    {
        Case c{"NoMethodEnabled", {{1, 1, 12}}, {}, WorkFile{}, {}, {}};
        c.work.methodEnabled = {"N", "s", ""};
        c.owners = {owner(1, 1, 'A', {{1, monthly(1)}}), owner(1, 2, 'B', {{1, monthly(1)}}),
                    owner(1, 3, 'F', {{1, monthly(1)}})};
        cs.push_back(c);
    }
    {
        // One digit packs as the tens of its byte: issue number "7" is the byte 198.
        Case c{"IssueNumberAndDateForms", {{1, 1, 12}}, {}, WorkFile{}, {}, {}};
        c.work.issueDate = "150326";
        c.work.issueNumber = "7";
        c.owners = {owner(1, 1, 'A', {{1, monthly(3)}})};
        c.expected = {pending(1, 1, 3, 0, 20260315, 198)};
        c.loggedStatuses = {0};
        cs.push_back(c);
    }
    return cs;
}

class IssueRunCase : public ::testing::TestWithParam<Case> {};

TEST_P(IssueRunCase, WritesExactlyTheExpectedCollections) {
    const Case& c = GetParam();
    Installation inst;
    inst.addProperties(c.properties);
    inst.addOwners(c.owners);
    inst.writeWorkFile(c.work);
    ASSERT_EQ(inst.run(COBRAM_PROGRAM).exitCode, 0);
    EXPECT_EQ(inst.collections(), bytesOf(c.expected));
    EXPECT_EQ(inst.operationsLog(), logOf(c.loggedStatuses));
}

INSTANTIATE_TEST_SUITE_P(Table, IssueRunCase, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The same issue runs on installations whose data files are on a PostgreSQL
// server (a map file in the root): collections and db.log byte for byte as
// on SQLite, and a rerun bills nobody again. The server is the test server
// NUBO_TEST_PG names (scripts/test.d/postgres.sh starts one); each
// installation has a schema of its own there.
std::string testServer() {
    const char* v = std::getenv("NUBO_TEST_PG");
    return v != nullptr ? v : "";
}

std::string freshSchema() {
    std::random_device random;
    return "e2e_" + std::to_string(random() % 1000000000u);
}

class IssueRunOnServer : public ::testing::TestWithParam<Case> {};

TEST_P(IssueRunOnServer, SameCollectionsAndLogAsOnSqlite) {
    if (testServer().empty()) {
        GTEST_SKIP() << "no PostgreSQL test server: NUBO_TEST_PG is not set "
                        "(scripts/test.d/postgres.sh starts one and sets it)";
    }
    const Case& c = GetParam();
    Installation local;
    Installation mapped;
    mapped.mapToServer(testServer(), freshSchema());
    for (Installation* inst : {&local, &mapped}) {
        inst->addProperties(c.properties);
        inst->addOwners(c.owners);
        inst->writeWorkFile(c.work);
        ASSERT_EQ(inst->run(COBRAM_PROGRAM).exitCode, 0);
    }
    EXPECT_FALSE(std::filesystem::exists(mapped.root() + "DADES/CobramH.dat"))
        << "the collections file is on the server, not on the disk";
    const std::vector<std::string> collections = mapped.collections();
    EXPECT_EQ(collections, local.collections());
    EXPECT_EQ(collections, bytesOf(c.expected));
    const std::string log = mapped.operationsLog();
    EXPECT_EQ(log, local.operationsLog());
    // A rerun of the same issue inserts nothing more, and logs as on SQLite
    // (only the insertions refused the first time are tried again).
    ASSERT_EQ(local.run(COBRAM_PROGRAM).exitCode, 0);
    ASSERT_EQ(mapped.run(COBRAM_PROGRAM).exitCode, 0);
    EXPECT_EQ(mapped.collections(), collections);
    EXPECT_EQ(mapped.operationsLog(), local.operationsLog());
}

INSTANTIATE_TEST_SUITE_P(postgres, IssueRunOnServer, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A mapped installation whose server does not answer: the program's fatal
// path names the file and status 91, and nothing is written.
TEST(IssueRunOnServerFaults, NoServerShowsStatus91OnTheFatalPath) {
#ifndef COBRAM_HAS_SERVER_BACKEND
    GTEST_SKIP() << "this build's record manager has no server backend (no libpq)";
#endif
    Installation inst;
    // A port on the loopback where nothing listens: refused at once.
    inst.mapToServer("host=127.0.0.1 port=1 dbname=nubo user=nubo connect_timeout=5",
                     freshSchema());
    inst.writeWorkFile(WorkFile{});
    ASSERT_EQ(inst.run(COBRAM_PROGRAM).exitCode, 0);
    std::ifstream in(inst.folder() + "program.out", std::ios::binary);
    const std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(out.find("(91)"), std::string::npos) << out;
    EXPECT_EQ(inst.operationsLog(), "");
}

TEST(IssueRun, DueMonthsFollowThePeriodAndTheBillingMoment) {
    Installation inst;
    inst.addProperties({{1, 1, 12}, {2, 7, 12}});
    const ConceptEntry quarterly{' ', 3, 100, 0};
    const ConceptEntry yearly{' ', 12, 1200, 0};
    const ConceptEntry bimonthly{' ', 2, 20, 0};
    inst.addOwners(
        {owner(1, 1, 'A', {{1, quarterly}}, ' '), owner(1, 2, 'A', {{1, quarterly}}, 'M'),
         owner(1, 3, 'A', {{1, quarterly}}, 'V'), owner(1, 4, 'A', {{1, bimonthly}}, 'M'),
         owner(1, 5, 'A', {{1, monthly(1)}}, 'V'), owner(2, 1, 'A', {{1, yearly}}, ' ')});
    for (int month = 1; month <= 12; ++month) {
        WorkFile w;
        w.issueDate = "15/" + std::to_string(month) + "/2026";
        inst.writeWorkFile(w);
        ASSERT_EQ(inst.run(COBRAM_PROGRAM).exitCode, 0);
    }
    std::map<std::string, std::vector<int>> months;  // owner key -> months billed
    for (const std::string& r : inst.collections())
        months[r.substr(0, 4)].push_back(static_cast<unsigned char>(r[6]) - 128);
    EXPECT_EQ(months[e2e::ownerKey(1, 1)], (std::vector<int>{1, 4, 7, 10}));
    EXPECT_EQ(months[e2e::ownerKey(1, 2)], (std::vector<int>{2, 5, 8, 11}));
    EXPECT_EQ(months[e2e::ownerKey(1, 3)], (std::vector<int>{3, 6, 9, 12}));
    EXPECT_EQ(months[e2e::ownerKey(1, 4)],
              (std::vector<int>{2, 4, 6, 8, 10, 12}));  // "M" of 2 is 1
    EXPECT_EQ(months[e2e::ownerKey(1, 5)].size(), 12u);
    EXPECT_EQ(months[e2e::ownerKey(2, 1)], (std::vector<int>{7}));
}

TEST(IssueRun, SecondRunInsertsNothingAndAnotherIssueNumberInsertsAgain) {
    Installation inst;
    inst.addProperties({{1, 1, 12}});
    inst.addOwners({owner(1, 1, 'A', {{1, monthly(10)}}), owner(1, 2, 'B', {{1, monthly(20)}})});
    WorkFile w;
    inst.writeWorkFile(w);
    ASSERT_EQ(inst.run(COBRAM_PROGRAM).exitCode, 0);
    const auto first = inst.collections();
    ASSERT_EQ(first.size(), 2u);
    const std::string log = inst.operationsLog();
    ASSERT_EQ(log, logOf({0, 0}));

    ASSERT_EQ(inst.run(COBRAM_PROGRAM).exitCode, 0);
    EXPECT_EQ(inst.collections(), first);
    EXPECT_EQ(inst.operationsLog(), log);

    w.issueNumber = "02";
    inst.writeWorkFile(w);
    ASSERT_EQ(inst.run(COBRAM_PROGRAM).exitCode, 0);
    EXPECT_EQ(inst.collections().size(), 4u);
    EXPECT_EQ(inst.operationsLog(), logOf({0, 0, 0, 0}));
}

TEST(IssueRun, MissingOrEmptyWorkFileWritesNothing) {
    for (const char* text : {"", "\x1A", "15/03/2026\r\n1\r\n0\r\n"}) {
        Installation inst;
        inst.addProperties({{1, 1, 12}});
        inst.addOwners({owner(1, 1, 'A', {{1, monthly(10)}})});
        inst.writeWorkFileText(text);
        ASSERT_EQ(inst.run(COBRAM_PROGRAM).exitCode, 0);
        EXPECT_TRUE(inst.collections().empty());
        EXPECT_EQ(inst.operationsLog(), "");
    }
    Installation inst;
    inst.addProperties({{1, 1, 12}});
    inst.addOwners({owner(1, 1, 'A', {{1, monthly(10)}})});
    inst.removeWorkFile();
    ASSERT_EQ(inst.run(COBRAM_PROGRAM).exitCode, 0);
    EXPECT_TRUE(inst.collections().empty());
    EXPECT_EQ(inst.operationsLog(), "");
}

#ifndef _WIN32
// "--help" and "--version" print what the program is and do nothing else,
// even with a session and a work file that would bill; any other argument
// is ignored as before.
TEST(IssueRun, HelpAndVersionDoNothingElse) {
    for (const char* argument : {"--help", "--version", "--verbose"}) {
        Installation inst;
        inst.addProperties({{1, 1, 12}});
        inst.addOwners({owner(1, 1, 'A', {{1, monthly(10)}})});
        inst.writeWorkFile(WorkFile{});
        const std::string out = inst.folder() + "help.out";
        const std::string command = "JOBROOT='" + inst.root() + "' JOBTMP='" + inst.work() + "' '" +
                                    COBRAM_PROGRAM + "' " + argument + " </dev/null >'" + out +
                                    "' 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << argument;
        std::ifstream in(out);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        if (std::string(argument) == "--verbose") {
            EXPECT_EQ(inst.collections().size(), 1u);
            continue;
        }
        EXPECT_EQ(text.rfind("cobram ", 0), 0u) << text;
        EXPECT_EQ(text.find("JOBROOT") != std::string::npos, std::string(argument) == "--help")
            << text;
        EXPECT_TRUE(inst.collections().empty()) << argument;
        EXPECT_EQ(inst.operationsLog(), "");
    }
}
#endif

TEST(IssueRun, MissingDataFilesAreCreatedFromTheirDictionaries) {
    Installation inst;  // no data file at all
    inst.writeWorkFile(WorkFile{});
    ASSERT_EQ(inst.run(COBRAM_PROGRAM).exitCode, 0);
    for (const char* f : {"THRebut", "TRemeses", "FinquesH", "PropietH", "CobramH"})
        EXPECT_TRUE(std::filesystem::exists(inst.root() + "DADES/" + f + ".dat")) << f;
    EXPECT_TRUE(inst.collections().empty());
}

}  // namespace
