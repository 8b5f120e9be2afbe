// nubodat: creates, fills, inspects and checks the suite's data files, all
// through the record manager's entry.
#include <csignal>
#include <iostream>
#include <sstream>

#include "platform/platform.h"
#include "tools/commands.h"

int main(int argc, char** argv) {
    // A closed pipe or a file size limit makes a write fail, which the
    // command reports, instead of ending the process unseen.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    platform::selectConsoleCodePage();
    nubodat::Args args;
    for (int i = 1; i < argc; ++i) args.push_back(platform::utf8ToOem(argv[i]));
    std::ostringstream err;
    std::ios::sync_with_stdio(false);
    int code = nubodat::runCommand(args, std::cout, err);
    std::cout.flush();
    if (!std::cout && code == 0) {
        err << "nubodat: standard output: write error; the output is incomplete\n";
        code = 1;
    }
    std::cerr << platform::oemToUtf8(err.str());
    return code;
}
