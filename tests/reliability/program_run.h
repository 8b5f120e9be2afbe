// Starting the program as a child process on an installation, with the
// faults a test wants in place (a file-size limit, another user), and
// collecting how it ended.
#pragma once

#include <sys/types.h>

#include <string>

namespace reliability {

struct Launch {
    std::string program;  // path of the executable
    std::string root;     // JOBROOT
    std::string work;     // JOBTMP
    std::string output;   // file that receives standard output and error
    // Largest size in bytes a file may grow to (RLIMIT_FSIZE, with SIGXFSZ
    // ignored so that a write past it fails instead); negative: no limit.
    long long fileSizeLimit = -1;
    // Run as the unprivileged user "nobody" when the test runs as root, so
    // that file permissions apply to the program.
    bool asUnprivileged = false;
};

// Starts the program; -1 when it cannot be started.
pid_t startProgram(const Launch& launch);

struct Ending {
    bool exited = false;  // ended by itself (exit), not by a signal
    int exitCode = -1;
    int signal = 0;  // the signal that ended it, when not exited
};

// Waits for the child to end.
Ending waitProgram(pid_t pid);

// Starts the program and waits for it.
Ending runProgram(const Launch& launch);

// True when the process runs as root (file permissions do not bind it).
bool runningAsRoot();

// The user and group ids of "nobody"; false when there is no such user.
bool unprivilegedIds(uid_t& uid, gid_t& gid);

}  // namespace reliability
