// Program entry. The program takes no arguments: "--help" and "--version"
// print what it is and end; any other argument is ignored. The exit code is
// always 0.
#include <cstdio>
#include <cstring>

#include "app/issue_run.h"

namespace {

const char kVersionText[] =
    "cobram " COBRAM_VERSION
    " - issue of owners' periodic collections (Nubo property administration)\n";

const char kHelpText[] =
    "\n"
    "usage: cobram\n"
    "\n"
    "For the issue date and selection of the work file \"pent.tmp\" (25 lines, CR LF),\n"
    "walks the range of properties and their owners and inserts one collection per\n"
    "owner with concepts due into \"DADES\\CobramH\", never twice for one issue, noting\n"
    "each insertion in \"db.log\" in the installation root. It shows nothing and asks\n"
    "nothing on its normal path, and always ends with exit code 0.\n"
    "\n"
    "Variables read:\n"
    "  JOBROOT         installation root, absolute, ending with the separator (\"/\" or \"\\\")\n"
    "  JOBTMP          work folder holding pent.tmp, Sessio.ini and NuboTerm.ini\n"
    "  TERM            the terminal's folder, when Sessio.ini names none\n"
    "  NUBO_CODEPAGE   POSIX: code page of texts and file names, 850 (default) or 437\n"
    "  NUBO_BTRIEVE_DLL  Windows: the record manager's DLL (default WBTRV32.DLL)\n"
    "\n"
    "  cobram --help     this text;  cobram --version  the version\n"
    "\n"
    "Preview an issue without writing anything: nubodat preview ROOT WORKFILE\n";

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const bool help = std::strcmp(argv[i], "--help") == 0;
        if (help || std::strcmp(argv[i], "--version") == 0) {
            std::fputs(kVersionText, stdout);
            if (help) std::fputs(kHelpText, stdout);
            std::fflush(stdout);
            return 0;
        }
    }
    return runMainSequence();
}
