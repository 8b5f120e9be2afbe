// The map file that places data files on a server, and the names a file
// gets there. No server needed.
#include "engine/postgres/server_map.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/postgres/names.h"
#include "engine/postgres/pq.h"
#include "tests/support/temp_dir.h"

namespace {

using engine::pg::Placement;
using engine::pg::ServerMap;

struct MapCase {
    const char* text;
    bool ok;
    const char* errorPart;  // a part of the error, when refused
};

TEST(ServerMapParse, TableOfCases) {
    const MapCase cases[] = {
        {"server = host=db dbname=nubo\n", true, ""},
        {"# comment\n\n  server=postgresql://db:5432/nubo  \r\nschema = office 1\n", true, ""},
        {"server = service=office\nconnect_timeout = 300\ncall_timeout = 1\n", true, ""},
        {"", false, "no \"server\""},
        {"schema = x\n", false, "no \"server\""},
        {"server = host=db\nserver = host=db2\n", false, "line 2: \"server\" given twice"},
        {"server host db\n", false, "line 1: not \"key = value\""},
        {"server host=db\n", false, "line 1: unknown key"},
        {"server = host=db\nport = 5432\n", false, "line 2: unknown key"},
        {"server = host=db\nconnect_timeout = 0\n", false, "connect_timeout"},
        {"server = host=db\ncall_timeout = 301\n", false, "call_timeout"},
        {"server = host=db\ncall_timeout = 5s\n", false, "call_timeout"},
        {"server = host=db\nread_ahead = 0\n", true, ""},
        {"server = host=db\nread_ahead = 1001\n", false, "read_ahead"},
        {"server = host=db\nschema =\n", false, "has no value"},
        {"server = host='db\n", false, "not a connection string"},
        {"server = host=db nonsense=1\n", false, "not a connection string"},
        {"server = host=db password=hunter2\n", false, "holds a password"},
        {"server = postgresql://u:hunter2@db/nubo\n", false, "holds a password"},
        {"server = host=db\nschema = "
         "a234567890123456789012345678901234567890123456789012345678901234\n",
         false, "longer than 63"},
    };
    for (const MapCase& c : cases) {
        ServerMap map;
        std::string error;
        EXPECT_EQ(engine::pg::parseServerMap(c.text, map, error), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.text << " -> " << error;
            // A refused line never echoes a secret.
            EXPECT_EQ(error.find("hunter2"), std::string::npos) << error;
        }
    }
}

TEST(ServerMapParse, ValuesAndDefaults) {
    ServerMap map;
    std::string error;
    ASSERT_TRUE(engine::pg::parseServerMap("server = host=db dbname=nubo\n", map, error));
    EXPECT_EQ(map.server, "host=db dbname=nubo");
    EXPECT_EQ(map.schema, "nubo");
    EXPECT_EQ(map.connectSeconds, 10u);
    EXPECT_EQ(map.callSeconds, 10u);
    EXPECT_EQ(map.readAheadMilliseconds, 50u);
    ASSERT_TRUE(engine::pg::parseServerMap(
        "server=host=db\nschema = Oficina Nord\nconnect_timeout=3\ncall_timeout= 7", map, error));
    EXPECT_EQ(map.schema, "Oficina Nord");
    EXPECT_EQ(map.connectSeconds, 3u);
    EXPECT_EQ(map.callSeconds, 7u);
}

TEST(ServerMapParse, LongFileIsRefused) {
    std::string text = "server = host=db\n";
    text += std::string(engine::pg::maxMapFileSize, '#');
    ServerMap map;
    std::string error;
    EXPECT_FALSE(engine::pg::parseServerMap(text, map, error));
}

class Placing : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    void write(const std::filesystem::path& relative, const std::string& text) {
        std::filesystem::create_directories((dir.path() / relative).parent_path());
        std::ofstream(dir.path() / relative, std::ios::binary) << text;
    }
    // A program path under the folder: "\" separators, as the suite writes them.
    std::string programPath(const std::string& relative) const { return dir.dir() + relative; }
};

TEST_F(Placing, NoMapFileMeansLocal) {
    std::filesystem::create_directories(dir.path() / "DADES");
    EXPECT_EQ(engine::pg::placeDataFile(programPath("DADES\\FinquesH.dat")).where,
              Placement::Where::Local);
}

TEST_F(Placing, MapInTheFilesFolder) {
    write("DADES/nubodb.server", "server = host=db\nschema = office\n");
    const Placement p = engine::pg::placeDataFile(programPath("DADES\\FinquesH.dat"));
    ASSERT_EQ(p.where, Placement::Where::Server) << p.error;
    EXPECT_EQ(p.name, "finquesh.dat");
    EXPECT_EQ(p.map.server, "host=db");
    EXPECT_EQ(p.map.schema, "office");
}

TEST_F(Placing, MapAboveNamesTheRelativePath) {
    write("nubodb.server", "server = host=db\n");
    std::filesystem::create_directories(dir.path() / "DADES" / "Arxiu");
    const Placement p = engine::pg::placeDataFile(programPath("DADES\\Arxiu\\.\\CobramH.dat"));
    ASSERT_EQ(p.where, Placement::Where::Server) << p.error;
    EXPECT_EQ(p.name, "dades/arxiu/cobramh.dat");
    // The same file by another spelling is the same name.
    EXPECT_EQ(engine::pg::placeDataFile(programPath("dades/ARXIU/../Arxiu/cobramh.DAT")).name,
              "dades/arxiu/cobramh.dat");
}

TEST_F(Placing, TheNearestMapWins) {
    write("nubodb.server", "server = host=far\n");
    write("DADES/nubodb.server", "server = host=near\n");
    EXPECT_EQ(engine::pg::placeDataFile(programPath("DADES\\x.dat")).map.server, "host=near");
}

TEST_F(Placing, BrokenMapIsInvalidWithoutTheSecret) {
    write("DADES/nubodb.server", "server = host=db password=s3cret\n");
    const Placement p = engine::pg::placeDataFile(programPath("DADES\\x.dat"));
    EXPECT_EQ(p.where, Placement::Where::Invalid);
    EXPECT_NE(p.error.find("nubodb.server"), std::string::npos);
    EXPECT_EQ(p.error.find("s3cret"), std::string::npos);
}

TEST_F(Placing, CodePageNamesBecomeUtf8) {
    write("nubodb.server", "server = host=db\n");
    // "Propietaris Ñ.dat" in code page 850: Ñ is 0xA5.
    const Placement p = engine::pg::placeDataFile(programPath("Propietaris \xA5.dat"));
    ASSERT_EQ(p.where, Placement::Where::Server);
    EXPECT_EQ(p.name, "propietaris \xC3\x91.dat");
}

TEST(ServerNames, ShortNamesStayLongOnesAreCutWithAHash) {
    EXPECT_EQ(engine::pg::identifier("dades/finquesh.dat"), "dades/finquesh.dat");
    EXPECT_EQ(engine::pg::identifier("dades/finquesh.dat", ":k0"), "dades/finquesh.dat:k0");
    const std::string longName(80, 'a');
    const std::string other = std::string(79, 'a') + "b";
    const std::string a = engine::pg::identifier(longName, ":k1");
    const std::string b = engine::pg::identifier(other, ":k1");
    EXPECT_EQ(a.size(), engine::pg::maxIdentifierLength);
    EXPECT_EQ(a.substr(a.size() - 3), ":k1");
    EXPECT_NE(a, b);
    // Never cut inside a UTF-8 character: "é" is two bytes.
    std::string accents;
    for (int i = 0; i < 40; ++i) accents += "\xC3\xA9";
    const std::string cut = engine::pg::identifier(accents);
    EXPECT_LE(cut.size(), engine::pg::maxIdentifierLength);
    EXPECT_TRUE(engine::pg::validUtf8(cut));
}

TEST(ServerNames, QuotingTableOfCases) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"a\"b", "\"a\"\"b\""},
        {"x\"; DROP TABLE nubo_files; --", "\"x\"\"; DROP TABLE nubo_files; --\""},
        {"\xC3\x91", "\"\xC3\x91\""},
        {"", ""},
        {std::string("a\0b", 3), ""},
        {"\xA5", ""},          // not UTF-8
        {"\xC0\xAF", ""},      // overlong
        {"\xED\xA0\x80", ""},  // a surrogate
        {"\xE2\x82", ""},      // cut short
    };
    for (const auto& [name, quoted] : cases) {
        EXPECT_EQ(engine::pg::quoteIdentifier(name), quoted) << name;
    }
}

TEST(ServerFaults, StatusesFromServerCodes) {
    const std::pair<const char*, std::int16_t> cases[] = {
        {"23505", 5},  {"55P03", 85}, {"57014", 85}, {"40P01", 78}, {"53100", 18},
        {"53200", 18}, {"25006", 46}, {"42501", 94}, {"28P01", 94}, {"08006", 95},
        {"57P01", 95}, {"57P03", 95}, {"42P01", 2},  {"XX000", 2},  {"", 2},
    };
    for (const auto& [state, st] : cases) {
        EXPECT_EQ(engine::pg::statusForError(state), st) << state;
    }
}

TEST(ServerFaults, RedactReplacesEveryOccurrence) {
    EXPECT_EQ(engine::pg::redact("pw=abc and abc", "abc"), "pw=******** and ********");
    EXPECT_EQ(engine::pg::redact("nothing", ""), "nothing");
    EXPECT_EQ(engine::pg::passwordOf("host=db password='p w'"), "p w");
    EXPECT_EQ(engine::pg::passwordOf("postgresql://u:pw@db/x"), "pw");
    EXPECT_EQ(engine::pg::passwordOf("host=db"), "");
}

}  // namespace
