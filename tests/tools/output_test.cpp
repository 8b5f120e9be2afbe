// The utility as a process: a write that fails (a full disk, a file size
// limit) is an error with exit code 1, an existing output file survives a
// failed write whole, and "-" reads standard input.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace {

const std::string kExamples = std::string(NUBO_SOURCE_DIR) + "/examples/";

struct Outcome {
    int code = -1;
    std::string err;
};

class Output : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    std::string path(const std::string& name) const { return dir.dir() + name; }

    // Runs `arguments` of nubodat through the shell, after `setup` (such as
    // "ulimit -f 2"); standard error goes to a file.
    Outcome nubodat(const std::string& arguments, const std::string& setup = "",
                    const std::string& after = "") {
        const std::string command = "bash -c \"" + setup + (setup.empty() ? "" : "; ") + "'" +
                                    NUBODAT_PROGRAM + "' " + arguments + " 2>'" + path("err.txt") +
                                    "'" + after + "\"";
        const int status = std::system(command.c_str());
        Outcome o;
        o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.err = dir.exists("err.txt") ? dir.read("err.txt") : "";
        return o;
    }
    // The owners file of the demo with 300 copies of its records: 130 201
    // bytes in the sequential layout.
    std::string owners() {
        const std::string file = path("PropietH.dat");
        EXPECT_EQ(nubodat("create '" + file + "' --from '" + kExamples +
                          "ddf-src/PropietH.ddf' >/dev/null")
                      .code,
                  0);
        std::string big = "property,owner,method,series,moment";
        for (int k = 1; k <= 8; ++k)
            big += ",flag" + std::to_string(k) + ",period" + std::to_string(k) + ",amount" +
                   std::to_string(k);
        big += ",code9,flag9,period9,amount9,code10,flag10,period10,amount10\n";
        for (int p = 1; p <= 300; ++p)
            big += std::to_string(p) +
                   ",1,A,0001,,,1,100,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,,0,0,0,,0,0,0,,0,0\n";
        dir.write("big.csv", big);
        EXPECT_EQ(nubodat("import '" + file + "' '" + path("big.csv") + "' >/dev/null").code, 0);
        return file;
    }
};

TEST_F(Output, StandardOutputWriteErrorsExitWithOne) {
    const std::string file = owners();
    Outcome o = nubodat("save '" + file + "' >/dev/full");
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.err.find("standard output: write error: no space left on device"),
              std::string::npos)
        << o.err;
    o = nubodat("export '" + file + "' - >/dev/full");
    EXPECT_EQ(o.code, 1);
    // A file size limit of 64 KiB cuts the 130 201 bytes.
    o = nubodat("save '" + file + "' >'" + path("cut.seq") + "'", "ulimit -f 64");
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.err.find("write error"), std::string::npos) << o.err;
    // A pipe closed by the reader.
    o = nubodat("save '" + file + "'", "", " | head -c 10 >/dev/null; exit \\${PIPESTATUS[0]}");
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.err.find("write error"), std::string::npos) << o.err;
}

TEST_F(Output, AFailedSaveLeavesTheEarlierBackupWhole) {
    const std::string file = owners();
    dir.write("backup.seq", "yesterday's backup");
    const Outcome o = nubodat("save '" + file + "' '" + path("backup.seq") + "'", "ulimit -f 64");
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.err.find("backup.seq: write error"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("the file is as it was"), std::string::npos) << o.err;
    EXPECT_EQ(dir.read("backup.seq"), "yesterday's backup");
    EXPECT_FALSE(dir.exists("backup.seq.nubodat-new"));
    // Without the limit the backup is replaced whole.
    ASSERT_EQ(nubodat("save '" + file + "' '" + path("backup.seq") + "' >/dev/null").code, 0);
    EXPECT_EQ(dir.read("backup.seq").size(), 300u * 434u + 1u);
}

TEST_F(Output, DashReadsStandardInput) {
    const std::string file = owners();
    ASSERT_EQ(nubodat("save '" + file + "' - >'" + path("all.seq") + "'").code, 0);
    const std::string copy = path("copy/PropietH.dat");
    dir.write("copy/.keep", "");
    ASSERT_EQ(
        nubodat("create '" + copy + "' --from '" + kExamples + "ddf-src/PropietH.ddf' >/dev/null")
            .code,
        0);
    ASSERT_EQ(nubodat("load '" + copy + "' - <'" + path("all.seq") + "' >/dev/null").code, 0);
    ASSERT_EQ(nubodat("save '" + copy + "' >'" + path("again.seq") + "'").code, 0);
    EXPECT_EQ(dir.read("again.seq"), dir.read("all.seq"));
}

}  // namespace
#endif
