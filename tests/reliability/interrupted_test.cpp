// The program killed with SIGKILL at random moments of a large run, many
// times over, then run to completion: every selected owner ends up with
// exactly one collection, the same as an uninterrupted run gives, and every
// data file stays sound after every kill.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <chrono>
#include <random>
#include <thread>

#include "tests/reliability/checks.h"
#include "tests/reliability/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace reliability;

constexpr int kProperties = kSmallRuns ? 40 : 200;
constexpr int kOwnersPerProperty = 100;
constexpr int kKills = kSmallRuns ? 20 : 50;

long long fileSize(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<long long>(size);
}

// Waits until the operations log at `path` has grown by `lines` lines (33
// bytes each) or the child has ended on its own.
void waitForInsertions(const std::string& path, long long lines, pid_t pid) {
    const long long target = fileSize(path) + 33 * lines;
    while (fileSize(path) < target) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid) {
            return;  // ended: left for waitProgram to collect
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

Launch launchOn(const e2e::Installation& installation) {
    Launch launch;
    launch.program = programPath();
    launch.root = installation.root();
    launch.work = installation.work();
    launch.output = installation.folder() + "program.out";
    return launch;
}

TEST(InterruptedRuns, KilledManyTimesThenCompletedBillsEveryOwnerOnce) {
    e2e::Installation installation;
    populate(installation, kProperties, kOwnersPerProperty);
    installation.writeWorkFile(e2e::WorkFile{});

    // The reference: the same installation run once without interruption.
    testing_support::TempDir referenceFolder;
    copyInstallation(installation, referenceFolder.dir());
    e2e::Installation reference(referenceFolder.dir());
    const auto started = std::chrono::steady_clock::now();
    const Ending whole = runProgram(launchOn(reference));
    const auto fullRun = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(whole.exited && whole.exitCode == 0);
    const std::vector<std::string> expected = reference.collections();
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kProperties * kOwnersPerProperty));

    // Each run is killed after a random number of insertions, spread so that
    // the kills reach the end of the issue, and then a random fraction of a
    // millisecond more: inside an insertion, between one and its log line,
    // or while the run walks past the owners already billed.
    std::mt19937 random(20260315u);
    const std::string logPath = installation.root() + "db.log";
    int killed = 0;
    for (int k = 0; k < kKills; ++k) {
        const long long remaining = kProperties * kOwnersPerProperty - fileSize(logPath) / 33;
        const long long share = std::max(1LL, 2 * remaining / (kKills - k));
        const pid_t pid = startProgram(launchOn(installation));
        ASSERT_GT(pid, 0);
        waitForInsertions(logPath, std::uniform_int_distribution<long long>(0, share)(random), pid);
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, 1000)(random)));
        ::kill(pid, SIGKILL);
        const Ending ending = waitProgram(pid);
        if (!ending.exited) {
            ASSERT_EQ(ending.signal, SIGKILL);
            ++killed;
        } else {
            ASSERT_EQ(ending.exitCode, 0);  // it finished before the kill
        }
        const std::vector<std::string> damaged = damagedDataFiles(installation);
        ASSERT_TRUE(damaged.empty()) << "after kill " << k << ": " << damaged.front();
    }
    EXPECT_GT(killed, kKills / 2) << "most kills must land while the program runs";

    const Ending last = runProgram(launchOn(installation));
    ASSERT_TRUE(last.exited && last.exitCode == 0);

    const std::vector<std::string> collections = installation.collections();
    EXPECT_EQ(collections.size(), expected.size());
    EXPECT_TRUE(collections == expected) << "the collections differ from an uninterrupted run's";
    for (const auto& [owner, count] : ownerCounts(collections)) {
        EXPECT_EQ(count, 1);
    }
    EXPECT_TRUE(damagedDataFiles(installation).empty());

    // A kill can fall between an insertion and its log line, but never
    // inside a line: every line is whole, and none claims a collection that
    // is not there.
    const OperationsLog log = readOperationsLog(installation.operationsLog());
    EXPECT_EQ(log.malformed, 0u);
    EXPECT_TRUE(log.endsWithLineEnd);
    EXPECT_LE(log.with(0), collections.size());
    EXPECT_EQ(log.lines, log.with(0)) << "no insertion may fail on a run that resumes";
    std::cout << "[ figures  ] " << collections.size() << " collections checked, " << killed
              << " of " << kKills << " runs killed, uninterrupted run "
              << std::chrono::duration<double>(fullRun).count() << " s\n";
}

}  // namespace
