// The POSIX console back end in a real process: with pipes for standard
// input and output, and under a pseudo-terminal.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty_session.h"

namespace {

constexpr int kTimeoutMs = 10000;

std::vector<char*> cStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Waits for the child to end; kills it after the timeout. Returns the wait
// status, or -1 when it had to be killed.
int reap(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

struct PipeRun {
    std::string output;
    int status = -1;
};

// Runs the driver with `input` on a pipe as standard input and standard
// output on another pipe.
PipeRun runWithPipes(const std::string& locale, const std::string& input) {
    std::vector<std::string> args = {TERMINAL_DRIVER, "25x80"};
    std::vector<std::string> env = {"LANG=" + locale, "TERM=xterm"};
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(in[0]);
        ::close(in[1]);
        ::close(out[0]);
        ::close(out[1]);
        auto argv = cStrings(args);
        auto envp = cStrings(env);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (!input.empty() && ::write(in[1], input.data(), input.size()) < 0) ADD_FAILURE() << "write";
    ::close(in[1]);
    PipeRun run;
    char buffer[4096];
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, kTimeoutMs) <= 0) break;
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        run.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    run.status = reap(pid);
    return run;
}

TEST(TerminalBackend, WithoutATerminalTheBoxReachesTheOutputAsLinesOfText) {
    for (const std::string& input : {std::string(), std::string("k")}) {
        const PipeRun utf8 = runWithPipes("ca_ES.UTF-8", input);
        ASSERT_TRUE(WIFEXITED(utf8.status)) << utf8.status;
        EXPECT_EQ(WEXITSTATUS(utf8.status), 0);
        EXPECT_EQ(utf8.output, "  ┌──┐\n  │ÒÈ│\n  └──┘\n");
    }
    const PipeRun ascii = runWithPipes("C", "");
    ASSERT_TRUE(WIFEXITED(ascii.status));
    EXPECT_EQ(WEXITSTATUS(ascii.status), 0);
    EXPECT_EQ(ascii.output, "  +--+\n  |OE|\n  +--+\n");
}

// The driver on a pseudo-terminal of 24 rows and 80 columns.
class PtyRun : public testing_support::PtySession {
public:
    explicit PtyRun(const std::string& mode)
        : PtySession(mode.empty() ? std::vector<std::string>{TERMINAL_DRIVER, "24x80"}
                                  : std::vector<std::string>{TERMINAL_DRIVER, "24x80", mode},
                     {"LANG=C.UTF-8", "TERM=xterm"}, 24, 80, kTimeoutMs) {}
    bool waitingForKey() {
        return readUntil([&] { return keyMode(); });
    }
};

// The terminal's state is given back in the last bytes written: colours
// reset, the alternate screen left, the cursor shown.
void expectTerminalGivenBack(const std::string& output) {
    const auto reset = output.rfind("\x1b[0m");
    const auto leave = output.rfind("\x1b[?1049l");
    const auto show = output.rfind("\x1b[?25h");
    ASSERT_NE(reset, std::string::npos);
    ASSERT_NE(leave, std::string::npos);
    ASSERT_NE(show, std::string::npos);
    EXPECT_LT(reset, leave);
    EXPECT_LT(leave, show);
    EXPECT_GT(reset, output.rfind("│ÒÈ│"));
}

TEST(TerminalBackend, UnderATerminalOneKeyWithoutEnterEndsTheWaitAndTheTerminalIsGivenBack) {
    PtyRun run("line");
    if (!run.started()) GTEST_SKIP() << "no pseudo-terminal on this system";
    ASSERT_TRUE(run.waitingForKey()) << run.output();
    EXPECT_NE(run.output().find("\x1b[?25l"), std::string::npos);
    EXPECT_NE(run.output().find("\x1b[?1049h"), std::string::npos);
    EXPECT_NE(run.output().find("\x1b[30;47m"), std::string::npos);
    EXPECT_NE(run.output().find("\x1b[2;3H┌──┐"), std::string::npos);
    EXPECT_NE(run.output().find("\x1b[3;3H│ÒÈ│"), std::string::npos);
    EXPECT_NE(run.output().find('\a'), std::string::npos);

    ASSERT_TRUE(run.type("x"));  // in line mode this would wait for Enter
    ASSERT_TRUE(run.readUntil([&] { return run.lineMode(); })) << "input mode not restored";
    ASSERT_TRUE(run.type("done\n"));
    const int status = run.finish();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(run.output().find('x'), std::string::npos) << "the key was echoed";
    expectTerminalGivenBack(run.output());
}

TEST(TerminalBackend, TerminationDuringTheWaitGivesTheTerminalBack) {
    for (const int signalNumber : {SIGTERM, SIGHUP}) {
        PtyRun run("");
        if (!run.started()) GTEST_SKIP() << "no pseudo-terminal on this system";
        ASSERT_TRUE(run.waitingForKey()) << run.output();
        ::kill(run.pid(), signalNumber);
        const int status = run.finish();
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), signalNumber);
        expectTerminalGivenBack(run.output());
        EXPECT_TRUE(run.lineMode());
    }
}

TEST(TerminalBackend, ControlCDuringTheWaitInterruptsAndGivesTheTerminalBack) {
    PtyRun run("line");
    if (!run.started()) GTEST_SKIP() << "no pseudo-terminal on this system";
    ASSERT_TRUE(run.waitingForKey()) << run.output();
    ASSERT_TRUE(run.type("\x03"));
    const int status = run.finish();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    expectTerminalGivenBack(run.output());
    EXPECT_TRUE(run.lineMode());
}

}  // namespace
