// The preview and the program agree owner by owner: on random
// installations and work files, the owners the preview says get a new
// collection are exactly those the program inserts, with the same amounts
// and state; the sums it says cannot be stored are the program's status
// 1008 lines; and after the run the preview finds every collection there.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "tests/support/installation.h"
#include "tools/preview.h"

namespace nubodat {
namespace {

struct Expected {
    std::int32_t total = 0, flagged = 0;
    char state = ' ';
};

e2e::WorkFile randomWorkFile(std::mt19937& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    e2e::WorkFile w;
    const int month = pick(10) == 0 ? 13 + pick(3) : 1 + pick(12);
    w.issueDate = pick(12) == 0
                      ? "15 June 2026"
                      : std::to_string(1 + pick(28)) + "/" + std::to_string(month) + "/2026";
    const char* numbers[] = {"01", "1", "07", "99", ""};
    w.issueNumber = numbers[pick(5)];
    w.firstProperty = std::to_string(pick(3));
    w.firstOwner = std::to_string(pick(3));
    w.lastProperty = std::to_string(3 + pick(4));
    w.lastOwner = pick(2) == 0 ? "9999" : std::to_string(pick(5));
    for (std::size_t i = 0; i < 3; ++i) {
        w.methodEnabled[i] = pick(4) == 0 ? "N" : "S";
        w.seriesFrom[i] = std::to_string(pick(3));
        w.seriesTo[i] = pick(2) == 0 ? "9999" : std::to_string(2 + pick(20));
    }
    for (auto& c : w.conceptEnabled) c = pick(5) == 0 ? "N" : "S";
    return w;
}

void addRandomInstallation(e2e::Installation& inst, std::mt19937& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::vector<e2e::Property> properties;
    std::vector<e2e::Owner> owners;
    const std::int16_t cycles[] = {12, 12, 6, 1, 0, -1};
    const std::int16_t periods[] = {0, 1, 1, 2, 3, 3, 4, 6, 12, -1};
    const char methods[] = "AAABBFFX ";
    const char moments[] = "  MVm";
    for (int p = 1; p <= 6; ++p) {
        if (pick(4) == 0) continue;
        properties.push_back({p, static_cast<std::int16_t>(1 + pick(12)), cycles[pick(6)]});
        for (int o = 0, n = pick(9); o < n; ++o) {
            e2e::Owner w;
            w.property = p;
            w.owner = o;
            w.paymentMethod = methods[pick(9)];
            w.seriesHigh = pick(8) == 0 ? 32 : static_cast<unsigned char>(128 + pick(2));
            w.seriesLow = static_cast<unsigned char>(128 + pick(25));
            w.billingMoment = moments[pick(5)];
            for (int k = 1; k <= 10; ++k) {
                if (pick(3) == 0) continue;
                e2e::ConceptEntry& c = w.concepts[static_cast<std::size_t>(k)];
                c.flag = pick(3) == 0 ? 'N' : ' ';
                c.periodMonths = periods[pick(10)];
                c.amount = pick(15) == 0 ? 2147483000 : pick(2000) - 300;
                c.code = static_cast<std::int16_t>(pick(3) - 1);
            }
            owners.push_back(w);
        }
    }
    inst.addProperties(properties);
    inst.addOwners(owners);
}

std::int32_t int32At(const std::string& r, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(r[at + static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(v);
}

TEST(PreviewAgreement, PreviewAndProgramAgreeOwnerByOwner) {
    int inserted = 0, refused = 0, unusable = 0;
    for (unsigned seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        e2e::Installation inst;
        addRandomInstallation(inst, rng);
        inst.writeWorkFile(randomWorkFile(rng));
        const std::string workFile = inst.work() + "pent.tmp";

        const IssuePreview before = previewIssue(inst.root(), workFile);
        std::map<std::string, Expected> expected;
        std::size_t outOfRange = 0;
        for (const OwnerPreview& o : before.owners) {
            if (o.outcome == PreviewOutcome::Insert)
                expected[e2e::ownerKey(o.property, o.owner)] = {
                    static_cast<std::int32_t>(o.total), static_cast<std::int32_t>(o.flagged),
                    o.state};
            if (o.outcome == PreviewOutcome::OutOfRange) ++outOfRange;
            EXPECT_NE(o.outcome, PreviewOutcome::Exists);
        }
        if (!before.dateUsable) ++unusable;

        ASSERT_EQ(inst.run(COBRAM_PROGRAM).exitCode, 0);
        std::map<std::string, Expected> actual;
        for (const std::string& r : inst.collections()) {
            ASSERT_EQ(r.size(), 22u);
            actual[r.substr(0, 4)] = {int32At(r, 13), int32At(r, 17), r[21]};
            EXPECT_EQ(r.substr(9, 4) == r.substr(4, 4), r[21] == 'I');
        }
        ASSERT_EQ(actual.size(), expected.size());
        for (const auto& [key, e] : expected) {
            ASSERT_TRUE(actual.count(key)) << "owner not inserted by the program";
            EXPECT_EQ(actual[key].total, e.total);
            EXPECT_EQ(actual[key].flagged, e.flagged);
            EXPECT_EQ(actual[key].state, e.state);
        }
        const std::string programLog = inst.operationsLog();
        std::size_t lines = 0, statusLines = 0;
        for (std::size_t at = 0; (at = programLog.find("\r\n", at)) != std::string::npos; at += 2)
            ++lines;
        for (std::size_t at = 0;
             (at = programLog.find(e2e::logLine(1008), at)) != std::string::npos; ++at)
            ++statusLines;
        EXPECT_EQ(lines, expected.size() + outOfRange);
        EXPECT_EQ(statusLines, outOfRange);
        inserted += static_cast<int>(expected.size());
        refused += static_cast<int>(outOfRange);

        // After the run: what was to be inserted exists, and nothing is left to insert.
        const IssuePreview after = previewIssue(inst.root(), workFile);
        ASSERT_EQ(after.owners.size(), before.owners.size());
        for (std::size_t i = 0; i < after.owners.size(); ++i) {
            const PreviewOutcome b = before.owners[i].outcome, a = after.owners[i].outcome;
            EXPECT_EQ(a, b == PreviewOutcome::Insert ? PreviewOutcome::Exists : b);
        }
    }
    // The random cases reach every outcome.
    EXPECT_GT(inserted, 30);
    EXPECT_GT(refused, 0);
    EXPECT_GT(unusable, 0);
}

}  // namespace
}  // namespace nubodat
