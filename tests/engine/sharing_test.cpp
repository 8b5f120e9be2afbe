// Several processes on one data file: concurrent writers, exclusive opens,
// bounded waits, and writers killed at random moments.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "engine_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace engine_test;

// Waits for locks are kept short in this test program; every test that
// needs a wait sees it take this long.
const bool shortBusyWait = [] {
    ::setenv("NUBO_ENGINE_BUSY_MS", "2000", 1);
    return true;
}();

// Records of 16 bytes: a 4-byte integer key 0 (unique), a 2-byte key 1
// with duplicates, the rest payload.
const std::string kDescription = makeDescription(16, {{{1, 4, 0x0100, 1}}, {{5, 2, 0x0001}}});

std::string rec(std::int32_t key, char tag) {
    return le32(key) + std::string(1, tag) + "-" + std::string(10, tag);
}

void writeAll(int fd, const void* p, std::size_t n) {
    const auto* c = static_cast<const char*>(p);
    while (n > 0) {
        const ssize_t w = ::write(fd, c, n);
        if (w <= 0) return;
        c += w;
        n -= static_cast<std::size_t>(w);
    }
}

std::string readAll(int fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    return out;
}

char readByte(int fd) {
    char c = 0;
    return ::read(fd, &c, 1) == 1 ? c : '\0';
}

std::string integrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return result;
}

std::int64_t countRows(const std::string& path) {
    sqlite3* db = nullptr;
    std::int64_t n = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM records", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            n = sqlite3_column_int64(s, 0);
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return n;
}

class Sharing : public BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(shortBusyWait);
        path = tmp.dir() + "shared.dat";
        Btr b;
        ASSERT_EQ(b.create(path, kDescription), 0);
    }
    // Nothing of this process may be open when it forks: BackendTest's
    // TearDown resets.

    testing_support::TempDir tmp;
    std::string path;
};
NUBO_ON_EVERY_BACKEND(Sharing);

// The same, on tests that check the SQLite database itself.
class SqliteSharing : public Sharing {};
NUBO_ON_SQLITE(SqliteSharing);

TEST_P(SqliteSharing, TwoProcessesInsertConcurrently) {
    constexpr int keys = 300;
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    int results[2][2];
    pid_t pids[2];
    for (int w = 0; w < 2; ++w) {
        ASSERT_EQ(::pipe(results[w]), 0);
        pids[w] = ::fork();
        ASSERT_GE(pids[w], 0);
        if (pids[w] == 0) {
            ::close(start[1]);
            ::close(results[w][0]);
            Btr b;
            std::int16_t st = b.open(path);
            readByte(start[0]);  // everybody starts together
            std::string out;
            for (int k = 0; k < keys && st == 0; ++k) {
                const std::int16_t s = b.insert(rec(k, static_cast<char>('a' + w)));
                out += std::string(reinterpret_cast<const char*>(&s), 2);
            }
            b.close();
            writeAll(results[w][1], out.data(), out.size());
            ::_exit(st);
        }
        ::close(results[w][1]);
    }
    ::close(start[0]);
    ::close(start[1]);
    std::string got[2];
    for (int w = 0; w < 2; ++w) {
        got[w] = readAll(results[w][0]);
        ::close(results[w][0]);
        int status = 0;
        ASSERT_EQ(::waitpid(pids[w], &status, 0), pids[w]);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        ASSERT_EQ(got[w].size(), 2u * keys);
    }
    Btr b;
    ASSERT_EQ(b.open(path), 0);
    for (int k = 0; k < keys; ++k) {
        std::int16_t s[2];
        std::memcpy(&s[0], got[0].data() + 2 * k, 2);
        std::memcpy(&s[1], got[1].data() + 2 * k, 2);
        ASSERT_TRUE((s[0] == 0 && s[1] == 5) || (s[0] == 5 && s[1] == 0))
            << "key " << k << ": " << s[0] << " " << s[1];
        ASSERT_EQ(b.get(opGetEqual, 0, le32(k)), 0);
        EXPECT_EQ(b.record(), rec(k, s[0] == 0 ? 'a' : 'b'));
    }
    EXPECT_EQ(b.recordCount(), static_cast<std::uint32_t>(keys));
    EXPECT_EQ(b.get(opGetGreater, 0, le32(keys - 1)), 9);
    b.close();
    EXPECT_EQ(integrityCheck(path), "ok");
}

TEST_P(Sharing, ExclusiveOpenKeepsEveryOtherOpenOut) {
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        Btr b;
        char st = static_cast<char>(b.open(path, -4));
        writeAll(fromChild[1], &st, 1);
        readByte(toChild[0]);
        st = static_cast<char>(b.close());
        writeAll(fromChild[1], &st, 1);
        readByte(toChild[0]);
        // The parent now holds a normal open: shared is fine, exclusive is not.
        st = static_cast<char>(b.open(path, -4));
        writeAll(fromChild[1], &st, 1);
        st = static_cast<char>(b.open(path, 0));
        writeAll(fromChild[1], &st, 1);
        ::_exit(0);
    }
    ASSERT_EQ(readByte(fromChild[0]), 0);
    Btr b;
    EXPECT_EQ(b.open(path, 0), 85);
    EXPECT_EQ(b.open(path, -2), 85);
    EXPECT_EQ(b.open(path, -4), 85);
    EXPECT_EQ(b.create(path, kDescription, 0), 85);  // no overwrite under an open
    writeAll(toChild[1], "x", 1);
    ASSERT_EQ(readByte(fromChild[0]), 0);
    ASSERT_EQ(b.open(path, 0), 0);
    writeAll(toChild[1], "x", 1);
    EXPECT_EQ(readByte(fromChild[0]), 85);
    EXPECT_EQ(readByte(fromChild[0]), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) ::close(fd);
}

// A walk along a key sees another process's writes at its next call: an
// insert right after the current record, a delete of the next one, on a
// file the walk had been reading undisturbed (Get Next, operation 6: the
// record after the current one in the key's order; status 9 at the end).
TEST_P(Sharing, AWalkSeesAnotherProcesssWritesAtItsNextCall) {
    {
        Btr b;
        ASSERT_EQ(b.open(path), 0);
        for (int k = 10; k <= 60; k += 10) ASSERT_EQ(b.insert(rec(k, 'a')), 0);
        ASSERT_EQ(b.close(), 0);
    }
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        Btr b;
        std::int16_t st = b.open(path);
        readByte(toChild[0]);
        if (st == 0) st = b.insert(rec(35, 'c'));  // right after 30
        writeAll(fromChild[1], &st, 2);
        readByte(toChild[0]);
        if (st == 0) st = b.get(opGetEqual, 0, le32(50));
        if (st == 0) st = b.remove();  // the one after 40
        writeAll(fromChild[1], &st, 2);
        b.close();
        ::_exit(0);
    }
    Btr walker;
    ASSERT_EQ(walker.open(path), 0);
    ASSERT_EQ(walker.get(opGetFirst, 0), 0);
    std::vector<std::int32_t> seen;
    auto next = [&] {
        const std::int16_t st = walker.call(opGetNext, 1536, 0);
        seen.push_back(st == 0 ? coding::getI32(walker.data) : -st);
    };
    // A backend that reads rows ahead answers from them for at most its
    // stated time after another process's commit.
    auto afterStaleness = [&] {
        if (GetParam().walkStaleness != nullptr) {
            std::this_thread::sleep_for(GetParam().walkStaleness() + std::chrono::milliseconds(20));
        }
    };
    next();  // 20
    next();  // 30, the walk undisturbed so far
    std::int16_t childStatus = -1;
    writeAll(toChild[1], "x", 1);
    ASSERT_EQ(::read(fromChild[0], &childStatus, 2), 2);
    ASSERT_EQ(childStatus, 0);
    afterStaleness();
    next();  // 35
    next();  // 40
    writeAll(toChild[1], "x", 1);
    ASSERT_EQ(::read(fromChild[0], &childStatus, 2), 2);
    ASSERT_EQ(childStatus, 0);
    afterStaleness();
    next();  // 60
    next();  // the end
    EXPECT_EQ(seen, (std::vector<std::int32_t>{20, 30, 35, 40, 60, -9}));
    ASSERT_EQ(walker.close(), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) ::close(fd);
}

TEST_P(Sharing, ExclusiveOpenWithinOneProcess) {
    Btr a, b;
    ASSERT_EQ(a.open(path, -4), 0);
    EXPECT_EQ(b.open(path, 0), 85);
    ASSERT_EQ(a.insert(rec(1, 'x')), 0);
    ASSERT_EQ(a.close(), 0);
    ASSERT_EQ(b.open(path, 0), 0);
    EXPECT_EQ(a.open(path, -4), 85);
    Btr c;
    ASSERT_EQ(c.open(path, -2), 0);  // shared with the normal open
    ASSERT_EQ(b.close(), 0);
    EXPECT_EQ(a.open(path, -4), 85);
    ASSERT_EQ(c.close(), 0);
    EXPECT_EQ(a.open(path, -4), 0);
}

TEST_P(SqliteSharing, AWriterWaitsABoundedTimeForAnotherWriter) {
    Btr b;
    ASSERT_EQ(b.open(path), 0);
    ASSERT_EQ(b.insert(rec(1, 'a')), 0);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(b.insert(rec(2, 'a')), 85);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::seconds(10));
    // Readers are not held up meanwhile.
    ASSERT_EQ(b.get(opGetEqual, 0, le32(1)), 0);
    ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(b.insert(rec(2, 'a')), 0);
    EXPECT_EQ(b.recordCount(), 2u);
}

TEST_P(Sharing, TwoProcessesCreatingOneFileGetOneFile) {
    const std::string fresh = tmp.dir() + "fresh.dat";
    int start[2], results[2];
    ASSERT_EQ(::pipe(start), 0);
    ASSERT_EQ(::pipe(results), 0);
    pid_t pids[2];
    for (int w = 0; w < 2; ++w) {
        pids[w] = ::fork();
        ASSERT_GE(pids[w], 0);
        if (pids[w] == 0) {
            ::close(start[1]);
            readByte(start[0]);
            Btr b;
            const char st = static_cast<char>(b.create(fresh, kDescription, -1));
            writeAll(results[1], &st, 1);
            ::_exit(0);
        }
    }
    ::close(start[0]);
    ::close(start[1]);
    ::close(results[1]);
    const std::string got = readAll(results[0]);
    ::close(results[0]);
    for (pid_t p : pids) ::waitpid(p, nullptr, 0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE((got[0] == 0 && got[1] == 59) || (got[0] == 59 && got[1] == 0))
        << int(got[0]) << " " << int(got[1]);
    if (GetParam().onDisk) {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
            names.insert(e.path().filename().string());
        }
        EXPECT_EQ(names, (std::set<std::string>{"fresh.dat", "shared.dat"}));
    }
    Btr b;
    EXPECT_EQ(b.open(fresh), 0);
}

// A writer killed with SIGKILL at random moments, again and again: the file
// always opens, passes SQLite's integrity check, and holds every record
// whose Insert returned 0 (and none whose Delete returned 0).
TEST_P(SqliteSharing, AKilledWriterLosesNothingAcknowledged) {
    std::mt19937 random(2024);
    std::set<std::int32_t> kept, deleted;
    std::size_t acknowledged = 0;
    for (int round = 0; round < 25; ++round) {
        int acks[2];
        ASSERT_EQ(::pipe(acks), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(acks[0]);
            Btr b;
            if (b.open(path) != 0) ::_exit(1);
            for (std::int32_t j = 0; j < 200000; ++j) {
                const std::int32_t key = round * 1000000 + j;
                if (j % 5 == 4) {
                    // Delete the record inserted two steps ago: say so first.
                    const std::int32_t victim = key - 2;
                    char intent[5] = {'d'};
                    std::memcpy(intent + 1, &victim, 4);
                    writeAll(acks[1], intent, 5);
                    if (b.get(opGetEqual, 0, le32(victim)) == 0 && b.call(opDelete, 0, 0) == 0) {
                        intent[0] = 'D';
                        writeAll(acks[1], intent, 5);
                    }
                    continue;
                }
                if (b.insert(rec(key, static_cast<char>('a' + j % 26))) == 0) {
                    char ack[5] = {'I'};
                    std::memcpy(ack + 1, &key, 4);
                    writeAll(acks[1], ack, 5);
                }
            }
            ::_exit(0);
        }
        ::close(acks[1]);
        // The kill comes at a random moment after the writer got going.
        char first[5];
        const bool started = ::read(acks[0], first, 5) == 5;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(started) << "round " << round;
        const std::string log = std::string(first, 5) + readAll(acks[0]);
        ::close(acks[0]);
        for (std::size_t i = 0; i + 5 <= log.size(); i += 5) {
            std::int32_t key;
            std::memcpy(&key, log.data() + i + 1, 4);
            switch (log[i]) {
                case 'I':
                    kept.insert(key);
                    ++acknowledged;
                    break;
                case 'd': kept.erase(key); break;  // may or may not be gone
                case 'D': deleted.insert(key); break;
            }
        }

        ASSERT_EQ(integrityCheck(path), "ok") << "round " << round;
        Btr b;
        ASSERT_EQ(b.open(path), 0) << "round " << round;
        for (std::int32_t key : kept) {
            ASSERT_EQ(b.get(opGetEqual, 0, le32(key)), 0) << "round " << round << " key " << key;
        }
        for (std::int32_t key : deleted) {
            ASSERT_EQ(b.get(opGetEqual, 0, le32(key)), 4) << "round " << round << " key " << key;
        }
        EXPECT_EQ(static_cast<std::int64_t>(b.recordCount()), countRows(path)) << "round " << round;
        ASSERT_EQ(b.close(), 0);
    }
    // The rounds were long enough to write something.
    EXPECT_GT(acknowledged, 100u);
    EXPECT_GT(deleted.size(), 10u);
}

}  // namespace
