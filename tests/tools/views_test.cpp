// The report views on a PostgreSQL server: their statement, and on a server
// (NUBO_TEST_PG) their rows against the utility's own decoding of the same
// records.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/postgres/names.h"
#include "engine/postgres/server_map.h"
#include "engine/postgres/storage.h"
#include "tests/engine/postgres/server_fixture.h"
#include "tests/support/environment.h"
#include "tests/support/installation.h"
#include "tests/support/temp_dir.h"
#include "engine/api.h"
#include "tools/commands.h"
#include "tools/preview.h"
#include "tools/views.h"

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

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = line.find(',', at);
        fields.push_back(line.substr(at, comma - at));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return fields;
}

TEST(ViewStatement, NamesColumnsQuotedAndTyped) {
    const Layout* collections = findLayout("collections");
    ASSERT_NE(collections, nullptr);
    const std::string sql = viewStatement(*collections, "\"s\".\"v\"", "\"s\".\"t\"");
    EXPECT_EQ(sql.rfind("CREATE OR REPLACE VIEW \"s\".\"v\" AS SELECT id,", 0), 0u) << sql;
    EXPECT_NE(sql.find("::date AS \"issueDate\""), std::string::npos) << sql;
    EXPECT_NE(sql.find("::smallint AS \"issueNumber\""), std::string::npos) << sql;
    EXPECT_NE(sql.find("::integer AS \"total\""), std::string::npos) << sql;
    EXPECT_NE(sql.find("::text AS \"state\""), std::string::npos) << sql;
    const std::string from = "\nFROM \"s\".\"t\"";
    EXPECT_EQ(sql.substr(sql.size() - from.size()), from);
    // The view's name keeps the file's name whole when short, and is cut
    // with a hash like a table's when long.
    EXPECT_EQ(viewName("dades/cobramh.dat", *collections), "dades/cobramh.dat:collections");
    const std::string longName = viewName(std::string(80, 'd') + "/cobramh.dat", *collections);
    EXPECT_EQ(longName.size(), engine::pg::maxIdentifierLength);
    EXPECT_EQ(longName.substr(longName.size() - 12), ":collections");
}

// On a server: every view's rows are the records as the utility decodes
// them (its CSV export), field by field, with NULL where the export shows
// no value or bytes of no value ("#" and digits); the columns carry their
// types; a file under a folder name with quotes and a semicolon gets its
// view like any other, and nothing else in the schema changes.
TEST(PostgresViews, RowsAreTheRecordsTheUtilityDecodes) {
    NUBO_NEED_SERVER();
    testing_support::TempDir dir;
    const pg_test::SchemaGuard schema(pg_test::freshSchema("views"));
    dir.write("server/nubodb.server",
              "server = " + pg_test::serverConninfo() + "\nschema = " + schema.name() + "\n");
    const std::string odd = "o'k \"x\"; DROP SCHEMA public";
    struct File {
        std::string base, path, csv;
    } files[] = {
        {"FinquesH", "server/dades/FinquesH.dat", kExamples + "data/properties.csv"},
        {"PropietH", "server/dades/PropietH.dat", kExamples + "data/owners.csv"},
        {"CobramH", "server/dades/CobramH.dat", dir.dir() + "c.csv"},
        {"CobramH", "server/" + odd + "/CobramH.dat", dir.dir() + "c.csv"},
    };
    // Collections with negative and extreme amounts, a zero date, a blank
    // issue and state, and bytes of no value in a date, an issue and a state.
    dir.write("c.csv",
              "property,owner,issueDate,issueNumber,collectedDate,total,flagged,state\n"
              "1,1,01/04/2026,01,,18500,12000,P\n"
              "1,2,29/02/2024,99,31/12/2025,-1,2147483647,I\n"
              "2,1,01/01/0001,,,-2147483648,-7,\n"
              "9999,9999,#80808080,#00,#80811302,0,0,#1a\n"
              "3,4,#82808d01,05,#8080ff80,1,2,Z\n");
    for (const File& f : files) {
        const Result c =
            run({"create", dir.dir() + f.path, "--from", kExamples + "ddf-src/" + f.base + ".ddf"});
        ASSERT_EQ(c.code, 0) << f.path << ": " << c.err;
        const Result i = run({"import", dir.dir() + f.path, f.csv});
        ASSERT_EQ(i.code, 0) << f.path << ": " << i.err;
    }
    // A file of no known layout gets no view.
    ASSERT_EQ(run({"create", dir.dir() + "server/dades/Other.dat", "--from",
                   kExamples + "ddf-src/CobramH.ddf"})
                  .code,
              0);

    const Result v = run({"views", dir.dir() + "server/nubodb.server"});
    ASSERT_EQ(v.code, 0) << v.err;
    EXPECT_NE(v.out.find("4 views in schema"), std::string::npos) << v.out;
    // Made again over the ones there: the same views.
    ASSERT_EQ(run({"views", dir.dir() + "server/nubodb.server"}).code, 0);

    auto conn = pg_test::connect(pg_test::serverConninfo());
    ASSERT_TRUE(conn);
    const std::string qs = conn->quote(schema.name());
    for (const File& f : files) {
        const Layout* layout = layoutForPath(f.path);
        ASSERT_NE(layout, nullptr);
        std::string name = f.path.substr(std::string("server/").size());
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return c < 128 ? std::tolower(c) : c; });
        const std::string view = viewName(name, *layout);
        // Every column: its type as the layout's kind says.
        const engine::pg::Result types = conn->runOnce(
            "SELECT column_name::text, data_type::text FROM information_schema.columns "
            "WHERE table_schema = $1 AND table_name = $2 ORDER BY ordinal_position",
            std::vector{engine::pg::Param::text(schema.name()), engine::pg::Param::text(view)});
        ASSERT_TRUE(types) << conn->fault().message;
        ASSERT_EQ(types.rows(), static_cast<int>(layout->fields.size()) + 1) << view;
        EXPECT_EQ(types.text(0, 0), "id");
        for (std::size_t k = 0; k < layout->fields.size(); ++k) {
            const Field& field = layout->fields[k];
            EXPECT_EQ(types.text(static_cast<int>(k) + 1, 0), field.name);
            EXPECT_EQ(types.text(static_cast<int>(k) + 1, 1), viewColumnType(field)) << field.name;
        }
        // The rows, each field in the export's readable form.
        std::string select = "SELECT concat_ws(',', ";
        for (std::size_t k = 0; k < layout->fields.size(); ++k) {
            const Field& field = layout->fields[k];
            const std::string c = "\"" + std::string(field.name) + "\"";
            std::string text = c + "::text";
            if (field.kind == FieldKind::Date) text = "to_char(" + c + ", 'DD/MM/YYYY')";
            if (field.kind == FieldKind::Issue) text = "lpad(" + c + "::text, 2, '0')";
            select += (k ? ", " : "") + std::string("coalesce(") + text + ", '')";
        }
        select += ") FROM " + qs + "." + conn->quote(view) + " ORDER BY 1";
        const engine::pg::Result rows = conn->runOnce(select);
        ASSERT_TRUE(rows) << conn->fault().message;
        std::vector<std::string> fromView;
        for (int r = 0; r < rows.rows(); ++r) fromView.emplace_back(rows.text(r, 0));
        std::sort(fromView.begin(), fromView.end());

        const Result exported = run({"export", dir.dir() + f.path});
        ASSERT_EQ(exported.code, 0) << exported.err;
        std::vector<std::string> lines = splitLines(exported.out);
        ASSERT_FALSE(lines.empty());
        lines.erase(lines.begin());  // the header
        std::vector<std::string> decoded;
        for (const std::string& line : lines) {
            std::vector<std::string> fields = splitFields(line);
            fields.resize(layout->fields.size());  // without "other"
            std::string joined;
            for (std::size_t k = 0; k < fields.size(); ++k) {
                if (!fields[k].empty() && fields[k][0] == '#') fields[k].clear();
                joined += (k ? "," : "") + fields[k];
            }
            decoded.push_back(joined);
        }
        std::sort(decoded.begin(), decoded.end());
        ASSERT_FALSE(decoded.empty());
        EXPECT_EQ(fromView, decoded) << view;
    }
    // A typed query over the collections: dates and amounts as such.
    const engine::pg::Result sum =
        conn->runOnce("SELECT sum(total)::bigint FROM " + qs + "." +
                      conn->quote("dades/cobramh.dat:collections") +
                      " WHERE \"issueDate\" >= DATE '2024-01-01' AND \"issueNumber\" IS NOT NULL");
    ASSERT_TRUE(sum) << conn->fault().message;
    std::int64_t total = 0;
    ASSERT_TRUE(sum.int64(0, 0, total));
    EXPECT_EQ(total, 18500 - 1);
    // Nothing but the four views was added: no view for Other.dat, the
    // public schema still there.
    const engine::pg::Result counted = conn->runOnce(
        "SELECT (SELECT count(*) FROM pg_views WHERE schemaname = $1), "
        "(SELECT count(*) FROM pg_namespace WHERE nspname = 'public')",
        std::vector{engine::pg::Param::text(schema.name())});
    ASSERT_TRUE(counted);
    std::int64_t views = 0, publicLeft = 0;
    ASSERT_TRUE(counted.int64(0, 0, views));
    ASSERT_TRUE(counted.int64(0, 1, publicLeft));
    EXPECT_EQ(views, 4);
    EXPECT_EQ(publicLeft, 1);

    // Create over a file with a view on its table: refused with status 25
    // (create error), the file and its records left as they were.
    engine::pg::ServerMap map;
    map.server = pg_test::serverConninfo();
    map.schema = schema.name();
    std::unique_ptr<engine::Table> table;
    ASSERT_EQ(engine::pg::openOnServer(map, "dades/cobramh.dat", engine::OpenMode::Normal, table),
              0);
    const engine::FileDescription description = table->description();
    table.reset();
    EXPECT_EQ(engine::pg::createOnServer(map, "dades/cobramh.dat", description, true),
              engine::status::createError);
    const Result after = run({"export", dir.dir() + "server/dades/CobramH.dat"});
    EXPECT_EQ(splitLines(after.out).size(), 6u) << after.out;
}

// A server that refuses the login: a status in the message, never the
// password; a map file naming no reachable server: the connect status.
TEST(PostgresViews, RefusedLoginIsAStatusWithoutThePassword) {
    NUBO_NEED_SERVER();
    testing_support::TempDir dir;
    const std::string secret = "wrong-views-pass-7";
    // The map file may carry no password: it is refused as it is read.
    dir.write("a/nubodb.server", "server = " + pg_test::serverConninfo() + " password=" + secret +
                                     "\nschema = nobody\n");
    const Result inMap = run({"views", dir.dir() + "a/nubodb.server"});
    EXPECT_EQ(inMap.code, 1);
    EXPECT_EQ(inMap.err.find(secret), std::string::npos) << inMap.err;
    // Through the environment's libpq settings instead: the login refused.
    dir.write("b/nubodb.server",
              "server = " + pg_test::serverConninfo() + " user=no_such_role_v\nschema = nobody\n");
    const Result refused = run({"views", dir.dir() + "b/nubodb.server"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("status 94"), std::string::npos) << refused.err;
    // A schema without data files: the server's own reason, no view made.
    dir.write("c/nubodb.server",
              "server = " + pg_test::serverConninfo() + "\nschema = no_files_here_v\n");
    const Result empty = run({"views", dir.dir() + "c/nubodb.server"});
    EXPECT_EQ(empty.code, 1);
    EXPECT_NE(empty.err.find("nubo_files"), std::string::npos) << empty.err;
    EXPECT_EQ(empty.err.find("status 0"), std::string::npos) << empty.err;
}

// Paths with quotes, semicolons, SQL and non-ASCII letters, through the
// utility and the record manager's entry: each file is a table of its own
// that reads back what was written to it; the files of the installation
// beside them keep their records, the schema holds no table but the
// catalog's, and a neighbouring schema and "public" stay as they were.
TEST(PostgresNames, HostilePathsStayNamesAndTouchNothingElse) {
    NUBO_NEED_SERVER();
    testing_support::TempDir dir;
    const pg_test::SchemaGuard schema(pg_test::freshSchema("names"));
    dir.write("server/nubodb.server",
              "server = " + pg_test::serverConninfo() + "\nschema = " + schema.name() + "\n");
    auto conn = pg_test::connect(pg_test::serverConninfo());
    ASSERT_TRUE(conn);
    // A neighbour of the test's own: a schema with a table and a row.
    const pg_test::SchemaGuard neighbour(schema.name() + "_n");
    const std::string qn = conn->quote(neighbour.name());
    pg_test::exec(*conn, "CREATE SCHEMA " + qn);
    pg_test::exec(*conn, "CREATE TABLE " + qn + ".t (a int)");
    pg_test::exec(*conn, "INSERT INTO " + qn + ".t VALUES (7)");
    const std::string sentinel = dir.dir() + "server/dades/FinquesH.dat";
    ASSERT_EQ(run({"create", sentinel, "--from", kExamples + "ddf-src/FinquesH.ddf"}).code, 0);
    ASSERT_EQ(run({"import", sentinel, kExamples + "data/properties.csv"}).code, 0);
    const std::string sentinelRows = run({"export", sentinel}).out;
    const std::string names[] = {
        "dades/o'brien.dat",
        "dades/x\"; DROP TABLE \"dades/finquesh.dat\"; --.dat",
        "dades/'); DELETE FROM nubo_files; --.dat",
        "dades/Propietaris \xC3\x91"
        "and\xC3\xBA \xE2\x82\xAC.dat",
        "dades/" + std::string(70, 'q') + "'\".dat",
    };
    dir.write("c.csv",
              "property,owner,issueDate,issueNumber,collectedDate,total,flagged,state\n"
              "1,1,01/04/2026,01,,18500,12000,P\n");
    for (const std::string& name : names) {
        const std::string path = dir.dir() + "server/" + name;
        const Result c = run({"create", path, "--from", kExamples + "ddf-src/CobramH.ddf"});
        ASSERT_EQ(c.code, 0) << name << ": " << c.err;
        ASSERT_EQ(run({"import", path, dir.dir() + "c.csv", "--layout", "collections"}).code, 0)
            << name;
        const Result e = run({"export", path, "--layout", "collections"});
        ASSERT_EQ(e.code, 0) << name << ": " << e.err;
        EXPECT_NE(e.out.find("1,1,01/04/2026,01,,18500,12000,P"), std::string::npos) << e.out;
        EXPECT_EQ(run({"check", path}).code, 0) << name;
    }
    EXPECT_EQ(run({"export", sentinel}).out, sentinelRows);
    // In the schema: the catalog, and the tables it names, one per file.
    const std::string qs = conn->quote(schema.name());
    const engine::pg::Result tables = conn->runOnce(
        "SELECT (SELECT count(*) FROM pg_tables WHERE schemaname = $1), "
        "(SELECT count(*) FROM " +
            qs +
            ".nubo_files f JOIN pg_tables t "
            "ON t.schemaname = $1 AND t.tablename = f.table_name), "
            "(SELECT count(*) FROM " +
            qs + ".nubo_files)",
        std::vector{engine::pg::Param::text(schema.name())});
    ASSERT_TRUE(tables) << conn->fault().message;
    std::int64_t inSchema = 0, named = 0, files = 0;
    ASSERT_TRUE(tables.int64(0, 0, inSchema));
    ASSERT_TRUE(tables.int64(0, 1, named));
    ASSERT_TRUE(tables.int64(0, 2, files));
    const auto count = static_cast<std::int64_t>(std::size(names)) + 1;
    EXPECT_EQ(files, count);
    EXPECT_EQ(named, count);
    EXPECT_EQ(inSchema, count + 1);  // and nubo_files
    const engine::pg::Result left = conn->runOnce(
        "SELECT (SELECT count(*) FROM pg_tables WHERE schemaname = $1), "
        "(SELECT count(*) FROM " +
            qn +
            ".t WHERE a = 7), "
            "(SELECT count(*) FROM pg_namespace WHERE nspname = 'public')",
        std::vector{engine::pg::Param::text(neighbour.name())});
    ASSERT_TRUE(left) << conn->fault().message;
    std::int64_t neighbourTables = 0, neighbourRows = 0, publicLeft = 0;
    ASSERT_TRUE(left.int64(0, 0, neighbourTables));
    ASSERT_TRUE(left.int64(0, 1, neighbourRows));
    ASSERT_TRUE(left.int64(0, 2, publicLeft));
    EXPECT_EQ(neighbourTables, 1);
    EXPECT_EQ(neighbourRows, 1);
    EXPECT_EQ(publicLeft, 1);
}

// The workstation role of scripts/pg-workstation-role.sql: the program's
// issue run as that role bills every owner, and the role is refused DROP and
// ALTER of the data tables and writes to the catalog (status 94, the
// server's insufficient_privilege).
TEST(PostgresWorkstationRole, RunsTheIssueButChangesNoTable) {
    NUBO_NEED_SERVER();
    const char* bin = std::getenv("NUBO_PG_BIN");
    const char* port = std::getenv("NUBO_PG_PORT");
    const char* passFile = std::getenv("PGPASSFILE");
    if (!bin || !port || !passFile)
        GTEST_SKIP() << "the server's environment of scripts/pg-server.sh";
    const pg_test::SchemaGuard schema(pg_test::freshSchema("role"));
    const std::string role = schema.name() + "_ws", password = "ws-" + schema.name();
    auto admin = pg_test::connect(pg_test::serverConninfo());
    ASSERT_TRUE(admin);
    pg_test::exec(*admin,
                  "CREATE ROLE " + admin->quote(role) + " LOGIN PASSWORD '" + password + "'");
    struct DropRole {
        engine::pg::Connection& c;
        std::string r;
        ~DropRole() {
            c.runOnce("DROP OWNED BY " + r);
            c.runOnce("DROP ROLE " + r);
        }
    } dropRole{*admin, admin->quote(role)};

    // The administrator lays the installation out on the server, every file
    // the program would create included: a workstation cannot create files.
    e2e::Installation inst;
    inst.mapToServer(pg_test::serverConninfo(), schema.name());
    inst.addProperties({{1, 1, 12}, {2, 1, 12}});
    std::vector<e2e::Owner> owners;
    for (int p = 1; p <= 2; ++p)
        for (int o = 1; o <= 3; ++o) {
            e2e::Owner w;
            w.property = p;
            w.owner = o;
            w.concepts[1] = {' ', 1, 1000 * o};
            owners.push_back(w);
        }
    inst.addOwners(owners);
    for (const char* base : {"THRebut", "TRemeses", "CobramH"}) {
        const Result made = run({"create", inst.root() + "DADES/" + base + ".dat", "--from",
                                 inst.root() + "ddf/" + base + ".xdf"});
        ASSERT_EQ(made.code, 0) << base << ": " << made.err;
    }
    ASSERT_EQ(run({"views", inst.root() + "nubodb.server"}).code, 0);
    const std::string script = std::string(NUBO_SOURCE_DIR) + "/scripts/pg-workstation-role.sql";
    const std::string psql = std::string(bin) + "/psql '" + pg_test::serverConninfo() +
                             "' -qX -v schema=" + schema.name() + " -v role=" + role + " -f '" +
                             script + "' </dev/null";
    ASSERT_EQ(std::system(psql.c_str()), 0) << psql;
    ASSERT_EQ(std::system(psql.c_str()), 0) << "a second run changes nothing and fails not";

    // From here on the workstation: its map file names its role, the
    // password comes from its password file.
    testing_support::TempDir home;
    std::ifstream original(passFile, std::ios::binary);
    std::string passwords((std::istreambuf_iterator<char>(original)), {});
    home.write("pgpass", passwords + "*:" + port + ":*:" + role + ":" + password + "\n");
    ::chmod((home.dir() + "pgpass").c_str(), 0600);
    testing_support::setEnvironment("PGPASSFILE", home.dir() + "pgpass");
    struct Restore {
        std::string file;
        ~Restore() { testing_support::setEnvironment("PGPASSFILE", file); }
    } restore{passFile};
    const std::string workstation = pg_test::serverConninfo() + " user=" + role;
    inst.mapToServer(workstation, schema.name());
    inst.writeWorkFile({});
    std::size_t expected = 0;
    for (const OwnerPreview& o : previewIssue(inst.root(), inst.work() + "pent.tmp").owners)
        if (o.outcome == PreviewOutcome::Insert) ++expected;
    ASSERT_GT(expected, 0u);
    const e2e::Installation::RunResult ran = inst.run(COBRAM_PROGRAM);
    std::ifstream shown(inst.folder() + "program.out", std::ios::binary);
    const std::string output((std::istreambuf_iterator<char>(shown)), {});
    EXPECT_EQ(ran.exitCode, 0) << output;
    EXPECT_EQ(inst.collections().size(), expected) << output << inst.operationsLog();

    // The report view reads as the workstation too.
    auto ws = pg_test::connect(workstation);
    ASSERT_TRUE(ws);
    const std::string qs = ws->quote(schema.name());
    const engine::pg::Result billed = ws->runOnce("SELECT count(*) FROM " + qs + "." +
                                                  ws->quote("dades/cobramh.dat:collections") +
                                                  " WHERE \"issueDate\" = DATE '2026-03-15'");
    ASSERT_TRUE(billed) << ws->fault().message;
    std::int64_t n = 0;
    ASSERT_TRUE(billed.int64(0, 0, n));
    EXPECT_EQ(n, static_cast<std::int64_t>(expected));
    // Refused: every change to a table's shape, the catalog, new objects.
    const std::string table = qs + "." + ws->quote("dades/cobramh.dat");
    const std::string refused[] = {
        "DROP TABLE " + table,
        "ALTER TABLE " + table + " ADD COLUMN z int",
        "ALTER TABLE " + table + " DROP COLUMN k0",
        "TRUNCATE " + table,
        "DROP VIEW " + qs + "." + ws->quote("dades/cobramh.dat:collections"),
        "DROP INDEX " + qs + "." + ws->quote("dades/cobramh.dat:k0"),
        "UPDATE " + qs + ".nubo_files SET records = 0",
        "CREATE TABLE " + qs + ".extra (a int)",
    };
    for (const std::string& sql : refused) {
        EXPECT_FALSE(ws->runOnce(sql)) << sql;
        EXPECT_EQ(ws->fault().status, engine::status::permissionError) << sql;
    }
    EXPECT_EQ(inst.collections().size(), expected) << "nothing was lost";
}

}  // namespace
}  // namespace nubodat
