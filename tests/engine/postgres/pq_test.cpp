// The libpq layer against a real server: sessions over TCP and the Unix
// socket, the statuses of refused logins and absent servers, the bounds of
// every wait, sessions the server ends, hostile identifiers.
#include "engine/postgres/pq.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "tests/engine/postgres/server_fixture.h"

namespace {

using engine::pg::Bounds;
using engine::pg::Connection;
using engine::pg::Fault;
using engine::pg::Param;
using engine::pg::Result;
using pg_test::secondsSince;

// A TCP socket on 127.0.0.1 that listens but never accepts: the kernel
// completes the handshake and then nothing ever answers.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd_, 4), 0);
        socklen_t n = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port on 127.0.0.1 where nothing listens.
int closedPort() {
    SilentListener l;
    return l.port();
}

TEST(PgConnection, TcpAndSocketSessionsRunStatements) {
    NUBO_NEED_SERVER();
    for (const std::string& conninfo : {pg_test::serverConninfo(), pg_test::socketConninfo()}) {
        if (conninfo.empty()) continue;
        auto c = pg_test::connect(conninfo);
        ASSERT_TRUE(c);
        const engine::pg::Statement s{"t_echo", "SELECT $1::bytea, $2::bigint, $3::text", 3};
        const unsigned char bytes[] = {0, 1, 0xff, 0};
        const Result r = c->run(s, {Param::bytes(bytes, 4), Param::int64(-5), Param::text("Ñ")});
        ASSERT_TRUE(r) << c->fault().message;
        ASSERT_EQ(r.bytes(0, 0).size(), 4u);
        EXPECT_EQ(r.bytes(0, 0)[2], 0xff);
        std::int64_t v = 0;
        EXPECT_TRUE(r.int64(0, 1, v));
        EXPECT_EQ(v, -5);
        EXPECT_EQ(r.text(0, 2), "Ñ");
        // Prepared once, run again.
        EXPECT_TRUE(c->run(s, {Param::bytes(bytes, 0), Param::int64(7), Param::text("")}));
    }
}

TEST(PgConnection, WrongPasswordGivesPermissionErrorWithoutThePassword) {
    NUBO_NEED_SERVER();
    Fault fault;
    const std::string secret = "Wr0ng-Secret-4711";
    auto c = Connection::open(pg_test::serverConninfo() + " password=" + secret, {}, fault);
    EXPECT_FALSE(c);
    EXPECT_EQ(fault.status, engine::status::permissionError);
    EXPECT_FALSE(fault.message.empty());
    EXPECT_EQ(fault.message.find(secret), std::string::npos) << fault.message;
    // No such role: refused the same way.
    c = Connection::open(pg_test::serverConninfo() + " user=nobody_here", {}, fault);
    EXPECT_FALSE(c);
    EXPECT_EQ(fault.status, engine::status::permissionError) << fault.message;
}

TEST(PgConnection, NoServerGivesServerErrorAtOnce) {
    Fault fault;
    const auto start = std::chrono::steady_clock::now();
    auto c = Connection::open(
        "host=127.0.0.1 port=" + std::to_string(closedPort()) + " user=x dbname=x", {}, fault);
    EXPECT_FALSE(c);
    EXPECT_EQ(fault.status, engine::status::serverError);
    EXPECT_LT(secondsSince(start), 2.0);
}

TEST(PgConnection, SilentServerGivesServerErrorWithinTheConnectBound) {
    SilentListener silent;
    Bounds bounds;
    bounds.connectMilliseconds = 800;
    Fault fault;
    const auto start = std::chrono::steady_clock::now();
    auto c = Connection::open("host=127.0.0.1 port=" + std::to_string(silent.port()) +
                                  " user=x dbname=x password=topsecret",
                              bounds, fault);
    const double took = secondsSince(start);
    EXPECT_FALSE(c);
    EXPECT_EQ(fault.status, engine::status::serverError);
    EXPECT_GE(took, 0.7);
    EXPECT_LT(took, 2.0);
    EXPECT_EQ(fault.message.find("topsecret"), std::string::npos);
}

TEST(PgConnection, AnswerNotInTimeEndsTheSessionWithStatus95) {
    NUBO_NEED_SERVER();
    Bounds bounds;
    bounds.callMilliseconds = 700;
    auto c = pg_test::connect(pg_test::serverConninfo(), bounds);
    ASSERT_TRUE(c);
    const auto start = std::chrono::steady_clock::now();
    const Result r = c->runOnce("SELECT pg_sleep(5)");
    const double took = secondsSince(start);
    EXPECT_FALSE(r);
    EXPECT_EQ(c->fault().status, engine::status::sessionLost);
    EXPECT_GE(took, 0.6);
    EXPECT_LT(took, 2.0);
    EXPECT_TRUE(c->lost());
    // Every later call gives the same status at once.
    const engine::pg::Statement s{"t_one", "SELECT 1", 0};
    EXPECT_FALSE(c->run(s, {}));
    EXPECT_EQ(c->fault().status, engine::status::sessionLost);
}

TEST(PgConnection, SessionEndedByTheServerGivesStatus95) {
    NUBO_NEED_SERVER();
    auto victim = pg_test::connect(pg_test::serverConninfo());
    auto admin = pg_test::connect(pg_test::serverConninfo());
    ASSERT_TRUE(victim && admin);
    const engine::pg::Statement s{"t_one", "SELECT 1", 0};
    ASSERT_TRUE(victim->run(s, {}));
    ASSERT_TRUE(admin->runOnce("SELECT pg_terminate_backend($1)",
                               std::vector{Param::int32(victim->serverProcess())}));
    // The server may need a moment to end it; the next call sees it.
    Result r;
    for (int i = 0; i < 50 && (r = victim->run(s, {})); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(r);
    EXPECT_EQ(victim->fault().status, engine::status::sessionLost);
    EXPECT_TRUE(victim->lost());
}

TEST(PgConnection, ServerFaultsBecomeStatuses) {
    NUBO_NEED_SERVER();
    const pg_test::SchemaGuard schema(pg_test::freshSchema("nubo_pq"));
    auto a = pg_test::connect(pg_test::serverConninfo());
    auto b = pg_test::connect(pg_test::serverConninfo());
    ASSERT_TRUE(a && b);
    const std::string t = a->quote(schema.name()) + ".t";
    pg_test::exec(*a, "CREATE SCHEMA " + a->quote(schema.name()));
    pg_test::exec(*a, "CREATE TABLE " + t + " (k bytea PRIMARY KEY)");
    const engine::pg::Statement add{"t_add", "INSERT INTO " + t + " VALUES ($1)", 1};
    ASSERT_TRUE(a->run(add, {Param::bytes("x")}));
    EXPECT_FALSE(a->run(add, {Param::bytes("x")}));
    EXPECT_EQ(a->fault().status, engine::status::duplicateKey);
    EXPECT_EQ(a->fault().sqlState, "23505");
    // A lock held by another session past the wait: 85, and the session lives.
    pg_test::exec(*b, "SET lock_timeout = '200ms'");
    pg_test::exec(*a, "BEGIN");
    pg_test::exec(*a, "LOCK TABLE " + t + " IN ACCESS EXCLUSIVE MODE");
    EXPECT_FALSE(b->run(add, {Param::bytes("y")}));
    EXPECT_EQ(b->fault().status, engine::status::fileLocked);
    EXPECT_FALSE(b->lost());
    pg_test::exec(*a, "ROLLBACK");
    EXPECT_TRUE(b->run(add, {Param::bytes("y")})) << b->fault().message;
}

TEST(PgConnection, HostileIdentifiersStayNames) {
    NUBO_NEED_SERVER();
    const pg_test::SchemaGuard schema(pg_test::freshSchema("nubo \"q\"; --"));
    auto c = pg_test::connect(pg_test::serverConninfo());
    ASSERT_TRUE(c);
    const std::string s = c->quote(schema.name());
    pg_test::exec(*c, "CREATE SCHEMA " + s);
    const std::string names[] = {"a\"b", "x\"; DROP SCHEMA public CASCADE; --", "Ñandú.dat",
                                 "dades/c'o\\b"};
    for (const std::string& name : names) {
        const std::string t = s + "." + c->quote(name);
        pg_test::exec(*c, "CREATE TABLE " + t + " (v text)");
        const engine::pg::Statement add{{}, "INSERT INTO " + t + " VALUES ($1)", 1};
        ASSERT_TRUE(c->runOnce(add.sql, std::vector{Param::text(name)})) << c->fault().message;
    }
    const Result r = c->runOnce(
        "SELECT relname FROM pg_class JOIN pg_namespace n ON n.oid = relnamespace "
        "WHERE nspname = $1 ORDER BY relname",
        std::vector{Param::text(schema.name())});
    ASSERT_TRUE(r);
    ASSERT_EQ(r.rows(), 4);
    std::vector<std::string> found;
    for (int i = 0; i < r.rows(); ++i) found.emplace_back(r.text(i, 0));
    for (const std::string& name : names) {
        EXPECT_NE(std::find(found.begin(), found.end(), name), found.end()) << name;
    }
    EXPECT_TRUE(c->runOnce("SELECT count(*) FROM pg_namespace WHERE nspname = 'public'"));
}

}  // namespace
