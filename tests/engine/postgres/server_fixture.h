// What the tests that need a PostgreSQL server share: the server from the
// environment (NUBO_TEST_PG: a libpq connection string of a superuser, as
// scripts/pg-server.sh writes it), skipped without one, and a schema of the
// test's own that is dropped at the end.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "engine/postgres/pq.h"

namespace pg_test {

inline std::string serverConninfo() {
    const char* v = std::getenv("NUBO_TEST_PG");
    return v ? v : "";
}

inline std::string socketConninfo() {
    const char* v = std::getenv("NUBO_TEST_PG_SOCKET");
    return v ? v : "";
}

#define NUBO_NEED_SERVER()                                                   \
    do {                                                                     \
        if (pg_test::serverConninfo().empty()) {                             \
            GTEST_SKIP() << "no PostgreSQL server: NUBO_TEST_PG is not set " \
                            "(scripts/pg-server.sh run ... sets it)";        \
        }                                                                    \
    } while (0)

inline std::unique_ptr<engine::pg::Connection> connect(const std::string& conninfo,
                                                       engine::pg::Bounds bounds = {}) {
    engine::pg::Fault fault;
    auto c = engine::pg::Connection::open(conninfo, bounds, fault);
    EXPECT_TRUE(c) << "status " << fault.status << ": " << fault.message;
    return c;
}

// A random schema name, so tests running at once never meet.
inline std::string freshSchema(const std::string& stem) {
    std::random_device random;
    return stem + "_" + std::to_string(random() % 1000000000u);
}

// Runs `sql` (no parameters) and expects it to succeed.
inline void exec(engine::pg::Connection& c, const std::string& sql) {
    const engine::pg::Result r = c.runOnce(sql);
    EXPECT_TRUE(r) << sql << ": " << c.fault().message;
}

// Drops a schema with everything in it when the test ends.
class SchemaGuard {
public:
    explicit SchemaGuard(std::string schema) : schema_(std::move(schema)) {}
    ~SchemaGuard() {
        engine::pg::Fault fault;
        auto c = engine::pg::Connection::open(serverConninfo(), {}, fault);
        if (c) c->runOnce("DROP SCHEMA IF EXISTS " + c->quote(schema_) + " CASCADE");
    }
    const std::string& name() const { return schema_; }

private:
    std::string schema_;
};

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace pg_test
