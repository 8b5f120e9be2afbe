// Files that are not sound data files: a status at the open or at a later
// call, never a crash.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <random>

#include "engine_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace engine_test;

const std::string kDescription = makeDescription(40, {{{1, 4, 0x0100, 1}}, {{5, 6, 0x0001}}});

std::string rec(std::int32_t n) {
    return le32(n) + "name" + std::to_string(n % 7) + std::string(31, 'z');
}

class Damaged : public ::testing::Test {
protected:
    void TearDown() override { Btr().call(opReset, 0, 0); }

    // A sound file with `records` records; its bytes.
    std::string soundFile(int records) {
        const std::string p = tmp.dir() + "sound.dat";
        std::filesystem::remove(p);
        Btr b;
        EXPECT_EQ(b.create(p, kDescription), 0);
        EXPECT_EQ(b.open(p), 0);
        for (int i = 0; i < records; ++i) EXPECT_EQ(b.insert(rec(i)), 0);
        EXPECT_EQ(b.close(), 0);
        return tmp.read("sound.dat");
    }

    void sql(const std::string& file, const char* statement) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((tmp.dir() + file).c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK) << statement;
        sqlite3_close(db);
    }

    // Opens the file and, if that works, uses it every way; returns the
    // open's status. Nothing here may crash.
    std::int16_t exercise(const std::string& file) {
        Btr b;
        const std::int16_t st = b.open(tmp.dir() + file);
        if (st != 0) return st;
        for (std::int8_t key : {0, 1}) {
            std::int16_t s = b.get(opGetFirst, key);
            for (int i = 0; s == 0 && i < 2000; ++i) s = b.get(opGetNext, key);
            s = b.get(opGetLast, key);
            for (int i = 0; s == 0 && i < 2000; ++i) s = b.get(opGetPrevious, key);
        }
        for (int i = 0; i < 50; ++i) {
            b.get(opGetEqual, 0, le32(i * 3));
            b.get(opGetGreaterOrEqual, 1, "name3 ");
            if (i % 10 == 0) {
                b.insert(rec(100000 + i));
                b.update(rec(i * 3));
                b.call(opDelete, 0, 0);
            }
        }
        b.stat();
        EXPECT_EQ(b.close(), 0);
        return st;
    }

    testing_support::TempDir tmp;
};

TEST_F(Damaged, FilesThatAreNoDataFilesAreRefusedAtTheOpen) {
    const std::string sound = soundFile(300);
    std::mt19937 random(5);
    std::string noise(8192, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"empty", ""},
        {"text", "PROPIETARIS;FINQUES\r\n1;2;3\r\n"},
        {"noise", noise},
        {"database header only", sound.substr(0, 100)},
        {"first page only", sound.substr(0, 4096)},
        {"header zeroed", std::string(100, '\0') + sound.substr(100)},
    };
    for (const Case& c : cases) {
        tmp.write("bad.dat", c.bytes);
        const std::int16_t st = exercise("bad.dat");
        EXPECT_TRUE(st == 30 || st == 2) << c.what << ": " << st;
    }
    // A foreign SQLite database.
    sql("foreign.db", "CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT)");
    EXPECT_EQ(exercise("foreign.db"), 30);
    // A folder.
    std::filesystem::create_directories(tmp.path() / "folder.dat");
    const std::int16_t st = exercise("folder.dat");
    EXPECT_TRUE(st == 30 || st == 2) << st;
}

TEST_F(Damaged, AlteredSchemasAreRefused) {
    const std::string sound = soundFile(20);
    const char* edits[] = {
        "UPDATE nubo_file SET description = x'0102'",
        "UPDATE nubo_file SET description = zeroblob(48)",
        "UPDATE nubo_file SET format = 'something else'",
        "DELETE FROM nubo_file",
        "DROP INDEX records_k1",
        "DROP INDEX records_k0; CREATE INDEX records_k0 ON records (k0)",
        "DROP TABLE records",
    };
    for (const char* edit : edits) {
        tmp.write("edited.dat", sound);
        sql("edited.dat", edit);
        EXPECT_EQ(exercise("edited.dat"), 30) << edit;
    }
}

TEST_F(Damaged, TruncatedFilesGiveStatuses) {
    const std::string sound = soundFile(400);
    for (std::size_t size :
         {sound.size() / 2, sound.size() - 4096, sound.size() - 1, sound.size() / 3 + 77}) {
        tmp.write("cut.dat", sound.substr(0, size));
        const std::int16_t st = exercise("cut.dat");
        EXPECT_TRUE(st == 0 || st == 2 || st == 30) << size << ": " << st;
    }
}

TEST_F(Damaged, ScrambledPagesNeverCrash) {
    const std::string sound = soundFile(400);
    std::mt19937 random(77);
    for (int round = 0; round < 40; ++round) {
        std::string bytes = sound;
        const int flips = 1 + static_cast<int>(random() % 30);
        for (int i = 0; i < flips; ++i) {
            // Spare the first page now and then so that the open gets further.
            const std::size_t from = round % 2 == 0 ? 0 : 4096;
            const std::size_t at = from + random() % (bytes.size() - from);
            bytes[at] = static_cast<char>(random());
        }
        tmp.write("scrambled.dat", bytes);
        const std::int16_t st = exercise("scrambled.dat");
        EXPECT_TRUE(st == 0 || st == 2 || st == 30) << "round " << round << ": " << st;
    }
}

}  // namespace
