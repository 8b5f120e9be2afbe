// Several instances of the program started at once on one installation, with
// overlapping owner ranges: every owner is billed exactly once, the key
// refuses the duplicates (logged with status 5), the operations log holds
// one whole line per insertion attempt, and no data file is damaged.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "engine/client.h"

#include "tests/reliability/checks.h"
#include "tests/reliability/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace reliability;

constexpr int kProperties = kSmallRuns ? 20 : 60;
constexpr int kOwnersPerProperty = 100;
constexpr int kInstances = 4;

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

e2e::WorkFile propertyRange(int first, int last) {
    e2e::WorkFile work;
    work.firstProperty = std::to_string(first);
    work.lastProperty = std::to_string(last);
    return work;
}

Launch launchOn(const e2e::Installation& installation, const std::string& work,
                const std::string& output) {
    Launch launch;
    launch.program = programPath();
    launch.root = installation.root();
    launch.work = work;
    launch.output = output;
    return launch;
}

// Starts the instances at once and checks what they left. With
// `filesPresent`, a run that selects nobody has created the data files the
// program makes when they are missing; otherwise every instance finds them
// missing and creates them at the same moment.
void runInstancesAtOnce(bool filesPresent) {
    e2e::Installation installation;
    populate(installation, kProperties, kOwnersPerProperty);
    if (filesPresent) {
        e2e::WorkFile nobody;
        nobody.methodEnabled = {"N", "N", "N"};
        installation.writeWorkFile(nobody);
        ASSERT_TRUE(
            runProgram(launchOn(installation, installation.work(), installation.folder() + "first"))
                .exited);
    }
    installation.writeWorkFile(e2e::WorkFile{});

    testing_support::TempDir referenceFolder;
    copyInstallation(installation, referenceFolder.dir());
    e2e::Installation reference(referenceFolder.dir());
    ASSERT_TRUE(
        runProgram(launchOn(reference, reference.work(), reference.folder() + "out")).exited);
    const std::vector<std::string> expected = reference.collections();
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kProperties * kOwnersPerProperty));

    // Two instances over everything, one over the first half, one over the
    // second half and a little more: every owner is wanted by two or three.
    const e2e::WorkFile ranges[kInstances] = {
        propertyRange(1, kProperties), propertyRange(1, kProperties),
        propertyRange(1, kProperties / 2), propertyRange(kProperties / 2 - 2, kProperties)};
    pid_t pids[kInstances];
    for (int i = 0; i < kInstances; ++i) {
        const std::string work = addWorkFolder(installation, "work" + std::to_string(i), ranges[i]);
        pids[i] = startProgram(
            launchOn(installation, work, installation.folder() + "out" + std::to_string(i)));
        ASSERT_GT(pids[i], 0);
    }
    for (int i = 0; i < kInstances; ++i) {
        const Ending ending = waitProgram(pids[i]);
        EXPECT_TRUE(ending.exited) << "instance " << i << " ended by signal " << ending.signal;
        EXPECT_EQ(ending.exitCode, 0) << "instance " << i;
    }

    const std::vector<std::string> collections = installation.collections();
    EXPECT_EQ(collections.size(), expected.size());
    EXPECT_TRUE(collections == expected) << "the collections differ from an uninterrupted run's";
    for (int i = 0; i < kInstances; ++i) {
        const std::string said = readWhole(installation.folder() + "out" + std::to_string(i));
        EXPECT_TRUE(said.empty()) << "instance " << i << " said: " << said;
    }
    for (const auto& [owner, count] : ownerCounts(collections)) {
        EXPECT_EQ(count, 1);
    }
    const std::vector<std::string> damaged = damagedDataFiles(installation);
    EXPECT_TRUE(damaged.empty()) << damaged.front();

    // One whole line per insertion attempt: the successful ones are exactly
    // the collections, every other one is a duplicate refused by the key.
    const OperationsLog log = readOperationsLog(installation.operationsLog());
    EXPECT_EQ(log.malformed, 0u);
    EXPECT_TRUE(log.endsWithLineEnd);
    EXPECT_EQ(log.with(0), collections.size());
    EXPECT_EQ(log.with(0) + log.with(5), log.lines) << "only statuses 0 and 5";
    std::cout << "[ figures  ] " << kInstances << " instances, " << collections.size()
              << " collections checked, " << log.lines << " log lines, " << log.with(5)
              << " duplicates refused\n";
}

TEST(ConcurrentRuns, OverlappingInstancesBillEveryOwnerOnce) {
    runInstancesAtOnce(true);
}

// Instances that find a data file missing create it at the same moment: the
// ones whose Create loses the race (status 59, the file exists by now) must
// open the file the winner made, not end on the fatal message. Enabled once
// the open retries after that status.
TEST(ConcurrentRuns, InstancesCreatingTheMissingFilesAtOnce) {
    runInstancesAtOnce(false);
}

// Another process holds the collections file's write lock all through a run
// (a transaction of the record manager begun, one record inserted, never
// ended): the run ends in about one busy wait, not one per owner, with one
// line per refused insertion (status 85 "the file is locked") and nothing
// stored; once the holder has gone, a second run bills every owner exactly
// once.
TEST(ConcurrentRuns, ALongTransactionElsewhereEndsTheRunInBoundedTimeAndTheRerunBillsOnce) {
    constexpr int kHeldProperties = 3, kHeldOwners = kSmallRuns ? 20 : 100;
    constexpr std::size_t kAll = kHeldProperties * kHeldOwners;
    e2e::Installation installation;
    populate(installation, kHeldProperties, kHeldOwners);
    installation.writeWorkFile(e2e::WorkFile{});
    {
        // The data files, made by a run that selects nobody.
        e2e::WorkFile nobody;
        nobody.methodEnabled = {"N", "N", "N"};
        installation.writeWorkFileText(nobody.text());
        ASSERT_TRUE(runProgram(launchOn(installation, installation.work(),
                                        installation.folder() + "make.out"))
                        .exited);
        installation.writeWorkFile(e2e::WorkFile{});
        std::filesystem::remove(installation.root() + "db.log");
    }

    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(release[1]);
        engine::Client b;
        std::string record(22, '\xFE');  // an identity no owner has
        char byte = 0;
        byte = b.open(installation.root() + "DADES/CobramH.dat") == 0 &&
                       b.call(engine::op::beginTransaction, 0, 0) == 0 && b.insert(record) == 0
                   ? 1
                   : 0;
        if (::write(ready[1], &byte, 1) != 1) ::_exit(2);
        if (::read(release[0], &byte, 1) < 0) ::_exit(3);
        b.call(engine::op::abortTransaction, 0, 0);
        b.reset();
        ::_exit(0);
    }
    ::close(release[0]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ASSERT_EQ(held, 1) << "the holder could not begin its transaction";

    const auto start = std::chrono::steady_clock::now();
    const Ending refused =
        runProgram(launchOn(installation, installation.work(), installation.folder() + "1.out"));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(refused.exited) << "ended by signal " << refused.signal;
    EXPECT_EQ(refused.exitCode, 0);
    const OperationsLog first = readOperationsLog(installation.operationsLog());
    EXPECT_EQ(first.malformed, 0u);
    EXPECT_EQ(first.lines, kAll) << "one line per refused insertion";
    EXPECT_EQ(first.with(85), kAll);
    // One busy wait (5 s by default) and the rest refused at once, where a
    // wait per insertion would take kAll times as long.
    EXPECT_LT(seconds, 60.0);

    ::close(release[1]);
    int ended = 0;
    ASSERT_EQ(::waitpid(holder, &ended, 0), holder);
    ASSERT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_TRUE(installation.collections().empty()) << "the holder's record was rolled back";

    std::filesystem::remove(installation.root() + "db.log");
    const Ending rerun =
        runProgram(launchOn(installation, installation.work(), installation.folder() + "2.out"));
    ASSERT_TRUE(rerun.exited && rerun.exitCode == 0);
    const OperationsLog second = readOperationsLog(installation.operationsLog());
    EXPECT_EQ(second.with(0), kAll);
    EXPECT_EQ(second.lines, kAll);
    const std::map<std::string, int> billed = ownerCounts(installation.collections());
    EXPECT_EQ(billed.size(), kAll);
    for (const auto& [owner, times] : billed) EXPECT_EQ(times, 1) << owner;
    EXPECT_TRUE(damagedDataFiles(installation).empty());
    std::cout << "[ figures  ] write lock held elsewhere: " << kAll << " insertions refused in "
              << seconds << " s (one wait of the busy time, then at once); the rerun billed "
              << billed.size() << " owners once each\n";
}

}  // namespace
