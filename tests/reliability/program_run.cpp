#include "tests/reliability/program_run.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace reliability {

bool runningAsRoot() {
    return ::geteuid() == 0;
}

bool unprivilegedIds(uid_t& uid, gid_t& gid) {
    const passwd* pw = ::getpwnam("nobody");
    if (pw == nullptr) return false;
    uid = pw->pw_uid;
    gid = pw->pw_gid;
    return true;
}

pid_t startProgram(const Launch& launch) {
    uid_t uid = 0;
    gid_t gid = 0;
    const bool drop = launch.asUnprivileged && runningAsRoot() && unprivilegedIds(uid, gid);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;

    // The child: only async-signal-safe calls from here on, then exec.
    ::setenv("JOBROOT", launch.root.c_str(), 1);
    ::setenv("JOBTMP", launch.work.c_str(), 1);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(launch.output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (in >= 0) ::dup2(in, 0);
    if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
    }
    if (launch.fileSizeLimit >= 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(launch.fileSizeLimit);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    if (drop) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(126);
    }
    ::execl(launch.program.c_str(), launch.program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
}

Ending waitProgram(pid_t pid) {
    Ending ending;
    if (pid <= 0) return ending;
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    if (got != pid) return ending;
    if (WIFEXITED(status)) {
        ending.exited = true;
        ending.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        ending.signal = WTERMSIG(status);
    }
    return ending;
}

Ending runProgram(const Launch& launch) {
    return waitProgram(startProgram(launch));
}

}  // namespace reliability
