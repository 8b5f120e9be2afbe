// Runs the program on a generated installation of N properties with M owners
// each (concepts varied so that most owners are billed), three ways: a first
// run that bills, a second run that finds everything billed, and a run that
// selects nobody. Reports microseconds per owner and the peak resident
// memory of each run, and, as the peer, the same billing done as one SQL
// statement over the same data in relational SQLite tables.
//
//   issue_run_bench PROGRAM [--properties N] [--owners M] [--folder DIR]
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/installation.h"

namespace {

// The owner number o of property p: the same data for the program and the peer.
e2e::Owner ownerFor(int p, int o) {
    e2e::Owner w;
    w.property = p;
    w.owner = o;
    const int i = p * 100 + o;
    w.paymentMethod = "ABF"[i % 3];
    w.billingMoment = " MV"[(i / 3) % 3];
    w.concepts[1] = {' ', 1, 1000 + i % 500, 0};                    // monthly: almost all billed
    w.concepts[2] = {'N', 3, 250, 0};                               // quarterly, flagged
    w.concepts[3] = {' ', 12, 12000, 0};                            // yearly
    w.concepts[9] = {'N', static_cast<std::int16_t>(1 + i % 6), 75, static_cast<std::int16_t>(i % 4)};
    if (i % 20 == 0) w.concepts[1].periodMonths = 0;                // a few owners with nothing due
    return w;
}

constexpr int kCycleStart = 1;

std::size_t countLines(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

void report(const char* name, const e2e::Installation::RunResult& r, std::size_t owners,
            std::size_t billed) {
    std::printf("%-22s %10.3f s %10.2f us/owner %10.2f us/billed owner %8ld KiB peak  (exit %d)\n", name,
                r.seconds, 1e6 * r.seconds / static_cast<double>(owners),
                billed > 0 ? 1e6 * r.seconds / static_cast<double>(billed) : 0.0, r.peakResidentKb,
                r.exitCode);
}

bool exec(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n", error != nullptr ? error : "?");
        sqlite3_free(error);
        return false;
    }
    return true;
}

// The same billing as one SQL statement: returns its seconds, or -1.
double sqlPeer(const std::string& path, int properties, int owners, std::size_t& inserted) {
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return -1;
    exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
             "CREATE TABLE properties(number INTEGER PRIMARY KEY, cycle_start INT, cycle_months INT);"
             "CREATE TABLE owners(owner_key INTEGER PRIMARY KEY, property INT, method TEXT, moment TEXT);"
             "CREATE TABLE concepts(owner_key INT, k INT, flag TEXT, period INT, amount INT, code INT,"
             " PRIMARY KEY(owner_key, k)) WITHOUT ROWID;"
             "CREATE TABLE collections(owner_key INT, issue_date INT, issue_number INT, collected_date INT,"
             " total INT, flagged INT, state TEXT, PRIMARY KEY(owner_key, issue_date, issue_number));");
    exec(db, "BEGIN");
    sqlite3_stmt* prop = nullptr;
    sqlite3_stmt* own = nullptr;
    sqlite3_stmt* con = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO properties VALUES(?,?,12)", -1, &prop, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO owners VALUES(?,?,?,?)", -1, &own, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO concepts VALUES(?,?,?,?,?,?)", -1, &con, nullptr);
    for (int p = 0; p < properties; ++p) {
        sqlite3_bind_int(prop, 1, p);
        sqlite3_bind_int(prop, 2, kCycleStart);
        sqlite3_step(prop);
        sqlite3_reset(prop);
        for (int o = 1; o <= owners; ++o) {
            const e2e::Owner w = ownerFor(p, o);
            const int key = p * 10000 + o;
            sqlite3_bind_int(own, 1, key);
            sqlite3_bind_int(own, 2, p);
            sqlite3_bind_text(own, 3, &w.paymentMethod, 1, SQLITE_TRANSIENT);
            sqlite3_bind_text(own, 4, &w.billingMoment, 1, SQLITE_TRANSIENT);
            sqlite3_step(own);
            sqlite3_reset(own);
            for (int k = 1; k <= 10; ++k) {
                const e2e::ConceptEntry& c = w.concepts[k];
                if (c.periodMonths <= 0) continue;
                sqlite3_bind_int(con, 1, key);
                sqlite3_bind_int(con, 2, k);
                sqlite3_bind_text(con, 3, &c.flag, 1, SQLITE_TRANSIENT);
                sqlite3_bind_int(con, 4, c.periodMonths);
                sqlite3_bind_int(con, 5, c.amount);
                sqlite3_bind_int(con, 6, k <= 8 ? 1 : c.code);
                sqlite3_step(con);
                sqlite3_reset(con);
            }
        }
    }
    sqlite3_finalize(prop);
    sqlite3_finalize(own);
    sqlite3_finalize(con);
    exec(db, "COMMIT");

    const char* billing =
        "INSERT OR IGNORE INTO collections "
        "SELECT owner_key, 20260315, 1, CASE method WHEN 'B' THEN 20260315 ELSE 0 END, total, flagged,"
        " CASE method WHEN 'B' THEN 'I' ELSE 'P' END FROM ("
        "  SELECT o.owner_key, o.method, SUM(c.amount) AS total,"
        "   SUM(CASE c.flag WHEN 'N' THEN c.amount ELSE 0 END) AS flagged"
        "  FROM owners o JOIN properties p ON p.number = o.property AND p.cycle_months > 0"
        "  JOIN concepts c ON c.owner_key = o.owner_key AND c.code > 0"
        "  WHERE o.method IN ('A','B','F')"
        "   AND (3 - p.cycle_start + 12) % c.period ="
        "    CASE o.moment WHEN 'M' THEN c.period / 2 WHEN 'V' THEN c.period - 1 ELSE 0 END"
        "  GROUP BY o.owner_key) WHERE total <> 0";
    const auto start = std::chrono::steady_clock::now();
    const bool ok = exec(db, billing);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    inserted = static_cast<std::size_t>(sqlite3_changes(db));
    sqlite3_close(db);
    return ok ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM [--properties N] [--owners M] [--folder DIR]\n", argv[0]);
        return 2;
    }
    const std::string program = argv[1];
    int properties = 10000, owners = 100;
    std::string folder = (std::filesystem::temp_directory_path() / "cobram-bench").string();
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--properties") properties = std::atoi(argv[i + 1]);
        else if (flag == "--owners") owners = std::atoi(argv[i + 1]);
        else if (flag == "--folder") folder = argv[i + 1];
    }
    if (properties < 1 || properties > 10000 || owners < 1 || owners > 9999) {
        std::fprintf(stderr, "up to 10000 properties (numbered from 0) of up to 9999 owners\n");
        return 2;
    }
    std::filesystem::remove_all(folder);
    const std::size_t total = static_cast<std::size_t>(properties) * static_cast<std::size_t>(owners);
    std::printf("Installation: %d properties x %d owners = %zu owners in %s\n", properties, owners, total,
                folder.c_str());

    e2e::Installation inst(folder);
    const auto genStart = std::chrono::steady_clock::now();
    std::vector<e2e::Property> props;
    for (int p = 0; p < properties; ++p) props.push_back({p, kCycleStart, 12});
    inst.addProperties(props);
    for (int p = 0; p < properties; ++p) {
        std::vector<e2e::Owner> batch;
        for (int o = 1; o <= owners; ++o) batch.push_back(ownerFor(p, o));
        inst.addOwners(batch);
    }
    std::printf("Generated in %.1f s\n\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - genStart).count());

    e2e::WorkFile work;  // 15/03/2026, everyone selected
    work.firstProperty = "0";
    inst.writeWorkFile(work);
    const auto first = inst.run(program);
    const std::size_t billed = countLines(inst.operationsLog());
    report("first run (bills)", first, total, billed);
    const auto second = inst.run(program);
    report("second run (nothing)", second, total, 0);
    work.methodEnabled = {"N", "N", "N"};
    inst.writeWorkFile(work);
    const auto none = inst.run(program);
    report("selects nobody", none, total, 0);
    std::printf("owners billed: %zu of %zu\n\n", billed, total);

    std::size_t inserted = 0;
    const double sql = sqlPeer(folder + "/peer.sqlite", properties, owners, inserted);
    std::printf("%-22s %10.3f s %10.2f us/owner %10.2f us/billed owner  (%zu inserted)\n",
                "peer: one SQL statement", sql, 1e6 * sql / static_cast<double>(total),
                inserted > 0 ? 1e6 * sql / static_cast<double>(inserted) : 0.0, inserted);
    return first.exitCode == 0 && second.exitCode == 0 && none.exitCode == 0 && inserted == billed ? 0 : 1;
}
