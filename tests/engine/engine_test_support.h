// Helpers for the record manager's tests: creation descriptions and a caller
// that drives BTRCALL with buffers of the sizes callers use.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/api.h"
#include "engine/client.h"
#include "engine/front.h"
#include "engine/sqlite/storage.h"
#include "platform/coding.h"
#ifdef NUBO_ENGINE_POSTGRES
#include "engine/postgres/storage.h"
#endif

namespace engine_test {

namespace op = engine::op;
inline constexpr std::uint16_t opOpen = op::open, opClose = op::close, opInsert = op::insert,
                               opUpdate = op::update, opDelete = op::remove,
                               opGetEqual = op::getEqual, opGetNext = op::getNext,
                               opGetPrevious = op::getPrevious, opGetGreater = op::getGreater,
                               opGetGreaterOrEqual = op::getGreaterOrEqual, opGetLess = op::getLess,
                               opGetLessOrEqual = op::getLessOrEqual, opGetFirst = op::getFirst,
                               opGetLast = op::getLast, opCreate = op::create, opStat = op::stat,
                               opReset = op::reset;

// One key segment of a description: position is 1-based.
struct Seg {
    std::uint16_t position;
    std::uint16_t length;
    std::uint16_t flags = 0;
    std::uint8_t extendedType = 0;
};

// A creation description; the "another segment follows" flag is set on every
// segment of a key but its last.
inline std::string makeDescription(std::uint16_t recordLength,
                                   const std::vector<std::vector<Seg>>& keys,
                                   std::uint16_t pageSize = 1024, std::uint16_t fileFlags = 0) {
    using namespace engine;
    std::string d(filespec::size, '\0');
    auto* p = coding::bytes(d);
    coding::putU16(p + filespec::recordLength, recordLength);
    coding::putU16(p + filespec::pageSize, pageSize);
    coding::putU16(p + filespec::keyCount, static_cast<std::uint16_t>(keys.size()));
    coding::putU16(p + filespec::fileFlags, fileFlags);
    for (const auto& key : keys) {
        for (std::size_t i = 0; i < key.size(); ++i) {
            std::string s(segspec::size, '\0');
            auto* q = coding::bytes(s);
            coding::putU16(q + segspec::position, key[i].position);
            coding::putU16(q + segspec::length, key[i].length);
            coding::putU16(q + segspec::flags,
                           static_cast<std::uint16_t>(
                               key[i].flags | (i + 1 < key.size() ? keyflag::segmented : 0)));
            q[segspec::extendedType] = key[i].extendedType;
            d += s;
        }
    }
    return d;
}

// A caller of BTRCALL with its own position block, a 1536-byte data buffer
// and a 256-byte key buffer.
using Btr = engine::Client;

// The storage backends every conformance test runs against: a backend joins
// the suite with one line here. `missing` tells why a backend cannot run
// here (nullptr when it can): its tests are then skipped with that reason.
// `onDisk`: a data file is a file at its path (checks of the folder's
// contents apply). `walkStaleness`: how long after another process's commit
// a walk along a key may still answer from rows it read before (nullptr:
// it sees the commit at its next call).
struct Backend {
    const char* name;
    engine::Storage& (*storage)();
    const char* (*missing)() = nullptr;
    bool onDisk = true;
    std::chrono::milliseconds (*walkStaleness)() = nullptr;
};

#ifdef NUBO_ENGINE_POSTGRES
// The PostgreSQL backend on the test server NUBO_TEST_PG names (a libpq
// connection string, as scripts/pg-server.sh writes it; the password from
// PGPASSFILE), every file a table named after its whole path in the schema
// "engine_tests". NUBO_TEST_PG_READ_AHEAD sets the read-ahead time in ms.
inline const char* postgresMissing() {
    const char* conninfo = std::getenv("NUBO_TEST_PG");
    if (conninfo == nullptr || *conninfo == '\0') {
        return "no PostgreSQL test server: NUBO_TEST_PG is not set "
               "(scripts/test.d/postgres.sh starts one and sets it)";
    }
    return nullptr;
}
inline std::uint32_t postgresReadAhead() {
    if (const char* ms = std::getenv("NUBO_TEST_PG_READ_AHEAD")) {
        return static_cast<std::uint32_t>(std::strtoul(ms, nullptr, 10));
    }
    return engine::pg::ServerMap{}.readAheadMilliseconds;
}
inline std::chrono::milliseconds postgresWalkStaleness() {
    return std::chrono::milliseconds(postgresReadAhead());
}
inline engine::Storage& postgresStorage() {
    static const std::unique_ptr<engine::Storage> storage = [] {
        engine::pg::ServerMap map;
        const char* conninfo = std::getenv("NUBO_TEST_PG");
        map.server = conninfo != nullptr ? conninfo : "";
        map.schema = "engine_tests";
        map.readAheadMilliseconds = postgresReadAhead();
        return engine::pg::serverStorage(map);
    }();
    return *storage;
}
#endif

inline const std::vector<Backend>& backends() {
    static const std::vector<Backend> all = {
        {"sqlite", &engine::sqlite::storage},
#ifdef NUBO_ENGINE_POSTGRES
        {"postgres", &postgresStorage, &postgresMissing, false, &postgresWalkStaleness},
#endif
    };
    return all;
}
inline const std::vector<Backend>& sqliteOnly() {
    static const std::vector<Backend> one = {{"sqlite", &engine::sqlite::storage}};
    return one;
}
inline void PrintTo(const Backend& backend, std::ostream* out) {
    *out << backend.name;
}
inline std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param.name;
}

// A test of BTRCALL on one backend: the backend is BTRCALL's storage while
// the test runs; every file is closed after it.
class BackendTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam().missing != nullptr) {
            if (const char* why = GetParam().missing()) GTEST_SKIP() << why;
        }
        previous_ = &engine::currentStorage();
        engine::setStorage(GetParam().storage());
    }
    void TearDown() override {
        Btr().reset();
        if (previous_ != nullptr) engine::setStorage(*previous_);
    }

private:
    engine::Storage* previous_ = nullptr;
};

inline std::string le32(std::int32_t v) {
    std::string s(4, '\0');
    coding::putI32(coding::bytes(s), v);
    return s;
}

}  // namespace engine_test

// Runs the TEST_P tests of `suite` on every backend, or on SQLite alone.
#define NUBO_ON_EVERY_BACKEND(suite)                                                        \
    INSTANTIATE_TEST_SUITE_P(Backends, suite, ::testing::ValuesIn(engine_test::backends()), \
                             engine_test::backendName)
#define NUBO_ON_SQLITE(suite)                                                               \
    INSTANTIATE_TEST_SUITE_P(Sqlite, suite, ::testing::ValuesIn(engine_test::sqliteOnly()), \
                             engine_test::backendName)
