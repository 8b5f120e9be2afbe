// Measures BTRCALL on a large data file beside the bare SQLite statement
// that does the same work, in the same run and on the same file.
//
//   engine_bench [records] [folder]
//   engine_bench --help
//
// records: the size of the file (default 1000000, at least 1000); folder:
// where the file is kept between runs (default: the system's temporary
// folder). An option it does not know, or a size that is no number, ends it
// with exit code 2 before anything is built. The file is
// built once (one Insert per commit, through BTRCALL) and reused while it
// holds the same number of records; the records this run inserts are deleted
// again at its end. Records are 428 bytes with one 4-byte integer key.
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/api.h"
#include "engine/btrcall.h"
#include "engine/client.h"
#include "platform/coding.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t recordLength = 428;
constexpr std::uint32_t bufferSize = engine::dataBufferSize;
constexpr std::size_t batch = 500;

using Handle = engine::Client;
namespace op = engine::op;

void die(const char* what, long long value) {
    std::fprintf(stderr, "engine_bench: %s (%lld)\n", what, value);
    std::exit(1);
}

void makeRecord(std::int32_t key, unsigned char* record) {
    for (std::size_t i = 0; i < recordLength; ++i) {
        record[i] = static_cast<unsigned char>('A' + (i + static_cast<std::size_t>(key)) % 26);
    }
    coding::putI32(record, key);
}

// The order-preserving form of a signed 4-byte key (big-endian, sign flipped).
void encodeKey(std::int32_t key, unsigned char* out) {
    const auto u = static_cast<std::uint32_t>(key) ^ 0x80000000u;
    out[0] = static_cast<unsigned char>(u >> 24);
    out[1] = static_cast<unsigned char>(u >> 16);
    out[2] = static_cast<unsigned char>(u >> 8);
    out[3] = static_cast<unsigned char>(u);
}

long residentKib() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Pair {
    double engine;
    double bare;
};

// Medians over batches of the mean microseconds per call, the engine's and
// the bare statement's batches taking turns so that both meet the same load.
Pair timeBatches(std::size_t batches, const std::function<void(std::size_t)>& engineOp,
                 const std::function<void(std::size_t)>& bareOp) {
    std::vector<double> engineMeans, bareMeans;
    std::size_t n = 0, m = 0;
    for (std::size_t b = 0; b < batches; ++b) {
        auto t0 = Clock::now();
        for (std::size_t i = 0; i < batch; ++i) engineOp(n++);
        std::chrono::duration<double, std::micro> d = Clock::now() - t0;
        engineMeans.push_back(d.count() / batch);
        t0 = Clock::now();
        for (std::size_t i = 0; i < batch; ++i) bareOp(m++);
        d = Clock::now() - t0;
        bareMeans.push_back(d.count() / batch);
    }
    return {median(engineMeans), median(bareMeans)};
}

// Medians of single calls, taking turns likewise in runs of `batch` calls
// (a write on one connection makes the other reread its cached pages).
Pair timeSingles(std::size_t count, const std::function<void(std::size_t)>& engineOp,
                 const std::function<void(std::size_t)>& bareOp) {
    std::vector<double> engineEach, bareEach;
    for (std::size_t start = 0; start < count; start += batch) {
        const std::size_t end = std::min(count, start + batch);
        for (int side = 0; side < 2; ++side) {
            for (std::size_t n = start; n < end; ++n) {
                const auto t0 = Clock::now();
                (side == 0 ? engineOp : bareOp)(n);
                const std::chrono::duration<double, std::micro> d = Clock::now() - t0;
                (side == 0 ? engineEach : bareEach).push_back(d.count());
            }
        }
    }
    return {median(engineEach), median(bareEach)};
}

std::vector<unsigned char> description() {
    using namespace engine;
    std::vector<unsigned char> d(filespec::size + segspec::size, 0);
    unsigned char* segment = d.data() + filespec::size;
    coding::putU16(d.data() + filespec::recordLength, recordLength);
    coding::putU16(d.data() + filespec::pageSize, 4096);
    coding::putU16(d.data() + filespec::keyCount, 1);
    coding::putU16(segment + segspec::position, 1);
    coding::putU16(segment + segspec::length, 4);
    coding::putU16(segment + segspec::flags, keyflag::extendedType);
    segment[segspec::extendedType] = keytype::integer;
    return d;
}

std::uint32_t recordCountOf(Handle& h) {
    if (h.call(op::stat, bufferSize, 0) != 0) die("Stat failed", 0);
    return coding::getU32(h.data + engine::filespec::recordCount);
}

void buildEngineFile(const std::string& path, std::uint32_t records) {
    Handle h;
    const auto d = description();
    std::copy(d.begin(), d.end(), h.data);
    std::snprintf(reinterpret_cast<char*>(h.key), sizeof h.key, "%s", path.c_str());
    if (const auto st = h.call(op::create, static_cast<std::uint32_t>(d.size()), 0); st != 0) {
        die("Create failed", st);
    }
    std::snprintf(reinterpret_cast<char*>(h.key), sizeof h.key, "%s", path.c_str());
    if (const auto st = h.call(op::open, 0, 0); st != 0) die("Open failed", st);
    const auto t0 = Clock::now();
    for (std::uint32_t i = 0; i < records; ++i) {
        makeRecord(static_cast<std::int32_t>(2 * i), h.data);
        if (const auto st = h.call(op::insert, recordLength, 0); st != 0) die("Insert failed", st);
        if (i % 100000 == 99999) {
            std::printf("  built %u records\n", i + 1);
            std::fflush(stdout);
        }
    }
    const std::chrono::duration<double> d2 = Clock::now() - t0;
    std::printf("  built %u records in %.1f s\n", records, d2.count());
    h.call(op::close, 0, 0);
}

// The same rows in a plain table without the engine's record count.
void buildPlainFile(const std::string& path, std::uint32_t records) {
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode = WAL; CREATE TABLE t (id INTEGER PRIMARY KEY, data BLOB, k "
                 "BLOB); CREATE UNIQUE INDEX t_k ON t (k); BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t (data, k) VALUES (?1, ?2)", -1, &ins, nullptr);
    unsigned char record[recordLength];
    unsigned char key[4];
    for (std::uint32_t i = 0; i < records; ++i) {
        makeRecord(static_cast<std::int32_t>(2 * i), record);
        encodeKey(static_cast<std::int32_t>(2 * i), key);
        sqlite3_bind_blob(ins, 1, record, recordLength, SQLITE_STATIC);
        sqlite3_bind_blob(ins, 2, key, 4, SQLITE_STATIC);
        if (sqlite3_step(ins) != SQLITE_DONE) die("plain insert failed", i);
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

sqlite3* openBare(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        die("cannot open for bare SQLite", 0);
    }
    sqlite3_exec(db, "PRAGMA synchronous = NORMAL; PRAGMA cache_size = -2048", nullptr, nullptr,
                 nullptr);
    return db;
}

sqlite3_stmt* prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
        die(sqlite3_errmsg(db), 0);
    }
    return s;
}

constexpr const char* usage =
    "usage: engine_bench [records] [folder]\n"
    "       engine_bench --help\n"
    "Times BTRCALL's operations on a data file of `records` records (default\n"
    "1000000, at least 1000) beside the bare SQLite statements that do the same\n"
    "work, in one run. The file is kept in `folder` (default: the system's\n"
    "temporary folder) and reused by the next run of the same size.\n";

// The size and folder from the command line; exits with 0 after --help and
// with 2 for anything it cannot take.
void parseArguments(int argc, char** argv, std::uint32_t& records, std::filesystem::path& folder) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        }
        if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "engine_bench: unknown option %s\n%s", arg.c_str(), usage);
            std::exit(2);
        }
        positional.push_back(arg);
    }
    if (positional.size() > 2) {
        std::fprintf(stderr, "engine_bench: too many arguments\n%s", usage);
        std::exit(2);
    }
    records = 1000000;
    if (!positional.empty()) {
        const std::string& text = positional[0];
        std::uint32_t value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || end != text.data() + text.size() || value < 2 * batch) {
            std::fprintf(stderr, "engine_bench: the number of records must be %zu or more: %s\n%s",
                         2 * batch, text.c_str(), usage);
            std::exit(2);
        }
        records = value;
    }
    folder = positional.size() > 1 ? std::filesystem::path(positional[1])
                                   : std::filesystem::temp_directory_path() / "nubo-engine-bench";
}

void report(const char* name, Pair p, const char* bareWhat) {
    std::printf("%-22s %8.3f us   bare SQLite %8.3f us   ratio %.2f   (%s)\n", name, p.engine,
                p.bare, p.bare > 0 ? p.engine / p.bare : 0.0, bareWhat);
}

}  // namespace

int main(int argc, char** argv) {
    std::uint32_t records = 0;
    std::filesystem::path folder;
    parseArguments(argc, argv, records, folder);
    std::filesystem::create_directories(folder);
    const std::string path = (folder / ("bench-" + std::to_string(records) + ".dat")).string();
    const std::string plainPath =
        (folder / ("bench-" + std::to_string(records) + "-plain.db")).string();
    std::printf("engine_bench: %u records of %u bytes, 4-byte integer key, in %s\n", records,
                recordLength, folder.string().c_str());
    std::printf("resident memory at start: %ld KiB\n", residentKib());

    Handle h;
    bool reuse = false;
    std::snprintf(reinterpret_cast<char*>(h.key), sizeof h.key, "%s", path.c_str());
    if (h.call(op::open, 0, 0) == 0) {
        reuse = recordCountOf(h) == records;
        h.call(op::close, 0, 0);
    }
    if (!reuse) {
        std::printf("building the data file\n");
        buildEngineFile(path, records);
    }
    if (!reuse || !std::filesystem::exists(plainPath)) buildPlainFile(plainPath, records);
    std::printf("resident memory after building: %ld KiB\n", residentKib());

    std::snprintf(reinterpret_cast<char*>(h.key), sizeof h.key, "%s", path.c_str());
    if (const auto st = h.call(op::open, 0, 0); st != 0) die("Open failed", st);
    sqlite3* bare = openBare(path);
    sqlite3* plain = openBare(plainPath);

    // Open and Close of the file (another open stays), beside the bare
    // open, its first read and its close.
    {
        std::vector<double> engineOpens, bareOpens;
        Handle other;
        for (int i = 0; i < 20; ++i) {
            auto t0 = Clock::now();
            std::snprintf(reinterpret_cast<char*>(other.key), sizeof other.key, "%s", path.c_str());
            if (const auto st = other.call(op::open, 0, 0); st != 0) die("Open failed", st);
            if (const auto st = other.call(op::close, 0, 0); st != 0) die("Close failed", st);
            std::chrono::duration<double, std::micro> d = Clock::now() - t0;
            engineOpens.push_back(d.count());
            t0 = Clock::now();
            sqlite3* db = openBare(path);
            sqlite3_stmt* head = prepare(db, "SELECT format FROM nubo_file WHERE id = 1");
            if (sqlite3_step(head) != SQLITE_ROW) die("bare first read failed", 0);
            sqlite3_finalize(head);
            sqlite3_close(db);
            d = Clock::now() - t0;
            bareOpens.push_back(d.count());
        }
        report("Open + Close", {median(engineOpens), median(bareOpens)}, "open, first read, close");
    }

    std::mt19937 random(12345);
    auto existingKey = [&] { return static_cast<std::int32_t>(2 * (random() % records)); };
    const std::size_t batches =
        std::max<std::size_t>(20, std::min<std::size_t>(400, records / batch / 2));

    // Stat.
    sqlite3_stmt* statSql = prepare(
        bare, "SELECT description, (SELECT records FROM record_count) FROM nubo_file WHERE id = 1");
    unsigned char sink[bufferSize];
    report("Stat",
           timeBatches(
               batches,
               [&](std::size_t) {
                   if (h.call(op::stat, bufferSize, 0) != 0) die("Stat failed", 0);
               },
               [&](std::size_t) {
                   if (sqlite3_step(statSql) != SQLITE_ROW) die("bare stat failed", 0);
                   const void* d = sqlite3_column_blob(statSql, 0);
                   std::memcpy(sink, d, static_cast<std::size_t>(sqlite3_column_bytes(statSql, 0)));
                   coding::putU32(sink + 6,
                                  static_cast<std::uint32_t>(sqlite3_column_int64(statSql, 1)));
                   sqlite3_reset(statSql);
               }),
           "SELECT description and the count");

    // Get Next: both walk the file from its first record.
    sqlite3_stmt* nextSql =
        prepare(bare, "SELECT id, data, k0 FROM records WHERE k0 > ?1 ORDER BY k0 LIMIT 1");
    unsigned char bareKey[4];
    encodeKey(-1, bareKey);
    if (h.call(op::getFirst, bufferSize, 0) != 0) die("Get First failed", 0);
    report("Get Next",
           timeBatches(
               batches,
               [&](std::size_t) {
                   if (h.call(op::getNext, bufferSize, 0) != 0) die("Get Next failed", 0);
               },
               [&](std::size_t) {
                   sqlite3_bind_blob(nextSql, 1, bareKey, 4, SQLITE_STATIC);
                   if (sqlite3_step(nextSql) != SQLITE_ROW) die("bare next failed", 0);
                   std::memcpy(sink, sqlite3_column_blob(nextSql, 1), recordLength);
                   std::memcpy(bareKey, sqlite3_column_blob(nextSql, 2), 4);
                   sqlite3_reset(nextSql);
               }),
           "SELECT ... WHERE k0 > ? ORDER BY k0 LIMIT 1");
    // Again from the first record, beside one statement kept open and
    // stepped on (what a single reader of an unchanging file could do).
    sqlite3_stmt* walkSql =
        prepare(bare, "SELECT id, data, k0 FROM records WHERE k0 > ?1 ORDER BY k0");
    encodeKey(-1, bareKey);
    sqlite3_bind_blob(walkSql, 1, bareKey, 4, SQLITE_STATIC);
    if (h.call(op::getFirst, bufferSize, 0) != 0) die("Get First failed", 0);
    report("",
           timeBatches(
               batches,
               [&](std::size_t) {
                   if (h.call(op::getNext, bufferSize, 0) != 0) die("Get Next failed", 0);
               },
               [&](std::size_t) {
                   if (sqlite3_step(walkSql) != SQLITE_ROW) die("bare walk failed", 0);
                   std::memcpy(sink, sqlite3_column_blob(walkSql, 1), recordLength);
               }),
           "one SELECT ... WHERE k0 > ? ORDER BY k0 kept open, stepped");
    sqlite3_reset(walkSql);

    // Get Equal on random existing keys.
    sqlite3_stmt* equalSql =
        prepare(bare, "SELECT id, data, k0 FROM records WHERE k0 = ?1 ORDER BY id LIMIT 1");
    report("Get Equal",
           timeBatches(
               batches,
               [&](std::size_t) {
                   coding::putI32(h.key, existingKey());
                   if (h.call(op::getEqual, bufferSize, 0) != 0) die("Get Equal failed", 0);
               },
               [&](std::size_t) {
                   encodeKey(existingKey(), bareKey);
                   sqlite3_bind_blob(equalSql, 1, bareKey, 4, SQLITE_STATIC);
                   if (sqlite3_step(equalSql) != SQLITE_ROW) die("bare equal failed", 0);
                   std::memcpy(sink, sqlite3_column_blob(equalSql, 1), recordLength);
                   sqlite3_reset(equalSql);
               }),
           "SELECT ... WHERE k0 = ? LIMIT 1");

    // Insert, one per commit, at random places; the new keys are odd. Three
    // disjoint sets of them: the engine's, the bare statement's on the same
    // file, and the plain table's.
    const std::size_t inserts = std::min<std::size_t>(20000, records / 4);
    std::vector<std::int32_t> pool;
    for (std::size_t i = 0; i < 3 * inserts; ++i) pool.push_back(existingKey() + 1);
    std::sort(pool.begin(), pool.end());
    pool.erase(std::unique(pool.begin(), pool.end()), pool.end());
    std::shuffle(pool.begin(), pool.end(), random);
    const std::size_t share = pool.size() / 3;
    const std::vector<std::int32_t> engineKeys(pool.begin(), pool.begin() + share);
    const std::vector<std::int32_t> bareKeys(pool.begin() + share, pool.begin() + 2 * share);
    const std::vector<std::int32_t> plainKeys(pool.begin() + 2 * share, pool.begin() + 3 * share);
    sqlite3_stmt* insertSql = prepare(bare, "INSERT INTO records (data, k0) VALUES (?1, ?2)");
    sqlite3_stmt* plainInsertSql = prepare(plain, "INSERT INTO t (data, k) VALUES (?1, ?2)");
    unsigned char record[recordLength];
    auto engineInsert = [&](std::size_t i) {
        makeRecord(engineKeys[i], h.data);
        if (const auto st = h.call(op::insert, recordLength, 0); st != 0) die("Insert failed", st);
    };
    auto bareInsert = [&](sqlite3_stmt* stmt, std::int32_t key) {
        makeRecord(key, record);
        encodeKey(key, bareKey);
        sqlite3_bind_blob(stmt, 1, record, recordLength, SQLITE_STATIC);
        sqlite3_bind_blob(stmt, 2, bareKey, 4, SQLITE_STATIC);
        if (sqlite3_step(stmt) != SQLITE_DONE) die("bare insert failed", 0);
        sqlite3_reset(stmt);
    };
    // Half the engine's inserts take turns with each bare statement.
    const std::size_t half = share / 2;
    report(
        "Insert (1 per commit)",
        timeSingles(half, engineInsert, [&](std::size_t i) { bareInsert(insertSql, bareKeys[i]); }),
        "INSERT INTO records, same file");
    report("",
           timeSingles(
               half, [&](std::size_t i) { engineInsert(half + i); },
               [&](std::size_t i) { bareInsert(plainInsertSql, plainKeys[i]); }),
           "INSERT into a plain table without the count");

    // Delete what was inserted (the engine's through Get Equal and Delete).
    std::vector<double> deletes;
    for (std::size_t i = 0; i < 2 * half; ++i) {
        coding::putI32(h.key, engineKeys[i]);
        const auto t0 = Clock::now();
        if (h.call(op::getEqual, bufferSize, 0) != 0 || h.call(op::remove, 0, 0) != 0) {
            die("Delete failed", 0);
        }
        const std::chrono::duration<double, std::micro> d = Clock::now() - t0;
        deletes.push_back(d.count());
    }
    sqlite3_stmt* deleteSql = prepare(bare, "DELETE FROM records WHERE k0 = ?1");
    for (std::size_t i = 0; i < half; ++i) {
        const std::int32_t k = bareKeys[i];
        encodeKey(k, bareKey);
        sqlite3_bind_blob(deleteSql, 1, bareKey, 4, SQLITE_STATIC);
        if (sqlite3_step(deleteSql) != SQLITE_DONE) die("bare delete failed", 0);
        sqlite3_reset(deleteSql);
    }
    sqlite3_stmt* plainDeleteSql = prepare(plain, "DELETE FROM t WHERE k = ?1");
    for (std::size_t i = 0; i < half; ++i) {
        const std::int32_t k = plainKeys[i];
        encodeKey(k, bareKey);
        sqlite3_bind_blob(plainDeleteSql, 1, bareKey, 4, SQLITE_STATIC);
        sqlite3_step(plainDeleteSql);
        sqlite3_reset(plainDeleteSql);
    }
    std::printf("%-22s %8.3f us   (Get Equal + Delete, 1 per commit)\n", "Delete", median(deletes));

    // Step Next: both walk the file in row-id order from its first record.
    sqlite3_stmt* stepSql =
        prepare(bare, "SELECT id, data FROM records WHERE id > ?1 ORDER BY id LIMIT 1");
    std::int64_t bareId = 0;
    if (h.call(op::stepFirst, bufferSize, 0) != 0) die("Step First failed", 0);
    report("Step Next",
           timeBatches(
               batches,
               [&](std::size_t) {
                   if (h.call(op::stepNext, bufferSize, 0) != 0) die("Step Next failed", 0);
               },
               [&](std::size_t) {
                   sqlite3_bind_int64(stepSql, 1, bareId);
                   if (sqlite3_step(stepSql) != SQLITE_ROW) die("bare step failed", 0);
                   bareId = sqlite3_column_int64(stepSql, 0);
                   std::memcpy(sink, sqlite3_column_blob(stepSql, 1), recordLength);
                   sqlite3_reset(stepSql);
               }),
           "SELECT ... WHERE id > ? ORDER BY id LIMIT 1");

    // Get Direct on random records' positions (row ids 1..records).
    sqlite3_stmt* directSql = prepare(bare, "SELECT id, data FROM records WHERE id = ?1");
    auto existingId = [&] { return static_cast<std::uint32_t>(1 + random() % records); };
    report("Get Direct",
           timeBatches(
               batches,
               [&](std::size_t) {
                   const std::uint32_t id = existingId();
                   coding::putU16(h.data, static_cast<std::uint16_t>(id >> 16));
                   coding::putU16(h.data + 2, static_cast<std::uint16_t>(id & 0xFFFF));
                   if (const auto st = h.call(op::getDirect, bufferSize, 0);
                       st != engine::status::ok && st != engine::status::invalidRecordAddress) {
                       die("Get Direct failed", st);
                   }
               },
               [&](std::size_t) {
                   sqlite3_bind_int64(directSql, 1, existingId());
                   if (sqlite3_step(directSql) == SQLITE_ROW) {
                       std::memcpy(sink, sqlite3_column_blob(directSql, 1), recordLength);
                   }
                   sqlite3_reset(directSql);
               }),
           "SELECT ... WHERE id = ?");

    // Get Equal with a single no-wait lock (each lock replaces the last),
    // beside the bare Get Equal.
    report("Get Equal, locked",
           timeBatches(
               batches,
               [&](std::size_t) {
                   coding::putI32(h.key, existingKey());
                   if (h.call(op::getEqual + op::singleNoWaitLockBias, bufferSize, 0) != 0) {
                       die("locked Get Equal failed", 0);
                   }
               },
               [&](std::size_t) {
                   encodeKey(existingKey(), bareKey);
                   sqlite3_bind_blob(equalSql, 1, bareKey, 4, SQLITE_STATIC);
                   if (sqlite3_step(equalSql) != SQLITE_ROW) die("bare equal failed", 0);
                   std::memcpy(sink, sqlite3_column_blob(equalSql, 1), recordLength);
                   sqlite3_reset(equalSql);
               }),
           "SELECT ... WHERE k0 = ? LIMIT 1");
    h.call(op::unlock, 0, 0);

    // Get by Percentage along the key at random percentages, beside the
    // bare statement that skips as many index entries: both take time
    // linear in the records skipped, so few calls are timed.
    sqlite3_stmt* percentSql =
        prepare(bare, "SELECT id, data, k0 FROM records ORDER BY k0, id LIMIT 1 OFFSET ?1");
    auto somePercentage = [&] { return static_cast<std::uint16_t>(random() % 10001); };
    report("Get by Percentage",
           timeSingles(
               40,
               [&](std::size_t) {
                   coding::putU16(h.data, somePercentage());
                   if (const auto st = h.call(op::getByPercentage, bufferSize, 0); st != 0) {
                       die("Get by Percentage failed", st);
                   }
               },
               [&](std::size_t) {
                   const std::uint64_t skip =
                       static_cast<std::uint64_t>(records - 1) * somePercentage() / 10000;
                   sqlite3_bind_int64(percentSql, 1, static_cast<sqlite3_int64>(skip));
                   if (sqlite3_step(percentSql) != SQLITE_ROW) die("bare percentage failed", 0);
                   std::memcpy(sink, sqlite3_column_blob(percentSql, 1), recordLength);
                   sqlite3_reset(percentSql);
               }),
           "SELECT ... ORDER BY k0 LIMIT 1 OFFSET ?");

    // A transaction of 100 inserts (Begin, 100 Inserts, End) beside the bare
    // BEGIN IMMEDIATE, 100 INSERTs, COMMIT; negative keys, removed after.
    constexpr int perTransaction = 100;
    const std::size_t transactions = std::min<std::size_t>(200, records / perTransaction / 4 + 1);
    std::int32_t nextEngineKey = -1, nextBareKey = -1 - 100000000;
    std::vector<double> engineTx, bareTx;
    for (std::size_t t = 0; t < transactions; ++t) {
        auto t0 = Clock::now();
        if (h.call(op::beginTransaction, 0, 0) != 0) die("Begin failed", 0);
        for (int i = 0; i < perTransaction; ++i) {
            makeRecord(nextEngineKey--, h.data);
            if (const auto st = h.call(op::insert, recordLength, 0); st != 0)
                die("Insert failed", st);
        }
        if (h.call(op::endTransaction, 0, 0) != 0) die("End failed", 0);
        std::chrono::duration<double, std::micro> d = Clock::now() - t0;
        engineTx.push_back(d.count());
        t0 = Clock::now();
        if (sqlite3_exec(bare, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
            die("bare begin failed", 0);
        }
        for (int i = 0; i < perTransaction; ++i) bareInsert(insertSql, nextBareKey--);
        if (sqlite3_exec(bare, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            die("bare commit failed", 0);
        }
        d = Clock::now() - t0;
        bareTx.push_back(d.count());
    }
    report("Transaction of 100", {median(engineTx), median(bareTx)},
           "BEGIN IMMEDIATE, 100 INSERT, COMMIT");
    sqlite3_exec(bare, "DELETE FROM records WHERE substr(k0, 1, 1) < x'80'", nullptr, nullptr,
                 nullptr);
    if (recordCountOf(h) != records) die("record count after the run", recordCountOf(h));

    for (auto* s : {statSql, nextSql, walkSql, equalSql, insertSql, plainInsertSql, deleteSql,
                    plainDeleteSql, stepSql, directSql, percentSql}) {
        sqlite3_finalize(s);
    }
    sqlite3_close(bare);
    sqlite3_close(plain);
    std::printf("resident memory at the end: %ld KiB\n", residentKib());
    h.call(op::reset, 0, 0);
    return 0;
}
