// Runs the program on generated installations of 100,000 and 1,000,000
// owners (100 to a property; concepts varied so that most owners are
// billed), three ways each: a first run that bills, a rerun that finds
// everything billed, and a run that selects nobody (the selection alone).
// Reports microseconds per owner and the peak resident memory of each run,
// the load average of the machine, and, as the peer, the same billing done
// as one set-based SQL statement over the same data in relational SQLite
// tables. With --reference, a second program runs on a copy of the same
// installation, each of its runs next to the same run of the first. With
// --server, the program runs too on the same installation mapped to a
// PostgreSQL server (a map file in its root naming the connection string,
// a schema of its own), each run next to the same run on SQLite.
#include <sqlite3.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <system_error>
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
    w.concepts[1] = {' ', 1, 1000 + i % 500, 0};  // monthly: almost all billed
    w.concepts[2] = {'N', 3, 250, 0};             // quarterly, flagged
    w.concepts[3] = {' ', 12, 12000, 0};          // yearly
    w.concepts[9] = {'N', static_cast<std::int16_t>(1 + i % 6), 75,
                     static_cast<std::int16_t>(i % 4)};
    if (i % 20 == 0) w.concepts[1].periodMonths = 0;  // a few owners with nothing due
    return w;
}

constexpr int kCycleStart = 1;

std::size_t countLines(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

// One run's line: its figures, or that it failed. False for a failed run.
bool report(const std::string& name, const e2e::Installation::RunResult& r, std::size_t owners,
            std::size_t billed) {
    if (r.exitCode != 0) {
        std::printf("%-34s FAILED (exit %d): no figure\n", name.c_str(), r.exitCode);
        return false;
    }
    std::printf("%-34s %10.3f s %10.2f us/owner %10.2f us/billed owner %8ld KiB peak\n",
                name.c_str(), r.seconds, 1e6 * r.seconds / static_cast<double>(owners),
                billed > 0 ? 1e6 * r.seconds / static_cast<double>(billed) : 0.0, r.peakResidentKb);
    return true;
}

void printLoadAverage(const char* when) {
#ifdef _WIN32
    std::printf("load average %s: not available\n", when);
#else
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3) {
        std::printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
    } else {
        std::printf("load average %s: not available\n", when);
    }
#endif
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
    exec(db,
         "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
         "CREATE TABLE properties(number INTEGER PRIMARY KEY, cycle_start INT, cycle_months INT);"
         "CREATE TABLE owners(owner_key INTEGER PRIMARY KEY, property INT, method TEXT, moment "
         "TEXT);"
         "CREATE TABLE concepts(owner_key INT, k INT, flag TEXT, period INT, amount INT, code INT,"
         " PRIMARY KEY(owner_key, k)) WITHOUT ROWID;"
         "CREATE TABLE collections(owner_key INT, issue_date INT, issue_number INT, collected_date "
         "INT,"
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
        "SELECT owner_key, 20260315, 1, CASE method WHEN 'B' THEN 20260315 ELSE 0 END, total, "
        "flagged,"
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
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    inserted = static_cast<std::size_t>(sqlite3_changes(db));
    sqlite3_close(db);
    return ok ? seconds : -1;
}

constexpr char kUsage[] =
    "usage: issue_run_bench PROGRAM [--reference PROGRAM] [--sizes N[,N...]] [--owners M]\n"
    "                       [--properties N] [--folder DIR] [--server CONNINFO]\n"
    "  PROGRAM            the program to measure\n"
    "  --reference P      a second program, run on a copy of each installation\n"
    "  --sizes LIST       owners in all, per installation (default 100000,1000000)\n"
    "  --owners M         owners per property, 1..9999 (default 100)\n"
    "  --properties N     one installation of N properties (1..10000) instead of --sizes\n"
    "  --folder DIR       where the installations are made (default: the temporary folder)\n"
    "  --server CONNINFO  the program also on the installation mapped to this PostgreSQL\n"
    "                     server (a libpq connection string; the password from PGPASSFILE)\n"
    "  --help             this text\n";

bool parseCount(const std::string& text, long long& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

bool usageError(const std::string& message) {
    std::fprintf(stderr, "issue_run_bench: %s\n%s", message.c_str(), kUsage);
    return false;
}

bool isProgram(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::is_regular_file(status)) return false;
    return (status.permissions() &
            (std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec |
             std::filesystem::perms::others_exec)) != std::filesystem::perms::none;
}

struct Options {
    std::string program, reference, folder, server;
    int owners = 100;
    std::vector<int> properties;  // per installation
};

// False (with the message given) for anything but a complete, valid command
// line; `help` when the usage was asked for.
bool parseOptions(int argc, char** argv, Options& o, bool& help) {
    help = false;
    o.folder = (std::filesystem::temp_directory_path() / "cobram-bench").string();
    std::vector<long long> sizes = {100000, 1000000};
    long long properties = 0, owners = 100;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        }
        if (arg.rfind("-", 0) != 0) {
            if (!o.program.empty()) return usageError("more than one program: " + arg);
            o.program = arg;
            continue;
        }
        if (arg != "--reference" && arg != "--sizes" && arg != "--owners" &&
            arg != "--properties" && arg != "--folder" && arg != "--server") {
            return usageError("unknown option " + arg);
        }
        if (i + 1 >= argc) return usageError(arg + " needs a value");
        const std::string value = argv[++i];
        if (arg == "--reference") {
            o.reference = value;
        } else if (arg == "--server") {
            o.server = value;
        } else if (arg == "--folder") {
            o.folder = value;
        } else if (arg == "--owners") {
            if (!parseCount(value, owners)) return usageError("--owners takes a number: " + value);
        } else if (arg == "--properties") {
            if (!parseCount(value, properties))
                return usageError("--properties takes a number: " + value);
        } else {
            sizes.clear();
            for (std::size_t start = 0; start <= value.size();) {
                std::size_t comma = value.find(',', start);
                if (comma == std::string::npos) comma = value.size();
                long long size = 0;
                if (!parseCount(value.substr(start, comma - start), size)) {
                    return usageError("--sizes takes numbers separated by commas: " + value);
                }
                sizes.push_back(size);
                start = comma + 1;
            }
        }
    }
    if (o.program.empty()) return usageError("no program given");
    if (!isProgram(o.program)) return usageError("not a program: " + o.program);
    if (!o.reference.empty() && !isProgram(o.reference))
        return usageError("not a program: " + o.reference);
    if (owners < 1 || owners > 9999) return usageError("up to 9999 owners per property");
    o.owners = static_cast<int>(owners);
    if (properties != 0) sizes = {properties * owners};
    for (long long size : sizes) {
        if (size % owners != 0 || size / owners < 1 || size / owners > 10000) {
            return usageError("each installation holds 1 to 10000 properties of " +
                              std::to_string(owners) + " owners: " + std::to_string(size) +
                              " owners cannot be laid out");
        }
        o.properties.push_back(static_cast<int>(size / owners));
    }
    return true;
}

struct Contender {
    std::string label, program;
    std::unique_ptr<e2e::Installation> installation;
    std::size_t billed = 0;
};

// One installation: generated, then the three runs of each contender side by
// side, then the peer. False when a run failed or the results disagree.
bool measure(const Options& o, int properties) {
    const int owners = o.owners;
    const std::size_t total =
        static_cast<std::size_t>(properties) * static_cast<std::size_t>(owners);
    const std::string folder = o.folder + "/" + std::to_string(total);
    std::filesystem::remove_all(folder);
    std::printf("Installation: %d properties x %d owners = %zu owners in %s\n", properties, owners,
                total, folder.c_str());
    printLoadAverage("before");

    std::vector<Contender> contenders;
    contenders.push_back(
        {"program", o.program, std::make_unique<e2e::Installation>(folder + "/program")});
    auto generate = [&](e2e::Installation& inst, const char* where) {
        const auto genStart = std::chrono::steady_clock::now();
        std::vector<e2e::Property> props;
        for (int p = 0; p < properties; ++p) props.push_back({p, kCycleStart, 12});
        inst.addProperties(props);
        inst.addOwners(total, [owners](std::size_t i) {
            return ownerFor(static_cast<int>(i) / owners, static_cast<int>(i) % owners + 1);
        });
        std::printf(
            "Generated %s in %.1f s\n", where,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - genStart).count());
    };
    generate(*contenders.front().installation, "on SQLite");
    if (!o.reference.empty()) {
        std::filesystem::copy(folder + "/program", folder + "/reference",
                              std::filesystem::copy_options::recursive);
        contenders.push_back(
            {"reference", o.reference, std::make_unique<e2e::Installation>(folder + "/reference")});
    }
    if (!o.server.empty()) {
        auto mapped = std::make_unique<e2e::Installation>(folder + "/server");
        std::random_device random;
        mapped->mapToServer(
            o.server, "bench_" + std::to_string(total) + "_" + std::to_string(random() % 1000000u));
        generate(*mapped, "on the server");
        contenders.push_back({"server", o.program, std::move(mapped)});
    }
    std::printf("\n");

    bool ok = true;
    e2e::WorkFile work;  // 15/03/2026, everyone selected
    work.firstProperty = "0";
    for (Contender& c : contenders) c.installation->writeWorkFile(work);
    for (Contender& c : contenders) {
        const auto first = c.installation->run(c.program);
        c.billed = countLines(c.installation->operationsLog());
        ok &= report(c.label + ": first run (bills)", first, total, c.billed);
    }
    for (Contender& c : contenders) {
        const auto rerun = c.installation->run(c.program);
        ok &= report(c.label + ": rerun (nothing new)", rerun, total, 0);
    }
    work.methodEnabled = {"N", "N", "N"};
    for (Contender& c : contenders) {
        c.installation->writeWorkFile(work);
        const auto none = c.installation->run(c.program);
        ok &= report(c.label + ": selection only (nobody)", none, total, 0);
    }
    for (const Contender& c : contenders) {
        std::printf("%s: owners billed %zu of %zu\n", c.label.c_str(), c.billed, total);
    }

    std::size_t inserted = 0;
    const double sql = sqlPeer(folder + "/peer.sqlite", properties, owners, inserted);
    if (sql < 0) {
        std::printf("%-34s FAILED: no figure\n", "peer: one SQL statement");
        ok = false;
    } else {
        std::printf("%-34s %10.3f s %10.2f us/owner %10.2f us/billed owner  (%zu inserted)\n",
                    "peer: one SQL statement", sql, 1e6 * sql / static_cast<double>(total),
                    inserted > 0 ? 1e6 * sql / static_cast<double>(inserted) : 0.0, inserted);
    }
    for (const Contender& c : contenders) {
        if (c.billed != inserted) {
            std::printf("%s billed %zu owners, the peer %zu: the results disagree\n",
                        c.label.c_str(), c.billed, inserted);
            ok = false;
        }
    }
    printLoadAverage("after");
    std::printf("\n");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!parseOptions(argc, argv, options, help)) return 2;
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    bool ok = true;
    for (int properties : options.properties) ok &= measure(options, properties);
    return ok ? 0 : 1;
}
