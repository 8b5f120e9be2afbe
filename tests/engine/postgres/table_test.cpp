// Data files on the server through the storage seam: what the server keeps
// (catalog, count, indexes), open modes across sessions (as across
// machines), creation over a file open elsewhere, awkward names, a role
// without the right to change tables, and the statuses of faults.
#include "engine/postgres/table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "engine/key_codec.h"
#include "engine/postgres/storage.h"
#include "tests/engine/engine_test_support.h"
#include "tests/engine/postgres/server_fixture.h"

namespace {

using engine::FileDescription;
using engine::FoundRow;
using engine::OpenMode;
using engine::RowId;
using engine::Seek;
using engine::Table;
using engine::pg::Param;
using engine::pg::ServerMap;

// Records of 8 bytes: key 0 the first 4 bytes (unique, unsigned), key 1
// the last 4 (a string with duplicates, modifiable, case-insensitive).
FileDescription twoKeys() {
    const std::string d =
        engine_test::makeDescription(8, {{{1, 4, 0x0100, 14}}, {{5, 4, 0x0001 | 0x0002 | 0x0400}}});
    FileDescription out;
    EXPECT_EQ(
        engine::parseDescription(reinterpret_cast<const unsigned char*>(d.data()), d.size(), out),
        0);
    return out;
}

std::string record(std::uint32_t n, const char* tag) {
    std::string r(8, '\0');
    for (int i = 0; i < 4; ++i) r[static_cast<std::size_t>(i)] = static_cast<char>(n >> (8 * i));
    std::memcpy(r.data() + 4, tag, 4);
    return r;
}

std::string keysOf(const FileDescription& d, const std::string& rec) {
    std::string keys;
    for (const auto& k : d.keys) {
        std::string e(k.length, '\0');
        engine::encodeRecordKey(k, reinterpret_cast<const unsigned char*>(rec.data()),
                                reinterpret_cast<unsigned char*>(e.data()));
        keys += e;
    }
    return keys;
}

const unsigned char* bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

class ServerTable : public ::testing::Test {
protected:
    void SetUp() override {
        if (pg_test::serverConninfo().empty()) {
            GTEST_SKIP() << "no PostgreSQL server: NUBO_TEST_PG is not set";
        }
        schema_ = std::make_unique<pg_test::SchemaGuard>(pg_test::freshSchema("nubo_table"));
        map.server = pg_test::serverConninfo();
        map.schema = schema_->name();
        // Another machine: another connection string, so another session.
        other = map;
        other.server += " application_name=another_machine";
    }

    std::int16_t create(const std::string& name, bool overwrite = false) {
        return engine::pg::createOnServer(map, name, description, overwrite);
    }
    std::int16_t open(const ServerMap& m, const std::string& name, OpenMode mode,
                      std::unique_ptr<Table>& out) {
        return engine::pg::openOnServer(m, name, mode, out);
    }
    RowId insert(Table& t, std::uint32_t n, const char* tag, std::int16_t expected = 0) {
        const std::string r = record(n, tag);
        RowId id = 0;
        EXPECT_EQ(t.insert(bytes(r), bytes(keysOf(description, r)), id), expected);
        return id;
    }

    std::unique_ptr<pg_test::SchemaGuard> schema_;
    ServerMap map, other;
    FileDescription description = twoKeys();
};

TEST_F(ServerTable, RowsOrdersAndCountAsTheSeamDefines) {
    ASSERT_EQ(create("dades/finquesh.dat"), 0) << engine::pg::lastServerFault();
    EXPECT_EQ(create("dades/finquesh.dat"), engine::status::fileExists);
    std::unique_ptr<Table> t;
    ASSERT_EQ(open(map, "dades/finquesh.dat", OpenMode::Normal, t), 0)
        << engine::pg::lastServerFault();
    EXPECT_EQ(engine::encodeDescription(t->description()), engine::encodeDescription(description));
    const RowId a = insert(*t, 300, "bbbb");
    const RowId b = insert(*t, 100, "aaaa");
    const RowId c = insert(*t, 200, "bbbb");
    insert(*t, 100, "zzzz", engine::status::duplicateKey);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    std::uint32_t n = 0;
    ASSERT_EQ(t->count(n), 0);
    EXPECT_EQ(n, 3u);

    // Key 0 (unsigned): 100, 200, 300. Key 1 (duplicates): aaaa, bbbb (a), bbbb (c).
    FoundRow row;
    ASSERT_EQ(t->seek(0, Seek::First, nullptr, 0, row), 0);
    ASSERT_TRUE(row.found);
    EXPECT_EQ(row.id, b);
    ASSERT_EQ(t->seek(1, Seek::Last, nullptr, 0, row), 0);
    EXPECT_EQ(row.id, c);
    const std::string bbbb = "BBBB";  // case-insensitive key: upper case
    ASSERT_EQ(t->seek(1, Seek::Equal, bytes(bbbb), 0, row), 0);
    EXPECT_EQ(row.id, a) << "duplicates in insertion order";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(row.record), 8), record(300, "bbbb"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(row.key), 4), "BBBB");
    ASSERT_EQ(t->seek(1, Seek::After, bytes(bbbb), a, row), 0);
    EXPECT_EQ(row.id, c);
    ASSERT_EQ(t->seek(1, Seek::After, bytes(bbbb), c, row), 0);
    EXPECT_FALSE(row.found);
    ASSERT_EQ(t->seek(1, Seek::Before, bytes(bbbb), a, row), 0);
    EXPECT_EQ(row.id, b);
    const std::string k200 = keysOf(description, record(200, "xxxx")).substr(0, 4);
    ASSERT_EQ(t->seek(0, Seek::Greater, bytes(k200), 0, row), 0);
    EXPECT_EQ(row.id, a);
    ASSERT_EQ(t->seek(0, Seek::LessOrEqual, bytes(k200), 0, row), 0);
    EXPECT_EQ(row.id, c);
    ASSERT_EQ(t->seek(0, Seek::Less, bytes(k200), 0, row), 0);
    EXPECT_EQ(row.id, b);
    ASSERT_EQ(t->seek(0, Seek::After, bytes(k200), c, row), 0);
    EXPECT_EQ(row.id, a);

    // Replace: the guard sees the stored row; a refusal changes nothing.
    const std::string changed = record(200, "cccc");
    std::string seen;
    EXPECT_EQ(t->replace(c, bytes(changed), bytes(keysOf(description, changed)),
                         [&](const unsigned char* stored) {
                             seen.assign(reinterpret_cast<const char*>(stored), 8);
                             return std::int16_t{10};
                         }),
              10);
    EXPECT_EQ(seen, record(200, "bbbb"));
    EXPECT_EQ(t->replace(c, bytes(changed), bytes(keysOf(description, changed)), nullptr), 0);
    ASSERT_EQ(t->seek(1, Seek::Last, nullptr, 0, row), 0);
    EXPECT_EQ(row.id, c) << "a row keeps its id through a replace";
    const std::string clash = record(100, "cccc");
    EXPECT_EQ(t->replace(c, bytes(clash), bytes(keysOf(description, clash)), nullptr),
              engine::status::duplicateKey);

    // Remove: the guard sees the stored row too; a refusal keeps it.
    EXPECT_EQ(t->remove(b, [](const unsigned char*) { return std::int16_t{80}; }), 80);
    ASSERT_EQ(t->read(b, row), 0);
    EXPECT_TRUE(row.found);
    ASSERT_EQ(t->remove(b, nullptr), 0);
    EXPECT_EQ(t->remove(b, nullptr), engine::status::noCurrentRecord);
    EXPECT_EQ(t->replace(b, bytes(changed), bytes(keysOf(description, changed)), nullptr),
              engine::status::noCurrentRecord);
    ASSERT_EQ(t->count(n), 0);
    EXPECT_EQ(n, 2u);
}

TEST_F(ServerTable, AnotherMachinesChangeIsSeenAtTheNextCall) {
    ASSERT_EQ(create("x.dat"), 0);
    std::unique_ptr<Table> here, there;
    ASSERT_EQ(open(map, "x.dat", OpenMode::Normal, here), 0);
    ASSERT_EQ(open(other, "x.dat", OpenMode::ReadOnly, there), 0);
    insert(*here, 1, "aaaa");
    std::uint32_t n = 0;
    ASSERT_EQ(there->count(n), 0);
    EXPECT_EQ(n, 1u);
    FoundRow row;
    ASSERT_EQ(there->seek(0, Seek::First, nullptr, 0, row), 0);
    EXPECT_TRUE(row.found);
}

// Record locks are the server's: held against another session (another
// machine), counted per hold in this one, and gone with the last release.
TEST_F(ServerTable, RecordLocksHoldAcrossMachinesAndCountTheirHolds) {
    ASSERT_EQ(create("x.dat"), 0);
    std::unique_ptr<Table> here, there;
    ASSERT_EQ(open(map, "x.dat", OpenMode::Normal, here), 0);
    ASSERT_EQ(open(other, "x.dat", OpenMode::Normal, there), 0);
    const RowId a = insert(*here, 1, "aaaa");
    const RowId b = insert(*here, 2, "bbbb");
    ASSERT_TRUE(here->lockRow(a));
    ASSERT_TRUE(here->lockRow(a));  // a second hold
    EXPECT_FALSE(here->lockedElsewhere(a));
    EXPECT_TRUE(there->lockedElsewhere(a));
    EXPECT_FALSE(there->lockRow(a));
    EXPECT_TRUE(there->lockRow(b));  // another row is free
    EXPECT_TRUE(here->lockedElsewhere(b));
    here->unlockRow(a);
    EXPECT_TRUE(there->lockedElsewhere(a)) << "one hold is left";
    here->unlockRow(a);
    EXPECT_FALSE(there->lockedElsewhere(a));
    EXPECT_TRUE(there->lockRow(a));
    there->unlockRow(a);
    there->unlockRow(b);
    EXPECT_FALSE(here->lockedElsewhere(b));
}

// begin ... commit on one session: another machine sees nothing before the
// commit, everything after it; rollback drops the work and the count.
TEST_F(ServerTable, TransactionIsSeenElsewhereOnlyWhenCommitted) {
    ASSERT_EQ(create("x.dat"), 0);
    std::unique_ptr<Table> here, there;
    ASSERT_EQ(open(map, "x.dat", OpenMode::Normal, here), 0);
    ASSERT_EQ(open(other, "x.dat", OpenMode::Normal, there), 0);
    std::uint32_t n = 0;
    ASSERT_EQ(here->begin(), 0);
    insert(*here, 1, "aaaa");
    insert(*here, 1, "dupl", engine::status::duplicateKey);  // the transaction goes on
    insert(*here, 2, "bbbb");
    ASSERT_EQ(here->count(n), 0);
    EXPECT_EQ(n, 2u);
    ASSERT_EQ(there->count(n), 0);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(here->commit(), 0);
    ASSERT_EQ(there->count(n), 0);
    EXPECT_EQ(n, 2u);
    ASSERT_EQ(here->begin(), 0);
    insert(*here, 3, "cccc");
    here->rollback();
    ASSERT_EQ(there->count(n), 0);
    EXPECT_EQ(n, 2u);
    FoundRow row;
    ASSERT_EQ(there->step(engine::Step::Last, 0, row), 0);
    ASSERT_TRUE(row.found);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(row.record), 8), record(2, "bbbb"));
}

TEST_F(ServerTable, OpenModesHoldAcrossMachines) {
    ASSERT_EQ(create("x.dat"), 0);
    std::unique_ptr<Table> a, b, c;
    ASSERT_EQ(open(map, "x.dat", OpenMode::Exclusive, a), 0);
    EXPECT_EQ(open(other, "x.dat", OpenMode::Normal, b), engine::status::fileLocked);
    EXPECT_EQ(open(map, "x.dat", OpenMode::ReadOnly, b), engine::status::fileLocked);
    a.reset();
    ASSERT_EQ(open(other, "x.dat", OpenMode::Normal, b), 0);
    ASSERT_EQ(open(map, "x.dat", OpenMode::Normal, c), 0);
    EXPECT_EQ(open(map, "x.dat", OpenMode::Exclusive, a), engine::status::fileLocked);
    // Creation over a file open on another machine, or here: refused.
    EXPECT_EQ(create("x.dat", true), engine::status::fileLocked);
    c.reset();
    EXPECT_EQ(create("x.dat", true), engine::status::fileLocked);
    b.reset();
    EXPECT_EQ(create("x.dat", true), 0);
}

TEST_F(ServerTable, MissingFilesAndForeignRows) {
    std::unique_ptr<Table> t;
    // No catalog at all yet, then a catalog without the file.
    EXPECT_EQ(open(map, "none.dat", OpenMode::Normal, t), engine::status::fileNotFound);
    ASSERT_EQ(create("x.dat"), 0);
    EXPECT_EQ(open(map, "none.dat", OpenMode::Normal, t), engine::status::fileNotFound);
    auto admin = pg_test::connect(pg_test::serverConninfo());
    ASSERT_TRUE(admin);
    const std::string files = admin->quote(map.schema) + ".nubo_files";
    // A row of another format, a damaged description, a table gone.
    pg_test::exec(*admin, "INSERT INTO " + files +
                              " (name, table_name, format, description) "
                              "VALUES ('other.dat', 'other.dat', 'something else', '\\x00')");
    EXPECT_EQ(open(map, "other.dat", OpenMode::Normal, t), engine::status::notADataFile);
    pg_test::exec(*admin, "UPDATE " + files +
                              " SET format = 'nubo-engine 1', description = '\\x0102' "
                              "WHERE name = 'other.dat'");
    EXPECT_EQ(open(map, "other.dat", OpenMode::Normal, t), engine::status::notADataFile);
    pg_test::exec(*admin, "DROP TABLE " + admin->quote(map.schema) + ".\"x.dat\"");
    EXPECT_EQ(open(map, "x.dat", OpenMode::Normal, t), engine::status::notADataFile);
}

TEST_F(ServerTable, CountFollowsRowsWrittenByOtherClients) {
    ASSERT_EQ(create("x.dat"), 0);
    std::unique_ptr<Table> t;
    ASSERT_EQ(open(map, "x.dat", OpenMode::Normal, t), 0);
    insert(*t, 1, "aaaa");
    insert(*t, 2, "aaaa");
    auto admin = pg_test::connect(pg_test::serverConninfo());
    ASSERT_TRUE(admin);
    const std::string table = admin->quote(map.schema) + ".\"x.dat\"";
    pg_test::exec(*admin, "DELETE FROM " + table +
                              " WHERE k1 = 'AAAA' AND id = (SELECT min(id) FROM " + table + ")");
    std::uint32_t n = 0;
    ASSERT_EQ(t->count(n), 0);
    EXPECT_EQ(n, 1u);
    pg_test::exec(*admin, "TRUNCATE " + table);
    ASSERT_EQ(t->count(n), 0);
    EXPECT_EQ(n, 0u);
    // The table keeps rows of the record length only.
    EXPECT_FALSE(admin->runOnce("INSERT INTO " + table +
                                " (data, k0, k1) VALUES ('\\x00', '\\x00000000', 'AAAA')"));
}

TEST_F(ServerTable, AwkwardNamesStayHarmless) {
    const std::string names[] = {
        "dades/o'brien.dat",
        "x\"; DROP SCHEMA public CASCADE; --.dat",
        "propietaris \xC3\x91"
        "and\xC3\xBA.dat",
        std::string(90, 'l') + ".dat",
        std::string(90, 'l') + ".daT2",
    };
    for (const std::string& name : names) {
        ASSERT_EQ(create(name), 0) << name << ": " << engine::pg::lastServerFault();
        std::unique_ptr<Table> t;
        ASSERT_EQ(open(map, name, OpenMode::Normal, t), 0) << name;
        insert(*t, 7, "name");
        std::uint32_t n = 0;
        ASSERT_EQ(t->count(n), 0);
        EXPECT_EQ(n, 1u) << name;
    }
    auto admin = pg_test::connect(pg_test::serverConninfo());
    const engine::pg::Result r =
        admin->runOnce("SELECT count(*) FROM pg_namespace WHERE nspname = 'public'");
    ASSERT_TRUE(r);
    std::int64_t publicLeft = 0;
    ASSERT_TRUE(r.int64(0, 0, publicLeft));
    EXPECT_EQ(publicLeft, 1);
}

TEST_F(ServerTable, WorkstationRoleWritesRowsButChangesNoTable) {
    ASSERT_EQ(create("x.dat"), 0);
    auto admin = pg_test::connect(pg_test::serverConninfo());
    ASSERT_TRUE(admin);
    const std::string role = map.schema + "_ws";
    const std::string qr = admin->quote(role), qs = admin->quote(map.schema);
    pg_test::exec(*admin, "CREATE ROLE " + qr + " LOGIN PASSWORD 'ws-pass-1'");
    pg_test::exec(*admin, "GRANT USAGE ON SCHEMA " + qs + " TO " + qr);
    pg_test::exec(*admin, "GRANT SELECT ON " + qs + ".nubo_files TO " + qr);
    pg_test::exec(
        *admin, "GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA " + qs + " TO " + qr);
    pg_test::exec(*admin, "REVOKE INSERT, UPDATE, DELETE ON " + qs + ".nubo_files FROM " + qr);
    struct DropRole {
        engine::pg::Connection& c;
        std::string r;
        ~DropRole() {
            c.runOnce("DROP OWNED BY " + r);
            c.runOnce("DROP ROLE " + r);
        }
    } dropRole{*admin, qr};
    ServerMap ws = map;
    ws.server += " user=" + role + " password=ws-pass-1";
    std::unique_ptr<Table> t;
    ASSERT_EQ(open(ws, "x.dat", OpenMode::Normal, t), 0) << engine::pg::lastServerFault();
    insert(*t, 1, "aaaa");
    std::uint32_t n = 0;
    ASSERT_EQ(t->count(n), 0);
    EXPECT_EQ(n, 1u) << "the count is kept with the owner's rights";
    t.reset();
    EXPECT_EQ(engine::pg::createOnServer(ws, "x.dat", description, true),
              engine::status::permissionError);
    EXPECT_EQ(engine::pg::createOnServer(ws, "y.dat", description, false),
              engine::status::permissionError);
    // No DDL through the session either.
    engine::pg::Fault fault;
    auto direct = engine::pg::Connection::open(ws.server, {}, fault);
    ASSERT_TRUE(direct);
    EXPECT_FALSE(direct->runOnce("DROP TABLE " + qs + ".\"x.dat\""));
    EXPECT_EQ(direct->fault().status, engine::status::permissionError);
    EXPECT_FALSE(direct->runOnce("ALTER TABLE " + qs + ".\"x.dat\" ADD COLUMN z int"));
    EXPECT_FALSE(direct->runOnce("UPDATE " + qs + ".nubo_files SET records = 0"));
    // A wrong password is a status, and never shown.
    ServerMap wrong = map;
    wrong.server += " user=" + role + " password=not-it-9";
    EXPECT_EQ(open(wrong, "x.dat", OpenMode::Normal, t), engine::status::permissionError);
    EXPECT_EQ(engine::pg::lastServerFault().find("not-it-9"), std::string::npos);
}

TEST_F(ServerTable, LostSessionGives95ThenANewOpenWorks) {
    ASSERT_EQ(create("x.dat"), 0);
    std::unique_ptr<Table> t;
    ASSERT_EQ(open(map, "x.dat", OpenMode::Exclusive, t), 0);
    insert(*t, 1, "aaaa");
    auto admin = pg_test::connect(pg_test::serverConninfo());
    ASSERT_TRUE(admin);
    // The server ends this test's session (and no other test's).
    std::shared_ptr<engine::pg::Session> session;
    engine::pg::Fault fault;
    ASSERT_EQ(engine::pg::Session::forServer(map, session, fault), 0);
    ASSERT_TRUE(admin->runOnce("SELECT pg_terminate_backend($1)",
                               std::vector{Param::int32(session->connection().serverProcess())}));
    session.reset();
    std::uint32_t n = 0;
    std::int16_t st = 0;
    for (int i = 0; i < 50 && (st = t->count(n)) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(st, engine::status::sessionLost);
    RowId id = 0;
    const std::string r = record(2, "bbbb");
    EXPECT_EQ(t->insert(bytes(r), bytes(keysOf(description, r)), id), engine::status::sessionLost);
    // The exclusive lock went with the session: a new open gets the file.
    std::unique_ptr<Table> again;
    ASSERT_EQ(open(map, "x.dat", OpenMode::Exclusive, again), 0) << engine::pg::lastServerFault();
    ASSERT_EQ(again->count(n), 0);
    EXPECT_EQ(n, 1u);
}

}  // namespace

namespace {

// Steps along a key read ahead: one exchange serves many steps; a write
// through the session ends the rows read ahead at once; another machine's
// insert is seen by a step once the read-ahead time has passed.
TEST_F(ServerTable, StepsReadAheadWithinTheirTime) {
    map.readAheadMilliseconds = 300;
    ASSERT_EQ(create("x.dat"), 0);
    std::unique_ptr<Table> t;
    ASSERT_EQ(open(map, "x.dat", OpenMode::Normal, t), 0);
    for (std::uint32_t n = 0; n < 40; n += 2) insert(*t, n * 10, "aaaa");
    std::shared_ptr<engine::pg::Session> session;
    engine::pg::Fault fault;
    ASSERT_EQ(engine::pg::Session::forServer(map, session, fault), 0);

    auto walk = [&](std::vector<RowId>& ids) {
        ids.clear();
        FoundRow row;
        EXPECT_EQ(t->seek(0, Seek::First, nullptr, 0, row), 0);
        while (row.found) {
            ids.push_back(row.id);
            const std::string key(reinterpret_cast<const char*>(row.key), 4);
            EXPECT_EQ(t->seek(0, Seek::After, bytes(key), row.id, row), 0);
        }
    };
    std::vector<RowId> ids;
    const auto before = session->connection().exchanges();
    walk(ids);
    EXPECT_EQ(ids.size(), 20u);
    // First, one read ahead of 19 rows, and the read at the end; the first
    // use of a statement prepares it, one exchange more.
    EXPECT_LE(session->connection().exchanges() - before, 6u);

    // Another machine inserts between two rows: a step within the time may
    // not see it; one after it does.
    std::unique_ptr<Table> there;
    ASSERT_EQ(open(other, "x.dat", OpenMode::Normal, there), 0);
    FoundRow row;
    ASSERT_EQ(t->seek(0, Seek::First, nullptr, 0, row), 0);
    std::string key(reinterpret_cast<const char*>(row.key), 4);
    ASSERT_EQ(t->seek(0, Seek::After, bytes(key), row.id, row), 0);  // read ahead
    insert(*there, 25, "bbbb");                                      // between 20 and 30
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    key.assign(reinterpret_cast<const char*>(row.key), 4);
    ASSERT_EQ(t->seek(0, Seek::After, bytes(key), row.id, row), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(row.record), 8), record(25, "bbbb"));

    // A write through this session: the next step reads again, and sees it.
    ASSERT_EQ(t->seek(0, Seek::First, nullptr, 0, row), 0);
    key.assign(reinterpret_cast<const char*>(row.key), 4);
    ASSERT_EQ(t->seek(0, Seek::After, bytes(key), row.id, row), 0);  // 20, read ahead
    insert(*t, 21, "cccc");
    key.assign(reinterpret_cast<const char*>(row.key), 4);
    ASSERT_EQ(t->seek(0, Seek::After, bytes(key), row.id, row), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(row.record), 8), record(21, "cccc"));
}

// Rows read ahead stay in use across a write to another file, and end with
// a write to their own file through any open of this process.
TEST_F(ServerTable, ReadAheadEndsWithAWriteToItsOwnFileOnly) {
    // Long enough that no stall of a loaded machine lets the rows expire.
    map.readAheadMilliseconds = 60000;
    ASSERT_EQ(create("x.dat"), 0);
    ASSERT_EQ(create("y.dat"), 0);
    std::unique_ptr<Table> t, sameFile, otherFile;
    ASSERT_EQ(open(map, "x.dat", OpenMode::Normal, t), 0);
    ASSERT_EQ(open(map, "x.dat", OpenMode::Normal, sameFile), 0);
    ASSERT_EQ(open(map, "y.dat", OpenMode::Normal, otherFile), 0);
    for (std::uint32_t n = 10; n <= 100; n += 10) insert(*t, n, "aaaa");
    insert(*otherFile, 1, "warm");  // its statement prepared before counting
    std::shared_ptr<engine::pg::Session> session;
    engine::pg::Fault fault;
    ASSERT_EQ(engine::pg::Session::forServer(map, session, fault), 0);
    FoundRow row;
    auto next = [&] {
        const std::string key(reinterpret_cast<const char*>(row.key), 4);
        EXPECT_EQ(t->seek(0, Seek::After, bytes(key), row.id, row), 0);
        return std::string(reinterpret_cast<const char*>(row.record), 8);
    };
    ASSERT_EQ(t->seek(0, Seek::First, nullptr, 0, row), 0);
    EXPECT_EQ(next(), record(20, "aaaa"));  // reads ahead
    insert(*otherFile, 2, "bbbb");
    const auto before = session->connection().exchanges();
    EXPECT_EQ(next(), record(30, "aaaa"));
    EXPECT_EQ(session->connection().exchanges(), before) << "served from the rows read ahead";
    insert(*sameFile, 35, "cccc");
    EXPECT_EQ(next(), record(35, "cccc")) << "a write to the file ends the rows read ahead";
}

TEST_F(ServerTable, WithoutReadAheadEveryStepIsAnExchange) {
    map.readAheadMilliseconds = 0;
    ASSERT_EQ(create("x.dat"), 0);
    std::unique_ptr<Table> t;
    ASSERT_EQ(open(map, "x.dat", OpenMode::Normal, t), 0);
    for (std::uint32_t n = 0; n < 10; ++n) insert(*t, n, "aaaa");
    std::shared_ptr<engine::pg::Session> session;
    engine::pg::Fault fault;
    ASSERT_EQ(engine::pg::Session::forServer(map, session, fault), 0);
    const auto before = session->connection().exchanges();
    FoundRow row;
    ASSERT_EQ(t->seek(1, Seek::First, nullptr, 0, row), 0);
    int steps = 0;
    while (row.found) {
        const std::string key(reinterpret_cast<const char*>(row.key), 4);
        ASSERT_EQ(t->seek(1, Seek::After, bytes(key), row.id, row), 0);
        ++steps;
    }
    EXPECT_EQ(steps, 10);
    EXPECT_GE(session->connection().exchanges() - before, 11u);
}

}  // namespace
