// The program killed with SIGKILL at random moments of a large run, many
// times over, then run to completion: every selected owner ends up with
// exactly one collection, the same as an uninterrupted run gives, and every
// data file stays sound after every kill.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include <chrono>
#include <random>
#include <thread>

#include "engine/client.h"
#include "platform/platform.h"
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

// ------------------------------------------ creations cut short by a kill

// The names in `folder` that hold the mark of a creation's temporary file.
std::set<std::string> temporaryFiles(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.find("~new-") != std::string::npos) names.insert(name);
    }
    return names;
}

// The program killed again and again while it creates the data files it
// finds missing: the temporary files and journals the kills leave are gone
// after the next run, which creates the files whole.
TEST(InterruptedRuns, CreationsKilledLeaveNoTemporaryFilesAfterTheNextRun) {
    constexpr int kCreationKills = kSmallRuns ? 15 : 40;
    e2e::Installation installation;
    installation.writeWorkFile(e2e::WorkFile{});
    const std::string data = installation.root() + "DADES/";
    std::mt19937 random(7u);
    int killed = 0;
    std::size_t mostLeft = 0, left = 0;
    for (int k = 0; k < kCreationKills; ++k) {
        for (const char* name : {"THRebut", "TRemeses", "FinquesH", "PropietH", "CobramH"}) {
            std::filesystem::remove(data + name + ".dat");
        }
        const pid_t pid = startProgram(launchOn(installation));
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(random)));
        ::kill(pid, SIGKILL);
        const Ending ending = waitProgram(pid);
        killed += ending.exited ? 0 : 1;
        left = temporaryFiles(data).size();
        mostLeft = std::max(mostLeft, left);
    }
    EXPECT_GT(killed, kCreationKills / 2);
    const Ending last = runProgram(launchOn(installation));
    ASSERT_TRUE(last.exited && last.exitCode == 0);
    const std::set<std::string> remaining = temporaryFiles(data);
    EXPECT_TRUE(remaining.empty()) << *remaining.begin();
    EXPECT_TRUE(damagedDataFiles(installation).empty());
    std::cout << "[ figures  ] creations: " << killed << " of " << kCreationKills
              << " runs killed, at most " << mostLeft << " temporary files left by the kills ("
              << left << " after the last), none after the next run\n";
}

// What an open and a creation of a file remove: its own temporary files
// that no creator holds, and their companions. A temporary file whose
// creator still holds it, another file's, and names that only look alike
// stay.
TEST(InterruptedRuns, StaleTemporaryFilesGoAndLiveOnesStay) {
    testing_support::TempDir dir;
    const std::string target = dir.dir() + "x.dat";
    {
        engine::Client b;
        ASSERT_EQ(b.create(target, std::string("\x18\0\0\x04\x01\0\0\0\0\0\0\0\0\0\0\0"
                                               "\x01\0\x04\0\0\0\0\0\0\0\0\0\0\0\0\0",
                                               32)),
                  0);
    }
    ASSERT_TRUE(temporaryFiles(dir.dir()).empty()) << "a creation leaves nothing behind";
    const std::string live = "x.dat~new-00000000000000aa";
    const std::vector<std::string> stale = {
        "x.dat~new-0123456789abcdef",         "x.dat~new-0123456789abcdef-journal",
        "x.dat~new-0123456789abcdef-wal",     "x.dat~new-0123456789abcdef-shm",
        "x.dat~new-fedcba9876543210-journal",  // its temporary file already gone
    };
    const std::vector<std::string> others = {
        "y.dat~new-0123456789abcdef",  // another file's
        "x.dat~new-notadigitsequence",
        "x.dat~new-0123456789abcdef.bak",
    };
    for (const auto& names : {stale, others}) {
        for (const std::string& name : names) std::ofstream(dir.dir() + name) << "left";
    }

    // A creator at work: it holds its temporary file locked.
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t creator = ::fork();
    ASSERT_GE(creator, 0);
    if (creator == 0) {
        ::close(release[1]);
        platform::File held;
        char byte = 0;
        const bool locked =
            platform::openFile(dir.dir() + live, platform::FileMode::ReadWriteShared, held) &&
            platform::tryLockFile(held, true);
        byte = locked ? 1 : 0;
        if (::write(ready[1], &byte, 1) != 1) ::_exit(2);
        if (::read(release[0], &byte, 1) < 0) ::_exit(3);
        ::_exit(locked ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 1) << "the creator could not hold its file";

    {
        engine::Client b;
        ASSERT_EQ(b.open(target), 0);
        ASSERT_EQ(b.close(), 0);
    }
    std::set<std::string> expected(others.begin(), others.end());
    expected.insert(live);
    EXPECT_EQ(temporaryFiles(dir.dir()), expected);

    // Once the creator has ended without removing it, the next open does.
    ::close(release[1]);
    int ended = 0;
    ASSERT_EQ(::waitpid(creator, &ended, 0), creator);
    ASSERT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 0);
    {
        engine::Client b;
        ASSERT_EQ(b.open(target), 0);
        ASSERT_EQ(b.close(), 0);
    }
    expected.erase(live);
    EXPECT_EQ(temporaryFiles(dir.dir()), expected);
    ::close(ready[0]);
    ::close(ready[1]);
    ::close(release[0]);
}

// ------------------------------------------------ a load killed midway

#ifdef NUBODAT_PROGRAM
// Starts the utility with `args`, its output thrown away.
pid_t startUtility(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> argv;
    std::string program = NUBODAT_PROGRAM;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

int runUtility(const std::vector<std::string>& args) {
    const pid_t pid = startUtility(args);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The record count Stat gives, read the way any other program reads it.
std::uint32_t recordsSeen(const std::string& path) {
    engine::Client b;
    if (b.open(path) != 0) return 0xFFFFFFFFu;
    const std::uint32_t n = b.recordCount();
    b.close();
    return n;
}

// `nubodat load` killed with SIGKILL at random moments: another program
// reading the file meanwhile, and everybody after the kill, sees all of the
// records or none, never a part; the file stays sound.
TEST(InterruptedRuns, LoadKilledMidwayLeavesAllOrNothing) {
    constexpr int kLoadKills = kSmallRuns ? 6 : 12;
    e2e::Installation installation;
    populate(installation, kSmallRuns ? 20 : 60, 100);
    const std::string owners = installation.root() + "DADES/PropietH.dat";
    const std::string backup = installation.folder() + "owners.seq";
    const std::string dictionary = installation.root() + "ddf/PropietH.xdf";
    const std::string copy = installation.root() + "DADES/Copy.dat";
    ASSERT_EQ(runUtility({"save", owners, backup}), 0);
    const std::uint32_t all = recordsSeen(owners);
    ASSERT_GT(all, 1000u);

    // An uninterrupted load, for its duration.
    ASSERT_EQ(runUtility({"create", copy, "--from", dictionary}), 0);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(runUtility({"load", copy, backup}), 0);
    const auto loadTime = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(recordsSeen(copy), all);

    std::mt19937 random(11u);
    int killed = 0, emptyAfterKill = 0;
    std::size_t readsMeanwhile = 0;
    const auto span =
        std::chrono::duration_cast<std::chrono::microseconds>(loadTime).count() * 6 / 5 + 1;
    for (int k = 0; k < kLoadKills; ++k) {
        std::filesystem::remove(copy);
        ASSERT_EQ(runUtility({"create", copy, "--from", dictionary}), 0);
        const pid_t pid = startUtility({"load", copy, backup});
        ASSERT_GT(pid, 0);
        const auto until =
            std::chrono::steady_clock::now() +
            std::chrono::microseconds(std::uniform_int_distribution<long long>(0, span)(random));
        while (std::chrono::steady_clock::now() < until) {
            const std::uint32_t seen = recordsSeen(copy);
            EXPECT_TRUE(seen == 0 || seen == all) << "a reader saw " << seen << " records";
            ++readsMeanwhile;
        }
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        const bool wasKilled = WIFSIGNALED(status);
        killed += wasKilled ? 1 : 0;
        const std::uint32_t after = recordsSeen(copy);
        if (wasKilled) {
            EXPECT_TRUE(after == 0 || after == all) << "after kill " << k << ": " << after;
            emptyAfterKill += after == 0 ? 1 : 0;
        } else {
            EXPECT_EQ(after, all);
        }
        EXPECT_EQ(integrityCheck(copy), "ok") << "after kill " << k;
    }
    EXPECT_GT(emptyAfterKill, 0) << "some kills must land inside the load";
    std::cout << "[ figures  ] load of " << all << " records killed " << killed << " of "
              << kLoadKills << " times (" << emptyAfterKill << " midway: nothing loaded, the rest"
              << " after it was whole); " << readsMeanwhile
              << " reads meanwhile saw all or nothing\n";
}
#endif

}  // namespace
