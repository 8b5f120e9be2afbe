// Runs a program on a new pseudo-terminal and shows what it wrote, for test
// scripts of what a terminal operator sees.
//
//   pty_run [--rows N] [--columns N] [--timeout-ms N] [--wait-for TEXT] [--key KEYS]
//           -- PROGRAM [ARGUMENTS...]
//
// The program gets this process's environment and a terminal of N rows by N
// columns (25 by 80 unless told). Everything it writes goes to standard
// output. With --wait-for, once TEXT has appeared and the terminal gives
// single keys without echo (the program waits for a key), KEYS ("x" unless
// told) are typed.
//
// Exit status: the program's own; 128 + the number of the signal that ended
// it; 124 when TEXT did not appear or the program did not end in time (it is
// then killed); 125 when the program ended but left the terminal out of its
// line mode with echo; 77 when no pseudo-terminal can be had; 2 for a
// usage error.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/pty_session.h"

namespace {

int usage() {
    std::fputs(
        "usage: pty_run [--rows N] [--columns N] [--timeout-ms N] [--wait-for TEXT] [--key KEYS] "
        "-- "
        "PROGRAM [ARGUMENTS...]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int rows = 25, columns = 80, timeoutMs = 20000;
    std::string waitFor, keys = "x";
    bool waiting = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--") {
            ++i;
            break;
        }
        if (i + 1 >= argc) return usage();
        const std::string value = argv[++i];
        if (option == "--rows") {
            rows = std::atoi(value.c_str());
        } else if (option == "--columns") {
            columns = std::atoi(value.c_str());
        } else if (option == "--timeout-ms") {
            timeoutMs = std::atoi(value.c_str());
        } else if (option == "--wait-for") {
            waitFor = value;
            waiting = true;
        } else if (option == "--key") {
            keys = value;
        } else {
            return usage();
        }
    }
    if (i >= argc || rows < 1 || columns < 1 || timeoutMs < 1) return usage();

    testing_support::PtySession session(std::vector<std::string>(argv + i, argv + argc), {}, rows,
                                        columns, timeoutMs);
    if (!session.started()) {
        std::perror("pty_run: no pseudo-terminal");
        return 77;
    }
    int result = 0;
    if (waiting) {
        const bool shown = session.readUntil([&] {
            return session.output().find(waitFor) != std::string::npos && session.keyMode();
        });
        if (!shown || !session.type(keys)) result = 124;
    }
    const int status = session.finish();
    // The terminal keeps the mode its last user left it in.
    const bool lineModeBack = session.lineMode();
    std::fwrite(session.output().data(), 1, session.output().size(), stdout);
    if (result != 0) return result;
    if (status == -1) return 124;
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 124;
    if (code == 0 && !lineModeBack) return 125;
    return code;
}
