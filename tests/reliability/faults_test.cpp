// Faults around the program: a disk that fills up during the insertions,
// folders that are missing or read-only, data files and other inputs
// replaced by garbage. The program never crashes: it reports a status in
// "db.log" or ends on the fatal message, exits with code 0, and leaves every
// data file sound with every record it held before.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>

#include "platform/platform.h"
#include "tests/reliability/checks.h"
#include "tests/reliability/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace reliability;
namespace fs = std::filesystem;

Launch launchOn(const e2e::Installation& installation) {
    Launch launch;
    launch.program = programPath();
    launch.root = installation.root();
    launch.work = installation.work();
    launch.output = installation.folder() + "program.out";
    return launch;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeWhole(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string garbage(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

// Runs the program once with nobody selected: it opens (and creates) the
// five data files and inserts nothing.
void createDataFiles(e2e::Installation& installation) {
    e2e::WorkFile nobody;
    nobody.methodEnabled = {"N", "N", "N"};
    installation.writeWorkFileText(nobody.text());
    ASSERT_TRUE(runProgram(launchOn(installation)).exited);
    installation.writeWorkFile(e2e::WorkFile{});
    fs::remove(installation.root() + "db.log");
}

// The fatal message for a data file, with the status it ends in.
// The message box wraps a long message over several lines: its text is
// compared with the frame and every blank taken out.
bool showsFatalMessage(const std::string& output, const std::string& file, std::string& status) {
    std::string text;
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (output.compare(i, 3, "\u2502") == 0) {
            i += 2;
        } else if (output[i] != ' ' && output[i] != '\n' && output[i] != '\r') {
            text += output[i];
        }
    }
    // "NOESPOTACCEDIRALFITXER", no "(" up to the file's name, then
    // "(status)".
    const std::string head = "NOESPOTACCEDIRALFITXER";
    for (std::size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
        const std::size_t open = text.find('(', at + head.size());
        if (open == std::string::npos) return false;
        if (open < at + head.size() + file.size() ||
            text.compare(open - file.size(), file.size(), file) != 0) {
            continue;
        }
        const std::size_t close = text.find(')', open);
        if (close == std::string::npos) return false;
        const std::string number = text.substr(open + 1, close - open - 1);
        const std::size_t digits = number.size() > 0 && number[0] == '-' ? 1 : 0;
        if (number.size() == digits ||
            number.find_first_not_of("0123456789", digits) != std::string::npos) {
            continue;
        }
        status = number;
        return true;
    }
    return false;
}

long long sizeOf(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : static_cast<long long>(size);
}

// ------------------------------------------------------------ a full disk

TEST(Faults, DiskFillingUpDuringInsertsLogsStatusesAndKeepsEarlierRecords) {
    constexpr int kProperties = kSmallRuns ? 10 : 30;
    constexpr int kOwners = 100;
    constexpr int kAttempts = kProperties * kOwners;
    e2e::Installation installation;
    populate(installation, kProperties, kOwners);
    createDataFiles(installation);
    const std::string collectionsFile = installation.root() + "DADES/CobramH.dat";
    const long long emptySize = sizeOf(collectionsFile);

    // An earlier issue fills the collections file first: its records must
    // all survive the full disk of the next one.
    e2e::WorkFile earlier;
    earlier.issueNumber = "02";
    installation.writeWorkFile(earlier);
    ASSERT_TRUE(runProgram(launchOn(installation)).exited);
    const std::vector<std::string> before = installation.collections();
    ASSERT_EQ(before.size(), static_cast<std::size_t>(kAttempts));
    fs::remove(installation.root() + "db.log");
    const long long filledSize = sizeOf(collectionsFile);
    ASSERT_GT(filledSize, emptySize);

    // The disk fills up halfway through the second issue; the log, which
    // grows more slowly, still has room for every line.
    Launch launch = launchOn(installation);
    launch.fileSizeLimit = filledSize + (filledSize - emptySize) / 2;
    ASSERT_GT(launch.fileSizeLimit, 2LL * kAttempts * 33);
    installation.writeWorkFile(e2e::WorkFile{});
    const Ending ending = runProgram(launch);
    EXPECT_TRUE(ending.exited) << "ended by signal " << ending.signal;
    EXPECT_EQ(ending.exitCode, 0);

    const std::vector<std::string> after = installation.collections();
    EXPECT_TRUE(damagedDataFiles(installation).empty());
    std::size_t kept = 0, added = 0;
    for (const std::string& c : after) {
        (c[8] == before.front()[8] ? kept : added) += 1;
    }
    EXPECT_EQ(kept, before.size()) << "every earlier record is intact";
    for (const std::string& c : before) {
        EXPECT_TRUE(std::find(after.begin(), after.end(), c) != after.end());
    }
    const OperationsLog log = readOperationsLog(installation.operationsLog());
    EXPECT_EQ(log.malformed, 0u);
    EXPECT_EQ(log.lines, static_cast<std::size_t>(kAttempts)) << "one line per insertion attempt";
    EXPECT_EQ(log.with(0), added) << "a status 0 for exactly the records stored";
    EXPECT_GT(added, 0u);
    EXPECT_LT(added, static_cast<std::size_t>(kAttempts)) << "the disk did fill up";
    for (const auto& [status, lines] : log.byStatus) {
        if (status != 0)
            std::cout << "[ figures  ] full disk: " << lines << " insertions with status " << status
                      << "\n";
    }

    // With room again, the same run completes the issue.
    installation.writeWorkFile(e2e::WorkFile{});
    ASSERT_TRUE(runProgram(launchOn(installation)).exited);
    EXPECT_EQ(installation.collections().size(), 2u * kAttempts);
    EXPECT_TRUE(damagedDataFiles(installation).empty());
}

// "db.log" reaches the file-size limit in the middle of a line: that line is
// taken back and the later ones find no room, so the log holds whole lines
// only, up to the limit; the insertions themselves go on.
TEST(Faults, LogAtAFileSizeLimitKeepsEveryLineWhole) {
    constexpr int kProperties = 3, kOwners = 10;
    constexpr std::size_t kLineLength = 33;        // status 0
    constexpr std::size_t kEarlierLines = 100000;  // a log larger than any data file here
    constexpr std::size_t kRoomForLines = 20;
    e2e::Installation installation;
    populate(installation, kProperties, kOwners);
    createDataFiles(installation);
    std::string earlier;
    for (std::size_t i = 0; i < kEarlierLines; ++i) earlier += e2e::logLine(0);
    writeWhole(installation.root() + "db.log", earlier);

    Launch launch = launchOn(installation);
    launch.fileSizeLimit =
        static_cast<long long>((kEarlierLines + kRoomForLines) * kLineLength + 17);
    const Ending ending = runProgram(launch);
    ASSERT_TRUE(ending.exited) << "ended by signal " << ending.signal;
    EXPECT_EQ(ending.exitCode, 0);

    const OperationsLog log = readOperationsLog(installation.operationsLog());
    EXPECT_EQ(log.malformed, 0u);
    EXPECT_TRUE(log.endsWithLineEnd);
    EXPECT_EQ(log.lines, kEarlierLines + kRoomForLines);
    EXPECT_EQ(installation.collections().size(), static_cast<std::size_t>(kProperties * kOwners));
    EXPECT_TRUE(damagedDataFiles(installation).empty());
}

// Another process holds "db.log" (locked, as the program holds it) for 2.5
// seconds from before the first insertion: the program waits and loses no
// line.
TEST(Faults, LogHeldBySecondsByAnotherProcessLosesNoLine) {
    constexpr int kProperties = 3, kOwners = 10;
    e2e::Installation installation;
    populate(installation, kProperties, kOwners);
    createDataFiles(installation);

    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        platform::File log;
        if (!platform::openFile(installation.root() + "db.log", platform::FileMode::AppendExclusive,
                                log)) {
            ::_exit(1);
        }
        ::usleep(2500 * 1000);
        ::_exit(0);
    }
    // The holder has the file once it exists and a second holder is refused.
    platform::File probe;
    for (int i = 0; i < 200; ++i) {
        if (fs::exists(installation.root() + "db.log") &&
            !platform::openFile(installation.root() + "db.log", platform::FileMode::AppendExclusive,
                                probe)) {
            break;
        }
        platform::closeFile(probe);
        ::usleep(10 * 1000);
    }
    const auto start = std::chrono::steady_clock::now();
    const Ending ending = runProgram(launchOn(installation));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int held = 0;
    ASSERT_EQ(::waitpid(holder, &held, 0), holder);
    ASSERT_TRUE(WIFEXITED(held) && WEXITSTATUS(held) == 0) << "the holder could not hold the log";
    ASSERT_TRUE(ending.exited) << "ended by signal " << ending.signal;
    EXPECT_EQ(ending.exitCode, 0);

    const OperationsLog log = readOperationsLog(installation.operationsLog());
    EXPECT_EQ(log.malformed, 0u);
    EXPECT_EQ(log.with(0), static_cast<std::size_t>(kProperties * kOwners)) << "no line lost";
    EXPECT_EQ(log.lines, static_cast<std::size_t>(kProperties * kOwners));
    EXPECT_GT(seconds, 1.5) << "the program did wait for the holder";
    std::cout << "[ figures  ] log held 2.5 s: the run took " << seconds << " s, " << log.lines
              << " lines\n";
}

// ------------------------------------------- missing, read-only, garbage

enum class Outcome {
    Fatal,      // the fatal message naming `file`, with a non-zero status
    Statuses,   // runs through; the insertions fail with non-zero statuses
    Nothing,    // runs through and inserts nothing, no message
    Completes,  // runs through and bills every owner
};

struct FaultCase {
    const char* what;
    std::function<void(e2e::Installation&, Launch&)> prepare;
    Outcome outcome;
    std::string file;         // named in the fatal message
    std::string status = "";  // the fatal message's status, when one is expected
};

// The dictionary of the collections file with key 0 one byte long instead of
// the nine of the identity: 22-byte records, 1024-byte pages, one key.
std::string oneByteIdentityDictionary() {
    std::string d(2 + 32, '\0');
    d[0] = 32;
    d[2] = 22;
    d[5] = 4;   // page size 1024
    d[6] = 1;   // one key
    d[18] = 1;  // segment position 1
    d[20] = 1;  // segment length 1
    return d;
}

void makeReadOnly(const std::string& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        fs::permissions(entry.path(),
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
}

// Everything open to the unprivileged user the read-only cases run as.
void openToEveryone(const std::string& folder) {
    fs::permissions(folder, fs::perms::all);
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        fs::permissions(entry.path(),
                        entry.is_directory()
                            ? fs::perms::all
                            : fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec |
                                                 fs::perms::others_exec));
    }
}

void readOnlyCase(e2e::Installation& installation, Launch& launch, const std::string& folder) {
    openToEveryone(installation.folder());
    makeReadOnly(folder);
    launch.asUnprivileged = true;
}

// Bills an earlier issue (number 02) first, so that the collections file
// holds records over several pages, and leaves the default work file.
void billEarlierIssue(e2e::Installation& installation) {
    e2e::WorkFile earlier;
    earlier.issueNumber = "02";
    installation.writeWorkFile(earlier);
    runProgram(launchOn(installation));
    installation.writeWorkFile(e2e::WorkFile{});
    fs::remove(installation.root() + "db.log");
}

// Cuts the data file to `keep(size)` bytes.
void cutFile(const std::string& path, const std::function<std::size_t(std::size_t)>& keep) {
    const std::string bytes = readWhole(path);
    writeWhole(path, bytes.substr(0, keep(bytes.size())));
}

std::vector<FaultCase> faultCases() {
    using I = e2e::Installation;
    return {
        {"data folder missing", [](I& i, Launch&) { fs::remove_all(i.root() + "DADES"); },
         Outcome::Fatal, "THRebut"},
        {"root folder missing", [](I& i, Launch& l) { l.root = i.folder() + "nowhere/"; },
         Outcome::Fatal, "THRebut"},
        {"work folder missing", [](I& i, Launch& l) { l.work = i.folder() + "nowhere/"; },
         Outcome::Nothing, ""},
        {"dictionaries missing with a data file missing",
         [](I& i, Launch&) {
             fs::remove_all(i.root() + "ddf");
             fs::remove(i.root() + "DADES/CobramH.dat");
         },
         Outcome::Fatal, "CobramH"},
        {"dictionary of garbage with a data file missing",
         [](I& i, Launch&) {
             writeWhole(i.root() + "ddf/CobramH.xdf", garbage(700, 7));
             fs::remove(i.root() + "DADES/CobramH.dat");
         },
         Outcome::Fatal, "CobramH"},
        {"properties file replaced by garbage",
         [](I& i, Launch&) { writeWhole(i.root() + "DADES/FinquesH.dat", garbage(65536, 1)); },
         Outcome::Fatal, "FinquesH"},
        {"collections file replaced by garbage",
         [](I& i, Launch&) { writeWhole(i.root() + "DADES/CobramH.dat", garbage(4096, 2)); },
         Outcome::Fatal, "CobramH"},
        {"collections file emptied",
         [](I& i, Launch&) { writeWhole(i.root() + "DADES/CobramH.dat", ""); }, Outcome::Fatal,
         "CobramH"},
        {"data file replaced by garbage and a window stack of garbage",
         [](I& i, Launch&) {
             writeWhole(i.root() + "DADES/THRebut.dat", garbage(5000, 3));
             writeWhole(i.work() + "WinPush.tmp", garbage(3000, 4));
         },
         Outcome::Fatal, "THRebut"},
        {"data file of garbage with a read-only work folder",
         [](I& i, Launch& l) {
             writeWhole(i.root() + "DADES/TRemeses.dat", garbage(5000, 5));
             readOnlyCase(i, l, i.work());
         },
         Outcome::Fatal, "TRemeses"},
        {"work file of garbage",
         [](I& i, Launch&) { writeWhole(i.work() + "pent.tmp", garbage(2000, 6)); },
         Outcome::Nothing, ""},
        {"terminal settings of garbage",
         [](I& i, Launch&) { writeWhole(i.work() + "NuboTerm.ini", garbage(2000, 8)); },
         Outcome::Completes, ""},
        {"read-only work folder", [](I& i, Launch& l) { readOnlyCase(i, l, i.work()); },
         Outcome::Completes, ""},
        {"read-only data folder and files",
         [](I& i, Launch& l) { readOnlyCase(i, l, i.root() + "DADES"); }, Outcome::Fatal,
         "THRebut"},
        {"collections file made with key 0 of one byte",
         [](I& i, Launch&) {
             writeWhole(i.root() + "ddf/CobramH.xdf", oneByteIdentityDictionary());
             fs::remove(i.root() + "DADES/CobramH.dat");
         },
         Outcome::Fatal, "CobramH", "1010"},
        // A file cut short is damaged (status 2) at its open: never read as
        // if it ended at the cut, never written into.
        {"collections file cut inside its last page",
         [](I& i, Launch&) {
             billEarlierIssue(i);
             cutFile(i.root() + "DADES/CobramH.dat", [](std::size_t n) { return n - 1000; });
         },
         Outcome::Fatal, "CobramH", "2"},
        {"collections file one page short",
         [](I& i, Launch&) {
             billEarlierIssue(i);
             cutFile(i.root() + "DADES/CobramH.dat", [](std::size_t n) { return n - 4096; });
         },
         Outcome::Fatal, "CobramH", "2"},
        {"owners file cut inside its last page",
         [](I& i, Launch&) {
             cutFile(i.root() + "DADES/PropietH.dat", [](std::size_t n) { return n - 1953; });
         },
         Outcome::Fatal, "PropietH", "2"},
        {"read-only collections file",
         [](I& i, Launch& l) {
             openToEveryone(i.folder());
             fs::permissions(i.root() + "DADES/CobramH.dat", fs::perms::owner_read |
                                                                 fs::perms::group_read |
                                                                 fs::perms::others_read);
             l.asUnprivileged = true;
         },
         Outcome::Statuses, ""},
    };
}

class FaultTable : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FaultTable, NeverCrashesAndKeepsTheDataSound) {
    const FaultCase c = faultCases()[GetParam()];
    SCOPED_TRACE(c.what);
    constexpr int kProperties = 3, kOwners = 10;
    e2e::Installation installation;
    populate(installation, kProperties, kOwners);
    createDataFiles(installation);
    Launch launch = launchOn(installation);
    c.prepare(installation, launch);
    if (launch.asUnprivileged && runningAsRoot()) {
        uid_t uid;
        gid_t gid;
        if (!unprivilegedIds(uid, gid)) GTEST_SKIP() << "no unprivileged user to run as";
    }

    const Ending ending = runProgram(launch);
    ASSERT_TRUE(ending.exited) << "ended by signal " << ending.signal;
    EXPECT_EQ(ending.exitCode, 0);

    const std::string output = readWhole(launch.output);
    const OperationsLog log = readOperationsLog(readWhole(installation.root() + "db.log"));
    EXPECT_EQ(log.malformed, 0u);
    std::string status;
    const bool fatal = !c.file.empty() && showsFatalMessage(output, c.file, status);
    switch (c.outcome) {
        case Outcome::Fatal:
            EXPECT_TRUE(fatal) << "output: " << output;
            std::cout << "[ figures  ] " << c.what << ": fatal message, status " << status << "\n";
            EXPECT_NE(status, "0");
            if (!c.status.empty()) {
                EXPECT_EQ(status, c.status);
            }
            EXPECT_EQ(log.lines, 0u);
            break;
        case Outcome::Statuses:
            EXPECT_EQ(output.find("NO ES POT ACCEDIR"), std::string::npos) << output;
            EXPECT_EQ(log.lines, static_cast<std::size_t>(kProperties * kOwners));
            EXPECT_EQ(log.with(0), 0u);
            for (const auto& [s, lines] : log.byStatus) {
                std::cout << "[ figures  ] " << c.what << ": " << lines
                          << " insertions with status " << s << "\n";
            }
            break;
        case Outcome::Nothing:
            EXPECT_EQ(output.find("NO ES POT ACCEDIR"), std::string::npos) << output;
            EXPECT_EQ(log.lines, 0u);
            break;
        case Outcome::Completes:
            EXPECT_EQ(output.find("NO ES POT ACCEDIR"), std::string::npos) << output;
            EXPECT_EQ(log.with(0), static_cast<std::size_t>(kProperties * kOwners));
            break;
    }
    if (c.outcome == Outcome::Statuses || c.outcome == Outcome::Nothing) {
        EXPECT_TRUE(installation.collections().empty());
    }

    // What the fault did not touch is still sound (garbage stays garbage).
    openToEveryone(installation.folder());
    for (const char* name : {"FinquesH", "PropietH"}) {
        const std::string path = installation.root() + "DADES/" + name + ".dat";
        if (fs::exists(path) && c.file != name) {
            EXPECT_EQ(integrityCheck(path), "ok") << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultTable, ::testing::Range<std::size_t>(0, faultCases().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             std::string name = faultCases()[info.param].what;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             }
                             return name;
                         });

// ------------------------------------------------ a damaged page met late

// One page of the owners file after another replaced by zero bytes, each on
// a copy of the same installation: the run either bills every owner exactly
// once or takes the fatal path naming the owners file with status 2, having
// billed each owner it did bill once. It never ends quietly with owners
// skipped.
TEST(Faults, DamagedOwnersPageNeverSkipsOwnersSilently) {
    constexpr int kProperties = 4, kOwners = kSmallRuns ? 15 : 40;
    constexpr std::size_t kAll = kProperties * kOwners;
    testing_support::TempDir scratch;
    e2e::Installation base(scratch.dir() + "base/");
    populate(base, kProperties, kOwners);
    createDataFiles(base);
    const std::string sound = readWhole(base.root() + "DADES/PropietH.dat");
    // The page size from the database header (big-endian at 16; 1 stands
    // for 65536): a new file takes its description's.
    ASSERT_GE(sound.size(), 100u);
    const unsigned pageField = (static_cast<unsigned char>(sound[16]) << 8) |
                               static_cast<unsigned char>(sound[17]);
    const std::size_t kPage = pageField == 1 ? 65536 : pageField;
    ASSERT_GE(kPage, 512u);
    ASSERT_EQ(sound.size() % kPage, 0u);
    const std::size_t pages = sound.size() / kPage;
    int fatal = 0, complete = 0;
    for (std::size_t p = 1; p < pages; ++p) {
        SCOPED_TRACE("page " + std::to_string(p + 1) + " of " + std::to_string(pages));
        const std::string folder = scratch.dir() + "page" + std::to_string(p) + "/";
        copyInstallation(base, folder);
        e2e::Installation installation(folder);
        std::string bytes = sound;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(p * kPage),
                  bytes.begin() + static_cast<std::ptrdiff_t>((p + 1) * kPage), '\0');
        writeWhole(installation.root() + "DADES/PropietH.dat", bytes);

        const Launch launch = launchOn(installation);
        const Ending ending = runProgram(launch);
        ASSERT_TRUE(ending.exited) << "ended by signal " << ending.signal;
        EXPECT_EQ(ending.exitCode, 0);
        std::string status;
        const bool failed = showsFatalMessage(readWhole(launch.output), "PropietH", status);
        const std::map<std::string, int> billed = ownerCounts(installation.collections());
        for (const auto& [owner, times] : billed) EXPECT_EQ(times, 1);
        const OperationsLog log = readOperationsLog(installation.operationsLog());
        EXPECT_EQ(log.malformed, 0u);
        EXPECT_EQ(log.with(0), billed.size());
        if (failed) {
            ++fatal;
            EXPECT_EQ(status, "2");
        } else {
            ++complete;
            EXPECT_EQ(billed.size(), kAll) << "owners skipped without a word";
        }
        fs::remove_all(folder);
    }
    EXPECT_GT(fatal, 0);
    std::cout << "[ figures  ] owners file, one page zeroed: " << pages - 1 << " runs, " << fatal
              << " fatal with status 2, " << complete << " billed everyone\n";
}

// ------------------------------------------------ a read-only file system

// The data folder on a file system mounted read-only: the same as a
// read-only folder, the fatal message for the first file with status 46
// ("access denied"), not 2. Needs root to mount (skipped otherwise).
TEST(Faults, DataFolderOnAReadOnlyMountIsStatus46) {
    if (!runningAsRoot()) GTEST_SKIP() << "mounting a file system needs root";
    constexpr int kProperties = 3, kOwners = 10;
    e2e::Installation installation;
    populate(installation, kProperties, kOwners);
    createDataFiles(installation);
    const std::string data = installation.root() + "DADES";
    const std::string saved = installation.folder() + "DADES.saved";
    fs::rename(data, saved);
    fs::create_directories(data);
    if (::mount("tmpfs", data.c_str(), "tmpfs", 0, "size=16m") != 0) {
        GTEST_SKIP() << "cannot mount a file system here";
    }
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{data};
    for (const auto& entry : fs::directory_iterator(saved)) {
        fs::copy_file(entry.path(), data + "/" + entry.path().filename().string());
    }
    ASSERT_EQ(::mount(nullptr, data.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);

    const Launch launch = launchOn(installation);
    const Ending ending = runProgram(launch);
    ASSERT_TRUE(ending.exited) << "ended by signal " << ending.signal;
    EXPECT_EQ(ending.exitCode, 0);
    std::string status;
    EXPECT_TRUE(showsFatalMessage(readWhole(launch.output), "THRebut", status));
    EXPECT_EQ(status, "46");
    EXPECT_EQ(readOperationsLog(installation.operationsLog()).lines, 0u);
    std::cout << "[ figures  ] data folder on a read-only mount: fatal message, status " << status
              << "\n";
}

}  // namespace
