// nubodat: creates, fills, inspects and checks the suite's data files, all
// through the record manager's entry.
#include <iostream>
#include <sstream>

#include "platform/platform.h"
#include "tools/commands.h"

int main(int argc, char** argv) {
    platform::selectConsoleCodePage();
    nubodat::Args args;
    for (int i = 1; i < argc; ++i) args.push_back(platform::utf8ToOem(argv[i]));
    std::ostringstream err;
    std::ios::sync_with_stdio(false);
    const int code = nubodat::runCommand(args, std::cout, err);
    std::cout.flush();
    std::cerr << platform::oemToUtf8(err.str());
    return code;
}
