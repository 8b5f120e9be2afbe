#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

#ifdef _WIN32
TEST(NativePath, IsTheProgramPathInUtf8) {
    // The system resolves "\\", drive names and letter case itself.
    EXPECT_EQ(platform::nativePath("C:\\DADES\\FinquesH.dat"), "C:\\DADES\\FinquesH.dat");
    EXPECT_EQ(platform::nativePath("ddf\\\x85rea.xdf"),
              "ddf\\\xc3\xa0rea.xdf");  // 0x85 is "\u00e0"
    EXPECT_EQ(platform::nativePath(""), "");
}

TEST(Files, NamesInTheCodePageReachTheSystem) {
    TempDir t;
    platform::File f;
    // 0x85 is "\u00e0" in the console code page.
    ASSERT_TRUE(
        platform::openFile(t.dir() + "\x85rea.tmp", platform::FileMode::ReadWriteShared, f));
    platform::closeFile(f);
    EXPECT_TRUE(std::filesystem::exists(t.path() / std::filesystem::path(u8"\u00e0rea.tmp")));
    EXPECT_TRUE(platform::pathExists(t.dir() + "\x85rea.tmp"));
    EXPECT_TRUE(platform::deleteFile(t.dir() + "\x85REA.TMP"));
}
#else
TEST(NativePath, BackslashesSeparateAndMissingComponentsStayAsWritten) {
    TempDir t;
    t.write("DADES/FinquesH.dat", "x");
    const std::string root = t.dir();
    EXPECT_EQ(platform::nativePath(root + "DADES\\FinquesH.dat"), root + "DADES/FinquesH.dat");
    EXPECT_EQ(platform::nativePath(root + "DADES\\\\New\\File.dat"), root + "DADES/New/File.dat");
    EXPECT_EQ(platform::nativePath("D:Sessio.ini"), "D:Sessio.ini");
    EXPECT_EQ(platform::nativePath("\\tmp"), "/tmp");
    EXPECT_EQ(platform::nativePath(""), "");
}

TEST(NativePath, ComponentsMatchWithoutRegardToCase) {
    TempDir t;
    t.write("Dades/FINQUESH.DAT", "x");
    t.write("ddf/\xc3\x80rea.xdf", "x");  // "Àrea" in UTF-8 on disk
    const std::string root = t.dir();
    EXPECT_EQ(platform::nativePath(root + "DADES\\FinquesH.dat"), root + "Dades/FINQUESH.DAT");
    // The program's text is in the console code page: 0xB7 is "À", 0x85 is "à".
    EXPECT_EQ(platform::nativePath(root + "ddf\\\x85REA.xdf"), root + "ddf/\xc3\x80rea.xdf");
    // A missing file in a folder that matched keeps its own spelling.
    EXPECT_EQ(platform::nativePath(root + "dades\\PropietH.dat"), root + "Dades/PropietH.dat");
}

TEST(NativePath, ExactMatchWinsOverOtherCases) {
    TempDir t;
    t.write("a/File.dat", "1");
    t.write("a/FILE.dat", "2");
    EXPECT_EQ(platform::nativePath(t.dir() + "a\\FILE.dat"), t.dir() + "a/FILE.dat");
    EXPECT_EQ(platform::nativePath(t.dir() + "a\\file.dat"),
              t.dir() + "a/FILE.dat");  // first by name
}

#endif

TEST(Files, ReadSharedNeverCreates) {
    TempDir t;
    platform::File f;
    EXPECT_FALSE(platform::openFile(t.dir() + "missing.ini", platform::FileMode::ReadShared, f));
    EXPECT_FALSE(f.isOpen());
    EXPECT_FALSE(t.exists("missing.ini"));
    EXPECT_FALSE(platform::openFile("", platform::FileMode::ReadShared, f));
    EXPECT_FALSE(platform::openFile(t.dir(), platform::FileMode::ReadShared, f));  // a folder
}

TEST(Files, ReadWriteSeekSizeAndDelete) {
    TempDir t;
    platform::File f;
    ASSERT_TRUE(
        platform::openFile(t.dir() + "WinPush.tmp", platform::FileMode::ReadWriteShared, f));
    EXPECT_EQ(platform::fileSize(f), 0);
    ASSERT_TRUE(platform::writeFile(f, "abcdef", 6));
    ASSERT_TRUE(platform::seekFile(f, 2));
    ASSERT_TRUE(platform::writeFile(f, "XY", 2));
    ASSERT_TRUE(platform::seekFile(f, 0));
    char buf[16] = {};
    EXPECT_EQ(platform::readFile(f, buf, sizeof buf), 6);
    EXPECT_EQ(std::string(buf, 6), "abXYef");
    EXPECT_EQ(platform::readFile(f, buf, sizeof buf), 0);
    EXPECT_EQ(platform::fileSize(f), 6);
    EXPECT_FALSE(platform::seekFile(f, -1));
    platform::closeFile(f);
    platform::closeFile(f);  // closing twice does nothing
    EXPECT_EQ(platform::readFile(f, buf, 1), -1);
    EXPECT_TRUE(platform::deleteFile(t.dir() + "winpush.TMP"));
    EXPECT_FALSE(platform::deleteFile(t.dir() + "WinPush.tmp"));
}

TEST(Files, AppendExclusiveIsRefusedWhileHeldAndAppends) {
    TempDir t;
    const std::string log = t.dir() + "db.log";
    platform::File a, b;
    ASSERT_TRUE(platform::openFile(log, platform::FileMode::AppendExclusive, a));
    EXPECT_FALSE(platform::openFile(log, platform::FileMode::AppendExclusive, b));
    ASSERT_TRUE(platform::writeFile(a, "one\r\n", 5));
    platform::closeFile(a);
    ASSERT_TRUE(platform::openFile(log, platform::FileMode::AppendExclusive, b));
    ASSERT_TRUE(platform::seekFile(b, 0));  // appends whatever the position
    ASSERT_TRUE(platform::writeFile(b, "two\r\n", 5));
    platform::closeFile(b);
    EXPECT_EQ(t.read("db.log"), "one\r\ntwo\r\n");
}

TEST(Files, AppendWholeAppendsAndReportsAHolder) {
    TempDir t;
    const std::string log = t.dir() + "db.log";
    EXPECT_EQ(platform::appendWhole(log, "one\r\n", 5), platform::AppendResult::Written);
    platform::File holder;
    ASSERT_TRUE(platform::openFile(log, platform::FileMode::AppendExclusive, holder));
    EXPECT_EQ(platform::appendWhole(log, "two\r\n", 5), platform::AppendResult::Held);
    platform::closeFile(holder);
    EXPECT_EQ(platform::appendWhole(log, "two\r\n", 5), platform::AppendResult::Written);
    EXPECT_EQ(t.read("db.log"), "one\r\ntwo\r\n");
    // A folder is no file to append to; an empty path names nothing.
    std::filesystem::create_directory(t.path() / "folder");
    EXPECT_EQ(platform::appendWhole(t.dir() + "folder", "x", 1), platform::AppendResult::Failed);
    EXPECT_EQ(platform::appendWhole("", "x", 1), platform::AppendResult::Failed);
}

TEST(Files, AppendWholeFindsTheLogWithoutRegardToCase) {
    TempDir t;
    t.write("DB.LOG", "old\r\n");
    EXPECT_EQ(platform::appendWhole(t.dir() + "db.log", "new\r\n", 5),
              platform::AppendResult::Written);
    EXPECT_EQ(t.read("DB.LOG"), "old\r\nnew\r\n");
}

#ifndef _WIN32
// A file-size limit that lets only part of the bytes through: the part is
// taken back, and a write that finds no room at all leaves the file as it
// was. Run in a child, which the limit binds alone.
TEST(Files, AppendWholeTakesBackAPartWrittenAtAFileSizeLimit) {
    TempDir t;
    t.write("db.log", "0123456789\r\n");
    const std::string log = t.dir() + "db.log";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {20, 20};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(10);
        // 12 + 8 bytes fit, the line of 12 does not.
        if (platform::appendWhole(log, "abcdefghij\r\n", 12) != platform::AppendResult::Failed)
            ::_exit(11);
        if (platform::appendWhole(log, "abcdef\r\n", 8) != platform::AppendResult::Written)
            ::_exit(12);
        if (platform::appendWhole(log, "x\r\n", 3) != platform::AppendResult::Failed) ::_exit(13);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(t.read("db.log"), "0123456789\r\nabcdef\r\n");
}
#endif

TEST(Files, CreateTruncateEmptiesAnExistingFile) {
    TempDir t;
    t.write("out.txt", "old content");
    platform::File f;
    ASSERT_TRUE(platform::openFile(t.dir() + "out.txt", platform::FileMode::CreateTruncate, f));
    EXPECT_EQ(platform::fileSize(f), 0);
    platform::closeFile(f);
}

TEST(Files, LocksConflictAcrossOpens) {
    TempDir t;
    t.write("data.dat", "x");
    platform::File a, b;
    ASSERT_TRUE(platform::openFile(t.dir() + "data.dat", platform::FileMode::ReadShared, a));
    ASSERT_TRUE(platform::openFile(t.dir() + "data.dat", platform::FileMode::ReadShared, b));
    EXPECT_TRUE(platform::tryLockFile(a, false));
    EXPECT_TRUE(platform::tryLockFile(b, false));
    EXPECT_FALSE(platform::tryLockFile(b, true));  // a still holds a shared lock
    platform::unlockFile(a);
    EXPECT_TRUE(platform::tryLockFile(b, true));
    EXPECT_FALSE(platform::tryLockFile(a, false));
    platform::closeFile(b);  // closing releases
    EXPECT_TRUE(platform::tryLockFile(a, true));
    platform::closeFile(a);
}

TEST(Files, CurrentDirectoryAcceptsProgramPaths) {
    TempDir t;
    t.write("Root/x", "");
    const auto before = std::filesystem::current_path();
    EXPECT_TRUE(platform::setCurrentDirectory(t.dir() + "ROOT\\"));
    EXPECT_TRUE(platform::pathExists("x"));
    EXPECT_FALSE(platform::setCurrentDirectory(t.dir() + "nowhere\\"));
    EXPECT_FALSE(platform::setCurrentDirectory(""));
    std::filesystem::current_path(before);
}

}  // namespace
