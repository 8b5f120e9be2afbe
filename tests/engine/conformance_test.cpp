// Conformance of BTRCALL to the documented record-manager API, case by case,
// on every storage backend. Each case names its source: the operation (and
// its code) in the Btrieve API Guide, and the status in the status-code
// reference. Cases with two processes use fork: a child forked before the
// parent opens anything plays the other program, and both step together
// through pipes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "engine_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace engine_test;

// Operation codes and biases, written out as the documentation gives them.
constexpr std::uint16_t opBegin = 19, opEnd = 20, opAbort = 21, opGetPosition = 22,
                        opGetDirect = 23, opStepNext = 24, opStop = 25, opVersion = 26,
                        opUnlock = 27, opStepFirst = 33, opStepLast = 34, opStepPrevious = 35;
constexpr std::uint16_t getKey = 50, singleWait = 100, singleNoWait = 200, multipleNoWait = 400;

// Records of 24 bytes: a 4-byte integer key 0 (unique), a 4-byte string key
// 1 with duplicates (modifiable), the rest payload.
const std::string kDescription =
    makeDescription(24, {{{1, 4, 0x0100, 1}}, {{5, 4, 0x0001 | 0x0002}}});

std::string rec(std::int32_t number, const std::string& group, const std::string& payload = "") {
    std::string r = le32(number) + group;
    r.resize(8, ' ');
    r += payload;
    r.resize(24, '.');
    return r;
}

std::int32_t numberOf(const Btr& b) {
    return coding::getI32(b.data);
}

// Two pipes between the parent and one child, for stepping in turn.
class Partner {
public:
    // Forks; the child runs `body` and exits with its result (0: all its
    // checks held).
    explicit Partner(const std::function<int(Partner&)>& body) {
        if (::pipe(toChild_) != 0 || ::pipe(toParent_) != 0) std::abort();
        pid_ = ::fork();
        if (pid_ < 0) std::abort();
        if (pid_ == 0) {
            ::close(toChild_[1]);
            ::close(toParent_[0]);
            readFd_ = toChild_[0];
            writeFd_ = toParent_[1];
            const int result = body(*this);
            Btr().call(opReset, 0, 0);
            ::_exit(result);
        }
        ::close(toChild_[0]);
        ::close(toParent_[1]);
        readFd_ = toParent_[0];
        writeFd_ = toChild_[1];
    }
    ~Partner() {
        ::close(readFd_);
        ::close(writeFd_);
        if (pid_ > 0 && !joined_) join();
    }
    void signal() {
        const char c = 'x';
        if (::write(writeFd_, &c, 1) != 1) std::abort();
    }
    bool wait() {
        char c = 0;
        return ::read(readFd_, &c, 1) == 1;
    }
    // The child's result.
    int join() {
        joined_ = true;
        int st = 0;
        ::waitpid(pid_, &st, 0);
        return WIFEXITED(st) ? WEXITSTATUS(st) : 100;
    }

private:
    int toChild_[2] = {-1, -1};
    int toParent_[2] = {-1, -1};
    int readFd_ = -1;
    int writeFd_ = -1;
    pid_t pid_ = -1;
    bool joined_ = false;
};

class Conformance : public BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        path = file("conf.dat");
        other = file("other.dat");
        Btr maker;
        ASSERT_EQ(maker.create(path, kDescription), 0);
        ASSERT_EQ(maker.create(other, kDescription), 0);
    }
    std::string file(const std::string& name) const { return tmp.dir() + name; }

    // Opens `b` on the file and fills it with the numbers 10, 20, ... given.
    void fill(Btr& b, std::initializer_list<std::int32_t> numbers) {
        ASSERT_EQ(b.open(path), 0);
        for (const std::int32_t n : numbers)
            ASSERT_EQ(b.insert(rec(n, n % 20 == 0 ? "EVEN" : "ODD")), 0);
    }

    testing_support::TempDir tmp;
    std::string path, other;
};

// ---- Update (3), Delete (4); status 80: the record changed since it was read.

TEST_P(Conformance, UpdateAndDeleteOfARecordChangedSinceItWasReadGive80) {
    Btr a, b;
    fill(a, {10, 20});
    ASSERT_EQ(b.open(path), 0);
    ASSERT_EQ(a.get(opGetEqual, 0, le32(10)), 0);
    ASSERT_EQ(b.get(opGetEqual, 0, le32(10)), 0);
    ASSERT_EQ(b.update(rec(10, "ODD", "by b")), 0);
    EXPECT_EQ(a.update(rec(10, "ODD", "by a")), 80);
    EXPECT_EQ(a.call(opDelete, 0, 0), 80);
    ASSERT_EQ(b.get(opGetEqual, 0, le32(10)), 0);
    EXPECT_EQ(b.record(), rec(10, "ODD", "by b"));  // b's change was kept
    // Read again, the record can be written.
    ASSERT_EQ(a.get(opGetEqual, 0, le32(10)), 0);
    EXPECT_EQ(a.update(rec(10, "ODD", "by a")), 0);
    // A position block's own writes never conflict with itself.
    EXPECT_EQ(a.update(rec(10, "ODD", "again")), 0);
    EXPECT_EQ(a.call(opDelete, 0, 0), 0);
}

TEST_P(Conformance, AnotherProcessChangingTheRecordGives80) {
    Btr seed;
    fill(seed, {10});
    seed.close();
    Partner child([this](Partner& p) {
        Btr b;
        p.wait();
        if (b.open(path) != 0 || b.get(opGetEqual, 0, le32(10)) != 0) return 1;
        if (b.update(rec(10, "ODD", "child")) != 0) return 2;
        b.close();
        p.signal();
        return 0;
    });
    Btr a;
    ASSERT_EQ(a.open(path), 0);
    ASSERT_EQ(a.get(opGetEqual, 0, le32(10)), 0);
    child.signal();
    ASSERT_TRUE(child.wait());
    EXPECT_EQ(a.update(rec(10, "ODD", "parent")), 80);
    EXPECT_EQ(child.join(), 0);
}

// ---- Status 21: the key buffer is shorter than the key; nothing is written.

TEST_P(Conformance, KeyBufferShorterThanTheKeyGives21AndWritesNothing) {
    Btr a;
    fill(a, {10, 20});
    std::memset(a.key, 0xEE, sizeof a.key);
    coding::putI32(a.key, 10);
    std::memset(a.data, 0xDD, sizeof a.data);
    EXPECT_EQ(a.call(opGetEqual, sizeof a.data, 0, 2), 21);
    EXPECT_EQ(a.key[4], 0xEE);
    EXPECT_EQ(a.data[0], 0xDD);
    EXPECT_EQ(a.call(opGetFirst, sizeof a.data, 1, 3), 21);
    EXPECT_EQ(a.key[4], 0xEE);
    // Insert (2) and Update (3) store nothing.
    std::memcpy(a.data, rec(30, "ODD").data(), 24);
    EXPECT_EQ(a.call(opInsert, 24, 0, 3), 21);
    EXPECT_EQ(a.recordCount(), 2u);
    ASSERT_EQ(a.get(opGetEqual, 0, le32(10)), 0);
    std::memcpy(a.data, rec(10, "ODD", "changed").data(), 24);
    EXPECT_EQ(a.call(opUpdate, 24, 0, 1), 21);
    ASSERT_EQ(a.get(opGetEqual, 0, le32(10)), 0);
    EXPECT_EQ(a.record(), rec(10, "ODD"));
    // The key's own length is enough.
    EXPECT_EQ(a.call(opGetEqual, sizeof a.data, 0, 4), 0);
}

// ---- Insert (2), Update (3) with key number -1: no currency change.

TEST_P(Conformance, InsertAndUpdateWithoutCurrencyChangeKeepThePosition) {
    Btr a;
    fill(a, {10, 30});
    ASSERT_EQ(a.get(opGetFirst, 0), 0);  // at 10 along key 0
    std::memset(a.key, 0xEE, sizeof a.key);
    std::memcpy(a.data, rec(20, "EVEN").data(), 24);
    EXPECT_EQ(a.call(opInsert, 24, -1), 0);
    EXPECT_EQ(a.key[0], 0xEE);  // the key buffer is not touched
    EXPECT_EQ(a.recordCount(), 3u);
    ASSERT_EQ(a.call(opGetNext, sizeof a.data, 0), 0);
    EXPECT_EQ(numberOf(a), 20);  // the next after 10, so the position stayed
    std::memcpy(a.data, rec(20, "EVEN", "upd").data(), 24);
    EXPECT_EQ(a.call(opUpdate, 24, -1), 0);
    ASSERT_EQ(a.call(opGetNext, sizeof a.data, 0), 0);
    EXPECT_EQ(numberOf(a), 30);
    ASSERT_EQ(a.get(opGetEqual, 0, le32(20)), 0);
    EXPECT_EQ(a.record(), rec(20, "EVEN", "upd"));
}

// ---- Get Next (6), Get Previous (7): status 7, a different key number.

TEST_P(Conformance, GetNextOrPreviousAlongAnotherKeyGives7) {
    Btr a;
    fill(a, {10, 20});
    ASSERT_EQ(a.get(opGetFirst, 0), 0);
    EXPECT_EQ(a.call(opGetNext, sizeof a.data, 1), 7);
    EXPECT_EQ(a.call(opGetPrevious, sizeof a.data, 1), 7);
    ASSERT_EQ(a.call(opGetNext, sizeof a.data, 0), 0);  // the position was kept
    EXPECT_EQ(numberOf(a), 20);
}

// ---- Status 22 on a Get: the data buffer is shorter than the record.

TEST_P(Conformance, GetIntoAShortDataBufferGives22WithTheFirstPartAndMoves) {
    Btr a;
    fill(a, {10, 20, 30});
    std::memset(a.data, 0xDD, sizeof a.data);
    a.setKey(le32(20));
    ASSERT_EQ(a.call(opGetEqual, 6, 0), 22);
    EXPECT_EQ(a.length, 6u);
    EXPECT_EQ(a.record(), rec(20, "EVEN").substr(0, 6));
    EXPECT_EQ(a.data[6], 0xDD);  // nothing beyond the length offered
    EXPECT_EQ(a.keyBytes(4), le32(20));
    ASSERT_EQ(a.call(opGetNext, sizeof a.data, 0), 0);  // the position is the record read
    EXPECT_EQ(numberOf(a), 30);
}

// ---- Stat (15): counts, distinct values, key numbers, file version.

TEST_P(Conformance, StatGivesDistinctValuesKeyNumbersAndTheVersion) {
    Btr a;
    fill(a, {10, 20, 30, 40, 50});  // key 1: ODD x3, EVEN x2
    ASSERT_EQ(a.call(opStat, sizeof a.data, 0), 0);
    ASSERT_EQ(a.length, 16u + 2 * 16u);
    EXPECT_EQ(a.data[4], 2);                         // number of keys
    EXPECT_EQ(coding::getU32(a.data + 6), 5u);       // records
    EXPECT_EQ(coding::getU32(a.data + 16 + 6), 5u);  // key 0: unique
    EXPECT_EQ(coding::getU32(a.data + 32 + 6), 2u);  // key 1: two values
    EXPECT_EQ(a.data[16 + 14], 0);                   // key number of each segment
    EXPECT_EQ(a.data[32 + 14], 1);
    EXPECT_EQ(a.data[5], 0);
    ASSERT_EQ(a.call(opStat, sizeof a.data, -1), 0);  // key number -1: with the version
    EXPECT_GE(a.data[5], 0x60);
    ASSERT_EQ(a.get(opGetEqual, 0, le32(20)), 0);
    ASSERT_EQ(a.update(rec(20, "NEW")), 0);
    ASSERT_EQ(a.call(opStat, sizeof a.data, 0), 0);
    EXPECT_EQ(coding::getU32(a.data + 32 + 6), 3u);  // counted again after a change
}

// ---- Create (14).

TEST_P(Conformance, CreateTakesAStatAnswerAsItsDescription) {
    Btr a;
    fill(a, {10});
    ASSERT_EQ(a.call(opStat, sizeof a.data, -1), 0);
    const std::string answer = a.record();
    Btr maker;
    ASSERT_EQ(maker.create(file("copy.dat"), answer), 0);
    Btr copy;
    ASSERT_EQ(copy.open(file("copy.dat")), 0);
    ASSERT_EQ(copy.call(opStat, sizeof copy.data, 0), 0);
    EXPECT_EQ(copy.data[4], 2);
    EXPECT_EQ(coding::getU32(copy.data + 6), 0u);
}

TEST_P(Conformance, CreateOfADataOnlyFile) {
    const std::string dataOnly = file("plain.dat");
    Btr a;
    ASSERT_EQ(a.create(dataOnly, makeDescription(16, {})), 0);
    ASSERT_EQ(a.open(dataOnly), 0);
    ASSERT_EQ(a.insert(std::string(16, 'a')), 0);
    ASSERT_EQ(a.insert(std::string(16, 'b')), 0);
    ASSERT_EQ(a.call(opStepFirst, sizeof a.data, 0), 0);
    EXPECT_EQ(a.record(), std::string(16, 'a'));
    ASSERT_EQ(a.call(opStepNext, sizeof a.data, 0), 0);
    EXPECT_EQ(a.record(), std::string(16, 'b'));
    EXPECT_EQ(a.get(opGetFirst, 0), 6);  // no key to read along
    EXPECT_EQ(a.recordCount(), 2u);
}

TEST_P(Conformance, CreateReplacesAnExistingFileOnlyWithKeyNumberZero) {
    Btr a;
    fill(a, {10});
    a.close();
    Btr maker;
    for (const std::int8_t mode : {-1, -3, 5}) {
        EXPECT_EQ(maker.create(path, kDescription, mode), 59) << int{mode};
    }
    ASSERT_EQ(a.open(path), 0);
    EXPECT_EQ(a.recordCount(), 1u);
    a.close();
    EXPECT_EQ(maker.create(path, kDescription, 0), 0);
    ASSERT_EQ(a.open(path), 0);
    EXPECT_EQ(a.recordCount(), 0u);
}

TEST_P(Conformance, CreateRefusals) {
    struct Case {
        const char* what;
        std::string description;
        std::int16_t status;
    };
    const Case cases[] = {
        // 45: key flags differ between the segments of one key.
        {"segments disagree on duplicates", makeDescription(24, {{{1, 2, 0x0001}, {3, 2, 0x0000}}}),
         45},
        {"segments disagree on modifiable", makeDescription(24, {{{1, 2, 0x0002}, {3, 2, 0x0000}}}),
         45},
        // 49: an extended key type that does not exist.
        {"unknown extended type", makeDescription(24, {{{1, 4, 0x0100, 99}}}), 49},
        // 26: more keys than the file may have.
        {"120 keys",
         [] {
             std::string d = makeDescription(240, {{{1, 2}}});
             d[4] = static_cast<char>(120);
             return d;
         }(),
         26},
    };
    for (const Case& c : cases) {
        Btr maker;
        EXPECT_EQ(maker.create(file("refused.dat"), c.description), c.status) << c.what;
    }
}

// ---- Stop (25), Version (26).

TEST_P(Conformance, VersionAndStop) {
    Btr a;
    fill(a, {10});
    ASSERT_EQ(a.call(opVersion, 5, 0), 0);
    EXPECT_EQ(a.length, 5u);
    EXPECT_GE(coding::getU16(a.data), 6);  // version
    EXPECT_NE(a.data[4], 0);               // platform letter
    EXPECT_EQ(a.call(opVersion, 4, 0), 22);
    ASSERT_EQ(a.call(opStop, 0, 0), 0);
    EXPECT_EQ(a.get(opGetFirst, 0), 3);  // Stop closed every file
    ASSERT_EQ(a.open(path), 0);          // and the record manager still serves
    EXPECT_EQ(a.recordCount(), 1u);
}

// ---- Get Position (22), Get Direct (23).

TEST_P(Conformance, GetPositionAndGetDirect) {
    Btr a;
    fill(a, {10, 20, 30});
    ASSERT_EQ(a.get(opGetEqual, 0, le32(20)), 0);
    ASSERT_EQ(a.call(opGetPosition, sizeof a.data, 0), 0);
    ASSERT_EQ(a.length, 4u);
    const std::string address(reinterpret_cast<const char*>(a.data), 4);
    ASSERT_EQ(a.update(rec(20, "EVEN", "moved?")), 0);
    ASSERT_EQ(a.get(opGetFirst, 0), 0);
    // The address stays the record's, along any key.
    std::memcpy(a.data, address.data(), 4);
    ASSERT_EQ(a.call(opGetDirect, sizeof a.data, 1), 0);
    EXPECT_EQ(a.record(), rec(20, "EVEN", "moved?"));
    EXPECT_EQ(a.keyBytes(4), "EVEN");
    // The position is the record along key 1: next is the ODD group.
    ASSERT_EQ(a.call(opGetNext, sizeof a.data, 1), 0);
    EXPECT_EQ(a.keyBytes(4), "ODD ");
    // Status 43 for an address that names no record.
    ASSERT_EQ(a.get(opGetEqual, 0, le32(20)), 0);
    ASSERT_EQ(a.call(opDelete, 0, 0), 0);
    std::memcpy(a.data, address.data(), 4);
    EXPECT_EQ(a.call(opGetDirect, sizeof a.data, 0), 43);
    // Get Position without a current record: 8.
    EXPECT_EQ(a.call(opGetPosition, sizeof a.data, 0), 8);
}

// ---- Get Key: the +50 bias on every Get.

TEST_P(Conformance, GetKeyReturnsTheKeyAndNoRecord) {
    Btr a;
    fill(a, {10, 20, 30});
    const std::uint16_t gets[] = {opGetEqual, opGetGreater,     opGetGreaterOrEqual,
                                  opGetLess,  opGetLessOrEqual, opGetFirst,
                                  opGetLast};
    for (const std::uint16_t op : gets) {
        std::memset(a.data, 0xDD, sizeof a.data);
        a.setKey(le32(20));
        ASSERT_EQ(a.call(static_cast<std::uint16_t>(op + getKey), sizeof a.data, 0), 0) << op;
        EXPECT_EQ(a.data[0], 0xDD) << op;
    }
    a.setKey(le32(20));
    ASSERT_EQ(a.call(opGetEqual + getKey, sizeof a.data, 0), 0);
    EXPECT_EQ(a.keyBytes(4), le32(20));
    ASSERT_EQ(a.call(opGetNext + getKey, sizeof a.data, 0), 0);
    EXPECT_EQ(a.keyBytes(4), le32(30));
    EXPECT_EQ(a.call(opGetNext + getKey, sizeof a.data, 0), 9);
}

// ---- Step First (33), Step Next (24), Step Previous (35), Step Last (34).

TEST_P(Conformance, StepsGoInPhysicalOrder) {
    Btr a;
    fill(a, {30, 10, 20});                                   // inserted in this order
    ASSERT_EQ(a.call(opStepPrevious, sizeof a.data, 0), 0);  // from the last insert
    EXPECT_EQ(numberOf(a), 10);
    Btr b;
    ASSERT_EQ(b.open(path), 0);
    EXPECT_EQ(b.call(opStepNext, sizeof b.data, 0), 8);  // no position yet
    std::string order;
    for (std::int16_t st = b.call(opStepFirst, sizeof b.data, 0); st == 0;
         st = b.call(opStepNext, sizeof b.data, 0)) {
        order += std::to_string(numberOf(b)) + " ";
    }
    EXPECT_EQ(order, "30 10 20 ");
    EXPECT_EQ(b.call(opStepNext, sizeof b.data, 0), 9);
    ASSERT_EQ(b.call(opStepLast, sizeof b.data, 0), 0);
    EXPECT_EQ(numberOf(b), 20);
    ASSERT_EQ(b.call(opStepPrevious, sizeof b.data, 0), 0);
    EXPECT_EQ(numberOf(b), 10);
    // A Step leaves no key position: Get Next needs a Get first.
    EXPECT_EQ(b.call(opGetNext, sizeof b.data, 0), 8);
    // Steps may be locked like Gets, and Update works on the record stepped to.
    EXPECT_EQ(b.update(rec(10, "ODD", "stepped")), 0);
}

// ---- Begin (19, 1019), End (20), Abort (21) Transaction.

TEST_P(Conformance, TransactionStatuses) {
    Btr a;
    EXPECT_EQ(a.call(opEnd, 0, 0), 39);    // End without Begin
    EXPECT_EQ(a.call(opAbort, 0, 0), 39);  // Abort without Begin
    ASSERT_EQ(a.call(opBegin, 0, 0), 0);
    EXPECT_EQ(a.call(opBegin, 0, 0), 37);         // nested Begin
    EXPECT_EQ(a.call(opBegin + 1000, 0, 0), 37);  // concurrent form likewise
    EXPECT_EQ(a.call(opEnd, 0, 0), 0);
    ASSERT_EQ(a.call(opBegin + 1000, 0, 0), 0);
    EXPECT_EQ(a.call(opAbort, 0, 0), 0);
    EXPECT_EQ(a.call(opAbort, 0, 0), 39);
}

TEST_P(Conformance, TransactionOverTwoFilesIsAllOrNothing) {
    Btr a, b;
    ASSERT_EQ(a.open(path), 0);
    ASSERT_EQ(b.open(other), 0);
    ASSERT_EQ(a.call(opBegin, 0, 0), 0);
    ASSERT_EQ(a.insert(rec(10, "ODD")), 0);
    ASSERT_EQ(b.insert(rec(20, "EVEN")), 0);
    EXPECT_EQ(a.recordCount(), 1u);  // the transaction sees its own work
    ASSERT_EQ(a.call(opAbort, 0, 0), 0);
    EXPECT_EQ(a.recordCount(), 0u);
    EXPECT_EQ(b.recordCount(), 0u);

    ASSERT_EQ(a.call(opBegin, 0, 0), 0);
    ASSERT_EQ(a.insert(rec(10, "ODD")), 0);
    ASSERT_EQ(b.insert(rec(20, "EVEN")), 0);
    ASSERT_EQ(a.get(opGetEqual, 0, le32(10)), 0);
    ASSERT_EQ(a.update(rec(10, "ODD", "in tx")), 0);
    EXPECT_EQ(a.insert(rec(10, "DUP")), 5);  // a failed operation leaves the rest
    ASSERT_EQ(b.close(), 0);                 // closing keeps the file in the transaction
    ASSERT_EQ(a.call(opEnd, 0, 0), 0);
    ASSERT_EQ(b.open(other), 0);
    EXPECT_EQ(b.recordCount(), 1u);
    ASSERT_EQ(a.get(opGetEqual, 0, le32(10)), 0);
    EXPECT_EQ(a.record(), rec(10, "ODD", "in tx"));
}

// Update (3) inside a transaction: status 5 when the new value of a key
// without duplicates is held; the record and the transaction's other work
// stay as they were, and End (20) commits that work.
TEST_P(Conformance, DuplicateKeyUpdateInATransactionLeavesItsOtherWork) {
    // Key 0 modifiable here.
    const std::string modifiable = file("modifiable.dat");
    Btr a;
    ASSERT_EQ(a.create(modifiable, makeDescription(24, {{{1, 4, 0x0100 | 0x0002, 1}},
                                                        {{5, 4, 0x0001 | 0x0002}}})),
              0);
    ASSERT_EQ(a.open(modifiable), 0);
    ASSERT_EQ(a.insert(rec(10, "ODD")), 0);
    ASSERT_EQ(a.insert(rec(20, "EVEN")), 0);
    ASSERT_EQ(a.call(opBegin, 0, 0), 0);
    ASSERT_EQ(a.insert(rec(30, "EVEN")), 0);
    ASSERT_EQ(a.get(opGetEqual, 0, le32(10)), 0);
    EXPECT_EQ(a.update(rec(20, "ODD", "clash")), 5);
    ASSERT_EQ(a.update(rec(11, "ODD", "renumbered")), 0);  // a new unique value is taken
    ASSERT_EQ(a.call(opEnd, 0, 0), 0);
    Btr b;
    ASSERT_EQ(b.open(modifiable), 0);
    EXPECT_EQ(b.recordCount(), 3u);
    ASSERT_EQ(b.get(opGetEqual, 0, le32(11)), 0);
    EXPECT_EQ(b.record(), rec(11, "ODD", "renumbered"));
    ASSERT_EQ(b.get(opGetEqual, 0, le32(20)), 0);
    EXPECT_EQ(b.record(), rec(20, "EVEN"));
    EXPECT_EQ(b.get(opGetEqual, 0, le32(30)), 0);
}

// Stat (15): the distinct values of a key follow another process's change.
TEST_P(Conformance, StatFollowsAnotherProcessesChange) {
    Btr a;
    fill(a, {10, 20});  // key 1: ODD, EVEN
    ASSERT_EQ(a.call(opStat, sizeof a.data, 0), 0);
    EXPECT_EQ(coding::getU32(a.data + 32 + 6), 2u);
    Partner child([this](Partner& p) {
        Btr b;
        if (b.open(path) != 0 || b.insert(rec(30, "NEW")) != 0) return 1;
        b.close();
        p.signal();
        return 0;
    });
    ASSERT_TRUE(child.wait());
    ASSERT_EQ(a.call(opStat, sizeof a.data, 0), 0);
    EXPECT_EQ(coding::getU32(a.data + 6), 3u);
    EXPECT_EQ(coding::getU32(a.data + 32 + 6), 3u);
    EXPECT_EQ(child.join(), 0);
}

TEST_P(Conformance, AnotherProcessSeesATransactionOnlyWhenItEnds) {
    Partner child([this](Partner& p) {
        Btr b;
        if (b.open(path) != 0) return 1;
        p.wait();  // the parent has inserted inside its transaction
        if (b.recordCount() != 0) return 2;
        p.signal();
        p.wait();  // the parent has ended it
        if (b.recordCount() != 2) return 3;
        return 0;
    });
    Btr a, b;
    ASSERT_EQ(a.open(path), 0);
    ASSERT_EQ(a.call(opBegin, 0, 0), 0);
    ASSERT_EQ(a.insert(rec(10, "ODD")), 0);
    ASSERT_EQ(a.insert(rec(20, "EVEN")), 0);
    child.signal();
    ASSERT_TRUE(child.wait());
    ASSERT_EQ(a.call(opEnd, 0, 0), 0);
    child.signal();
    EXPECT_EQ(child.join(), 0);
}

// ---- Record locks: the +100/+200/+300/+400 biases, Unlock (27); statuses 84,
// 81, 93.

TEST_P(Conformance, LockStatusesWithinOneProcess) {
    Btr a;
    fill(a, {10, 20});
    EXPECT_EQ(a.call(opUnlock, 0, 0), 81);  // no lock to release
    ASSERT_EQ(a.get(opGetEqual + singleNoWait, 0, le32(10)), 0);
    EXPECT_EQ(a.get(opGetEqual + multipleNoWait, 0, le32(20)), 93);  // single and multiple mixed
    EXPECT_EQ(a.call(opUnlock, 0, -2), 81);                          // no multiple locks held
    ASSERT_EQ(a.call(opUnlock, 0, 0), 0);
    EXPECT_EQ(a.call(opUnlock, 0, 0), 81);
    ASSERT_EQ(a.get(opGetEqual + multipleNoWait, 0, le32(10)), 0);
    ASSERT_EQ(a.call(opGetPosition, sizeof a.data, 0), 0);
    const std::string ten(reinterpret_cast<const char*>(a.data), 4);
    ASSERT_EQ(a.get(opGetEqual + multipleNoWait, 0, le32(20)), 0);
    std::memcpy(a.data, ten.data(), 4);
    EXPECT_EQ(a.call(opUnlock, 4, -1), 0);
    std::memcpy(a.data, ten.data(), 4);
    EXPECT_EQ(a.call(opUnlock, 4, -1), 81);  // already released
    EXPECT_EQ(a.call(opUnlock, 0, -2), 0);
    // A single lock ends with the Update of its record.
    ASSERT_EQ(a.get(opGetEqual + singleNoWait, 0, le32(10)), 0);
    ASSERT_EQ(a.update(rec(10, "ODD", "upd")), 0);
    EXPECT_EQ(a.call(opUnlock, 0, 0), 81);
    // Lock biases on operations that do not read are refused.
    EXPECT_EQ(a.call(opInsert + singleNoWait, 24, 0), 1);
}

TEST_P(Conformance, RecordLocksHoldAgainstAnotherProcess) {
    Btr seed;
    fill(seed, {10, 20});
    seed.close();
    Partner child([this](Partner& p) {
        Btr b;
        if (b.open(path) != 0) return 1;
        p.wait();  // the parent holds a single lock on 10
        if (b.get(opGetEqual + singleNoWait, 0, le32(10)) != 84) return 2;
        if (b.record() != rec(10, "ODD")) return 3;  // the record is read all the same
        if (b.update(rec(10, "ODD", "child")) != 84) return 4;
        if (b.call(opDelete, 0, 0) != 84) return 5;
        if (b.get(opGetEqual + singleNoWait, 0, le32(20)) != 0) return 6;  // another record
        if (b.call(opUnlock, 0, 0) != 0) return 7;
        if (b.get(opGetEqual, 0, le32(10)) != 0) return 8;  // plain reads are not held up
        p.signal();
        p.wait();  // the parent has released it
        if (b.get(opGetEqual + singleWait, 0, le32(10)) != 0) return 9;
        if (b.update(rec(10, "ODD", "child")) != 0) return 10;
        p.signal();
        p.wait();  // the parent holds a multiple lock on 20 and closed nothing
        if (b.get(opStepFirst + multipleNoWait, 0) != 0) return 11;  // 10 is free
        if (b.get(opGetEqual + multipleNoWait, 0, le32(20)) != 84) return 12;
        p.signal();
        p.wait();  // the parent closed the file: its locks ended
        if (b.get(opGetEqual + multipleNoWait, 0, le32(20)) != 0) return 13;
        return 0;
    });
    Btr a;
    ASSERT_EQ(a.open(path), 0);
    ASSERT_EQ(a.get(opGetEqual + singleNoWait, 0, le32(10)), 0);
    child.signal();
    ASSERT_TRUE(child.wait()) << "the child stopped at step " << child.join();
    ASSERT_EQ(a.call(opUnlock, 0, 0), 0);
    child.signal();
    ASSERT_TRUE(child.wait());
    ASSERT_EQ(a.get(opGetEqual + multipleNoWait, 0, le32(20)), 0);
    child.signal();
    ASSERT_TRUE(child.wait());
    ASSERT_EQ(a.close(), 0);
    child.signal();
    EXPECT_EQ(child.join(), 0);
}

TEST_P(Conformance, LocksEndWithTheTransaction) {
    Btr seed;
    fill(seed, {10});
    seed.close();
    Partner child([this](Partner& p) {
        Btr b;
        if (b.open(path) != 0) return 1;
        p.wait();
        if (b.get(opGetEqual + singleNoWait, 0, le32(10)) != 84) return 2;
        p.signal();
        p.wait();
        if (b.get(opGetEqual + singleNoWait, 0, le32(10)) != 0) return 3;
        return 0;
    });
    Btr a;
    ASSERT_EQ(a.open(path), 0);
    ASSERT_EQ(a.call(opBegin, 0, 0), 0);
    ASSERT_EQ(a.get(opGetEqual + singleNoWait, 0, le32(10)), 0);
    child.signal();
    ASSERT_TRUE(child.wait());
    ASSERT_EQ(a.call(opEnd, 0, 0), 0);
    child.signal();
    EXPECT_EQ(child.join(), 0);
}

// ---- Key types (extended types of the key specification) and their orders.

std::string bytesOf(std::initializer_list<int> v) {
    std::string s;
    for (const int b : v) s += static_cast<char>(b);
    return s;
}
std::string ieee32(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    std::string s(4, '\0');
    coding::putU32(coding::bytes(s), u);
    return s;
}
std::string ieee64(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    std::string s(8, '\0');
    coding::putU64(coding::bytes(s), u);
    return s;
}
std::string date(int y, int m, int d) {
    return bytesOf({d, m, y & 0xFF, y >> 8});
}
std::string timeOf(int h, int m, int s, int hs) {
    return bytesOf({hs, s, m, h});
}

struct TypeOrder {
    const char* type;
    std::uint8_t extendedType;
    std::uint16_t flags;
    std::vector<std::string> ascending;  // values of the segment, in the documented order
};

TEST_P(Conformance, KeyTypesKeepTheirDocumentedOrders) {
    const std::vector<TypeOrder> cases = {
        {"float (2), 4 bytes",
         2,
         0,
         {ieee32(-1e10f), ieee32(-2.5f), ieee32(-0.125f), ieee32(0.0f), ieee32(0.125f),
          ieee32(3.0f), ieee32(1e10f)}},
        {"float (2), 8 bytes", 2, 0, {ieee64(-7.25), ieee64(-1e-300), ieee64(0), ieee64(1e300)}},
        {"date (3)",
         3,
         0,
         {date(1999, 12, 31), date(2000, 1, 1), date(2000, 1, 2), date(2000, 2, 1),
          date(2026, 1, 1)}},
        {"time (4)",
         4,
         0,
         {timeOf(0, 0, 0, 1), timeOf(0, 0, 1, 0), timeOf(0, 1, 0, 0), timeOf(9, 59, 59, 99),
          timeOf(10, 0, 0, 0)}},
        // Packed digits, the sign in the last nibble (C or F positive, D negative).
        {"decimal (5)",
         5,
         0,
         {bytesOf({0x99, 0x9D}), bytesOf({0x01, 0x0D}), bytesOf({0x00, 0x0C}),
          bytesOf({0x00, 0x1F}), bytesOf({0x12, 0x3C}), bytesOf({0x99, 0x9F})}},
        {"money (6)", 6, 0, {bytesOf({0x50, 0x0D}), bytesOf({0x00, 0x5C}), bytesOf({0x10, 0x0C})}},
        {"logical (7)", 7, 0, {bytesOf({0, 0}), bytesOf({1, 0}), bytesOf({0, 1})}},
        // Digits, the sign overpunched on the last: } J-R negative, { A-I positive.
        {"numeric (8)", 8, 0, {"12R", "12J", "00}", "000", "00A", "009", "123", "12I"}},
        // Microsoft binary format: exponent last, sign in the byte before.
        {"bfloat (9)",
         9,
         0,
         {bytesOf({0, 0, 0x80, 0x82}), bytesOf({0, 0, 0x80, 0x81}), bytesOf({0, 0, 0, 0}),
          bytesOf({0, 0, 0x00, 0x81}), bytesOf({0, 0, 0x40, 0x81}), bytesOf({0, 0, 0x00, 0x82})}},
        {"lstring (10)",
         10,
         0,
         {bytesOf({0, 'z', 'z', 'z'}), bytesOf({1, 'a', 'z', 'z'}), bytesOf({3, 'a', 'b', 'c'}),
          bytesOf({2, 'b', 0, 0})}},
        {"zstring (11)",
         11,
         0,
         {bytesOf({0, 'z', 'z', 'z'}), bytesOf({'a', 0, 'z', 'z'}), bytesOf({'a', 'b', 0, 0}),
          bytesOf({'b', 0, 0, 0})}},
        {"zstring (11), case-insensitive",
         11,
         0x0400,
         {bytesOf({'a', 'B', 0, 0}), bytesOf({'A', 'c', 0, 0}), bytesOf({'b', 0, 0, 0})}},
        {"unsigned binary (14)",
         14,
         0,
         {bytesOf({1, 0, 0, 0}), bytesOf({0xFF, 0, 0, 0}), bytesOf({0, 1, 0, 0}),
          bytesOf({0, 0, 0, 0x80})}},
        {"currency (19)",
         19,
         0,
         {ieee64(-1.0) /* any negative 64-bit integer */, std::string(8, '\0'),
          bytesOf({1, 0, 0, 0, 0, 0, 0, 0}), bytesOf({0, 1, 0, 0, 0, 0, 0, 0})}},
        {"timestamp (20)",
         20,
         0,
         {bytesOf({5, 0, 0, 0, 0, 0, 0, 0}), bytesOf({0, 0, 0, 0, 0, 0, 0, 1}),
          bytesOf({0, 0, 0, 0, 0, 0, 0, 2})}},
    };
    int n = 0;
    for (const TypeOrder& c : cases) {
        const std::uint16_t length = static_cast<std::uint16_t>(c.ascending.front().size());
        const std::string typed = file("type" + std::to_string(n++) + ".dat");
        Btr b;
        ASSERT_EQ(b.create(typed, makeDescription(
                                      static_cast<std::uint16_t>(length + 2),
                                      {{{1, length, static_cast<std::uint16_t>(0x0100 | c.flags),
                                         c.extendedType}}})),
                  0)
            << c.type;
        ASSERT_EQ(b.open(typed), 0);
        // Inserted in reverse, with their rank after the value.
        for (std::size_t i = c.ascending.size(); i-- > 0;) {
            ASSERT_EQ(b.insert(c.ascending[i] + static_cast<char>(i) + '.'), 0)
                << c.type << " " << i;
        }
        std::string ranks;
        for (std::int16_t st = b.get(opGetFirst, 0); st == 0;
             st = b.call(opGetNext, sizeof b.data, 0)) {
            ranks += static_cast<char>('0' + b.data[length]);
        }
        std::string expected;
        for (std::size_t i = 0; i < c.ascending.size(); ++i) expected += static_cast<char>('0' + i);
        EXPECT_EQ(ranks, expected) << c.type;
        b.close();
    }
}

TEST_P(Conformance, KeyTypeRefusals) {
    struct Case {
        const char* what;
        std::string description;
        std::int16_t status;
    };
    const Case cases[] = {
        {"float of 6 bytes (29)", makeDescription(8, {{{1, 6, 0x0100, 2}}}), 29},
        {"date of 3 bytes (29)", makeDescription(8, {{{1, 3, 0x0100, 3}}}), 29},
        {"currency of 4 bytes (29)", makeDescription(8, {{{1, 4, 0x0100, 19}}}), 29},
        {"note (12), not a key type (49)", makeDescription(8, {{{1, 4, 0x0100, 12}}}), 49},
        {"case-insensitive float (45)", makeDescription(8, {{{1, 4, 0x0100 | 0x0400, 2}}}), 45},
        {"collated integer (45)", makeDescription(8, {{{1, 4, 0x0100 | 0x0020, 1}}}), 45},
    };
    for (const Case& c : cases) {
        Btr maker;
        EXPECT_EQ(maker.create(file("refused.dat"), c.description), c.status) << c.what;
    }
}

// ---- Autoincrement keys (extended type 15; Btrieve API Guide, key types):
// signed, 2, 4 or 8 bytes, ordered by absolute value; a zero value on Insert
// or Update takes the highest value in the file plus 1, a non-zero value is
// kept as given, and a value a unique key already holds gives status 5.

TEST_P(Conformance, AutoincrementKeyNumbersZeroValues) {
    for (const std::uint16_t length : {2, 4, 8}) {
        const std::string numbered = file("auto" + std::to_string(length) + ".dat");
        Btr b;
        ASSERT_EQ(b.create(numbered, makeDescription(12, {{{1, length, 0x0100 | 0x0002, 15}}})), 0)
            << length;
        ASSERT_EQ(b.open(numbered), 0);
        auto record = [&](std::int64_t v, char tag) {
            std::string r(12, tag);
            for (std::uint16_t i = 0; i < length; ++i)
                r[i] = static_cast<char>(static_cast<std::uint64_t>(v) >> (8 * i));
            return r;
        };
        auto value = [&](const unsigned char* p) {
            std::uint64_t v = 0;
            for (std::uint16_t i = 0; i < length; ++i) v |= std::uint64_t{p[i]} << (8 * i);
            return v;
        };
        // The first zero in an empty file takes 1; the data buffer and the
        // key buffer get the value given.
        ASSERT_EQ(b.insert(record(0, 'a')), 0);
        EXPECT_EQ(value(b.data), 1u) << length;
        EXPECT_EQ(value(b.key), 1u) << length;
        ASSERT_EQ(b.insert(record(0, 'b')), 0);
        EXPECT_EQ(value(b.data), 2u) << length;
        // A value given is kept; the next zero follows the highest.
        ASSERT_EQ(b.insert(record(40, 'c')), 0);
        ASSERT_EQ(b.insert(record(0, 'd')), 0);
        EXPECT_EQ(value(b.data), 41u) << length;
        // A value held: 5, nothing stored.
        EXPECT_EQ(b.insert(record(40, 'e')), 5) << length;
        // By absolute value: -50 is beyond 41, so the next zero takes 51.
        ASSERT_EQ(b.insert(record(-50, 'f')), 0);
        ASSERT_EQ(b.insert(record(0, 'g')), 0);
        EXPECT_EQ(value(b.data), 51u) << length;
        EXPECT_EQ(b.recordCount(), 6u);
        std::string order;
        for (std::int16_t st = b.get(opGetFirst, 0); st == 0;
             st = b.call(opGetNext, sizeof b.data, 0)) {
            order += static_cast<char>(b.data[11]);
        }
        EXPECT_EQ(order, "abcdfg") << length;
        // Update with a zero value numbers the record anew.
        ASSERT_EQ(b.get(opGetEqual, 0, record(1, 0).substr(0, length)), 0);
        ASSERT_EQ(b.update(record(0, 'a')), 0);
        EXPECT_EQ(value(b.data), 52u) << length;
        ASSERT_EQ(b.get(opGetLast, 0), 0);
        EXPECT_EQ(b.data[11], 'a');
        b.close();
    }
}

TEST_P(Conformance, AutoincrementSegmentOfAKeyAndOutsideTheLeadingSegment) {
    // Key 0: a string then an autoincrement field (not its leading
    // segment); key 1: the autoincrement field alone, descending.
    const std::string numbered = file("autoseg.dat");
    Btr b;
    ASSERT_EQ(b.create(numbered, makeDescription(8, {{{1, 4}, {5, 4, 0x0100, 15}},
                                                     {{5, 4, 0x0100 | 0x0040, 15}}})),
              0);
    ASSERT_EQ(b.open(numbered), 0);
    ASSERT_EQ(b.insert(std::string("AAAA") + le32(7)), 0);
    ASSERT_EQ(b.insert(std::string("BBBB") + le32(0)), 0);
    EXPECT_EQ(coding::getI32(b.data + 4), 8);
    ASSERT_EQ(b.insert(std::string("AAAA") + le32(0)), 0);
    EXPECT_EQ(coding::getI32(b.data + 4), 9);
    // The value written goes to the key buffer with the string before it.
    EXPECT_EQ(b.keyBytes(8), std::string("AAAA") + le32(9));
    ASSERT_EQ(b.get(opGetFirst, 1), 0);
    EXPECT_EQ(coding::getI32(b.data + 4), 9);
}

TEST_P(Conformance, AutoincrementLengthsOtherThan248Give29) {
    for (const std::uint16_t length : {1, 3, 6}) {
        Btr maker;
        EXPECT_EQ(
            maker.create(file("badauto.dat"), makeDescription(8, {{{1, length, 0x0100, 15}}})), 29)
            << length;
    }
}

TEST_P(Conformance, AutoincrementNumbersOfTwoProcessesNeverCollide) {
    // Both processes insert zero values at once; every record gets its own
    // number, none is refused.
    Btr opener;
    const std::string numbered = file("auto2.dat");
    ASSERT_EQ(opener.create(numbered, makeDescription(8, {{{1, 4, 0x0100, 15}}})), 0);
    constexpr int perProcess = 200;
    Partner child([&](Partner& p) {
        Btr c;
        if (c.open(numbered) != 0) return 1;
        p.signal();
        for (int i = 0; i < perProcess; ++i) {
            if (c.insert(le32(0) + "chld") != 0) return 2;
        }
        return 0;
    });
    ASSERT_TRUE(child.wait());
    Btr b;
    ASSERT_EQ(b.open(numbered), 0);
    for (int i = 0; i < perProcess; ++i) ASSERT_EQ(b.insert(le32(0) + "prnt"), 0) << i;
    EXPECT_EQ(child.join(), 0);
    EXPECT_EQ(b.recordCount(), 2u * perProcess);
    ASSERT_EQ(b.get(opGetLast, 0), 0);
    EXPECT_EQ(coding::getI32(b.data), 2 * perProcess);
}

// ---- Null keys (Create, key flags: 0x0008 null key, all segments; 0x0200
// manual key, any segment; the null value in byte 11 of the key
// specification): a record whose key is null is not in that key's index, so
// no Get along the key finds it, a unique key takes any number of them, and
// Stat counts no value for them; Step reads every record.

TEST_P(Conformance, NullKeysLeaveNullRecordsOutOfTheirIndex) {
    struct Case {
        std::uint16_t flag;
        const char* alongKey;  // the ids key 1 gives, in its order
        std::uint32_t distinct;
    };
    const Case cases[] = {
        {0x0008, "415", 3},  // all segments null: only 2 and 3 are out
        {0x0200, "1", 1},    // any segment null: 2, 3, 4 and 5 are out
    };
    for (const Case& c : cases) {
        // Key 0: an integer id; key 1, unique and modifiable: two string
        // segments whose null value is a blank.
        const auto flags = static_cast<std::uint16_t>(c.flag | 0x0002);
        std::string d = makeDescription(10, {{{1, 4, 0x0100, 1}}, {{5, 4, flags}, {9, 2, flags}}});
        d[16 + 16 + 11] = ' ';
        d[16 + 32 + 11] = ' ';
        const std::string nulls = file("null" + std::to_string(c.flag) + ".dat");
        Btr b;
        ASSERT_EQ(b.create(nulls, d), 0);
        ASSERT_EQ(b.open(nulls), 0);
        ASSERT_EQ(b.insert(le32(1) + "AAAABB"), 0);
        ASSERT_EQ(b.insert(le32(2) + "      "), 0);
        ASSERT_EQ(b.insert(le32(3) + "      "), 0);  // a second null: no 5
        ASSERT_EQ(b.insert(le32(4) + "    CC"), 0);
        ASSERT_EQ(b.insert(le32(5) + "DDDD  "), 0);
        EXPECT_EQ(b.insert(le32(6) + "AAAABB"), 5) << c.flag;  // values stay unique
        std::string along;
        for (std::int16_t st = b.get(opGetFirst, 1); st == 0;
             st = b.call(opGetNext, sizeof b.data, 1)) {
            along += static_cast<char>('0' + numberOf(b));
        }
        EXPECT_EQ(along, c.alongKey) << c.flag;
        std::string back;
        for (std::int16_t st = b.get(opGetLast, 1); st == 0;
             st = b.call(opGetPrevious, sizeof b.data, 1)) {
            back.insert(back.begin(), static_cast<char>('0' + numberOf(b)));
        }
        EXPECT_EQ(back, c.alongKey) << c.flag;
        EXPECT_EQ(b.get(opGetEqual, 1, "      "), 4) << c.flag;
        EXPECT_EQ(b.get(opGetGreaterOrEqual, 1, "      "), 0) << c.flag;
        EXPECT_EQ(numberOf(b), c.alongKey[0] - '0') << c.flag;
        // Step reads them all.
        int stepped = 0;
        for (std::int16_t st = b.call(opStepFirst, sizeof b.data, 0); st == 0;
             st = b.call(opStepNext, sizeof b.data, 0)) {
            ++stepped;
        }
        EXPECT_EQ(stepped, 5) << c.flag;
        // Stat: five records; key 1 counts only the values in its index.
        ASSERT_EQ(b.stat(), 0);
        EXPECT_EQ(coding::getU32(b.data + 6), 5u);
        EXPECT_EQ(coding::getU32(b.data + 16 + 16 + 6), c.distinct) << c.flag;
        // The null value comes back in the Stat answer.
        EXPECT_EQ(b.data[16 + 16 + 11], ' ');
        // Updated to a null key, a record leaves the index; from one, it
        // joins it.
        ASSERT_EQ(b.get(opGetEqual, 0, le32(1)), 0);
        ASSERT_EQ(b.update(le32(1) + "      "), 0);
        ASSERT_EQ(b.get(opGetEqual, 0, le32(2)), 0);
        ASSERT_EQ(b.update(le32(2) + "ZZZZZZ"), 0);
        std::string after;
        for (std::int16_t st = b.get(opGetFirst, 1); st == 0;
             st = b.call(opGetNext, sizeof b.data, 1)) {
            after += static_cast<char>('0' + numberOf(b));
        }
        std::string expected = c.alongKey;
        expected.erase(expected.find('1'), 1);
        EXPECT_EQ(after, expected + "2") << c.flag;
        b.close();
    }
}

// ---- Get by Percentage (44), Find Percentage (45): a percentage in
// hundredths, 0 (the start of the key path or file) to 10,000 (its end), in
// the first 2 bytes of the data buffer (low byte first), which must offer at
// least 4 bytes; key number -1: physical location. Get by Percentage reads
// the record there and makes it the position; Find Percentage returns the
// percentage of the key value in the key buffer, or of the record at the
// 4-byte position in the data buffer.

TEST_P(Conformance, GetByPercentageAlongAKeyAndPhysically) {
    Btr b;
    ASSERT_EQ(b.open(path), 0);
    EXPECT_EQ(b.call(44, sizeof b.data, 0), 9);  // an empty file
    // Inserted from 101 down to 1: physical order is the reverse of key 0's.
    for (std::int32_t n = 101; n >= 1; --n) ASSERT_EQ(b.insert(rec(n, "G")), 0);
    struct Case {
        std::uint16_t percentage;
        std::int8_t keyNumber;
        std::int32_t number;
    };
    const Case cases[] = {
        {0, 0, 1},    {10000, 0, 101}, {5000, 0, 51},  {2500, 0, 26},
        {0, -1, 101}, {10000, -1, 1},  {5000, -1, 51}, {9900, -1, 2},
    };
    for (const Case& c : cases) {
        coding::putU16(b.data, c.percentage);
        ASSERT_EQ(b.call(44, sizeof b.data, c.keyNumber), 0) << c.percentage << " " << +c.keyNumber;
        EXPECT_EQ(b.length, 24u);
        EXPECT_EQ(numberOf(b), c.number) << c.percentage << " " << +c.keyNumber;
    }
    // Along a key the record is the position along it, and its key value is
    // in the key buffer.
    coding::putU16(b.data, 5000);
    ASSERT_EQ(b.call(44, sizeof b.data, 0), 0);
    EXPECT_EQ(b.keyBytes(4), le32(51));
    ASSERT_EQ(b.call(opGetNext, sizeof b.data, 0), 0);
    EXPECT_EQ(numberOf(b), 52);
    // Physically, the record is the physical position: Step Next follows.
    coding::putU16(b.data, 5000);
    ASSERT_EQ(b.call(44, sizeof b.data, -1), 0);
    ASSERT_EQ(b.call(opStepNext, sizeof b.data, 0), 0);
    EXPECT_EQ(numberOf(b), 50);
    // Refusals: beyond 10,000 (1), no such key (6), a data buffer under 4
    // bytes (22).
    coding::putU16(b.data, 10001);
    EXPECT_EQ(b.call(44, sizeof b.data, 0), 1);
    coding::putU16(b.data, 0);
    EXPECT_EQ(b.call(44, sizeof b.data, 5), 6);
    EXPECT_EQ(b.call(44, 2, 0), 22);
}

TEST_P(Conformance, FindPercentageOfAKeyValueAndOfAPosition) {
    Btr b;
    ASSERT_EQ(b.open(path), 0);
    for (std::int32_t n = 101; n >= 1; --n) ASSERT_EQ(b.insert(rec(n, "G")), 0);
    for (const auto& [number, percentage] :
         std::vector<std::pair<std::int32_t, std::uint32_t>>{{1, 0}, {51, 5000}, {101, 10000}}) {
        b.setKey(le32(number));
        ASSERT_EQ(b.call(45, sizeof b.data, 0), 0) << number;
        EXPECT_EQ(b.length, 4u);
        EXPECT_EQ(coding::getU32(b.data), percentage) << number;
    }
    b.setKey(le32(500));
    EXPECT_EQ(b.call(45, sizeof b.data, 0), 4);
    EXPECT_EQ(b.call(45, sizeof b.data, 0, 2), 21);
    // Physically: the record at a position Get Position gave. Record 101
    // came first, record 1 last.
    ASSERT_EQ(b.get(opGetEqual, 0, le32(51)), 0);
    ASSERT_EQ(b.call(opGetPosition, sizeof b.data, 0), 0);
    ASSERT_EQ(b.call(45, sizeof b.data, -1), 0);
    EXPECT_EQ(coding::getU32(b.data), 5000u);
    // The position is not moved: Get Next goes on from 51.
    ASSERT_EQ(b.call(opGetNext, sizeof b.data, 0), 0);
    EXPECT_EQ(numberOf(b), 52);
    std::memset(b.data, 0, 4);
    EXPECT_EQ(b.call(45, sizeof b.data, -1), 43);
    coding::putU16(b.data, 0x7FFF);
    EXPECT_EQ(b.call(45, sizeof b.data, -1), 43);
}

// ---- Get Next Extended (36), Get Previous Extended (37), Step Next
// Extended (38), Step Previous Extended (39): a descriptor in the data
// buffer (length, "EG" to start after the position or "UC" at it; a filter:
// maximum reject count, terms of key type, field length, offset, comparison
// 1-6 (+32 case-insensitive, +64 against another field), connector 0 last,
// 1 AND, 2 OR, value; an extractor: records wanted, fields as length and
// offset). The answer: the number of records, then for each its extracted
// length, its 4-byte position and the fields. Status 9: the end came first,
// 60: the reject count was reached (both with the records found so far),
// 62: an incorrect descriptor. The last record looked at is the position.

struct Term {
    std::uint8_t type;
    std::uint16_t length, offset;
    std::uint8_t comparison, connector;
    std::string value;  // or, with +64 in the comparison, the other field's offset
};

std::string descriptor(const char* signature, std::uint16_t maxReject,
                       const std::vector<Term>& terms, std::uint16_t records,
                       const std::vector<std::pair<std::uint16_t, std::uint16_t>>& fields) {
    std::string d(4, '\0');
    d[2] = signature[0];
    d[3] = signature[1];
    auto u16 = [&](std::uint16_t v) {
        d += static_cast<char>(v & 0xFF);
        d += static_cast<char>(v >> 8);
    };
    u16(maxReject);
    u16(static_cast<std::uint16_t>(terms.size()));
    for (const Term& t : terms) {
        d += static_cast<char>(t.type);
        u16(t.length);
        u16(t.offset);
        d += static_cast<char>(t.comparison);
        d += static_cast<char>(t.connector);
        d += t.value;
    }
    u16(records);
    u16(static_cast<std::uint16_t>(fields.size()));
    for (const auto& [length, offset] : fields) {
        u16(length);
        u16(offset);
    }
    coding::putU16(coding::bytes(d), static_cast<std::uint16_t>(d.size()));
    return d;
}

// Sends `d` with operation `op`; the numbers (first 4 bytes extracted) of
// the records answered.
std::int16_t extendedRead(Btr& b, std::uint16_t op, std::int8_t keyNumber, const std::string& d,
                          std::vector<std::int32_t>& numbers, std::uint32_t offered = 1536) {
    std::memcpy(b.data, d.data(), d.size());
    const std::int16_t st = b.call(op, offered, keyNumber);
    numbers.clear();
    if (b.length < 2) return st;
    const std::uint16_t count = coding::getU16(b.data);
    std::size_t at = 2;
    for (std::uint16_t i = 0; i < count && at + 6 <= b.length; ++i) {
        const std::uint16_t length = coding::getU16(b.data + at);
        numbers.push_back(coding::getI32(b.data + at + 6));
        at += 6 + length;
    }
    EXPECT_EQ(at, b.length);
    return st;
}

TEST_P(Conformance, GetNextAndPreviousExtendedFilterAndExtract) {
    Btr b;
    fill(b, {50, 10, 90, 30, 70, 20, 60, 40, 100, 80});
    const Term even{0, 4, 4, 1, 0, "EVEN"};
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> number{{4, 0}};
    std::vector<std::int32_t> got;
    ASSERT_EQ(b.get(opGetFirst, 0), 0);  // 10
    EXPECT_EQ(extendedRead(b, 36, 0, descriptor("EG", 0, {even}, 3, number), got), 0);
    EXPECT_EQ(got, (std::vector<std::int32_t>{20, 40, 60}));
    // The position is the last record looked at.
    ASSERT_EQ(b.call(opGetNext, sizeof b.data, 0), 0);
    EXPECT_EQ(numberOf(b), 70);
    // "UC" takes the record at the position first.
    EXPECT_EQ(extendedRead(b, 36, 0, descriptor("UC", 0, {even}, 2, number), got), 0);
    EXPECT_EQ(got, (std::vector<std::int32_t>{80, 100}));
    // The end first: 9, with what was found.
    ASSERT_EQ(b.get(opGetEqual, 0, le32(50)), 0);
    EXPECT_EQ(extendedRead(b, 36, 0, descriptor("EG", 0, {even}, 10, number), got), 9);
    EXPECT_EQ(got, (std::vector<std::int32_t>{60, 80, 100}));
    // Backwards along the key, a case-insensitive value (+32) and an OR.
    ASSERT_EQ(b.get(opGetLast, 0), 0);
    const std::vector<Term> oddOrTen = {{0, 4, 4, 1 + 32, 2, "odd "}, {1, 4, 0, 1, 0, le32(20)}};
    EXPECT_EQ(extendedRead(b, 37, 0, descriptor("EG", 0, oddOrTen, 4, number), got), 0);
    EXPECT_EQ(got, (std::vector<std::int32_t>{90, 70, 50, 30}));
    // An integer range with AND; the reject count reached: 60.
    ASSERT_EQ(b.get(opGetFirst, 0), 0);
    const std::vector<Term> above = {{1, 4, 0, 2, 1, le32(15)}, {1, 4, 0, 6, 0, le32(35)}};
    EXPECT_EQ(extendedRead(b, 36, 0, descriptor("EG", 0, above, 5, number), got), 9);
    EXPECT_EQ(got, (std::vector<std::int32_t>{20, 30}));
    ASSERT_EQ(b.get(opGetFirst, 0), 0);
    EXPECT_EQ(
        extendedRead(b, 36, 0, descriptor("EG", 2, {{1, 4, 0, 2, 0, le32(1000)}}, 1, number), got),
        60);
    EXPECT_TRUE(got.empty());
    ASSERT_EQ(b.call(opGetNext, sizeof b.data, 0), 0);
    EXPECT_EQ(numberOf(b), 40);  // 20 and 30 were looked at
    // Along another key than the position's: 7.
    EXPECT_EQ(extendedRead(b, 36, 1, descriptor("EG", 0, {even}, 1, number), got), 7);
}

TEST_P(Conformance, StepExtendedGoesInPhysicalOrderAndComparesFields) {
    Btr b;
    ASSERT_EQ(b.open(path), 0);
    // The group equals the payload's first 4 bytes in 2 and 4 only.
    ASSERT_EQ(b.insert(rec(1, "AAAA", "BBBB")), 0);
    ASSERT_EQ(b.insert(rec(4, "CCCC", "CCCC")), 0);
    ASSERT_EQ(b.insert(rec(3, "DDDD", "EEEE")), 0);
    ASSERT_EQ(b.insert(rec(2, "FFFF", "FFFF")), 0);
    // Against another field (+64): the term gives the other field's offset.
    std::string at8(2, '\0');
    coding::putU16(coding::bytes(at8), 8);
    const Term same{0, 4, 4, 1 + 64, 0, at8};
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> fields{{4, 0}, {4, 8}};
    std::vector<std::int32_t> got;
    ASSERT_EQ(b.call(opStepFirst, sizeof b.data, 0), 0);
    EXPECT_EQ(extendedRead(b, 38, 0, descriptor("UC", 0, {same}, 5, fields), got), 9);
    EXPECT_EQ(got, (std::vector<std::int32_t>{4, 2}));
    // Each record: 8 bytes extracted, its position, the two fields.
    ASSERT_EQ(b.call(opStepLast, sizeof b.data, 0), 0);
    EXPECT_EQ(extendedRead(b, 39, 0, descriptor("EG", 0, {}, 2, fields), got), 0);
    EXPECT_EQ(got, (std::vector<std::int32_t>{3, 4}));
    EXPECT_EQ(coding::getU16(b.data + 2), 8u);
    EXPECT_EQ(b.record().substr(8, 8), le32(3) + "EEEE");
    const std::string position = b.record().substr(4, 4);
    std::memcpy(b.data, position.data(), 4);
    ASSERT_EQ(b.call(opGetDirect, sizeof b.data, 0), 0);
    EXPECT_EQ(numberOf(b), 3);
}

TEST_P(Conformance, ExtendedDescriptorRefusals) {
    Btr b;
    fill(b, {10, 20, 30});
    ASSERT_EQ(b.get(opGetFirst, 0), 0);
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> number{{4, 0}};
    std::vector<std::int32_t> got;
    struct Case {
        const char* what;
        std::string d;
        std::uint32_t offered;
        std::int16_t status;
    };
    std::string cut = descriptor("EG", 0, {}, 1, number);
    coding::putU16(coding::bytes(cut), 9);
    const Case cases[] = {
        {"no signature", descriptor("XX", 0, {}, 1, number), 1536, 62},
        {"a length past the data buffer", descriptor("EG", 0, {}, 1, number), 10, 62},
        {"a descriptor cut short", cut, 1536, 62},
        {"a field past the record", descriptor("EG", 0, {}, 1, {{4, 22}}), 1536, 62},
        {"comparison 7", descriptor("EG", 0, {{0, 4, 4, 7, 0, "EVEN"}}, 1, number), 1536, 62},
        {"a last term with a connector", descriptor("EG", 0, {{0, 4, 4, 1, 1, "EVEN"}}, 1, number),
         1536, 62},
        {"an integer of 3 bytes", descriptor("EG", 0, {{1, 3, 0, 1, 0, "abc"}}, 1, number), 1536,
         62},
        {"no record wanted", descriptor("EG", 0, {}, 0, number), 1536, 62},
        {"an answer longer than the buffer", descriptor("EG", 0, {}, 200, {{24, 0}}), 1536, 22},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(extendedRead(b, 36, 0, c.d, got, c.offered), c.status) << c.what;
    }
    // Nothing moved: Get Next goes on from 10.
    ASSERT_EQ(b.call(opGetNext, sizeof b.data, 0), 0);
    EXPECT_EQ(numberOf(b), 20);
}

// ---- Insert Extended (40): the data buffer holds the number of records,
// then each record after its 2-byte length; they are inserted in order until
// one fails (its status returned, the ones before it stored). The answer:
// the number inserted, then the 4-byte position of each. The position is the
// last record inserted, along the key number given.

std::string batch(const std::vector<std::string>& records) {
    std::string b(2, '\0');
    coding::putU16(coding::bytes(b), static_cast<std::uint16_t>(records.size()));
    for (const std::string& r : records) {
        std::string length(2, '\0');
        coding::putU16(coding::bytes(length), static_cast<std::uint16_t>(r.size()));
        b += length + r;
    }
    return b;
}

TEST_P(Conformance, InsertExtendedStoresRecordsInOrderUntilOneFails) {
    Btr b;
    fill(b, {10, 20});
    std::string in = batch({rec(5, "ODD"), rec(15, "ODD"), rec(25, "ODD")});
    std::memcpy(b.data, in.data(), in.size());
    ASSERT_EQ(b.call(40, static_cast<std::uint32_t>(in.size()), 0), 0);
    ASSERT_EQ(b.length, 2u + 3 * 4);
    EXPECT_EQ(coding::getU16(b.data), 3u);
    const std::string second = b.record().substr(6, 4);
    // The position is the last record, along key 0.
    EXPECT_EQ(b.keyBytes(4), le32(25));
    ASSERT_EQ(b.call(opGetPrevious, sizeof b.data, 0), 0);
    EXPECT_EQ(numberOf(b), 20);
    std::memcpy(b.data, second.data(), 4);
    ASSERT_EQ(b.call(opGetDirect, sizeof b.data, 0), 0);
    EXPECT_EQ(numberOf(b), 15);
    EXPECT_EQ(b.recordCount(), 5u);
    // A duplicate stops the batch: 5, the record before it stays.
    in = batch({rec(35, "ODD"), rec(10, "EVEN"), rec(45, "ODD")});
    std::memcpy(b.data, in.data(), in.size());
    EXPECT_EQ(b.call(40, static_cast<std::uint32_t>(in.size()), 0), 5);
    EXPECT_EQ(b.length, 2u + 4);
    EXPECT_EQ(coding::getU16(b.data), 1u);
    EXPECT_EQ(b.get(opGetEqual, 0, le32(35)), 0);
    EXPECT_EQ(b.get(opGetEqual, 0, le32(45)), 4);
    // A count past the data given, or a record shorter than the record
    // length: 22, nothing stored.
    in = batch({rec(55, "ODD"), rec(65, "ODD")});
    std::memcpy(b.data, in.data(), in.size());
    EXPECT_EQ(b.call(40, static_cast<std::uint32_t>(in.size() - 1), 0), 22);
    in = batch({rec(55, "ODD"), rec(65, "ODD").substr(0, 20)});
    std::memcpy(b.data, in.data(), in.size());
    EXPECT_EQ(b.call(40, static_cast<std::uint32_t>(in.size()), 0), 22);
    EXPECT_EQ(b.recordCount(), 6u);
}

// ---- An alternate collating sequence given in the description; status 48.

TEST_P(Conformance, AlternateCollatingSequenceOrdersTheKey) {
    // An order in which the vowels come first, then the other bytes.
    std::string acs(265, '\0');
    acs[0] = static_cast<char>(0xAC);
    std::memcpy(&acs[1], "VOWELS1 ", 8);
    std::string rest;
    for (int c = 0; c < 256; ++c) {
        if (std::string("AEIOU").find(static_cast<char>(c)) == std::string::npos)
            rest += static_cast<char>(c);
    }
    const std::string order = std::string("AEIOU") + rest;
    for (int i = 0; i < 256; ++i)
        acs[9 + static_cast<unsigned char>(order[static_cast<std::size_t>(i)])] =
            static_cast<char>(i);
    const std::string description = makeDescription(4, {{{1, 2, 0x0020}}}) + acs;
    const std::string collated = file("acs.dat");
    Btr b;
    ASSERT_EQ(b.create(collated, description), 0);
    ASSERT_EQ(b.open(collated), 0);
    for (const char* v : {"BA..", "AB..", "UZ..", "ZZ.."}) ASSERT_EQ(b.insert(v), 0);
    std::string got;
    for (std::int16_t st = b.get(opGetFirst, 0); st == 0;
         st = b.call(opGetNext, sizeof b.data, 0)) {
        got += b.record().substr(0, 2) + " ";
    }
    EXPECT_EQ(got, "AB UZ BA ZZ ");
    // Stat gives the sequence back after the key specifications.
    ASSERT_EQ(b.call(opStat, sizeof b.data, 0), 0);
    ASSERT_EQ(b.length, 16u + 16u + 265u);
    EXPECT_EQ(b.record().substr(32), acs);
    // A sequence without its signature byte: 48.
    std::string bad = acs;
    bad[0] = 0x00;
    Btr maker;
    EXPECT_EQ(maker.create(file("badacs.dat"), makeDescription(4, {{{1, 2, 0x0020}}}) + bad), 48);
    // A description that ends before its sequence: 22.
    maker.setKey(file("short.dat"));
    std::memcpy(maker.data, description.data(), description.size());
    EXPECT_EQ(maker.call(opCreate, 16 + 16 + 100, -1), 22);
}

NUBO_ON_EVERY_BACKEND(Conformance);

}  // namespace
